#pragma once

#include <QString>

// A throwaway PostgreSQL cluster for the tests (tests/support/pgcluster.sh makes and starts it):
// listening only on a Unix socket in a private folder, so nothing of a developer's own servers is
// touched.
//
// Under CTest one cluster serves every test of the run (a fixture starts it and names its folder
// in VYR_TEST_PGCLUSTER); a test binary run on its own starts its own and removes it at exit.
// A test that needs the server and cannot get it fails with the reason; it is never skipped.
class TTestCluster {
public:
    // The run's shared cluster.
    static TTestCluster& Shared();
    // A cluster of this process alone, for tests that stop the server under the program's feet.
    static TTestCluster& Private();
    ~TTestCluster();
    TTestCluster(const TTestCluster&) = delete;
    TTestCluster& operator=(const TTestCluster&) = delete;

    bool Running() const { return FRunning; }
    QString Error() const { return FError; }

    // A new, empty database and a libpq connection text for it (as the superuser). It is a schema
    // of its own in the cluster's first database, which the program cannot tell from a database.
    QString NewDatabase();
    // The connection text for a database, as the superuser or as another role.
    QString Connection(const QString& database, const QString& role = {}) const;
    // Runs SQL as the superuser in a database: "" when it went through, else the server's error.
    QString Sql(const QString& database, const QString& sql) const;
    // The server's Unix socket, for a proxy in front of it.
    QString Socket() const { return FFolder + QStringLiteral("/.s.PGSQL.5432"); }

    // The server gone at once, as by a power cut (an immediate shutdown), and back again.
    bool Kill();
    bool Start();

private:
    TTestCluster(QString folder, bool owned);
    bool Script(const char* command, const QString& extra = {});

    QString FFolder;
    bool FOwned = false;
    bool FRunning = false;
    QString FError;
    int FDatabases = 0;
};
