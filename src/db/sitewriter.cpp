#include "db/sitewriter.h"

#include "db/MyDBConnector.h"

#include <QPointer>
#include <QThread>

TSiteWrite::~TSiteWrite() = default;

// What the thread owns: touched there only, but for Prepared.
struct TSiteWriter::TWorker {
    const TMyDBConnector* Origin = nullptr;
    std::unique_ptr<TMyDBConnector> Database;
    std::atomic<bool> Prepared = false;

    TMyDBConnector* Connected(int answerLimitMs) {
        if (!Database) {
            Database = Origin->NewConnection();
            if (!Database)
                return nullptr;
            // A connection lost in the middle of a change is not made anew inside it: the change
            // ends with the limit that gave the server up, and the next one connects first.
            Database->ReconnectOnUse = false;
        }
        if (answerLimitMs > 0)
            Database->SetAnswerLimit(answerLimitMs);
        // On this thread, within libpq's connect_timeout.
        if (!Database->IsConnected())
            Database->Connect();
        else if (Database->ConnectionLost())
            Database->ReConnect();
        return Database.get();
    }
};

TSiteWriter::TSiteWriter(const TMyDBConnector& database, QObject* parent)
    : QObject(parent), FDatabase(database), FThread(new QThread), FHome(new QObject),
      FWorker(std::make_shared<TWorker>()) {
    // The connector the writer was made for outlives it, and the thread only asks it for a new
    // connector of its kind, before the first change.
    FWorker->Origin = &database;
    FThread->setObjectName("sitewriter");
    FHome->moveToThread(FThread);
    QObject* home = FHome;
    std::shared_ptr<TWorker> worker = FWorker;
    // The connection ends on the thread that made it, once the last change is over.
    connect(
        FThread, &QThread::finished, home,
        [home, worker] {
            worker->Database.reset();
            delete home;
        },
        Qt::DirectConnection);
    connect(FThread, &QThread::finished, FThread, &QObject::deleteLater);
    FThread->start();
    const int limit = database.AnswerLimit();
    QMetaObject::invokeMethod(
        FHome,
        [worker, limit] {
            worker->Connected(limit);
            worker->Prepared = true;
        },
        Qt::QueuedConnection);
}

TSiteWriter::~TSiteWriter() {
    FThread->quit();
    // An idle thread ends at once, and with it the connection. One with a change under way (or
    // still connecting) is left to end on its own, within its limit: nothing waits for the server
    // here.
    if (FUnreported == 0 && FWorker->Prepared) {
        FThread->wait();
        // Gone with its pending deletion, which no event loop may run any more.
        delete FThread;
    }
}

bool TSiteWriter::Ready() const {
    return FWorker->Prepared;
}

void TSiteWriter::Start(const std::shared_ptr<TSiteWrite>& write) {
    if (!write)
        return;
    ++FUnreported;
    QPointer<TSiteWriter> self(this);
    std::shared_ptr<TWorker> worker = FWorker;
    const int limit = FDatabase.AnswerLimit();
    QMetaObject::invokeMethod(
        FHome,
        [self, worker, write, limit] {
            if (TMyDBConnector* database = worker->Connected(limit)) {
                write->Run(*database);
                write->Error = database->GetLastError();
                write->OutcomeUnknown = CommitOutcomeUnknown(*database);
            } else {
                write->Error = NotConnectedText();
            }
            // Back on the window's thread; dropped when the writer went meanwhile.
            QMetaObject::invokeMethod(
                self.data(),
                [self, write] {
                    if (!self)
                        return;
                    --self->FUnreported;
                    emit self->Written(write);
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}
