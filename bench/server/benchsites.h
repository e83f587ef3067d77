#pragma once

#include "db/MyPostgreSQL.h"
#include "db/MySQLite.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>

// Sites for the benchmarks that compare the engines: a throwaway PostgreSQL cluster on a Unix
// socket (tests/support/pgcluster.sh, fsync off) unless VYR_BENCH_SERVER names a server database,
// and SQLite files copied from the template beside the benchmark.

// Stops the benchmark with the engine's reason when `ok` is false.
void Must(bool ok, TMyDBConnector& db, const char* what);

// The server's connection text; starts the cluster when none is named.
QString StartCluster();
// Stops the cluster StartCluster started, if it did.
void StopCluster();

// An empty place for a site on the server (a schema of its own on the throwaway cluster),
// connected, so that it holds the site's tables.
std::unique_ptr<TMyPostgreSQL> NewServerSite(const QString& server);
// A fresh site file in `folder`, connected.
std::unique_ptr<TMySQLite> NewFileSite(const QTemporaryDir& folder, const QString& name);
