#include "shared/cancellablejob.h"

#include <QThread>

#include <utility>

void TCancellableJob::TControl::Check() const {
    if (FJob.FCalledOff)
        throw TCalledOff{};
}

void TCancellableJob::TControl::BeginWriting() const {
    // Told before the question, so that a call-off either stops the work here or learns that it
    // writes already (CallOff asks in the opposite order).
    FJob.FWriting = true;
    Check();
}

void TCancellableJob::TControl::Progress(qint64 done, qint64 total) const {
    emit FJob.Progress(done, total);
}

TCancellableJob::TCancellableJob(QString name, TWork work, bool writesFromStart, QObject* parent)
    : QObject(parent), FName(std::move(name)), FWork(std::move(work)), FWriting(writesFromStart) {}

TCancellableJob::~TCancellableJob() {
    if (!FThread)
        return;
    FCalledOff = true;
    FThread->wait();
}

void TCancellableJob::Start() {
    if (FThread)
        return;
    FThread.reset(QThread::create([this] {
        try {
            FWork(FControl);
        } catch (const TCalledOff&) {
            // Whoever called the work off expects no outcome from it.
        }
    }));
    FThread->setObjectName(FName);
    // Told once the thread is over, so that whoever ends the job then never waits for it.
    connect(FThread.get(), &QThread::finished, this, [this] {
        FEnded = true;
        if (FDropped)
            deleteLater();
        else
            emit Ended();
    });
    FThread->start();
}

bool TCancellableJob::Running() const {
    return FThread && !FEnded;
}

bool TCancellableJob::CallOff() {
    FCalledOff = true;
    return !FWriting;
}

void TCancellableJob::DeleteWhenFinished() {
    setParent(nullptr);
    if (!Running()) {
        deleteLater();
        return;
    }
    FDropped = true;
}
