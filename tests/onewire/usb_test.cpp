// The TMEX API over the DS2490 driver, against virtual DS9490 adapters.
//
// libusb only sees the virtual adapters in a program that runs under the simulator, so each test
// runs twice: here it lays out the state folders and runs itself again under `ibutton-sim
// serve-usb`, and there, with IBUTTON_SIM_USB_STATE set, it does the work.
#include "simprocess.h"
#include "statefolder.h"
#include "usbserver.h"

#include <ibfs32.h>

#include <gtest/gtest.h>
#include <libusb.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <random>
#include <set>
#include <sstream>

using ibsim::Rom;

namespace {

Rom rom(const char* hex) {
    return *onewire::romFromHex(hex);
}

const Rom card = rom("01A1B2C3D4E5F68F");
const Rom otherCard = rom("010203040506070F");
const Rom memoryKey = rom("06112233445566C6");

using Folders = std::vector<std::filesystem::path>;

class UsbAdapterTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (int32_t session : sessions)
            TMEndSession(session);
    }

    // Under the simulator: true, with `states` set. Otherwise false, after running this test
    // under `adapters` virtual adapters whose folders `prepare` filled, and checking its outcome.
    bool underVirtualAdapters(int adapters, const std::function<void(Folders&)>& prepare = {}) {
        if (const char* folders = std::getenv("IBUTTON_SIM_USB_STATE")) {
            std::istringstream list(folders);
            std::string folder;
            while (std::getline(list, folder, ':'))
                states.emplace_back(folder);
            return true;
        }
        Folders folders;
        std::vector<std::string> command = {ibsim::simulatorExecutable().string(), "serve-usb"};
        for (int i = 1; i <= adapters; ++i) {
            folders.push_back(temporary.path() / ("adapter" + std::to_string(i)));
            std::filesystem::create_directories(folders.back());
            command.insert(command.end(), {"--state", folders.back().string()});
        }
        if (prepare)
            prepare(folders);
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        command.insert(command.end(), {"--", std::filesystem::read_symlink("/proc/self/exe"),
                                       std::string("--gtest_filter=") + test->test_suite_name() +
                                           "." + test->name()});
        auto run = ibsim::runProgram(command, std::chrono::seconds(60));
        EXPECT_EQ(run.exitStatus, 0) << run.output << run.errors;
        EXPECT_NE(run.output.find("[  PASSED  ] 1 test"), std::string::npos) << run.output;
        return false;
    }

    ibsim::StateFolder folder(size_t adapter = 0) {
        return ibsim::StateFolder(states.at(adapter), std::cerr);
    }

    int32_t readySession(int16_t port = 1) {
        int32_t session = TMExtendedStartSession(port, IBFS32_PORT_TYPE_USB, nullptr);
        EXPECT_GT(session, 0);
        if (session > 0)
            sessions.push_back(session);
        EXPECT_EQ(TMSetup(session), 1);
        return session;
    }
    void endSession(int32_t session) {
        EXPECT_EQ(TMEndSession(session), 1);
        std::erase(sessions, session);
    }

    Rom currentRom(int32_t session) {
        std::array<int16_t, 9> elements{};
        EXPECT_EQ(TMRom(session, stateBuffer.data(), elements.data()), 1);
        Rom device;
        for (size_t i = 0; i < device.size(); ++i)
            device[i] = static_cast<uint8_t>(elements[i]);
        return device;
    }

    std::vector<Rom> searchAll(int32_t session) {
        std::vector<Rom> found;
        int16_t result = TMFirst(session, stateBuffer.data());
        while (result == 1 && found.size() < 100) {
            found.push_back(currentRom(session));
            result = TMNext(session, stateBuffer.data());
        }
        EXPECT_EQ(result, 0);
        return found;
    }

    int16_t access(int32_t session, const Rom& device) {
        std::array<int16_t, 9> elements{};
        std::copy(device.begin(), device.end(), elements.begin());
        TMRom(session, stateBuffer.data(), elements.data());
        return TMAccess(session, stateBuffer.data());
    }

    bool writeScratchpad(int32_t session, const Rom& device, uint16_t address,
                         std::vector<uint8_t> data) {
        if (access(session, device) != 1)
            return false;
        std::vector<uint8_t> command = {0x0F, uint8_t(address & 0xFF), uint8_t(address >> 8)};
        command.insert(command.end(), data.begin(), data.end());
        return TMBlockStream(session, command.data(), static_cast<int16_t>(command.size())) ==
               static_cast<int16_t>(command.size());
    }

    // Reads the scratchpad registers back and copies them: the key writer's page write. The
    // registers read back, or nothing when a selection failed.
    std::optional<std::array<uint8_t, 3>> copyScratchpad(int32_t session, const Rom& device) {
        if (access(session, device) != 1)
            return std::nullopt;
        std::array<uint8_t, 4> buffer = {0xAA, 0xFF, 0xFF, 0xFF};
        TMBlockStream(session, buffer.data(), 4);
        std::array<uint8_t, 3> registers = {buffer[1], buffer[2], buffer[3]};
        if (access(session, device) != 1)
            return std::nullopt;
        buffer[0] = 0x55;
        TMBlockStream(session, buffer.data(), 4);
        return registers;
    }

    std::vector<uint8_t> readMemory(int32_t session, const Rom& device, uint16_t address,
                                    size_t count) {
        EXPECT_EQ(access(session, device), 1);
        std::vector<uint8_t> bytes = {0xF0, uint8_t(address & 0xFF), uint8_t(address >> 8)};
        bytes.resize(3 + count, 0xFF);
        EXPECT_EQ(TMBlockStream(session, bytes.data(), static_cast<int16_t>(bytes.size())),
                  static_cast<int16_t>(bytes.size()));
        return {bytes.begin() + 3, bytes.end()};
    }

    ibsim::TemporaryFolder temporary;
    Folders states;
    std::vector<int32_t> sessions;
    std::array<uint8_t, IBFS32_STATE_BUFFER_SIZE> stateBuffer{};
};

TEST_F(UsbAdapterTest, SearchFindsNoneOneTwoAndMoreThan32Devices) {
    if (!underVirtualAdapters(1))
        return;
    int32_t session = readySession();
    EXPECT_TRUE(searchAll(session).empty());

    folder().put(card);
    EXPECT_EQ(searchAll(session), std::vector<Rom>{card});

    folder().put(memoryKey);
    auto two = searchAll(session);
    EXPECT_EQ(std::set<Rom>(two.begin(), two.end()), (std::set<Rom>{card, memoryKey}));

    std::mt19937 random(34);
    std::set<Rom> placed = {card, memoryKey};
    while (placed.size() < 35) {
        Rom device{};
        for (auto& byte : device)
            byte = static_cast<uint8_t>(random());
        device[0] = placed.size() % 3 ? 0x01 : 0x06;
        device[7] = onewire::crc8(std::span<const uint8_t>(device.data(), 7));
        placed.insert(device);
        folder().put(device);
    }
    auto all = searchAll(session);
    EXPECT_EQ(all.size(), placed.size());
    EXPECT_EQ(std::set<Rom>(all.begin(), all.end()), placed);
}

TEST_F(UsbAdapterTest, CardLiftedInTheMiddleOfASearch) {
    if (!underVirtualAdapters(1, [](Folders& folders) {
            ibsim::StateFolder state(folders[0], std::cerr);
            state.put(card);
            state.put(otherCard);
            state.put(memoryKey);
        }))
        return;
    int32_t session = readySession();
    ASSERT_EQ(TMFirst(session, stateBuffer.data()), 1);
    Rom first = currentRom(session);
    // Whatever is lifted now is not reported, and the walk still ends.
    for (const Rom& device : {card, otherCard, memoryKey})
        if (device != first)
            folder().remove(device);
    EXPECT_EQ(TMNext(session, stateBuffer.data()), 0);
    EXPECT_EQ(searchAll(session), std::vector<Rom>{first});
}

TEST_F(UsbAdapterTest, PageWritesLandInTheMemoryFileAndReadBack) {
    if (!underVirtualAdapters(
            1, [](Folders& folders) { ibsim::StateFolder(folders[0], std::cerr).put(memoryKey); }))
        return;
    int32_t session = readySession();
    ibsim::Ds1993Memory expected{};
    for (uint16_t address : {uint16_t(0), uint16_t(480)}) {
        SCOPED_TRACE(address);
        std::vector<uint8_t> data(32);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<uint8_t>(address / 32 * 16 + i + 1);
        ASSERT_TRUE(writeScratchpad(session, memoryKey, address, data));
        auto registers = copyScratchpad(session, memoryKey);
        ASSERT_TRUE(registers);
        EXPECT_EQ(*registers,
                  (std::array<uint8_t, 3>{uint8_t(address & 0xFF), uint8_t(address >> 8), 0x1F}));
        std::copy(data.begin(), data.end(), expected.begin() + address);
        EXPECT_EQ(readMemory(session, memoryKey, address, 32), data);
    }
    EXPECT_EQ(folder().readMemory(memoryKey), expected);
    // The whole memory in one read, longer than the adapter's buffers.
    auto whole = readMemory(session, memoryKey, 0, expected.size());
    EXPECT_TRUE(std::equal(whole.begin(), whole.end(), expected.begin(), expected.end()));
}

TEST_F(UsbAdapterTest, KeyLiftedDuringAPageWriteWritesNothing) {
    if (!underVirtualAdapters(
            1, [](Folders& folders) { ibsim::StateFolder(folders[0], std::cerr).put(memoryKey); }))
        return;
    int32_t session = readySession();
    ASSERT_TRUE(writeScratchpad(session, memoryKey, 32, std::vector<uint8_t>(32, 0x5A)));
    folder().remove(memoryKey);
    EXPECT_FALSE(copyScratchpad(session, memoryKey));
    EXPECT_EQ(folder().readMemory(memoryKey), ibsim::Ds1993Memory{});
    // A lifted key is no fault of the adapter: the session goes on.
    folder().put(memoryKey);
    EXPECT_EQ(TMSetup(session), 1);
    EXPECT_EQ(searchAll(session), std::vector<Rom>{memoryKey});
}

TEST_F(UsbAdapterTest, UnpluggedAdapterFailsTheSessionAndIsGoneForTheNext) {
    if (!underVirtualAdapters(
            1, [](Folders& folders) { ibsim::StateFolder(folders[0], std::cerr).put(card); }))
        return;
    int32_t session = readySession();
    EXPECT_EQ(searchAll(session), std::vector<Rom>{card});

    // Pulled out as the next transfer goes: it comes back failed, as from the kernel, and with it
    // the call and the session. A transfer that never came back would hold the call for good.
    std::ofstream(states[0] / "unplugged") << "";
    EXPECT_EQ(TMSetup(session), IBFS32_ERROR_COMMUNICATION);
    EXPECT_EQ(TMFirst(session, stateBuffer.data()), IBFS32_ERROR_COMMUNICATION);
    endSession(session);
    EXPECT_EQ(TMExtendedStartSession(1, IBFS32_PORT_TYPE_USB, nullptr), IBFS32_ERROR_PORT_OPEN);
}

TEST_F(UsbAdapterTest, PulledOutAdapterHandsBackWhatWasInFlight) {
    if (!underVirtualAdapters(1))
        return;
    // Straight through libusb, as any program meets the virtual adapter. A kernel fails every
    // transfer in flight when its device goes, and a program waiting for one relies on that:
    // libusb's own timeout cannot end the wait, as a cancelled transfer has to come back too.
    libusb_context* context = nullptr;
    ASSERT_EQ(libusb_init(&context), 0);
    libusb_device_handle* handle = libusb_open_device_with_vid_pid(context, 0x04FA, 0x2490);
    ASSERT_NE(handle, nullptr);
    libusb_set_auto_detach_kernel_driver(handle, 1);
    ASSERT_EQ(libusb_claim_interface(handle, 0), 0);

    // A read of 1-Wire data when there is none to come stays in flight, without a timeout.
    std::array<uint8_t, 16> data{};
    int completed = 0;
    libusb_transfer* read = libusb_alloc_transfer(0);
    libusb_fill_bulk_transfer(
        read, handle, 0x83, data.data(), static_cast<int>(data.size()),
        [](libusb_transfer* transfer) { *static_cast<int*>(transfer->user_data) = 1; }, &completed,
        0);
    ASSERT_EQ(libusb_submit_transfer(read), 0);
    timeval tick{0, 10000};
    libusb_handle_events_timeout_completed(context, &tick, &completed);
    EXPECT_EQ(completed, 0);

    std::ofstream(states[0] / "unplugged") << "";
    // Well inside the run's own limit, so that a read that never comes back fails here.
    auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!completed && std::chrono::steady_clock::now() < giveUp)
        libusb_handle_events_timeout_completed(context, &tick, &completed);
    EXPECT_EQ(completed, 1);
    EXPECT_EQ(read->status, LIBUSB_TRANSFER_NO_DEVICE);
    // Whatever comes after fails at once.
    EXPECT_EQ(libusb_control_transfer(handle, 0x40, 0x00, 0x0000, 0, nullptr, 0, 0),
              LIBUSB_ERROR_NO_DEVICE);

    libusb_release_interface(handle, 0);
    libusb_close(handle);
    libusb_free_transfer(read);
    libusb_exit(context);
}

TEST_F(UsbAdapterTest, StalledEndpoints) {
    if (!underVirtualAdapters(
            1, [](Folders& folders) { ibsim::StateFolder(folders[0], std::cerr).put(memoryKey); }))
        return;
    auto stall = [this](const char* endpoint) { std::ofstream(states[0] / "stall") << endpoint; };
    int32_t session = readySession();
    // A selection starts the bus transaction afresh, so it is simply made again.
    for (const char* endpoint : {"02", "81", "83"}) {
        SCOPED_TRACE(endpoint);
        stall(endpoint);
        EXPECT_EQ(access(session, memoryKey), 1);
        EXPECT_FALSE(std::filesystem::exists(states[0] / "stall"));
    }
    EXPECT_EQ(searchAll(session), std::vector<Rom>{memoryKey});
    // In the middle of a transaction nothing can be repeated: the call fails, and so does the
    // session. The adapter itself is fine for the next one.
    stall("83");
    EXPECT_EQ(TMTouchByte(session, 0xF0), IBFS32_ERROR_COMMUNICATION);
    EXPECT_EQ(TMSetup(session), IBFS32_ERROR_COMMUNICATION);
    endSession(session);
    session = readySession();
    EXPECT_EQ(searchAll(session), std::vector<Rom>{memoryKey});
}

TEST_F(UsbAdapterTest, TransferThatNeverComesBackFailsTheCallInsteadOfHoldingIt) {
    if (!underVirtualAdapters(
            1, [](Folders& folders) { ibsim::StateFolder(folders[0], std::cerr).put(memoryKey); }))
        return;
    // The host side loses a transfer, as it may when an adapter goes at the wrong moment: it is
    // never handed back, not even when cancelled. Whichever kind of transfer it is, the call that
    // sent it fails, the session with it, and the adapter is there for the next session.
    struct Case {
        const char* endpoint;
        std::function<int16_t(int32_t)> call;
    };
    const Case cases[] = {
        {"00", [](int32_t session) { return TMSetup(session); }}, // the reset command
        {"81", [](int32_t session) { return TMSetup(session); }}, // the status after it
        {"02", [this](int32_t session) { return TMFirst(session, stateBuffer.data()); }},
        {"83", [](int32_t session) { return TMTouchByte(session, 0xFF); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.endpoint);
        int32_t session = readySession();
        std::ofstream(states[0] / "lose") << c.endpoint;
        EXPECT_EQ(c.call(session), IBFS32_ERROR_COMMUNICATION);
        EXPECT_FALSE(std::filesystem::exists(states[0] / "lose"));
        EXPECT_EQ(TMSetup(session), IBFS32_ERROR_COMMUNICATION);
        endSession(session);
    }
    int32_t session = readySession();
    EXPECT_EQ(searchAll(session), std::vector<Rom>{memoryKey});
}

TEST_F(UsbAdapterTest, PortNumbersReachTheAdaptersInBusOrder) {
    if (!underVirtualAdapters(2, [](Folders& folders) {
            ibsim::StateFolder(folders[0], std::cerr).put(card);
            ibsim::StateFolder(folders[1], std::cerr).put(otherCard);
        }))
        return;
    int32_t first = readySession(1);
    int32_t second = readySession(2);
    EXPECT_EQ(searchAll(first), std::vector<Rom>{card});
    EXPECT_EQ(searchAll(second), std::vector<Rom>{otherCard});

    // The session holds its adapter: the kernel's driver is off it, and nobody else gets it.
    EXPECT_FALSE(ibsim::readUsbCounters(states[0]).kernelDriverBound);
    EXPECT_EQ(TMExtendedStartSession(1, IBFS32_PORT_TYPE_USB, nullptr), IBFS32_ERROR_PORT_BUSY);
    endSession(first);
    EXPECT_TRUE(ibsim::readUsbCounters(states[0]).kernelDriverBound);

    for (int16_t port : {int16_t(0), int16_t(3), int16_t(-1)}) {
        SCOPED_TRACE(port);
        EXPECT_EQ(TMExtendedStartSession(port, IBFS32_PORT_TYPE_USB, nullptr),
                  IBFS32_ERROR_PORT_OPEN);
    }
}

} // namespace
