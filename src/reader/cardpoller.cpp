#include "reader/cardpoller.h"

#include "reader/CodeReaderInterface.h"
#include "shared/errors.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <exception>
#include <utility>

namespace {

QThread* AdapterThreadObject = nullptr;
// Lives on the adapter thread: what is queued to it runs there, in order with the pollers' work.
QObject* AdapterContext = nullptr;

void EndAdapterThread() {
    if (!AdapterThreadObject)
        return;
    AdapterThreadObject->quit();
    AdapterThreadObject->wait();
    delete AdapterContext;
    delete AdapterThreadObject;
    AdapterContext = nullptr;
    AdapterThreadObject = nullptr;
}

QThread* AdapterThread() {
    if (!AdapterThreadObject) {
        AdapterThreadObject = new QThread;
        AdapterThreadObject->setObjectName("adapter");
        AdapterContext = new QObject;
        AdapterContext->moveToThread(AdapterThreadObject);
        AdapterThreadObject->start();
        qAddPostRoutine(EndAdapterThread);
    }
    return AdapterThreadObject;
}

} // namespace

void WaitForAdapterThread() {
    if (AdapterContext)
        QMetaObject::invokeMethod(
            AdapterContext, [] {}, Qt::BlockingQueuedConnection);
}

TCardPoller::TCardPoller(std::unique_ptr<TReaderInterface> reader)
    : FReader(std::move(reader)), FTimer(new QTimer(this)) {
    FTimer->setSingleShot(true);
    FTimer->setInterval(DefaultInterval);
    connect(FTimer, &QTimer::timeout, this, &TCardPoller::Look);
}

TCardPoller::~TCardPoller() = default;

void TCardPoller::Open() {
    if (FReader)
        FReader->OpenSession();
}

void TCardPoller::Start(quint64 round, int interval) {
    FRound = round;
    FPolling = true;
    FDeviceSeen = false;
    FTimer->start(interval);
}

void TCardPoller::Stop() {
    FPolling = false;
    FTimer->stop();
}

void TCardPoller::Continue(quint64 round) {
    if (FPolling && round == FRound)
        FTimer->start();
}

void TCardPoller::SetInterval(int interval) {
    FTimer->setInterval(interval);
}

void TCardPoller::RunJob(quint64 round, const TAdapterJob& job) {
    Stop();
    FRound = round;
    try {
        const int result = job(*FReader, [this, round](int step) { emit JobStep(round, step); });
        emit JobDone(round, result);
    } catch (const std::exception& error) {
        emit Failed(round, ErrorText(error));
    }
}

void TCardPoller::Look() {
    if (!FPolling || !FReader)
        return;
    TCardLook look;
    try {
        look.Read = FReader->ReadRom(look.Card.Number, false);
        look.News = FReader->TakeAdapterNews();
    } catch (const std::exception& error) {
        // One report, not one every interval: this reader is not asked again.
        FPolling = false;
        emit Failed(FRound, ErrorText(error));
        return;
    }
    if (look.Read) {
        look.Card.FamilyCode = FReader->FamilyCode;
        look.Card.FamilyType = FReader->FamilyType;
    }
    look.Left = FDeviceSeen && !look.Read;
    FDeviceSeen = look.Read;
    if (look.Read || look.Left || look.News != TAdapterNews::None) {
        emit Looked(FRound, look); // the next look waits for Continue
        return;
    }
    FTimer->start();
}

TCardPollerLink::TCardPollerLink(std::unique_ptr<TReaderInterface> reader, QObject* parent)
    : QObject(parent), FPoller(new TCardPoller(std::move(reader))) {
    FPoller->moveToThread(AdapterThread());
    connect(FPoller, &TCardPoller::Looked, this, &TCardPollerLink::Deliver, Qt::QueuedConnection);
    connect(FPoller, &TCardPoller::Failed, this, &TCardPollerLink::Failed, Qt::QueuedConnection);
    connect(
        FPoller, &TCardPoller::JobStep, this,
        [this](quint64 round, int step) {
            if (FJobRunning && Current(round))
                emit JobStep(step);
        },
        Qt::QueuedConnection);
    connect(
        FPoller, &TCardPoller::JobDone, this,
        [this](quint64 round, int result) {
            if (!FJobRunning || !Current(round))
                return;
            FJobRunning = false;
            emit JobDone(result);
        },
        Qt::QueuedConnection);
    QMetaObject::invokeMethod(FPoller, [poller = FPoller] { poller->Open(); });
}

TCardPollerLink::~TCardPollerLink() {
    // Deleted on its own thread once whatever it is doing there is over; nobody waits for it.
    QMetaObject::invokeMethod(AdapterContext, [poller = FPoller] { delete poller; });
}

void TCardPollerLink::Start() {
    if (FPolling || FFailed || FJobRunning)
        return;
    FPolling = true;
    const quint64 round = ++FRound;
    QMetaObject::invokeMethod(FPoller, [poller = FPoller, round, interval = FInterval] {
        poller->Start(round, interval);
    });
}

void TCardPollerLink::Stop() {
    if (!FPolling)
        return;
    FPolling = false;
    ++FRound;
    QMetaObject::invokeMethod(FPoller, [poller = FPoller] { poller->Stop(); });
}

void TCardPollerLink::SetInterval(int ms) {
    FInterval = ms;
    QMetaObject::invokeMethod(FPoller, [poller = FPoller, ms] { poller->SetInterval(ms); });
}

void TCardPollerLink::RunJob(TAdapterJob job) {
    FPolling = false;
    FJobRunning = true;
    const quint64 round = ++FRound;
    QMetaObject::invokeMethod(
        FPoller, [poller = FPoller, round, job = std::move(job)] { poller->RunJob(round, job); });
}

void TCardPollerLink::Deliver(quint64 round, const TCardLook& look) {
    if (!FPolling || !Current(round))
        return;
    // A handler may stop or restart the polling, start a job, or close (and so delete) the
    // window: each signal goes out only while this report is still wanted.
    const QPointer<TCardPollerLink> alive(this);
    const auto wanted = [&] { return alive && FPolling && Current(round); };
    if (look.News != TAdapterNews::None)
        emit AdapterNews(look.News);
    if (wanted() && look.Left)
        emit CardLeft();
    if (wanted() && look.Read)
        emit CardRead(look.Card);
    if (wanted())
        QMetaObject::invokeMethod(FPoller, [poller = FPoller, round] { poller->Continue(round); });
}

void TCardPollerLink::Failed(quint64 round, const QString& message) {
    if (!Current(round))
        return;
    FPolling = false;
    FJobRunning = false;
    FFailed = true;
    emit ReaderFailed(message);
}
