#pragma once

#include <QObject>
#include <QString>

#include <memory>

class TMyDBConnector;

// Makes a lost connection to a server anew on a worker thread, so that the window thread never
// waits for a server that may not answer: a connector of the same kind and text connects there
// (within libpq's connect_timeout), and once it did, the database's connector takes its connection
// over on the thread that made this object. Finished tells how it went.
//
// Whoever shows the operator a failure for a lost connection starts it (the open profile's
// session does so by itself when a statement finds the connection lost) and reads again on
// Finished. Being destroyed does not wait for the worker: its late result is dropped.
class TReconnect : public QObject {
    Q_OBJECT
public:
    explicit TReconnect(TMyDBConnector& database, QObject* parent = nullptr);
    ~TReconnect() override;
    TReconnect(const TReconnect&) = delete;
    TReconnect& operator=(const TReconnect&) = delete;

    // Starts a try unless one runs already; with a connection that is not lost, only Finished
    // comes (on the event loop).
    void Start();
    bool Running() const { return FAttempt != nullptr; }

signals:
    // `error` says why not when `connected` is false.
    void Finished(bool connected, const QString& error);

private:
    struct TAttempt;
    void Take(const std::shared_ptr<TAttempt>& attempt);

    TMyDBConnector& FDatabase;
    std::shared_ptr<TAttempt> FAttempt;
};
