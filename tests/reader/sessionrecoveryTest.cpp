#include "faketmexcontrol.h"

#include "reader/CodeReaderInterface.h"
#include "reader/sessionrecovery.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

namespace {

// A recovery whose restarts answer from a script (false once the script is used up) and whose
// ticks are numbered from 1; it records the ticks that tried a restart and the news taken.
struct RecoveryRun {
    std::deque<bool> restartAnswers;
    int tick = 0;
    std::vector<int> restartTicks;
    std::vector<std::pair<int, TAdapterNews>> news;
    TSessionRecovery recovery{[this] {
        restartTicks.push_back(tick);
        if (restartAnswers.empty())
            return false;
        const bool ready = restartAnswers.front();
        restartAnswers.pop_front();
        return ready;
    }};

    // One polling tick; `faults` tells whether the read (if the recovery allows one) fails.
    bool Tick(bool faults) {
        ++tick;
        const bool read = recovery.MayRead();
        if (read)
            recovery.ReadDone(faults);
        const TAdapterNews taken = recovery.TakeNews();
        if (taken != TAdapterNews::None)
            news.emplace_back(tick, taken);
        return read;
    }
};

TEST(SessionRecovery, ASoundSessionIsNeverRestarted) {
    RecoveryRun run;
    for (int i = 0; i < 100; ++i)
        EXPECT_TRUE(run.Tick(false));
    EXPECT_THAT(run.restartTicks, IsEmpty());
    EXPECT_THAT(run.news, IsEmpty());
}

TEST(SessionRecovery, RestartsOnTheNextTickAndThenBacksOffToAtMost32Ticks) {
    RecoveryRun run;
    run.Tick(true); // tick 1 breaks the session
    for (int i = 0; i < 200; ++i)
        EXPECT_FALSE(run.Tick(false)) << "tick " << run.tick;
    EXPECT_THAT(run.restartTicks, ElementsAre(2, 4, 8, 16, 32, 64, 96, 128, 160, 192));
    EXPECT_THAT(run.news, ElementsAre(std::pair{1, TAdapterNews::Stopped}));
    EXPECT_TRUE(run.recovery.Broken());
}

TEST(SessionRecovery, TellsStoppedOnceAndBackOnceThenStartsAfresh) {
    RecoveryRun run;
    run.restartAnswers = {false, false, true, true};
    run.Tick(false);
    run.Tick(true); // tick 2 breaks: restarts at 3 (fails), 5 (fails), 9 (comes up)
    for (int i = 0; i < 7; ++i)
        run.Tick(false);
    EXPECT_THAT(run.restartTicks, ElementsAre(3, 5, 9));
    EXPECT_FALSE(run.recovery.Broken());
    // A new fault is news again, and the waiting starts from one tick again.
    run.Tick(true); // tick 10
    run.Tick(false);
    EXPECT_THAT(run.restartTicks, ElementsAre(3, 5, 9, 11));
    EXPECT_THAT(run.news,
                ElementsAre(std::pair{2, TAdapterNews::Stopped}, std::pair{9, TAdapterNews::Back},
                            std::pair{10, TAdapterNews::Stopped},
                            std::pair{11, TAdapterNews::Back}));
}

TEST(SessionRecovery, AnAdapterThatOpensButNeverReadsIsToldOnceAndStillBacksOff) {
    RecoveryRun run;
    run.restartAnswers = {true, true, true};
    for (int i = 0; i < 40; ++i)
        run.Tick(true);
    EXPECT_THAT(run.restartTicks, ElementsAre(2, 4, 8, 16, 32));
    EXPECT_THAT(run.news, ElementsAre(std::pair{1, TAdapterNews::Stopped}));
}

const RomBytes Card{0x01, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x8F}; // A1B2C3D4E5

using ReaderRecoveryTest = FakeTmexTest;

TEST_F(ReaderRecoveryTest, ABrokenSessionIsReplacedAndTheCardReadAgain) {
    Fake.AddDevice(Card);
    Fake.SetNextSessionHandle(100);
    TReaderInterface reader("MaximReader", "32", 5, 1);
    ASSERT_TRUE(reader.ReaderLoaded);
    QString number;
    ASSERT_TRUE(reader.ReadRom(number, true));

    Fake.SetAdapterAnswering(false);
    Fake.ClearCalls();
    EXPECT_FALSE(reader.ReadRom(number, true));
    EXPECT_EQ(number, "");
    EXPECT_EQ(reader.TakeAdapterNews(), TAdapterNews::Stopped);
    // The next tick closes the broken session and tries a new one, which the adapter refuses.
    EXPECT_FALSE(reader.ReadRom(number, true));
    EXPECT_FALSE(reader.ReaderLoaded);
    EXPECT_EQ(reader.TakeAdapterNews(), TAdapterNews::None);
    const std::vector<std::string> calls = Fake.Calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[0], "TMFirst");
    EXPECT_EQ(calls[1], "TMEndSession");
    EXPECT_EQ(calls[2], "TMExtendedStartSession 1 5 null");

    // While it stays away, most ticks leave the library alone.
    Fake.ClearCalls();
    for (int i = 0; i < 100; ++i)
        EXPECT_FALSE(reader.ReadRom(number, true));
    const std::vector<std::string> waiting = Fake.Calls();
    // Tries on the 4th, 8th, 16th, 32nd, 64th and 96th tick after the fault.
    EXPECT_EQ(std::count(waiting.begin(), waiting.end(), "TMEndSession"), 6);
    EXPECT_EQ(std::count(waiting.begin(), waiting.end(), "TMFirst"), 0);
    EXPECT_EQ(reader.TakeAdapterNews(), TAdapterNews::None);

    // Plugged back in: within the longest wait a new session reads the card again.
    Fake.SetAdapterAnswering(true);
    Fake.ClearCalls();
    int ticks = 0;
    while (!reader.ReadRom(number, true) && ticks < TSessionRecovery::LongestWaitTicks)
        ++ticks;
    EXPECT_EQ(number, "A1B2C3D4E5");
    EXPECT_TRUE(reader.ReaderLoaded);
    EXPECT_EQ(reader.TakeAdapterNews(), TAdapterNews::Back);
    const std::vector<int32_t> sessions = Fake.CallSessions();
    EXPECT_THAT(Fake.Calls(), ::testing::Contains("TMFirst"));
    EXPECT_EQ(sessions.back(), TMaximReader::SessionHandle);
    EXPECT_EQ(TMaximReader::SessionHandle, 101) << "the broken session 100 is not used again";
}

TEST_F(ReaderRecoveryTest, AnEmptyBusIsNoFault) {
    TReaderInterface reader("MaximReader", "32", 5, 1);
    QString number;
    Fake.ClearCalls();
    for (int i = 0; i < 10; ++i)
        EXPECT_FALSE(reader.ReadRom(number, false));
    EXPECT_EQ(reader.TakeAdapterNews(), TAdapterNews::None);
    const std::vector<std::string> calls = Fake.Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "TMFirst"), 10);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "TMEndSession"), 0);
}

} // namespace
