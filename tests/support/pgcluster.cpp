#include "pgcluster.h"

#include "db/MyPostgreSQL.h"

#include <QDir>
#include <QFile>

#include <libpq-fe.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace {

QString Quoted(const QString& text) {
    QString quoted = text;
    quoted.replace('\'', "'\\''");
    return "'" + quoted + "'";
}

QString OwnFolder() {
    QByteArray folder = QDir::tempPath().toUtf8() + "/vyr-pg-XXXXXX";
    return mkdtemp(folder.data()) ? QString::fromUtf8(folder) : QString();
}

} // namespace

TTestCluster& TTestCluster::Shared() {
    // The run's cluster when the CTest fixture started it, else one of this process.
    static TTestCluster shared(QStringLiteral(VYR_TEST_PGCLUSTER), false);
    if (shared.Running())
        return shared;
    static TTestCluster own(OwnFolder(), true);
    return own;
}

TTestCluster& TTestCluster::Private() {
    static TTestCluster cluster(OwnFolder(), true);
    return cluster;
}

TTestCluster::TTestCluster(QString folder, bool owned) : FFolder(std::move(folder)), FOwned(owned) {
    if (FFolder.isEmpty()) {
        FError = "cannot make a folder for the test cluster";
        return;
    }
    if (FOwned) {
        Start();
        return;
    }
    // The fixture's cluster, if it runs.
    PGconn* connection = PQconnectdb(Connection("postgres").toUtf8().constData());
    FRunning = PQstatus(connection) == CONNECTION_OK;
    if (!FRunning)
        FError = "the run's test cluster in " + FFolder +
                 " does not answer: " + QString::fromUtf8(PQerrorMessage(connection));
    PQfinish(connection);
}

TTestCluster::~TTestCluster() {
    if (FOwned && !FFolder.isEmpty() && !Script("stop"))
        QDir(FFolder).removeRecursively(); // at least the folder, when the script could not run
}

bool TTestCluster::Script(const char* command, const QString& extra) {
    const QString log = QDir::tempPath() + QStringLiteral("/vyr-pgcluster-%1.log").arg(getpid());
    const QString line =
        "bash " + Quoted(QStringLiteral(VYR_SOURCE_DIR "/tests/support/pgcluster.sh")) + " " +
        command + " " + Quoted(FFolder) + " " + extra + " >" + Quoted(log) + " 2>&1";
    const int status = std::system(line.toLocal8Bit().constData());
    const bool ok = status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!ok) {
        QFile file(log);
        file.open(QIODevice::ReadOnly);
        FError = QStringLiteral("pgcluster.sh %1 failed: %2")
                     .arg(QString::fromLatin1(command),
                          QString::fromLocal8Bit(file.readAll()).trimmed());
    }
    QFile::remove(log);
    return ok;
}

bool TTestCluster::Start() {
    if (!FRunning)
        FRunning = FOwned ? Script("start", QString::number(getpid())) : Script("start");
    return FRunning;
}

bool TTestCluster::Kill() {
    if (FRunning && Script("kill"))
        FRunning = false;
    return !FRunning;
}

QString TTestCluster::Connection(const QString& database, const QString& role) const {
    return QStringLiteral("host=%1 port=5432 dbname=%2 user=%3")
        .arg(FFolder, database, role.isEmpty() ? QStringLiteral("postgres") : role);
}

QString TTestCluster::Sql(const QString& database, const QString& sql) const {
    PGconn* connection = PQconnectdb(Connection(database).toUtf8().constData());
    QString error;
    if (PQstatus(connection) != CONNECTION_OK) {
        error = QString::fromUtf8(PQerrorMessage(connection));
    } else {
        PGresult* result = PQexec(connection, sql.toUtf8().constData());
        const ExecStatusType status = PQresultStatus(result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            error = QString::fromUtf8(PQresultErrorMessage(result));
        PQclear(result);
    }
    PQfinish(connection);
    return error.isEmpty() ? error : error.trimmed() + " (in: " + sql + ")";
}

QString TTestCluster::NewDatabase() {
    if (!FRunning)
        return {};
    // A schema of its own, first on the search path, looks to the program just like an empty
    // database, and costs nothing to make: a new database would copy a template each time.
    // Several test processes share the run's cluster: the process id keeps the names apart.
    const QString name = QStringLiteral("site_%1_%2").arg(getpid()).arg(++FDatabases);
    const QString error = Sql("postgres", "CREATE SCHEMA " + name);
    if (!error.isEmpty()) {
        FError = error;
        return {};
    }
    return Connection("postgres") + " options='-c search_path=" + name + "'";
}

QString TTestCluster::NewSite() {
    const QString connection = NewDatabase();
    if (connection.isEmpty())
        return {};
    TMyPostgreSQL site;
    site.ConnectionString = connection;
    if (!site.ConnectMakingSite()) {
        FError = site.GetLastError();
        return {};
    }
    return connection;
}
