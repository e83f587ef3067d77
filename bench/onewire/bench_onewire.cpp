// Serial traffic of the reader's 1-Wire sequences through libibfs32 and the DS2480B driver,
// counted by the virtual adapter, next to the least the 1-Wire sequence needs and next to
// owserver doing the same job on the same virtual key.
//
// Run: bench_onewire   (owserver and ow-shell on PATH for the comparison)
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
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using ibsim::Rom;
using ibsim::TrafficCounters;

namespace {

const Rom memoryKey = *onewire::romFromHex("06112233445566C6");
const Rom card = *onewire::romFromHex("01A1B2C3D4E5F68F");
const Rom usbAdapterId = *onewire::romFromHex("8122334455667739"); // family 0x81

std::array<uint8_t, IBFS32_STATE_BUFFER_SIZE> stateBuffer{};

// The same 512 bytes for both writers (it holds two 0xE3, which the DS2480B needs doubled).
ibsim::Ds1993Memory keyImage() {
    ibsim::Ds1993Memory data{};
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 3 + 1);
    return data;
}

struct Traffic {
    unsigned long long out = 0, in = 0, trips = 0;
};

Traffic operator-(const TrafficCounters& after, const TrafficCounters& before) {
    // The simulator counts from its side: its bytes in are the host's bytes out.
    return {after.bytesIn - before.bytesIn, after.bytesOut - before.bytesOut,
            after.roundTrips - before.roundTrips};
}

void printRow(const char* what, const Traffic& traffic, double per = 1) {
    std::printf("  %-52s %8.1f %8.1f %8.1f\n", what, traffic.out / per, traffic.in / per,
                traffic.trips / per);
}

void printMinimum(const char* what, double out, double in, double trips) {
    std::printf("  %-52s %8.1f %8.1f %8.1f\n", what, out, in, trips);
}

// The reader's device lookup: the first device that is not the USB adapter's own, at most 32.
bool readRom(int32_t session) {
    int16_t result = TMFirst(session, stateBuffer.data());
    int examined = 0;
    bool taken = false;
    while (result == 1 && examined < 32 && !taken) {
        std::array<int16_t, 9> rom{};
        TMRom(session, stateBuffer.data(), rom.data());
        taken = rom[0] != 0x81;
        ++examined;
        result = TMNext(session, stateBuffer.data());
    }
    return taken;
}

bool access(int32_t session, const Rom& device) {
    std::array<int16_t, 9> rom{};
    std::copy(device.begin(), device.end(), rom.begin());
    TMRom(session, stateBuffer.data(), rom.data());
    return TMAccess(session, stateBuffer.data()) > 0;
}

// The reader's page write, call for call.
bool writePage(int32_t session, const Rom& device, uint16_t address, std::vector<uint8_t> data) {
    if (!access(session, device))
        return false;
    TMTouchByte(session, 0x0F);
    TMTouchByte(session, static_cast<int16_t>(address & 0xFF));
    TMTouchByte(session, static_cast<int16_t>(address >> 8));
    TMBlockStream(session, data.data(), static_cast<int16_t>(data.size()));
    if (!access(session, device))
        return false;
    uint8_t buffer[4] = {0xAA, 0xFF, 0xFF, 0xFF};
    TMBlockStream(session, buffer, 4);
    if (!access(session, device))
        return false;
    buffer[0] = 0x55;
    TMBlockStream(session, buffer, 4);
    std::fill(data.begin(), data.end(), 0xFF);
    TMBlockStream(session, data.data(), static_cast<int16_t>(data.size()));
    return true;
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

} // namespace

int main() {
    ibsim::TemporaryFolder folder;
    auto state = folder.path() / "state";
    ibsim::StateFolder devices(state, std::cerr);
    devices.put(memoryKey);
    ibsim::SimulatorProcess simulator(folder.path() / "tty", state);

    std::filesystem::create_directories(folder.path() / "config");
    std::ofstream(folder.path() / "config" / "ibfs32.ini")
        << "[default]\nporttype=5\nportnum=1\n[serial]\nport1=" << simulator.link().string()
        << "\n";
    setenv("XDG_CONFIG_HOME", (folder.path() / "config").c_str(), 1);

    std::printf("Serial traffic through the virtual DS2480B (host's view): bytes out, bytes in, "
                "round trips\n");
    std::printf("  %-52s %8s %8s %8s\n", "", "out", "in", "trips");

    auto before = simulator.counters();
    int32_t session = TMExtendedStartSession(1, IBFS32_PORT_TYPE_SERIAL, nullptr);
    if (session <= 0 || TMSetup(session) != 1) {
        std::fprintf(stderr, "no session: %d\n%s", session, simulator.log().c_str());
        return 1;
    }
    printRow("session start and setup", simulator.counters() - before);

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
        printRow(bus.what, simulator.counters() - before, polls);
    }
    printMinimum("  least: reset + Search ROM + 16-byte pass per device", 18, 18, 1);

    devices.put(memoryKey);
    for (const Rom& rom : {card, usbAdapterId})
        devices.remove(rom);
    before = simulator.counters();
    auto image = keyImage();
    for (uint16_t page = 0; page < 16; ++page) {
        std::vector<uint8_t> data(image.begin() + page * 32, image.begin() + page * 32 + 32);
        if (!writePage(session, memoryKey, static_cast<uint16_t>(page * 32), data))
            std::printf("  (page %u not written)\n", page);
    }
    auto pages = simulator.counters() - before;
    printRow("16 page writes (WritePage as the reader calls it)", pages);
    printRow("  per page", pages, 16);
    // Per page on the 1-Wire: 3 resets, 3 x (Match ROM + 8), 0F TA1 TA2 + 32 data, AA + 3,
    // 55 + 3, and the reader's 32 read slots after the copy; the DS2480B needs one command
    // byte per reset and a mode switch before and after it.
    printMinimum("  least per page: 105 1-Wire steps + 6 mode switches", 111, 105, 10);
    TMEndSession(session);

    if (auto owserver = owserverWrite(simulator, folder.path())) {
        printRow("owwrite of the same 512 bytes through owserver", *owserver);
        printRow("  per page", *owserver, 16);
    } else {
        std::printf("  owserver comparison skipped (owserver/ow-shell not installed)\n");
    }
    return 0;
}
