#include "faketmexcontrol.h"

#include "reader/CodeReaderInterface.h"
#include "reader/cardpoller.h"
#include "reader/sessionrecovery.h"
#include "shared/errors.h"

#include <QCoreApplication>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <iterator>

using ::testing::ElementsAre;

namespace {

const RomBytes CardA{0x01, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x8F}; // A1B2C3D4E5, a DS1990
const RomBytes MemoryKey{0x06, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F, 0x00};

constexpr int Never = 24 * 60 * 60 * 1000; // an interval no test outlives: it steps by hand
constexpr int WaitMs = 10000;

std::unique_ptr<TReaderInterface> LaterReader() {
    return std::make_unique<TReaderInterface>(TReaderInterface::MaximReaderName, "32", 5, 1,
                                              TSessionStart::Later);
}

// What a report said, in a form a test can compare.
std::string Told(const QList<QVariant>& looked) {
    const auto look = looked.at(1).value<TCardLook>();
    std::string told = "round " + std::to_string(looked.at(0).toULongLong());
    if (look.News == TAdapterNews::Stopped)
        told += " stopped";
    if (look.News == TAdapterNews::Back)
        told += " back";
    if (look.Left)
        told += " left";
    if (look.Read)
        told += " read " + look.Card.Number.toStdString() + " " +
                look.Card.FamilyType.toStdString() + " " + std::to_string(look.Card.FamilyCode);
    return told;
}

std::vector<std::string> TakeTold(QSignalSpy& looked) {
    std::vector<std::string> told;
    for (const QList<QVariant>& report : looked)
        told.push_back(Told(report));
    looked.clear();
    return told;
}

class CardPollerTest : public FakeTmexTest {};

// The poller stepped by hand on the test's thread: what each look reports.
TEST_F(CardPollerTest, ACardIsToldAtEveryLookAndItsLeavingOnce) {
    TCardPoller poller(LaterReader());
    QSignalSpy looked(&poller, &TCardPoller::Looked);
    EXPECT_EQ(Fake.CallsOf("TMExtendedStartSession 1 5 null"), 0) << "no session before Open";
    poller.Open();
    EXPECT_EQ(Fake.CallsOf("TMExtendedStartSession 1 5 null"), 1);
    poller.Start(7, Never);
    poller.Look();
    EXPECT_TRUE(TakeTold(looked).empty()) << "an empty adapter has nothing to tell";

    Fake.AddDevice(CardA);
    poller.Look();
    poller.Look();
    EXPECT_THAT(TakeTold(looked), ElementsAre("round 7 read A1B2C3D4E5 DS1990 1",
                                              "round 7 read A1B2C3D4E5 DS1990 1"));
    Fake.ClearBus();
    poller.Look();
    poller.Look();
    EXPECT_THAT(TakeTold(looked), ElementsAre("round 7 left"));

    Fake.AddDevice(MemoryKey);
    poller.Start(8, Never);
    poller.Look();
    EXPECT_THAT(TakeTold(looked), ElementsAre("round 8 read 0A1B2C3D4E DS1993 6"));
    // Started over: a device taken away meanwhile is not told as left.
    Fake.ClearBus();
    poller.Start(9, Never);
    poller.Look();
    EXPECT_TRUE(TakeTold(looked).empty());

    poller.Stop();
    Fake.AddDevice(CardA);
    poller.Look();
    EXPECT_TRUE(TakeTold(looked).empty()) << "a stopped poller does not look";
}

TEST_F(CardPollerTest, AnAdapterThatStopsIsToldOnceLeftAloneMoreAndMoreAndToldBack) {
    TCardPoller poller(LaterReader());
    QSignalSpy looked(&poller, &TCardPoller::Looked);
    poller.Open();
    poller.Start(1, Never);
    for (int i = 0; i < 3; ++i)
        poller.Look();

    // A stall breaks the session; a card laid on meanwhile cannot be seen.
    Fake.SetAdapterAnswering(false);
    Fake.AddDevice(CardA);
    for (int i = 0; i < 300; ++i)
        poller.Look();
    EXPECT_THAT(TakeTold(looked), ElementsAre("round 1 stopped"));
    // Backing off: far fewer session starts than looks.
    EXPECT_LT(Fake.CallsOf("TMExtendedStartSession 1 5 null"), 15);

    Fake.SetAdapterAnswering(true);
    for (int i = 0; i <= TSessionRecovery::LongestWaitTicks; ++i)
        poller.Look();
    const std::vector<std::string> told = TakeTold(looked);
    ASSERT_FALSE(told.empty());
    EXPECT_EQ(told.front(), "round 1 back read A1B2C3D4E5 DS1990 1");
}

// From here on the poller runs on the adapter thread, behind a link, as the windows use it.
class CardPollerLinkTest : public CardPollerTest {
protected:
    void TearDown() override {
        Fake.HoldSearch(false);
        WaitForAdapterThread();
        CardPollerTest::TearDown();
    }
    // Everything the adapter thread was asked so far is done and its reports have arrived.
    static void Settle() {
        WaitForAdapterThread();
        QCoreApplication::sendPostedEvents();
    }
};

TEST_F(CardPollerLinkTest, CardsAreToldOnTheWindowThreadAndAStopDropsWhatWasUnderWay) {
    TCardPollerLink link(LaterReader());
    link.SetInterval(1);
    QStringList read;
    int left = 0;
    std::vector<QThread*> threads;
    QObject::connect(&link, &TCardPollerLink::CardRead, [&](const TCardOnAdapter& card) {
        read << card.Number;
        threads.push_back(QThread::currentThread());
    });
    QObject::connect(&link, &TCardPollerLink::CardLeft, [&] { ++left; });
    link.Start();
    EXPECT_TRUE(link.Polling());
    Fake.AddDevice(CardA);
    ASSERT_TRUE(QTest::qWaitFor([&] { return read.size() >= 2; }, WaitMs));
    EXPECT_EQ(read.first(), "A1B2C3D4E5");
    EXPECT_TRUE(std::all_of(threads.begin(), threads.end(),
                            [](QThread* t) { return t == QThread::currentThread(); }));
    Fake.ClearBus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return left == 1; }, WaitMs));

    // A look that was under way when the window stopped: its card is never told.
    Fake.HoldSearch(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Fake.SearchesHeld() == 1; }, WaitMs));
    Fake.AddDevice(CardA);
    read.clear();
    link.Stop();
    EXPECT_FALSE(link.Polling());
    Fake.HoldSearch(false);
    Settle();
    EXPECT_TRUE(read.isEmpty());
    const int looks = Fake.CallsOf("TMFirst");
    Settle();
    EXPECT_EQ(Fake.CallsOf("TMFirst"), looks) << "no look after Stop";

    link.Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !read.isEmpty(); }, WaitMs));
}

// A window closed while its adapter hangs: the window thread does not wait for the hanging
// call, and the next window's session begins only after the first one's has ended.
TEST_F(CardPollerLinkTest, ALinkLetGoWhileTheAdapterHangsNeitherWaitsNorOverlapsTheNextSession) {
    Fake.AddDevice(CardA);
    Fake.HoldSearch(true);
    auto first = std::make_unique<TCardPollerLink>(LaterReader());
    first->SetInterval(1);
    first->Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Fake.SearchesHeld() == 1; }, WaitMs));
    first.reset();
    EXPECT_EQ(Fake.SearchesHeld(), 1) << "the window thread waited for the adapter";

    TCardPollerLink second(LaterReader());
    second.SetInterval(1);
    QStringList read;
    QObject::connect(&second, &TCardPollerLink::CardRead,
                     [&](const TCardOnAdapter& card) { read << card.Number; });
    second.Start();
    Fake.HoldSearch(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !read.isEmpty(); }, WaitMs));
    EXPECT_EQ(read.first(), "A1B2C3D4E5");

    const std::vector<std::string> calls = Fake.Calls();
    const std::vector<int32_t> sessions = Fake.CallSessions();
    const auto starts = [&](size_t from) {
        return std::find(calls.begin() + from, calls.end(), "TMExtendedStartSession 1 5 null") -
               calls.begin();
    };
    const size_t firstStart = starts(0);
    const size_t secondStart = starts(firstStart + 1);
    const size_t firstEnd = std::find(calls.begin(), calls.end(), "TMEndSession") - calls.begin();
    ASSERT_LT(secondStart, calls.size());
    EXPECT_LT(firstStart, firstEnd);
    EXPECT_LT(firstEnd, secondStart) << "two sessions were open at once";
    // The first session's calls all came before its end, none after.
    for (size_t i = firstEnd + 1; i < calls.size(); ++i)
        EXPECT_NE(sessions[i], sessions[firstEnd]) << calls[i];
}

TEST_F(CardPollerLinkTest, AJobRunsOnTheAdapterThreadAndReportsItsStepsAndResult) {
    TCardPollerLink link(LaterReader());
    link.SetInterval(1);
    QSignalSpy steps(&link, &TCardPollerLink::JobStep);
    QSignalSpy done(&link, &TCardPollerLink::JobDone);
    QSignalSpy failed(&link, &TCardPollerLink::ReaderFailed);
    QStringList read;
    QObject::connect(&link, &TCardPollerLink::CardRead,
                     [&](const TCardOnAdapter& card) { read << card.Number; });
    link.Start();
    std::atomic<QThread*> jobThread = nullptr;
    link.RunJob([&](TReaderInterface& reader, const std::function<void(int)>& step) {
        jobThread = QThread::currentThread();
        QString number;
        step(1);
        step(2);
        return reader.ReadRom(number, false) ? 1 : 42;
    });
    EXPECT_FALSE(link.Polling());
    EXPECT_TRUE(link.JobRunning());
    link.Start(); // not while the job runs
    EXPECT_FALSE(link.Polling());
    ASSERT_TRUE(QTest::qWaitFor([&] { return done.count() == 1; }, WaitMs));
    EXPECT_EQ(done.at(0).at(0).toInt(), 42);
    ASSERT_EQ(steps.count(), 2);
    EXPECT_EQ(steps.at(0).at(0).toInt(), 1);
    EXPECT_EQ(steps.at(1).at(0).toInt(), 2);
    EXPECT_NE(jobThread.load(), QThread::currentThread());
    EXPECT_FALSE(link.JobRunning());
    EXPECT_FALSE(link.Polling()) << "after a job the window decides whether to look again";
    EXPECT_TRUE(read.isEmpty());

    link.Start();
    Fake.AddDevice(CardA);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !read.isEmpty(); }, WaitMs));

    // A job that fails in the reader layer: told once, and nothing is asked of the reader again.
    link.RunJob([](TReaderInterface&, const std::function<void(int)>&) -> int {
        throw VyrError("the adapter caught fire");
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return failed.count() == 1; }, WaitMs));
    EXPECT_EQ(failed.at(0).at(0).toString(), "the adapter caught fire");
    EXPECT_FALSE(link.JobRunning());
    EXPECT_TRUE(link.ReaderFailedOnce());
    link.Start();
    EXPECT_FALSE(link.Polling());
    EXPECT_EQ(done.count(), 1);
}

// A window closed while its key is written: the job finishes on the adapter thread and its
// outcome goes nowhere; the session ends after it.
TEST_F(CardPollerLinkTest, ALinkLetGoWhileAJobRunsLetsTheJobFinishAndTheSessionEnd) {
    QSemaphore started;
    QSemaphore goOn;
    std::atomic<bool> finished = false;
    auto link = std::make_unique<TCardPollerLink>(LaterReader());
    link->RunJob([&](TReaderInterface&, const std::function<void(int)>& step) {
        started.release();
        goOn.acquire();
        step(1);
        finished = true;
        return 0;
    });
    ASSERT_TRUE(started.tryAcquire(1, WaitMs));
    link.reset();
    goOn.release();
    Settle();
    EXPECT_TRUE(finished);
    const std::vector<std::string> calls = Fake.Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), "TMEndSession");
}

} // namespace
