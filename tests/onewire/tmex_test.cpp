// The TMEX API over the DS2480B driver, against the virtual adapter: the calls in the order and
// with the arguments the program's reader makes them.
#include "config.h"
#include "configuredport.h"
#include "statefolder.h"

#include <array>
#include <csignal>
#include <future>
#include <iostream>
#include <random>
#include <set>
#include <thread>

using ibsim::Rom;

namespace {

Rom rom(const char* hex) {
    return *onewire::romFromHex(hex);
}

const Rom card = rom("01A1B2C3D4E5F68F");
const Rom memoryKey = rom("06112233445566C6");
const Rom escapeKey = rom("06E3E3CCDDEEFFD4"); // the adapter's escape byte in its ROM

class AdapterTest : public ConfiguredPortTest {
protected:
    void SetUp() override {
        ConfiguredPortTest::SetUp();
        simulator = std::make_unique<ibsim::SimulatorProcess>(folder.path() / "tty", state);
        configure({{1, simulator->link().string()}});
    }
    void TearDown() override {
        for (int32_t session : sessions)
            TMEndSession(session);
        simulator.reset();
        ConfiguredPortTest::TearDown();
    }

    // As the reader starts a session: default port, start, setup.
    int32_t startSession() {
        int16_t portNum = 0, portType = 0;
        TMReadDefaultPort(&portNum, &portType);
        int32_t session = TMExtendedStartSession(portNum, portType, nullptr);
        if (session > 0)
            sessions.push_back(session);
        return session;
    }
    int32_t readySession() {
        int32_t session = startSession();
        EXPECT_GT(session, 0) << simulator->log();
        EXPECT_EQ(TMSetup(session), 1);
        return session;
    }
    void endSession(int32_t session) {
        EXPECT_EQ(TMEndSession(session), 1);
        sessions.erase(std::find(sessions.begin(), sessions.end(), session));
    }

    std::vector<Rom> searchAll(int32_t session) {
        std::vector<Rom> found;
        int16_t result = TMFirst(session, stateBuffer.data());
        while (result == 1 && found.size() < 100) {
            std::array<int16_t, 9> romElements{};
            EXPECT_EQ(TMRom(session, stateBuffer.data(), romElements.data()), 1);
            Rom device;
            for (size_t i = 0; i < device.size(); ++i)
                device[i] = static_cast<uint8_t>(romElements[i]);
            found.push_back(device);
            result = TMNext(session, stateBuffer.data());
        }
        EXPECT_EQ(result, 0);
        return found;
    }

    int16_t access(int32_t session, const Rom& device) {
        std::array<int16_t, 9> romElements{};
        std::copy(device.begin(), device.end(), romElements.begin());
        TMRom(session, stateBuffer.data(), romElements.data());
        return TMAccess(session, stateBuffer.data());
    }

    // The reader's page write, call for call. Returns the TA1, TA2, E/S read back, or nothing
    // when a selection failed.
    std::optional<std::array<uint8_t, 3>> writePage(int32_t session, const Rom& device,
                                                    uint16_t address, std::vector<uint8_t> data) {
        if (access(session, device) <= 0)
            return std::nullopt;
        TMTouchByte(session, 0x0F);
        TMTouchByte(session, static_cast<int16_t>(address & 0xFF));
        TMTouchByte(session, static_cast<int16_t>(address >> 8));
        TMBlockStream(session, data.data(), static_cast<int16_t>(data.size()));
        if (access(session, device) <= 0)
            return std::nullopt;
        std::array<uint8_t, 4> buffer = {0xAA, 0xFF, 0xFF, 0xFF};
        TMBlockStream(session, buffer.data(), 4);
        std::array<uint8_t, 3> registers = {buffer[1], buffer[2], buffer[3]};
        if (access(session, device) <= 0)
            return std::nullopt;
        buffer[0] = 0x55;
        TMBlockStream(session, buffer.data(), 4);
        std::fill(data.begin(), data.end(), 0xFF);
        TMBlockStream(session, data.data(), static_cast<int16_t>(data.size()));
        return registers;
    }

    std::vector<uint8_t> readPage(int32_t session, uint16_t address) {
        TMAccess(session, stateBuffer.data());
        std::vector<uint8_t> data(32, 0xFF);
        TMTouchByte(session, 0xF0);
        TMTouchByte(session, static_cast<int16_t>(address & 0xFF));
        TMTouchByte(session, static_cast<int16_t>(address >> 8));
        EXPECT_EQ(TMBlockStream(session, data.data(), 32), 32);
        return data;
    }

    ibsim::StateFolder folder_() { return ibsim::StateFolder(state, std::cerr); }

    std::filesystem::path state = folder.path() / "state";
    std::unique_ptr<ibsim::SimulatorProcess> simulator;
    std::vector<int32_t> sessions;
    std::array<uint8_t, IBFS32_STATE_BUFFER_SIZE> stateBuffer{};
};

TEST_F(AdapterTest, SearchFollowsTheBusWithinOneSession) {
    int32_t session = readySession();
    EXPECT_TRUE(searchAll(session).empty());

    folder_().put(card);
    EXPECT_EQ(searchAll(session), std::vector<Rom>{card});

    folder_().put(memoryKey);
    auto both = searchAll(session);
    EXPECT_EQ(std::set<Rom>(both.begin(), both.end()), (std::set<Rom>{card, memoryKey}));

    folder_().remove(card);
    EXPECT_EQ(searchAll(session), std::vector<Rom>{memoryKey});
}

TEST_F(AdapterTest, FindsEveryOneOfMoreThan32Devices) {
    std::mt19937 random(33);
    std::set<Rom> placed;
    while (placed.size() < 33) {
        Rom device{};
        for (auto& byte : device)
            byte = static_cast<uint8_t>(random());
        device[0] = placed.size() % 3 ? 0x01 : 0x06;
        device[7] = onewire::crc8(std::span<const uint8_t>(device.data(), 7));
        placed.insert(device);
    }
    for (const auto& device : placed)
        folder_().put(device);

    int32_t session = readySession();
    auto found = searchAll(session);
    EXPECT_EQ(found.size(), 33u);
    EXPECT_EQ(std::set<Rom>(found.begin(), found.end()), placed);
}

TEST_F(AdapterTest, OneSerialRoundTripPerDeviceFound) {
    for (const Rom& device : {card, memoryKey, escapeKey})
        folder_().put(device);
    int32_t session = readySession();
    auto before = simulator->counters();
    EXPECT_EQ(searchAll(session).size(), 3u);
    EXPECT_EQ(simulator->counters().roundTrips - before.roundTrips, 3u);
}

TEST_F(AdapterTest, BusFileWrittenByHand) {
    // The simulator puts a wrong CRC on the bus as it is, which the library never reports; a
    // malformed line is skipped with a message, and a memory key gets its memory file when it
    // first appears.
    std::filesystem::create_directories(state);
    std::ofstream(state / "bus") << "01A1B2C3D4E5F600\nnot a rom\n";
    int32_t session = readySession();
    EXPECT_EQ(searchAll(session), std::vector<Rom>{});
    EXPECT_NE(simulator->log().find("bus line 2 is not a ROM"), std::string::npos)
        << simulator->log();

    // The key's branch comes first; the walk ends at the damaged ROM.
    std::ofstream(state / "bus", std::ios::app) << "06112233445566c6\n";
    EXPECT_EQ(searchAll(session), std::vector<Rom>{memoryKey});
    EXPECT_EQ(folder_().readMemory(memoryKey), ibsim::Ds1993Memory{});
    EXPECT_EQ(std::filesystem::file_size(folder_().memoryPath(memoryKey)), 512u);
}

TEST_F(AdapterTest, PagesWrittenThroughTheScratchpadLandInTheMemoryFile) {
    folder_().put(memoryKey); // a second key on the bus must stay untouched
    folder_().put(escapeKey);
    int32_t session = readySession();

    std::map<uint16_t, std::vector<uint8_t>> pages;
    for (uint16_t address : {uint16_t(0), uint16_t(224), uint16_t(480)}) {
        SCOPED_TRACE(address);
        std::vector<uint8_t> data(32);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<uint8_t>(address / 32 * 16 + i);
        data[3] = 0xE3; // the escape byte as data, too
        auto registers = writePage(session, escapeKey, address, data);
        ASSERT_TRUE(registers);
        EXPECT_EQ(*registers,
                  (std::array<uint8_t, 3>{uint8_t(address & 0xFF), uint8_t(address >> 8), 0x1F}));
        pages[address] = data;
    }

    auto memory = folder_().readMemory(escapeKey);
    ibsim::Ds1993Memory expected{};
    for (const auto& [address, data] : pages)
        std::copy(data.begin(), data.end(), expected.begin() + address);
    EXPECT_EQ(memory, expected);
    EXPECT_EQ(folder_().readMemory(memoryKey), ibsim::Ds1993Memory{});

    for (const auto& [address, data] : pages)
        EXPECT_EQ(readPage(session, address), data);
}

TEST_F(AdapterTest, AccessFailsOnceTheDeviceIsGone) {
    folder_().put(memoryKey);
    int32_t session = readySession();
    EXPECT_EQ(access(session, memoryKey), 1);
    folder_().remove(memoryKey);
    EXPECT_EQ(access(session, memoryKey), 0);
    EXPECT_FALSE(writePage(session, memoryKey, 0, std::vector<uint8_t>(32, 0x42)));
}

TEST_F(AdapterTest, RomCallReadsAndSetsTheCurrentDevice) {
    folder_().put(card);
    int32_t session = readySession();
    std::array<int16_t, 9> elements{};
    EXPECT_EQ(TMRom(session, stateBuffer.data(), elements.data()), 0); // nothing found yet
    ASSERT_EQ(TMFirst(session, stateBuffer.data()), 1);
    EXPECT_EQ(TMRom(session, stateBuffer.data(), elements.data()), 1);
    EXPECT_EQ(elements,
              (std::array<int16_t, 9>{0x01, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x8F, 0}));

    std::array<int16_t, 9> chosen = {0x06, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0xC6, 0};
    EXPECT_EQ(TMRom(session, stateBuffer.data(), chosen.data()), 1);
    elements = {};
    TMRom(session, stateBuffer.data(), elements.data());
    EXPECT_EQ(elements, chosen);
}

TEST_F(AdapterTest, SessionsFollowEachOtherAndExcludeEachOther) {
    folder_().put(card);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        int32_t session = readySession();
        EXPECT_EQ(startSession(), IBFS32_ERROR_PORT_BUSY);
        EXPECT_EQ(searchAll(session), std::vector<Rom>{card});
        endSession(session);
    }
    EXPECT_EQ(TMEndSession(12345), IBFS32_ERROR_INVALID_SESSION);
}

// How long an answer is waited for is ibfs32.ini's timeout: an adapter that pauses for longer
// than the standard limit, but within the configured one, goes on as if nothing had happened; one
// whose pause outlasts the configured limit breaks the session.
TEST_F(AdapterTest, AnAdapterMayPauseForAsLongAsTheTimeoutSays) {
    folder_().put(card);
    struct Case {
        const char* what;
        std::chrono::milliseconds allowance;
        int16_t found;
    };
    for (const Case& c : {
             Case{"within the timeout", patient, 1},
             // Long enough for the session to come up on a busy host; the pause lasts until
             // the search has given up, however long that is.
             Case{"longer than the timeout", std::chrono::seconds(2), IBFS32_ERROR_COMMUNICATION},
         }) {
        SCOPED_TRACE(c.what);
        configure({{1, simulator->link().string()}}, c.allowance);
        int32_t session = readySession();
        ASSERT_EQ(kill(simulator->pid(), SIGSTOP), 0);
        // Resumed after five times the standard limit, or, past the configured one, once the
        // search has given up.
        std::promise<void> searched;
        std::thread resume([&, paused = searched.get_future()] {
            if (c.found > 0)
                std::this_thread::sleep_for(5 * onewire::PortConfig::defaultSerialAnswerAllowance);
            else
                paused.wait();
            kill(simulator->pid(), SIGCONT);
        });
        EXPECT_EQ(TMFirst(session, stateBuffer.data()), c.found);
        searched.set_value();
        resume.join();
        if (c.found > 0) {
            EXPECT_EQ(searchAll(session), std::vector<Rom>{card});
        }
        endSession(session);
    }
}

} // namespace
