#include "faultproxy.h"
#include "pgcluster.h"

#include <gtest/gtest.h>

#include <libpq-fe.h>

#include <poll.h>

#include <memory>

namespace {

struct TConnectionDeleter {
    void operator()(PGconn* connection) const { PQfinish(connection); }
};
using TConnection = std::unique_ptr<PGconn, TConnectionDeleter>;

struct TResultDeleter {
    void operator()(PGresult* result) const { PQclear(result); }
};
using TResult = std::unique_ptr<PGresult, TResultDeleter>;

// The proxy in front of a database of its own; the cluster itself looks at what was stored.
class FaultProxyTest : public ::testing::Test {
protected:
    void SetUp() override {
        TTestCluster& cluster = TTestCluster::Shared();
        Direct = cluster.NewDatabase();
        ASSERT_FALSE(Direct.isEmpty()) << cluster.Error().toStdString();
        ASSERT_EQ(
            cluster.Sql("postgres", "CREATE TABLE " + Schema() + "t (v integer)").toStdString(),
            "");
        Proxy = std::make_unique<TFaultProxy>(cluster.Socket());
        ASSERT_TRUE(Proxy->Listening()) << Proxy->Error().toStdString();
    }

    QString Schema() const { return Direct.section("search_path=", 1).section("'", 0, 0) + "."; }

    TConnection Connect() const {
        return TConnection(PQconnectdb(Proxy->Through(Direct).toUtf8().constData()));
    }
    static bool Runs(PGconn* connection, const char* sql) {
        const TResult result(PQexec(connection, sql));
        return PQresultStatus(result.get()) == PGRES_COMMAND_OK ||
               PQresultStatus(result.get()) == PGRES_TUPLES_OK;
    }
    // The rows stored, as the server has them.
    int Rows() const {
        TConnection direct(PQconnectdb(Direct.toUtf8().constData()));
        const TResult result(PQexec(direct.get(), "SELECT count(*) FROM t"));
        return PQresultStatus(result.get()) == PGRES_TUPLES_OK
                   ? QByteArray(PQgetvalue(result.get(), 0, 0)).toInt()
                   : -1;
    }

    QString Direct;
    std::unique_ptr<TFaultProxy> Proxy;
};

TEST_F(FaultProxyTest, PassesRefusesAndCutsWhatIsOpen) {
    TConnection first = Connect();
    ASSERT_EQ(PQstatus(first.get()), CONNECTION_OK) << PQerrorMessage(first.get());
    EXPECT_TRUE(Runs(first.get(), "INSERT INTO t VALUES (1)"));

    Proxy->SetMode(TFaultProxy::TMode::Refuse);
    TConnection refused = Connect();
    EXPECT_NE(PQstatus(refused.get()), CONNECTION_OK);
    EXPECT_TRUE(Runs(first.get(), "SELECT 1")) << "what is open carries on";

    Proxy->SetMode(TFaultProxy::TMode::Pass);
    TConnection second = Connect();
    ASSERT_EQ(PQstatus(second.get()), CONNECTION_OK) << PQerrorMessage(second.get());
    Proxy->CutAll();
    EXPECT_FALSE(Runs(first.get(), "SELECT 1"));
    EXPECT_FALSE(Runs(second.get(), "SELECT 1"));
    EXPECT_EQ(PQstatus(first.get()), CONNECTION_BAD);
    EXPECT_EQ(Rows(), 1);
}

TEST_F(FaultProxyTest, AHeldServerAnswersOnlyOnceItPassesAgain) {
    TConnection connection = Connect();
    ASSERT_EQ(PQstatus(connection.get()), CONNECTION_OK) << PQerrorMessage(connection.get());
    Proxy->SetMode(TFaultProxy::TMode::Hold);
    ASSERT_TRUE(PQsendQuery(connection.get(), "INSERT INTO t VALUES (1)"));
    // Nothing comes back while held (a slow machine can only make this pass, never fail).
    pollfd socket{PQsocket(connection.get()), POLLIN, 0};
    EXPECT_EQ(poll(&socket, 1, 200), 0);
    EXPECT_EQ(Proxy->OpenConnections(), 1);

    Proxy->SetMode(TFaultProxy::TMode::Pass);
    const TResult result(PQgetResult(connection.get()));
    EXPECT_EQ(PQresultStatus(result.get()), PGRES_COMMAND_OK) << PQerrorMessage(connection.get());
    EXPECT_EQ(Rows(), 1);
}

// A COMMIT as a simple query and inside a pipeline, as the program's connector sends it.
TEST_F(FaultProxyTest, ACutAtCommitStoresTheChangeAndTheClientNeverHears) {
    for (const bool pipeline : {false, true}) {
        SCOPED_TRACE(pipeline ? "pipeline" : "simple query");
        TConnection connection = Connect();
        ASSERT_EQ(PQstatus(connection.get()), CONNECTION_OK) << PQerrorMessage(connection.get());
        const int before = Rows();
        Proxy->SetMode(TFaultProxy::TMode::CutAtCommit);
        ASSERT_TRUE(Runs(connection.get(), "BEGIN"));
        ASSERT_TRUE(Runs(connection.get(), "INSERT INTO t VALUES (2)"));
        bool committed = false;
        if (!pipeline) {
            committed = Runs(connection.get(), "COMMIT");
        } else {
            ASSERT_TRUE(PQenterPipelineMode(connection.get()));
            PQsendQueryParams(connection.get(), "INSERT INTO t VALUES (3)", 0, nullptr, nullptr,
                              nullptr, nullptr, 0);
            PQsendQueryParams(connection.get(), "COMMIT", 0, nullptr, nullptr, nullptr, nullptr, 0);
            PQpipelineSync(connection.get());
            for (int i = 0; i < 2; ++i) {
                const TResult result(PQgetResult(connection.get()));
                committed = result && PQresultStatus(result.get()) == PGRES_COMMAND_OK;
                if (!result || !committed)
                    break;
                while (PGresult* end = PQgetResult(connection.get()))
                    PQclear(end);
            }
        }
        EXPECT_FALSE(committed);
        EXPECT_EQ(PQstatus(connection.get()), CONNECTION_BAD);
        EXPECT_TRUE(Proxy->WaitForCommitCuts(pipeline ? 2 : 1, 10000));
        EXPECT_EQ(Rows(), before + (pipeline ? 2 : 1)) << "the commit happened";
        EXPECT_EQ(Proxy->Mode(), TFaultProxy::TMode::Pass) << "one cut, then it passes";
    }
    // A statement that merely names a commit passes; one query that ends in COMMIT is cut.
    TConnection connection = Connect();
    Proxy->SetMode(TFaultProxy::TMode::CutAtCommit);
    EXPECT_TRUE(Runs(connection.get(), "SELECT 'COMMIT' AS commit_end"));
    EXPECT_FALSE(Runs(connection.get(), "BEGIN; INSERT INTO t VALUES (4); commit;"));
    EXPECT_TRUE(Proxy->WaitForCommitCuts(3, 10000));
    EXPECT_EQ(Rows(), 4);
}

} // namespace
