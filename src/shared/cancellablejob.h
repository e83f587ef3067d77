#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class QThread;

// Work that may wait long (on a server that does not answer) on a thread of its own, so that the
// window goes on answering, and that whoever started it may call off at once: the window that
// asked closes without waiting, and the work's late outcome goes nowhere.
//
// The work tells the job where a call-off still stops it (Check) and from where it changes what a
// call-off can no longer take back at once (BeginWriting). Whatever the work writes its outcome
// into belongs to the work itself (its closure), so it outlives whoever made the job as long as
// the thread runs.
class TCancellableJob : public QObject {
    Q_OBJECT
public:
    // Thrown on the work's thread where a called-off job stops; the work may catch it to say so in
    // its outcome, and the job catches it otherwise.
    struct TCalledOff {};

    // What the work is given on its thread.
    class TControl {
    public:
        // Throws TCalledOff once the job was called off.
        void Check() const;
        // Says that the work now writes: from here CallOff answers false. Throws TCalledOff when
        // the job was called off before (then nothing was written).
        void BeginWriting() const;
        // Sent to the job's thread as the job's Progress.
        void Progress(qint64 done, qint64 total) const;

    private:
        friend class TCancellableJob;
        explicit TControl(TCancellableJob& job) : FJob(job) {}
        TCancellableJob& FJob;
    };
    using TWork = std::function<void(const TControl&)>;

    // `writesFromStart`: the work changes things from its first step, so no call-off is ever
    // answered with true. `name` names the thread.
    TCancellableJob(QString name, TWork work, bool writesFromStart, QObject* parent = nullptr);
    // A job still running is called off, and this returns once its thread ended.
    ~TCancellableJob() override;
    TCancellableJob(const TCancellableJob&) = delete;
    TCancellableJob& operator=(const TCancellableJob&) = delete;

    const TControl& Control() const { return FControl; }
    // Starts the work once; Ended follows after its thread has ended.
    void Start();
    // True from Start until the thread ended.
    bool Running() const;
    // Calls the work off. True when it had not begun to write: it then ends without a trace at
    // its next Check or BeginWriting, and nobody need wait for it (DeleteWhenFinished). False once
    // it writes: it stops at its next Check, or finishes, and its outcome tells which.
    bool CallOff();
    // Nobody waits for this job any more: its outcome is dropped, and it deletes itself once its
    // thread ended (at once when it never ran or ended already).
    void DeleteWhenFinished();

signals:
    // The work's progress: `done` of `total`.
    void Progress(qint64 done, qint64 total);
    // On the thread that made the job, once the work's thread has ended; never after
    // DeleteWhenFinished.
    void Ended();

private:
    const QString FName;
    TWork FWork;
    const TControl FControl{*this};
    std::unique_ptr<QThread> FThread;
    std::atomic<bool> FCalledOff = false;
    std::atomic<bool> FWriting = false;
    bool FEnded = false;
    bool FDropped = false;
};
