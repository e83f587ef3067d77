// Serial traffic of the reader's 1-Wire sequences through libibfs32 and the DS2480B driver,
// counted by the virtual adapter, next to the least the 1-Wire sequence needs and next to
// owserver doing the same job on the same virtual key; then what that traffic would take on a
// real serial adapter.
//
// The model of a real adapter: every byte costs its line time at the rate it travelled (10 bits:
// start, 8 data, stop), every round trip the port's latency: 16 ms is a USB serial bridge's
// default latency timer, 1 ms with the low-latency flag. The adapter's own 1-Wire time is left
// out; it overlaps the line at 9600 baud but not at 115,200 (see the estimate printed with it).
//
// Run: bench_onewire   (owserver and ow-shell on PATH for the comparison)
#include "readercalls.h"
#include "simprocess.h"
#include "statefolder.h"

#include <ibfs32.h>

#include <arpa/inet.h>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using ibsim::Rom;
using ibsim::TrafficCounters;

namespace {

using readercalls::access;
using readercalls::readRom;
using readercalls::stateBuffer;
using readercalls::writePage;

const Rom memoryKey = *onewire::romFromHex("06112233445566C6");
const Rom card = *onewire::romFromHex("01A1B2C3D4E5F68F");
const Rom usbAdapterId = *onewire::romFromHex("8122334455667739"); // family 0x81

// The same 512 bytes for both writers (it holds two 0xE3, which the DS2480B needs doubled).
ibsim::Ds1993Memory keyImage() {
    ibsim::Ds1993Memory data{};
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 3 + 1);
    return data;
}

struct Traffic {
    unsigned long long out = 0, in = 0, trips = 0, resets = 0;
    ibsim::BytesByRate outByRate, inByRate;
};

ibsim::BytesByRate operator-(const ibsim::BytesByRate& after, const ibsim::BytesByRate& before) {
    ibsim::BytesByRate moved;
    for (const auto& [baud, count] : after)
        if (auto earlier = before.count(baud) ? before.at(baud) : 0; count > earlier)
            moved[baud] = count - earlier;
    return moved;
}

Traffic operator-(const TrafficCounters& after, const TrafficCounters& before) {
    // The simulator counts from its side: its bytes in are the host's bytes out.
    return {after.bytesIn - before.bytesIn,
            after.bytesOut - before.bytesOut,
            after.roundTrips - before.roundTrips,
            after.resets - before.resets,
            after.bytesInByRate - before.bytesInByRate,
            after.bytesOutByRate - before.bytesOutByRate};
}

// Seconds on the line, each byte at the rate it travelled.
double lineSeconds(const Traffic& traffic) {
    double seconds = 0;
    for (const auto* byRate : {&traffic.outByRate, &traffic.inByRate})
        for (const auto& [baud, count] : *byRate)
            seconds += count * 10.0 / baud;
    return seconds;
}

double modelledSeconds(const Traffic& traffic, double latencySeconds) {
    return lineSeconds(traffic) + traffic.trips * latencySeconds;
}

// The DS2480B's own time on the 1-Wire at standard speed, roughly: a reset with presence
// detection about 1 ms, every other byte the host gets back eight time slots of about 65 us
// (a search byte is four positions of three slots, about the same).
double oneWireSeconds(const Traffic& traffic) {
    return traffic.resets * 1.0e-3 + (traffic.in - traffic.resets) * 8 * 65e-6;
}

std::string rates(const ibsim::BytesByRate& byRate) {
    std::string text;
    for (const auto& [baud, count] : byRate)
        text += (text.empty() ? "" : " + ") + std::to_string(count) + " @" + std::to_string(baud);
    return text;
}

void printRow(const char* what, const Traffic& traffic, double per = 1) {
    std::printf("  %-52s %8.1f %8.1f %8.1f\n", what, traffic.out / per, traffic.in / per,
                traffic.trips / per);
}

void printMinimum(const char* what, double out, double in, double trips) {
    std::printf("  %-52s %8.1f %8.1f %8.1f\n", what, out, in, trips);
}

// The reader's page read: the current device stays selected from before.
std::vector<uint8_t> readPage(int32_t session, uint16_t address) {
    TMAccess(session, stateBuffer.data());
    std::vector<uint8_t> data(32, 0xFF);
    TMTouchByte(session, 0xF0);
    TMTouchByte(session, static_cast<int16_t>(address & 0xFF));
    TMTouchByte(session, static_cast<int16_t>(address >> 8));
    TMBlockStream(session, data.data(), 32);
    return data;
}

int freeLoopbackPort() {
    int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(probe);
    return port;
}

std::string hex(const ibsim::Ds1993Memory& bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

// owserver writing all 512 bytes of the key; nothing when owserver is not installed.
std::optional<Traffic> owserverWrite(ibsim::SimulatorProcess& simulator,
                                     const std::filesystem::path& scratch) {
    if (ibsim::runProgram({"sh", "-c", "command -v owserver && command -v owwrite"}).exitStatus !=
        0)
        return std::nullopt;
    std::string server = "127.0.0.1:" + std::to_string(freeLoopbackPort());
    ibsim::ChildProcess owserver(
        {"owserver", "--foreground", "-d", simulator.link().string(), "-p", server},
        scratch / "owserver.log");
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (ibsim::runProgram({"owdir", "-s", server, "/"}).exitStatus != 0) {
        if (std::chrono::steady_clock::now() > deadline || !owserver.running())
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto data = keyImage();
    auto before = simulator.counters();
    auto path = "/" + onewire::romToHex(memoryKey).substr(0, 2) + "." +
                onewire::romToHex(memoryKey).substr(2, 12) + "/memory";
    auto run = ibsim::runProgram({"owwrite", "--hex", "-s", server, path, hex(data)});
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto after = simulator.counters();
    if (run.exitStatus != 0 ||
        ibsim::StateFolder(simulator.stateFolder(), std::cerr).readMemory(memoryKey) != data)
        std::printf("  (owwrite failed: %s)\n", run.errors.c_str());
    return after - before;
}

// The traffic of the reader's sequences through the library, with `serialKeys` added to the
// [serial] section of ibfs32.ini.
struct LibraryRun {
    Traffic start, poll, keyWrite;
};

std::optional<LibraryRun> runLibrary(const std::filesystem::path& folder,
                                     const std::string& serialKeys, bool printTraffic) {
    auto state = folder / "state";
    ibsim::StateFolder devices(state, std::cerr);
    devices.put(memoryKey);
    ibsim::SimulatorProcess simulator(folder / "tty", state);

    std::filesystem::create_directories(folder / "config");
    std::ofstream(folder / "config" / "ibfs32.ini")
        << "[default]\nporttype=5\nportnum=1\n[serial]\nport1=" << simulator.link().string() << "\n"
        << serialKeys;
    setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);

    LibraryRun run;
    auto before = simulator.counters();
    int32_t session = TMExtendedStartSession(1, IBFS32_PORT_TYPE_SERIAL, nullptr);
    if (session <= 0 || TMSetup(session) != 1) {
        std::fprintf(stderr, "no session: %d\n%s", session, simulator.log().c_str());
        return std::nullopt;
    }
    run.start = simulator.counters() - before;
    if (printTraffic)
        printRow("session start and setup", run.start);

    // The windows poll ReadRom every 100 ms while they wait for a key.
    constexpr int polls = 100;
    struct Bus {
        const char* what;
        std::vector<Rom> roms;
    };
    for (const Bus& bus :
         {Bus{"ReadRom poll, one key on the adapter", {memoryKey}},
          Bus{"ReadRom poll, USB adapter id + key + card", {usbAdapterId, memoryKey, card}},
          Bus{"ReadRom poll, nothing on the adapter", {}}}) {
        for (const Rom& rom : {memoryKey, card, usbAdapterId})
            devices.remove(rom);
        for (const Rom& rom : bus.roms)
            devices.put(rom);
        before = simulator.counters();
        for (int i = 0; i < polls; ++i)
            readRom(session);
        auto traffic = simulator.counters() - before;
        if (printTraffic)
            printRow(bus.what, traffic, polls);
    }
    if (printTraffic)
        printMinimum("  least: reset + Search ROM + 16-byte pass per device", 18, 18, 1);

    devices.put(memoryKey);
    for (const Rom& rom : {card, usbAdapterId})
        devices.remove(rom);
    before = simulator.counters();
    readRom(session);
    run.poll = simulator.counters() - before;

    // The key write as the program makes it: every page through the scratchpad, then every page
    // read back, then one poll to see that the key is still there.
    before = simulator.counters();
    auto image = keyImage();
    for (uint16_t page = 0; page < 16; ++page) {
        std::vector<uint8_t> data(image.begin() + page * 32, image.begin() + page * 32 + 32);
        if (!writePage(session, memoryKey, static_cast<uint16_t>(page * 32), data))
            std::printf("  (page %u not written)\n", page);
    }
    auto pages = simulator.counters() - before;
    bool same = true;
    for (uint16_t page = 0; page < 16; ++page) {
        auto data = readPage(session, static_cast<uint16_t>(page * 32));
        same = same && std::equal(data.begin(), data.end(), image.begin() + page * 32);
    }
    same = same && readRom(session);
    run.keyWrite = simulator.counters() - before;
    if (!same)
        std::printf("  (the key did not read back as written)\n");
    if (printTraffic) {
        printRow("16 page writes (WritePage as the reader calls it)", pages);
        printRow("  per page", pages, 16);
        // Per page on the 1-Wire: 3 resets, 3 x (Match ROM + 8), 0F TA1 TA2 + 32 data, AA + 3,
        // 55 + 3, and the reader's 32 read slots after the copy; the DS2480B needs one command
        // byte per reset and a mode switch before and after it.
        printMinimum("  least per page: 105 1-Wire steps + 6 mode switches", 111, 105, 10);
        printRow("key write with read-back (16 writes, 16 reads, 1 poll)", run.keyWrite);
    }
    TMEndSession(session);
    return run;
}

void printModel(const char* what, const Traffic& traffic, double latency) {
    std::printf("  %-44s %6.0f ms  (line %6.1f ms, %3llu trips x %2.0f ms; 1-Wire ~%4.0f ms)  %s\n",
                what, modelledSeconds(traffic, latency) * 1000, lineSeconds(traffic) * 1000,
                traffic.trips, latency * 1000, oneWireSeconds(traffic) * 1000,
                rates(traffic.outByRate).c_str());
}

} // namespace

int main() {
    ibsim::TemporaryFolder folder;
    std::printf("Serial traffic through the virtual DS2480B (host's view): bytes out, bytes in, "
                "round trips\n");
    std::printf("  %-52s %8s %8s %8s\n", "", "out", "in", "trips");
    auto fast = runLibrary(folder.path() / "fast", "", true);
    auto slow = runLibrary(folder.path() / "slow", "baud=9600\n", false);
    if (!fast || !slow)
        return 1;

    std::optional<Traffic> owserver;
    {
        auto state = folder.path() / "owserver" / "state";
        ibsim::StateFolder(state, std::cerr).put(memoryKey);
        ibsim::SimulatorProcess simulator(folder.path() / "owserver" / "tty", state);
        owserver = owserverWrite(simulator, folder.path() / "owserver");
    }
    if (owserver) {
        printRow("owwrite of the same 512 bytes through owserver", *owserver);
        printRow("  per page", *owserver, 16);
    } else {
        std::printf("  owserver comparison skipped (owserver/ow-shell not installed)\n");
    }

    constexpr double defaultLatency = 16e-3, lowLatency = 1e-3;
    std::printf("\nModelled time on a real DS2480B adapter behind a USB serial bridge "
                "(line time + latency per round trip):\n");
    std::printf(" before: 9600 baud, 16 ms latency\n");
    printModel("session start", slow->start, defaultLatency);
    printModel("ReadRom poll, one key", slow->poll, defaultLatency);
    printModel("key write with read-back", slow->keyWrite, defaultLatency);
    std::printf(" now: 115,200 baud, low latency (1 ms)\n");
    printModel("session start", fast->start, lowLatency);
    printModel("ReadRom poll, one key", fast->poll, lowLatency);
    printModel("key write with read-back", fast->keyWrite, lowLatency);
    std::printf(" now, on a port without the low-latency flag (16 ms)\n");
    printModel("ReadRom poll, one key", fast->poll, defaultLatency);
    printModel("key write with read-back", fast->keyWrite, defaultLatency);
    if (owserver) {
        std::printf(" owserver at its defaults (9600 baud)\n");
        printModel("write of the same 512 bytes, 16 ms", *owserver, defaultLatency);
        printModel("write of the same 512 bytes, 1 ms", *owserver, lowLatency);
    }
    std::printf(" goals: key write with read-back <= 1000 ms, ReadRom poll <= 20 ms\n");
    return 0;
}
