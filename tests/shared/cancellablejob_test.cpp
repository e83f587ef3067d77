// Work that a window starts and may call off: the window never waits for it, a late outcome goes
// nowhere, and nothing of the job is left behind (the sanitizer build sees to the last).
#include "shared/cancellablejob.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace {

// Holds the work where the test wants it: a server that does not answer until the test says so.
class TGate {
public:
    void Open() {
        std::lock_guard lock(FMutex);
        FOpen = true;
        FChanged.notify_all();
    }
    void Wait() {
        std::unique_lock lock(FMutex);
        FReached = true;
        FChanged.notify_all();
        FChanged.wait(lock, [&] { return FOpen; });
    }
    // Whether the work got to the gate; waits up to `milliseconds` for it.
    bool Reached(int milliseconds) {
        std::unique_lock lock(FMutex);
        return FChanged.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                 [&] { return FReached; });
    }

private:
    std::mutex FMutex;
    std::condition_variable FChanged;
    bool FOpen = false;
    bool FReached = false;
};

// What the work did, shared with it as a real job's outcome is.
struct TTrace {
    std::atomic<bool> Wrote = false;
    std::atomic<bool> Finished = false;
    QThread* Thread = nullptr;
};

// A job that waits at the gate (connecting), then writes in steps, checking for a call-off
// between them, with progress after each.
std::unique_ptr<TCancellableJob> GatedJob(const std::shared_ptr<TGate>& gate,
                                          const std::shared_ptr<TTrace>& trace,
                                          const std::shared_ptr<TGate>& midway = nullptr,
                                          QObject* parent = nullptr) {
    return std::make_unique<TCancellableJob>(
        "test job",
        [gate, trace, midway](const TCancellableJob::TControl& control) {
            trace->Thread = QThread::currentThread();
            gate->Wait();
            control.BeginWriting();
            trace->Wrote = true;
            control.Progress(1, 2);
            if (midway)
                midway->Wait();
            control.Check();
            control.Progress(2, 2);
            trace->Finished = true;
        },
        false, parent);
}

TEST(CancellableJobTest, CalledOffWhileWaitingItLetsTheWindowGoAndDropsItsLateOutcome) {
    auto gate = std::make_shared<TGate>();
    auto trace = std::make_shared<TTrace>();
    auto window = std::make_unique<QObject>();
    QPointer<TCancellableJob> job = GatedJob(gate, trace, nullptr, window.get()).release();
    bool told = false;
    QObject receiver;
    QObject::connect(job, &TCancellableJob::Ended, &receiver, [&] { told = true; });
    job->Start();
    ASSERT_TRUE(gate->Reached(30000));
    EXPECT_TRUE(job->Running());

    EXPECT_TRUE(job->CallOff()) << "nothing was written yet";
    job->DeleteWhenFinished();
    // The window goes while the work still waits: destroying it must not wait for the job.
    window.reset();
    EXPECT_FALSE(job.isNull()) << "the job outlives the window until its work ended";

    gate->Open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return job.isNull(); }, 30000)) << "it deletes itself";
    EXPECT_FALSE(told) << "the late outcome goes nowhere";
    EXPECT_FALSE(trace->Wrote) << "called off before writing, it wrote nothing";
}

TEST(CancellableJobTest, OnceItWritesACallOffStopsItAtItsNextCheckAndItsEndIsTold) {
    auto gate = std::make_shared<TGate>();
    auto midway = std::make_shared<TGate>();
    auto trace = std::make_shared<TTrace>();
    const auto job = GatedJob(gate, trace, midway);
    QSignalSpy progress(job.get(), &TCancellableJob::Progress);
    QSignalSpy ended(job.get(), &TCancellableJob::Ended);
    job->Start();
    gate->Open();
    ASSERT_TRUE(midway->Reached(30000));

    EXPECT_FALSE(job->CallOff()) << "it writes already: the end tells how it ended";
    midway->Open();
    ASSERT_TRUE(ended.wait(30000));
    EXPECT_FALSE(job->Running());
    EXPECT_TRUE(trace->Wrote);
    EXPECT_FALSE(trace->Finished) << "stopped at its next check";
    ASSERT_EQ(progress.size(), 1);
    EXPECT_EQ(progress.first(), QVariantList({qint64(1), qint64(2)}));
    EXPECT_NE(trace->Thread, QThread::currentThread()) << "the work ran on a thread of its own";
}

TEST(CancellableJobTest, DestroyingARunningJobCallsItOffAndWaitsForItsThread) {
    auto trace = std::make_shared<TTrace>();
    // Writes until it is called off, as a long import does.
    auto job = std::make_unique<TCancellableJob>(
        "test job",
        [trace](const TCancellableJob::TControl& control) {
            control.BeginWriting();
            trace->Wrote = true;
            for (;;) {
                control.Check();
                QThread::yieldCurrentThread();
            }
        },
        false);
    job->Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bool(trace->Wrote); }, 30000));
    job.reset();
    EXPECT_TRUE(trace->Wrote);
    EXPECT_EQ(trace.use_count(), 1) << "the work and what it holds went with the job";
}

TEST(CancellableJobTest, AJobNeverStartedOrEndedAlreadyGoesAtOnceWhenDropped) {
    for (const bool started : {false, true}) {
        SCOPED_TRACE(started ? "ended" : "never started");
        auto gate = std::make_shared<TGate>();
        auto trace = std::make_shared<TTrace>();
        QPointer<TCancellableJob> job = GatedJob(gate, trace).release();
        if (started) {
            QSignalSpy ended(job.data(), &TCancellableJob::Ended);
            job->Start();
            gate->Open();
            ASSERT_TRUE(ended.wait(30000));
        }
        job->DeleteWhenFinished();
        ASSERT_TRUE(QTest::qWaitFor([&] { return job.isNull(); }, 30000));
        EXPECT_EQ(bool(trace->Finished), started);
    }
}

} // namespace
