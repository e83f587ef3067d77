#pragma once

#include "db/MyPostgreSQL.h"

#include <QObject>
#include <QString>

// What the operator learns before a database on a server becomes a profile's: whether it can be
// reached, the server's version, and what the database holds. Nothing in it is changed.

// A connection text that may never be written to a profile (a password in it) is refused before
// anything connects; otherwise the database is looked at as InspectServerDatabase does.
TServerDatabaseInfo ProbeServer(const QString& connection);

// The finding in the operator's words.
QString ServerProbeText(const TServerDatabaseInfo& info);

// Runs one probe on a thread of its own, since a connection may take as long as the network
// takes; Found arrives on the thread that made the job. A job destroyed before that never waits
// for the thread: the thread ends on its own and its finding goes nowhere.
class TServerProbeJob : public QObject {
    Q_OBJECT
public:
    explicit TServerProbeJob(QObject* parent = nullptr) : QObject(parent) {}

    // Starts a probe; one started earlier and still running is no longer reported.
    void Start(const QString& connection);
    bool Running() const { return FRunning; }

signals:
    void Found(const TServerDatabaseInfo& info);

private:
    bool FRunning = false;
    int FGeneration = 0;
};
