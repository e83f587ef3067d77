#include "db/reconnect.h"

#include "db/MyDBConnector.h"

#include <QThread>

struct TReconnect::TAttempt {
    QString Kind;
    QString Connection;
    // Written on the worker, read once it ended.
    std::unique_ptr<TMyDBConnector> Fresh;
    bool Connected = false;
    QString Error;
};

TReconnect::TReconnect(TMyDBConnector& database, QObject* parent)
    : QObject(parent), FDatabase(database) {}

TReconnect::~TReconnect() = default;

void TReconnect::Start() {
    if (FAttempt)
        return;
    if (!FDatabase.ConnectionLost()) {
        // Connected (or a file, which has no connection to lose): nothing to do, and it is said
        // as a try would say it.
        QMetaObject::invokeMethod(
            this, [this] { emit Finished(FDatabase.IsConnected(), FDatabase.GetLastError()); },
            Qt::QueuedConnection);
        return;
    }
    auto attempt = std::make_shared<TAttempt>();
    attempt->Kind = FDatabase.GetDBTypeName();
    attempt->Connection = FDatabase.ConnectionString;
    FAttempt = attempt;
    QThread* worker = QThread::create([attempt] {
        attempt->Fresh = NewConnectorOfKind(attempt->Kind, attempt->Connection);
        attempt->Connected = attempt->Fresh && attempt->Fresh->Connect();
        if (!attempt->Connected)
            attempt->Error = attempt->Fresh ? attempt->Fresh->GetLastError() : QString();
    });
    worker->setObjectName("reconnect");
    // The worker ends on its own, whether anybody still waits for it or not.
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &QThread::finished, this, [this, attempt] { Take(attempt); });
    worker->start();
}

void TReconnect::Take(const std::shared_ptr<TAttempt>& attempt) {
    if (attempt != FAttempt)
        return;
    FAttempt.reset();
    bool connected = attempt->Connected;
    QString error = attempt->Error;
    if (connected && !FDatabase.TakeConnection(*attempt->Fresh)) {
        // A change is under way on the old connection: it fails by itself, and the next try
        // comes with the next statement that finds the connection lost.
        connected = !FDatabase.ConnectionLost();
        if (!connected)
            error = FDatabase.GetLastError();
    }
    attempt->Fresh.reset();
    emit Finished(connected, error);
}
