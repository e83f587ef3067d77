// The host link to the serial adapter: the rate it runs at, what it costs per call, and the
// low-latency request, counted by the virtual adapter.
#include "configuredport.h"
#include "serialport.h"
#include "statefolder.h"

#include <array>
#include <iostream>
#include <linux/serial.h>

using ibsim::Rom;

namespace {

const Rom memoryKey = *onewire::romFromHex("06112233445566C6");

ibsim::BytesByRate since(const ibsim::BytesByRate& after, const ibsim::BytesByRate& before) {
    ibsim::BytesByRate moved;
    for (const auto& [baud, count] : after) {
        auto earlier = before.count(baud) ? before.at(baud) : 0;
        if (count > earlier)
            moved[baud] = count - earlier;
    }
    return moved;
}

std::set<int> ratesUsed(const ibsim::BytesByRate& moved) {
    std::set<int> rates;
    for (const auto& [baud, count] : moved)
        rates.insert(baud);
    return rates;
}

class HostLinkTest : public ConfiguredPortTest {
protected:
    void TearDown() override {
        if (session > 0)
            TMEndSession(session);
        simulator.reset();
        ConfiguredPortTest::TearDown();
    }

    void start(const std::vector<std::string>& simulatorOptions, const std::string& serialKeys,
               std::chrono::milliseconds answerAllowance = patient) {
        ibsim::StateFolder(state, std::cerr).put(memoryKey);
        simulator = std::make_unique<ibsim::SimulatorProcess>(folder.path() / "tty", state,
                                                              simulatorOptions);
        std::filesystem::create_directories(folder.path() / "config");
        std::ofstream(folder.path() / "config" / "ibfs32.ini")
            << "[default]\nporttype=5\nportnum=1\n[serial]\nport1=" << simulator->link().string()
            << "\ntimeout=" << answerAllowance.count() << "\n"
            << serialKeys;
        session = TMExtendedStartSession(1, IBFS32_PORT_TYPE_SERIAL, nullptr);
    }

    bool access() {
        std::array<int16_t, 9> rom{};
        std::copy(memoryKey.begin(), memoryKey.end(), rom.begin());
        TMRom(session, stateBuffer.data(), rom.data());
        return TMAccess(session, stateBuffer.data()) == 1;
    }

    std::filesystem::path state = folder.path() / "state";
    std::unique_ptr<ibsim::SimulatorProcess> simulator;
    int32_t session = 0;
    std::array<uint8_t, IBFS32_STATE_BUFFER_SIZE> stateBuffer{};
};

TEST_F(HostLinkTest, RunsAtTheFastestRateAdapterAndConfigurationAllow) {
    struct Case {
        const char* what;
        std::vector<std::string> simulatorOptions;
        std::string serialKeys;
        int baud;
        // The adapter that refuses never answers the read-back at the new rate: its silence is
        // waited out, within a limit that an adapter that does answer still meets on a busy host.
        std::chrono::milliseconds answerAllowance = patient;
    };
    for (const Case& c : {
             Case{"by default", {}, "", 115200},
             Case{"adapter refuses the change: back to 9600",
                  {"--refuse-fast-rates"},
                  "",
                  9600,
                  std::chrono::seconds(2)},
             Case{"capped at 57,600", {}, "baud=57600\n", 57600},
             Case{"kept at 9600", {}, "baud=9600\n", 9600},
         }) {
        SCOPED_TRACE(c.what);
        start(c.simulatorOptions, c.serialKeys, c.answerAllowance);
        ASSERT_GT(session, 0) << simulator->log();
        ASSERT_EQ(TMSetup(session), 1);

        // A poll and a scratchpad round, all of it at the chosen rate and still correct.
        auto before = simulator->counters();
        EXPECT_EQ(TMFirst(session, stateBuffer.data()), 1);
        ASSERT_TRUE(access());
        std::array<uint8_t, 4> scratchpad = {0xAA, 0xFF, 0xFF, 0xFF};
        EXPECT_EQ(TMBlockStream(session, scratchpad.data(), 4), 4);
        auto after = simulator->counters();
        EXPECT_EQ(ratesUsed(since(after.bytesInByRate, before.bytesInByRate)), std::set{c.baud});
        EXPECT_EQ(ratesUsed(since(after.bytesOutByRate, before.bytesOutByRate)), std::set{c.baud});
        EXPECT_EQ(TMNext(session, stateBuffer.data()), 0);

        EXPECT_EQ(TMEndSession(session), 1);
        session = 0;
        simulator.reset();
        std::filesystem::remove_all(state);
    }
}

TEST_F(HostLinkTest, EveryCallOfTheReaderCostsAtMostOneRoundTrip) {
    start({}, "");
    ASSERT_GT(session, 0) << simulator->log();
    std::array<uint8_t, 32> page{};
    std::array<uint8_t, 4> registers = {0xAA, 0xFF, 0xFF, 0xFF};
    std::array<int16_t, 9> rom{};
    struct Call {
        const char* what;
        std::function<int()> call;
        unsigned long long roundTrips;
    };
    for (const Call& c : {
             Call{"TMSetup", [&] { return TMSetup(session); }, 1},
             Call{"TMFirst", [&] { return TMFirst(session, stateBuffer.data()); }, 1},
             Call{"TMRom (read)", [&] { return TMRom(session, stateBuffer.data(), rom.data()); },
                  0},
             // The walk knows the last device was found: no pass is needed to say so.
             Call{"TMNext after the last device",
                  [&] { return TMNext(session, stateBuffer.data()); }, 0},
             Call{"TMRom (set)", [&] { return TMRom(session, stateBuffer.data(), rom.data()); }, 0},
             Call{"TMAccess", [&] { return TMAccess(session, stateBuffer.data()); }, 1},
             Call{"TMTouchByte", [&] { return TMTouchByte(session, 0x0F); }, 1},
             Call{"TMBlockStream, a page", [&] { return TMBlockStream(session, page.data(), 32); },
                  1},
             Call{"TMAccess again", [&] { return TMAccess(session, stateBuffer.data()); }, 1},
             Call{"TMBlockStream, read scratchpad",
                  [&] { return TMBlockStream(session, registers.data(), 4); }, 1},
         }) {
        SCOPED_TRACE(c.what);
        auto before = simulator->counters();
        EXPECT_GE(c.call(), 0);
        EXPECT_EQ(simulator->counters().roundTrips - before.roundTrips, c.roundTrips);
    }
}

TEST(LowLatencyRequestTest, AsksForTheFlagAndPutsBackWhatItChanged) {
    struct Case {
        const char* what;
        std::optional<int> flags; // nothing: the driver has no such setting
        bool writeSucceeds;
        std::vector<int> writesWhileOpen;
        std::vector<int> writesAtTheEnd;
    };
    constexpr int other = ASYNC_SKIP_TEST; // some unrelated flag that must survive
    for (const Case& c : {
             Case{"driver offers it", other, true, {other | ASYNC_LOW_LATENCY}, {other}},
             Case{"already set by the user", other | ASYNC_LOW_LATENCY, true, {}, {}},
             Case{"driver without the setting", std::nullopt, true, {}, {}},
             Case{"driver refuses the change", 0, false, {ASYNC_LOW_LATENCY}, {}},
         }) {
        SCOPED_TRACE(c.what);
        std::vector<int> writes;
        {
            onewire::LowLatencyRequest request([&] { return c.flags; },
                                               [&](int flags) {
                                                   writes.push_back(flags);
                                                   return c.writeSucceeds;
                                               });
            EXPECT_EQ(writes, c.writesWhileOpen);
            EXPECT_EQ(request.active(), !c.writesAtTheEnd.empty());
            writes.clear();
        }
        EXPECT_EQ(writes, c.writesAtTheEnd);
    }
}

} // namespace
