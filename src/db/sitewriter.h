#pragma once

#include <QObject>
#include <QSet>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>

class QThread;
class TMyDBConnector;

// One change of the site as a window asks for it: it runs on the writer's thread against the
// writer's connection, and its outcome is read on the window thread once Written names it.
class TSiteWrite {
public:
    virtual ~TSiteWrite();
    // The change itself, on the writer's thread. The window's records are out of reach there:
    // whatever it learns goes into the write's own fields.
    virtual void Run(TMyDBConnector& database) = 0;

    // Filled in after Run: the connector's last error, and whether the connection broke after the
    // change went to be committed, so that it may be stored or not.
    QString Error;
    bool OutcomeUnknown = false;
    // The controllers whose marks the change stored; the open profile marks its records with them.
    QSet<int32_t> Marked;
};

// Runs the site's changes off the window thread, so that a server that stopped answering never
// freezes a window: a thread of its own with a connection of its own (made there, as every
// connection belongs to the thread that made it), connected as soon as the writer is made. One
// change at a time, in the order they were started; each waits for the server no longer than the
// answer limit of the connector the writer was made for, as it is when the change starts, and one
// given up that way after its COMMIT went out is reported as one whose outcome is unknown.
//
// Destroying the writer does not wait for a change under way: it ends on its own, and its outcome
// is dropped.
class TSiteWriter : public QObject {
    Q_OBJECT
public:
    explicit TSiteWriter(const TMyDBConnector& database, QObject* parent = nullptr);
    ~TSiteWriter() override;
    TSiteWriter(const TSiteWriter&) = delete;
    TSiteWriter& operator=(const TSiteWriter&) = delete;

    // Starts the change once those started before it ended.
    void Start(const std::shared_ptr<TSiteWrite>& write);
    // Changes started and not yet reported.
    bool Busy() const { return FUnreported > 0; }
    // The first connection was tried (made or not): a change started now does not wait for it.
    bool Ready() const;

signals:
    // On the window thread, once the change ended, however it went.
    void Written(const std::shared_ptr<TSiteWrite>& write);

private:
    struct TWorker;
    const TMyDBConnector& FDatabase;
    QThread* FThread;
    QObject* FHome; // lives on the thread
    std::shared_ptr<TWorker> FWorker;
    int FUnreported = 0;
};
