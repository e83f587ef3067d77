// USB traffic of the reader's 1-Wire sequences through libibfs32 and the DS2490 driver, counted
// by the virtual DS9490, next to owserver (-u) doing the same job on the same virtual adapter.
//
// Run: bench_onewire_usb   (owserver and ow-shell on PATH for the comparison)
//
// The library part runs under `ibutton-sim serve-usb`: the benchmark starts itself again there.
// A real adapter answers each transfer in a USB frame at the soonest (1 ms at full speed), so the
// transfer count estimates the real time of a sequence.
#include "readercalls.h"
#include "simprocess.h"
#include "statefolder.h"
#include "usbserver.h"

#include <ibfs32.h>

#include <arpa/inet.h>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using ibsim::Rom;
using ibsim::UsbTrafficCounters;

namespace {

using readercalls::access;
using readercalls::readRom;
using readercalls::stateBuffer;
using readercalls::writePage;

const Rom memoryKey = *onewire::romFromHex("06112233445566C6");
const Rom card = *onewire::romFromHex("01A1B2C3D4E5F68F");
const Rom usbAdapterId = *onewire::romFromHex("8122334455667739"); // family 0x81

ibsim::Ds1993Memory keyImage() {
    ibsim::Ds1993Memory data{};
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 3 + 1);
    return data;
}

UsbTrafficCounters operator-(const UsbTrafficCounters& after, const UsbTrafficCounters& before) {
    UsbTrafficCounters difference;
    difference.controlTransfers = after.controlTransfers - before.controlTransfers;
    difference.bulkOutTransfers = after.bulkOutTransfers - before.bulkOutTransfers;
    difference.bulkInTransfers = after.bulkInTransfers - before.bulkInTransfers;
    difference.interruptInTransfers = after.interruptInTransfers - before.interruptInTransfers;
    difference.bytesOut = after.bytesOut - before.bytesOut;
    difference.bytesIn = after.bytesIn - before.bytesIn;
    return difference;
}

void printHeader() {
    std::printf("  %-50s %7s %7s %7s %7s %7s %7s %7s %9s\n", "", "control", "bulkout", "bulkin",
                "status", "all", "B out", "B in", "est. ms");
}

void printRow(const char* what, const UsbTrafficCounters& t, double per = 1) {
    std::printf("  %-50s %7.1f %7.1f %7.1f %7.1f %7.1f %7.1f %7.1f %9.1f\n", what,
                t.controlTransfers / per, t.bulkOutTransfers / per, t.bulkInTransfers / per,
                t.interruptInTransfers / per, t.transfers() / per, t.bytesOut / per,
                t.bytesIn / per, t.transfers() / per);
}

// Under the simulator: the library's figures.
int measureLibrary(const std::filesystem::path& state) {
    ibsim::StateFolder devices(state, std::cerr);
    std::printf("USB transfers through the virtual DS9490 (libibfs32)\n");
    printHeader();
    auto before = ibsim::readUsbCounters(state);
    int32_t session = TMExtendedStartSession(1, IBFS32_PORT_TYPE_USB, nullptr);
    if (session <= 0 || TMSetup(session) != 1) {
        std::fprintf(stderr, "no session: %d\n", session);
        return 1;
    }
    printRow("session start and setup", ibsim::readUsbCounters(state) - before);

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
        before = ibsim::readUsbCounters(state);
        for (int i = 0; i < polls; ++i)
            readRom(session);
        printRow(bus.what, ibsim::readUsbCounters(state) - before, polls);
    }

    devices.put(memoryKey);
    for (const Rom& rom : {card, usbAdapterId})
        devices.remove(rom);
    before = ibsim::readUsbCounters(state);
    auto image = keyImage();
    for (uint16_t page = 0; page < 16; ++page) {
        std::vector<uint8_t> data(image.begin() + page * 32, image.begin() + page * 32 + 32);
        if (!writePage(session, memoryKey, static_cast<uint16_t>(page * 32), data))
            std::printf("  (page %u not written)\n", page);
    }
    auto pages = ibsim::readUsbCounters(state) - before;
    printRow("512-byte key write (16 pages as the reader writes)", pages);
    printRow("  per page", pages, 16);
    if (devices.readMemory(memoryKey) != image)
        std::printf("  (the key does not hold the image)\n");
    TMEndSession(session);
    return 0;
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

// owserver -u on its own virtual adapter: a directory listing and the 512-byte write.
void measureOwserver(const std::filesystem::path& scratch) {
    if (ibsim::runProgram({"sh", "-c", "command -v owserver && command -v owwrite"}).exitStatus !=
        0) {
        std::printf("  owserver comparison skipped (owserver/ow-shell not installed)\n");
        return;
    }
    auto state = scratch / "owserver-state";
    ibsim::StateFolder devices(state, std::cerr);
    devices.put(memoryKey);
    std::string server = "127.0.0.1:" + std::to_string(freeLoopbackPort());
    ibsim::ChildProcess owserver({ibsim::simulatorExecutable().string(), "serve-usb", "--state",
                                  state.string(), "--", "owserver", "--foreground", "-u", "-p",
                                  server},
                                 scratch / "owserver.log");
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (ibsim::runProgram({"owdir", "-s", server, "/"}).exitStatus != 0) {
        if (std::chrono::steady_clock::now() > deadline || !owserver.running()) {
            std::printf("  owserver did not come up\n");
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::printf("The same through owserver -u on a virtual DS9490\n");
    printHeader();
    constexpr int listings = 20;
    auto before = ibsim::readUsbCounters(state);
    for (int i = 0; i < listings; ++i)
        ibsim::runProgram({"owdir", "-s", server, "/uncached/"});
    printRow("uncached directory listing, one key on the adapter",
             ibsim::readUsbCounters(state) - before, listings);

    auto data = keyImage();
    before = ibsim::readUsbCounters(state);
    auto path = "/uncached/" + onewire::romToHex(memoryKey).substr(0, 2) + "." +
                onewire::romToHex(memoryKey).substr(2, 12) + "/memory";
    auto run = ibsim::runProgram({"owwrite", "--hex", "-s", server, path, hex(data)});
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto written = ibsim::readUsbCounters(state) - before;
    if (run.exitStatus != 0 || ibsim::StateFolder(state, std::cerr).readMemory(memoryKey) != data)
        std::printf("  (owwrite failed: %s)\n", run.errors.c_str());
    printRow("owwrite of the same 512 bytes", written);
    printRow("  per page", written, 16);
}

} // namespace

int main() {
    if (const char* state = std::getenv("IBUTTON_SIM_USB_STATE"))
        return measureLibrary(state);

    ibsim::TemporaryFolder folder;
    auto state = folder.path() / "library-state";
    std::filesystem::create_directories(state);
    auto run = ibsim::runProgram({ibsim::simulatorExecutable().string(), "serve-usb", "--state",
                                  state.string(), "--",
                                  std::filesystem::read_symlink("/proc/self/exe").string()},
                                 std::chrono::seconds(120));
    std::fputs(run.output.c_str(), stdout);
    std::fputs(run.errors.c_str(), stderr);
    measureOwserver(folder.path());
    std::printf("est. ms: at least one 1 ms USB frame per transfer on a real adapter\n");
    return run.exitStatus;
}
