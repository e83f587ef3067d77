#include "profiles/serverprobe.h"

#include "profiles/serverconnection.h"
#include "shared/translation.h"

#include <QPointer>
#include <QThread>

#include <memory>

TServerDatabaseInfo ProbeServer(const QString& connection) {
    if (const QString problem = ServerConnectionProblem(connection); !problem.isEmpty()) {
        TServerDatabaseInfo refused;
        refused.Error = problem;
        return refused;
    }
    return InspectServerDatabase(connection.trimmed());
}

QString ServerProbeText(const TServerDatabaseInfo& info) {
    if (!info.Ok)
        return FormatText(_("The database server could not be reached: %s"), {info.Error});
    if (!info.Differences.isEmpty())
        return FormatText(_("Connected to the database server (version %s). The database holds "
                            "a site whose tables differ from what this program uses:\n\n%s\n\n"
                            "It cannot be used as it is."),
                          {info.Version, info.Differences.join("\n")});
    switch (info.Kind) {
    case TServerDatabaseKind::Empty:
        return FormatText(_("Connected to the database server (version %s). The database is "
                            "empty: a new site is made in it."),
                          {info.Version});
    case TServerDatabaseKind::Site:
        return FormatText(_("Connected to the database server (version %s). The database holds "
                            "a site: it is used as it is."),
                          {info.Version});
    case TServerDatabaseKind::Other:
        break;
    }
    return FormatText(_("Connected to the database server (version %s). The database holds "
                        "something else (%s): it cannot be used for a site."),
                      {info.Version, info.Tables.join(", ")});
}

void TServerProbeJob::Start(const QString& connection) {
    const int generation = ++FGeneration;
    FRunning = true;
    auto found = std::make_shared<TServerDatabaseInfo>();
    QThread* thread = QThread::create([connection, found] { *found = ProbeServer(connection); });
    thread->setObjectName("server probe");
    // The thread object lives on this thread and goes once the probe is over, whether or not
    // anybody still waits for the finding.
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(thread, &QThread::finished, this, [this, generation, found] {
        if (generation != FGeneration)
            return;
        FRunning = false;
        emit Found(*found);
    });
    thread->start();
}
