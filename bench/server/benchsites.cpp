#include "benchsites.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <libpq-fe.h>

#include <unistd.h>

#include <cstdlib>

namespace {

QString ClusterFolder;
int Schemas = 0;

} // namespace

void Must(bool ok, TMyDBConnector& db, const char* what) {
    if (!ok)
        qFatal("%s: %s", what, qPrintable(db.GetLastError()));
}

QString StartCluster() {
    if (qEnvironmentVariableIsSet("VYR_BENCH_SERVER"))
        return qEnvironmentVariable("VYR_BENCH_SERVER");
    QByteArray folder = QDir::tempPath().toUtf8() + "/vyr-pg-XXXXXX";
    if (!mkdtemp(folder.data()))
        qFatal("no folder for the cluster");
    ClusterFolder = QString::fromUtf8(folder);
    const QByteArray command = "bash " VYR_SOURCE_DIR "/tests/support/pgcluster.sh start " +
                               folder + " " + QByteArray::number(getpid());
    if (std::system(command.constData()) != 0)
        qFatal("the cluster did not start");
    return "host=" + ClusterFolder + " port=5432 dbname=postgres user=postgres";
}

void StopCluster() {
    if (ClusterFolder.isEmpty())
        return;
    const QByteArray command =
        "bash " VYR_SOURCE_DIR "/tests/support/pgcluster.sh stop " + ClusterFolder.toUtf8();
    std::system(command.constData());
}

// An empty place for a site on the server: a schema of its own on the test cluster.
std::unique_ptr<TMyPostgreSQL> NewServerSite(const QString& server) {
    QString connection = server;
    if (!ClusterFolder.isEmpty()) {
        const QString schema = QStringLiteral("bench%1").arg(++Schemas);
        PGconn* admin = PQconnectdb(server.toUtf8().constData());
        PQclear(PQexec(admin, ("CREATE SCHEMA " + schema).toUtf8().constData()));
        PQfinish(admin);
        connection += " options='-c search_path=" + schema + "'";
    }
    auto db = std::make_unique<TMyPostgreSQL>();
    db->ConnectionString = connection;
    Must(db->ConnectMakingSite(), *db, "connect to the server");
    return db;
}

std::unique_ptr<TMySQLite> NewFileSite(const QTemporaryDir& folder, const QString& name) {
    const QString file = folder.filePath(name);
    if (!QFile::copy(QCoreApplication::applicationDirPath() + "/default.accdb", file))
        qFatal("no template beside the benchmark");
    QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    auto db = std::make_unique<TMySQLite>();
    db->ConnectionString = JetConnectionString(file);
    Must(db->Connect(), *db, "open the file");
    return db;
}
