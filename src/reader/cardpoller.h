#pragma once

#include "reader/sessionrecovery.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class QTimer;
class TReaderInterface;

// The device a look at the adapter found.
struct TCardOnAdapter {
    uint8_t FamilyCode = 0;
    QString FamilyType; // the family's name, "UNKNOWN" for one this program does not know
    QString Number;     // the card number printed on cardholder records
};

// What one look at the adapter has to tell; a look with nothing to tell is not reported.
struct TCardLook {
    TAdapterNews News = TAdapterNews::None;
    bool Read = false; // Card lies on the adapter (told at every look while it lies there)
    bool Left = false; // the adapter is empty again after a device lay on it
    TCardOnAdapter Card;
};

// Work for the adapter that takes longer than a look (a key's writing). It runs on the poller's
// thread with the poller's reader, may call `step` with its progress, and returns its result.
using TAdapterJob =
    std::function<int(TReaderInterface& reader, const std::function<void(int)>& step)>;

// The one place that reads the adapter. It lives on the adapter thread (see AdapterThread) and
// owns the reader's session there, so the window thread never waits on the adapter. Windows do
// not use it directly but through a TCardPollerLink, which relays its reports.
//
// Looking is paced like a window's polling timer: the next look comes one interval after the last
// one was done with, and a look with something to tell waits until its report has been handled
// (Continue), so a window that shows a box about a card is not sent the next card meanwhile.
// Every request carries the link's round: reports are tagged with it, so a link can tell a report
// it still wants from one sent before it stopped or started over.
class TCardPoller : public QObject {
    Q_OBJECT
public:
    static constexpr int DefaultInterval = 100; // ms between looks

    // Takes a reader whose session is not open yet (TSessionStart::Later); Open opens it on the
    // adapter thread.
    explicit TCardPoller(std::unique_ptr<TReaderInterface> reader);
    // Ends the session and unloads the library, on the thread the poller lives on.
    ~TCardPoller() override;

    // The requests below are made on the poller's own thread (TCardPollerLink queues them).
    void Open();
    void Start(quint64 round, int interval);
    void Stop();
    // The report of `round` was handled: look again after the interval.
    void Continue(quint64 round);
    void SetInterval(int interval);
    // One look at the adapter; the poller's timer calls it, tests may step it by hand.
    void Look();
    // Polling stops; the job runs now, and its steps and result are reported with `round`.
    void RunJob(quint64 round, const TAdapterJob& job);

signals:
    void Looked(quint64 round, const TCardLook& look);
    // The reader layer failed: the poller does not look again.
    void Failed(quint64 round, const QString& message);
    void JobStep(quint64 round, int step);
    void JobDone(quint64 round, int result);

private:
    std::unique_ptr<TReaderInterface> FReader;
    QTimer* FTimer;
    quint64 FRound = 0;
    bool FPolling = false;
    bool FDeviceSeen = false; // the last look found a device
};

// A window's line to the card poller. The window creates it with its reader, subscribes to its
// signals and asks it to start and stop looking; the poller itself runs on the adapter thread
// and is let go when the link is destroyed, without waiting for it (a write it was doing still
// ends there, its outcome is dropped).
//
// A report is delivered as the signals below, in the order news, card left, card read; once they
// have all returned the poller looks again, unless the window stopped it, started a job or
// started over meanwhile. So while a window shows a box about one look, no other look comes in.
class TCardPollerLink : public QObject {
    Q_OBJECT
public:
    // `reader` is made on the window thread with TSessionStart::Later: only what needs no
    // adapter happens there. Its session is opened on the adapter thread right away.
    explicit TCardPollerLink(std::unique_ptr<TReaderInterface> reader, QObject* parent = nullptr);
    ~TCardPollerLink() override;
    TCardPollerLink(const TCardPollerLink&) = delete;
    TCardPollerLink& operator=(const TCardPollerLink&) = delete;

    // Looks at the adapter every interval until Stop, a job or a reader error; reports that an
    // earlier Start's looks sent are dropped. Nothing happens while it already looks, nor after
    // the reader failed: a failing reader is not asked again.
    void Start();
    void Stop();
    bool Polling() const { return FPolling; }
    bool ReaderFailedOnce() const { return FFailed; }
    // Stops looking and runs the job on the adapter thread; JobStep and JobDone follow.
    void RunJob(TAdapterJob job);
    bool JobRunning() const { return FJobRunning; }
    // Time between looks, from the next look on.
    void SetInterval(int ms);
    int Interval() const { return FInterval; }

    // The poller on the adapter thread. Only for connections that must run there, next to the
    // adapter's work (tests that change the bus in the middle of a job).
    TCardPoller* Poller() const { return FPoller; }

signals:
    void CardRead(const TCardOnAdapter& card);
    void CardLeft();
    void AdapterNews(TAdapterNews news);
    // An error from the reader layer; the link does not look again.
    void ReaderFailed(const QString& message);
    void JobStep(int step);
    void JobDone(int result);

private:
    void Deliver(quint64 round, const TCardLook& look);
    void Failed(quint64 round, const QString& message);
    // True while `round` is the one the window wants reports of.
    bool Current(quint64 round) const { return round == FRound; }

    TCardPoller* FPoller;
    quint64 FRound = 0;
    int FInterval = TCardPoller::DefaultInterval;
    bool FPolling = false;
    bool FJobRunning = false;
    bool FFailed = false;
};

// All adapter work runs on one thread for the whole program, the adapter thread: the library's
// session and state buffer exist once per process, so its users take turns there in the order
// they asked. It is made on first use and ends with the application.
//
// Returns once everything asked of the adapter thread so far is done (a poller let go included).
// It waits on the adapter, so the window thread never calls it while windows are open: tests call
// it between cases.
void WaitForAdapterThread();
