// owserver is an independent DS2480B and DS9490 client: what it reads through a virtual adapter
// must agree with the state folder, and what it writes must land there. Over USB it runs under the
// simulator (`serve-usb`) and finds the adapter through libusb (`-u`).
#include "simprocess.h"
#include "statefolder.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fstream>
#include <iostream>
#include <netinet/in.h>
#include <set>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace ibsim;

namespace {

bool onPath(const std::string& program) {
    return runProgram({"sh", "-c", "command -v " + program}).exitStatus == 0;
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

// owfs names a device by its family code and the six serial bytes in bus order.
std::string owfsName(const Rom& rom) {
    auto hex = onewire::romToHex(rom);
    return hex.substr(0, 2) + "." + hex.substr(2, 12);
}

std::string hex(std::span<const uint8_t> bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

const Rom memoryKey = *onewire::romFromHex("06112233445566C6");
const Rom card = *onewire::romFromHex("01A1B2C3D4E5F68F");

enum class Adapter { Serial, Usb };

class OwserverTest : public ::testing::TestWithParam<Adapter> {
protected:
    void SetUp() override {
        if (!onPath("owserver") || !onPath("owdir") || !onPath("owread") || !onPath("owwrite"))
            GTEST_SKIP() << "owserver and ow-shell are not installed";
        StateFolder folder(state, std::cerr);
        folder.put(memoryKey);
        folder.put(card);
        for (size_t i = 0; i < memory.size(); ++i)
            memory[i] = static_cast<uint8_t>(i * 13 + 5);
        folder.writeMemory(memoryKey, 0, memory);

        server = "127.0.0.1:" + std::to_string(freeLoopbackPort());
        if (GetParam() == Adapter::Serial) {
            simulator = std::make_unique<SimulatorProcess>(folder_.path() / "tty", state);
            owserver = std::make_unique<ChildProcess>(
                std::vector<std::string>{"owserver", "--foreground", "-d",
                                         simulator->link().string(), "-p", server},
                folder_.path() / "owserver.log");
        } else {
            owserver = std::make_unique<ChildProcess>(
                std::vector<std::string>{simulatorExecutable().string(), "serve-usb", "--state",
                                         state.string(), "--", "owserver", "--foreground", "-u",
                                         "-p", server},
                folder_.path() / "owserver.log");
        }
        // owserver answers once it has set up the adapter.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (ow({"owdir", "-s", server, "/"}).exitStatus != 0) {
            ASSERT_TRUE(owserver->running()) << "owserver stopped: " << owserverLog();
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "owserver did not answer";
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    void TearDown() override {
        if (owserver)
            owserver->stop();
        if (simulator)
            simulator->stop();
    }

    ProgramRun ow(std::vector<std::string> arguments) { return runProgram(arguments); }

    std::string owserverLog() const {
        std::ifstream file(folder_.path() / "owserver.log");
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }

    std::set<std::string> devicesListed(const std::string& directory) {
        auto listing = ow({"owdir", "-s", server, directory});
        EXPECT_EQ(listing.exitStatus, 0) << listing.errors;
        std::set<std::string> devices;
        std::istringstream lines(listing.output);
        std::string line;
        while (std::getline(lines, line)) {
            auto name = line.substr(line.rfind('/') + 1);
            if (name.size() == 15 && name[2] == '.')
                devices.insert(name);
        }
        return devices;
    }

    TemporaryFolder folder_;
    std::filesystem::path state = folder_.path() / "state";
    Ds1993Memory memory{};
    std::unique_ptr<SimulatorProcess> simulator;
    std::unique_ptr<ChildProcess> owserver;
    std::string server;
};

TEST_P(OwserverTest, ListsTheDevicesOnTheBus) {
    EXPECT_EQ(devicesListed("/"), (std::set<std::string>{owfsName(memoryKey), owfsName(card)}));

    StateFolder(state, std::cerr).remove(card);
    EXPECT_EQ(devicesListed("/uncached/"), std::set<std::string>{owfsName(memoryKey)});
}

TEST_P(OwserverTest, ReadsAndWritesDs1993Memory) {
    auto path = "/" + owfsName(memoryKey) + "/memory";
    auto read = ow({"owread", "--hex", "-s", server, path});
    ASSERT_EQ(read.exitStatus, 0) << read.errors;
    EXPECT_EQ(read.output, hex(memory));

    Ds1993Memory written{};
    for (size_t i = 0; i < written.size(); ++i)
        written[i] = static_cast<uint8_t>(255 - i);
    auto write = ow({"owwrite", "--hex", "-s", server, path, hex(written)});
    ASSERT_EQ(write.exitStatus, 0) << write.errors;
    EXPECT_EQ(StateFolder(state, std::cerr).readMemory(memoryKey), written);
}

INSTANTIATE_TEST_SUITE_P(Adapters, OwserverTest, ::testing::Values(Adapter::Serial, Adapter::Usb),
                         [](const auto& info) {
                             return info.param == Adapter::Serial ? "Serial" : "Usb";
                         });

} // namespace
