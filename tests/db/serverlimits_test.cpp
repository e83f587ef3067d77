// The connector to a server under the faults of a network: a connection cut just after COMMIT went
// out, a server that stops answering, one that refuses. Nothing waits without a limit, nothing
// unknown is called failed.

#include "cardholders/cardholdersave.h"
#include "controllers/controllerrecords.h"
#include "controllers/pendingchanges.h"
#include "db/MyPostgreSQL.h"
#include "db/changewatch.h"
#include "db/reconnect.h"
#include "journal/journal.h"
#include "profiles/profilesession.h"
#include "shared/datadir.h"

#include "faultproxy.h"
#include "pgcluster.h"
#include "profiledb.h"
#include "testenv.h"

#include <QSignalSpy>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <libpq-fe.h>

using ::testing::HasSubstr;

namespace {

class ServerLimits : public HomeTest {
protected:
    void SetUp() override {
        HomeTest::SetUp();
        TTestCluster& cluster = TTestCluster::Shared();
        Direct = cluster.NewSite();
        ASSERT_FALSE(Direct.isEmpty()) << cluster.Error().toStdString();
        Proxy = std::make_unique<TFaultProxy>(cluster.Socket());
        ASSERT_TRUE(Proxy->Listening()) << Proxy->Error().toStdString();
    }
    void TearDown() override {
        Proxy.reset();
        HomeTest::TearDown();
    }
    std::unique_ptr<TMyPostgreSQL> Connected(const QString& extra = {}) const {
        auto db = std::make_unique<TMyPostgreSQL>();
        db->ConnectionString = Proxy->Through(Direct) + extra;
        EXPECT_TRUE(db->Connect()) << db->GetLastError().toStdString();
        return db;
    }
    static bool AddCard(TMyDBConnector& db, const QString& number) {
        return db.ExecuteQuery({"INSERT INTO CardHolders (CardNumber, CardHolder, Deleted) VALUES "
                                "(?, 'A', False)",
                                {number}});
    }
    int Cards() const {
        TMyPostgreSQL direct;
        direct.ConnectionString = Direct;
        if (!direct.Connect())
            return -1;
        const auto rows = direct.Query({"SELECT COUNT(*) FROM CardHolders"});
        return rows ? rows->Fields(0).AsInteger() : -1;
    }

    QString Direct;
    std::unique_ptr<TFaultProxy> Proxy;
};

TEST_F(ServerLimits, ACommitCutBeforeItsAnswerIsUnknownNotFailedAndWasStored) {
    auto db = Connected();
    for (const bool withNotice : {false, true}) {
        SCOPED_TRACE(withNotice ? "a change with its notice" : "a change that waits for COMMIT");
        const int before = Cards();
        {
            TTransaction change(*db);
            ASSERT_TRUE(change.Started()) << db->GetLastError().toStdString();
            const QString number = withNotice ? "0000000002" : "0000000001";
            if (withNotice)
                ASSERT_TRUE(AddCard(*db, number)) << db->GetLastError().toStdString();
            else
                ASSERT_TRUE(db->ExecuteWithTransaction(
                    {"INSERT INTO CardHolders (CardNumber, CardHolder, Deleted) VALUES (?, 'A', "
                     "False)",
                     {number}}));
            Proxy->SetMode(TFaultProxy::TMode::CutAtCommit);
            EXPECT_FALSE(change.Commit());
        }
        EXPECT_TRUE(CommitOutcomeUnknown(*db)) << db->GetLastError().toStdString();
        EXPECT_THAT(db->GetLastError().toStdString(), HasSubstr("not known"));
        EXPECT_EQ(Cards(), before + 1) << "the server kept it";
        // The connector goes on: outside a transaction it connects again by itself.
        EXPECT_EQ(db->Query({"SELECT COUNT(*) FROM CardHolders"})->Fields(0).AsInteger(),
                  before + 1)
            << db->GetLastError().toStdString();
    }
    // A failure the server answered is known.
    {
        TTransaction change(*db);
        ASSERT_TRUE(change.Started());
        EXPECT_FALSE(AddCard(*db, "0000000001"));
    }
    EXPECT_FALSE(CommitOutcomeUnknown(*db));
}

// The grant to all cardholders sends its rows as bulk work: its one commit, cut before its
// answer, may have stored every row, so it is unknown, never failed nor kept.
struct TBulkCase {
    const char* Name;
    bool Refused;  // one row the server refuses (a card number taken)
    bool ByCommit; // ended by Commit, not by the scope
    int Stored;    // rows of the three that the server keeps
};

class BulkWorkCut : public ServerLimits, public ::testing::WithParamInterface<TBulkCase> {};

TEST_P(BulkWorkCut, ALostCommitAnswerIsUnknownAndTheRowsAreThereWhole) {
    const TBulkCase& c = GetParam();
    auto db = Connected();
    ASSERT_TRUE(AddCard(*db, "0000000009")) << db->GetLastError().toStdString();
    const int before = Cards();
    bool kept = false;
    {
        TBulkWork bulk(db.get());
        for (const char* number : {"0000000001", "0000000002", "0000000003"})
            AddCard(*db, c.Refused && number[9] == '2' ? "0000000009" : number);
        Proxy->SetMode(TFaultProxy::TMode::CutAtCommit);
        if (c.ByCommit) {
            kept = bulk.Commit();
            EXPECT_EQ(bulk.Commit(), kept) << "a second call repeats the answer";
        }
    }
    Proxy->SetMode(TFaultProxy::TMode::Pass);
    EXPECT_FALSE(kept) << "never told kept";
    EXPECT_TRUE(CommitOutcomeUnknown(*db)) << db->GetLastError().toStdString();
    EXPECT_THAT(db->GetLastError().toStdString(), HasSubstr("not known"));
    EXPECT_EQ(Cards(), before + c.Stored);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BulkWorkCut,
    ::testing::Values(TBulkCase{"EndedByCommit", false, true, 3},
                      TBulkCase{"EndedByItsScope", false, false, 3},
                      // A row refused costs the others nothing, as sent one by one.
                      TBulkCase{"ARowRefused", true, true, 2}),
    [](const ::testing::TestParamInfo<TBulkCase>& info) { return info.param.Name; });

// Changes that commit on their own, cut before the server's answer came: the server kept them,
// so the caller learns that the outcome is unknown (the delete's Failed comes with
// CommitOutcomeUnknown), never a plain failure, and the records are whole.
// Cuts the commit that ends bulk work, and no commit before it.
class TBulkCommitCut : public TRecordingConnector {
public:
    TBulkCommitCut(std::unique_ptr<TMyDBConnector> inner, TFaultProxy& proxy)
        : TRecordingConnector(std::move(inner)), FProxy(proxy) {}

protected:
    bool EndBulkWork() override {
        FProxy.SetMode(TFaultProxy::TMode::CutAtCommit);
        return TRecordingConnector::EndBulkWork();
    }

private:
    TFaultProxy& FProxy;
};

// The grant to all of a new controller commits on its own, after the controller: a lost answer to
// that commit leaves the controller added and its grants unknown, never reported as given.
TEST_F(ServerLimits, AGrantToAllCutAtItsCommitIsUnknownNotGiven) {
    {
        TMyPostgreSQL direct;
        direct.ConnectionString = Direct;
        ASSERT_TRUE(direct.Connect()) << direct.GetLastError().toStdString();
        ASSERT_TRUE(direct.ExecuteQuery("INSERT INTO CardHolders (CardNumber, CardHolder, Deleted) "
                                        "VALUES ('0000000001', 'Anna', False)"))
            << direct.GetLastError().toStdString();
    }
    TBulkCommitCut db(Connected(), *Proxy);
    const TControllerSaved saved =
        AddController(db, {"Hall", "A1B2C3", 2, 4}, 1, TJournalAuthor{"clerk", "desk 1"});
    EXPECT_TRUE(saved.Saved);
    EXPECT_TRUE(saved.OutcomeUnknown);
    EXPECT_TRUE(saved.GrantsRefused) << "not reported as given";
    EXPECT_FALSE(saved.KeyOutdated);
    EXPECT_TRUE(Proxy->WaitForCommitCuts(1, 10000));
}

TEST_F(ServerLimits, ChangesCutAtTheirCommitAreUnknownAndStoredWhole) {
    const TJournalAuthor clerk{"clerk", "desk 1"};
    const auto direct = [&](const TMyStatement& statement) {
        TMyPostgreSQL db;
        db.ConnectionString = Direct;
        EXPECT_TRUE(db.Connect()) << db.GetLastError().toStdString();
        const auto rows = db.Query(statement);
        EXPECT_TRUE(rows) << db.GetLastError().toStdString();
        return rows && !rows->Eof() ? rows->Fields(0).AsString() : QString();
    };
    const auto controller = [&](const char* name) {
        return direct({"INSERT INTO Controllers (ConName, ConCode) VALUES (?, 'A1B2C3') "
                       "RETURNING ConID",
                       {name}})
            .toInt();
    };
    const int32_t gate = controller("Gate");
    const int32_t gone = controller("Gone");
    direct({"DELETE FROM Controllers WHERE ConID = ? RETURNING ConID", {gone}});
    direct({"INSERT INTO CardHolders (CardNumber, CardHolder, Deleted) VALUES ('0000000001', "
            "'Anna', False) RETURNING CardNumber"});
    direct({"INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES (?, '0000000001', 1) "
            "RETURNING ZoneID",
            {gate}});

    struct TCase {
        const char* Name;
        std::function<bool(TMyDBConnector&)> Change; // true: the outcome is told as unknown
        TMyStatement Stored;                         // what the server holds afterwards
        QString Expected;
    };
    const std::vector<TCase> cases = {
        {"a key write journaled for a controller deleted meanwhile",
         [&](TMyDBConnector& db) {
             TJournalEntry written;
             written.Action = TJournalAction::KeyWritten;
             written.ConID = gone;
             written.ConName = "Gone";
             return ClearMarkAfterWrite(db, gone, {}, written, clerk) == TMarkClear::Unknown;
         },
         {"SELECT COUNT(*) FROM Journal WHERE ConID = ? AND Action = ?",
          {gone, JournalActionCode(TJournalAction::KeyWritten)}},
         "1"},
        {"a cardholder deleted, with the zones of the card",
         [&](TMyDBConnector& db) {
             TControllerRecords records;
             const std::optional<TCardHolder> anna = LoadCardHolder(db, "0000000001");
             return anna &&
                    DeleteCardHolderAndZones(db, *anna, records, clerk) ==
                        TCardHolderDelete::Failed &&
                    CommitOutcomeUnknown(db);
         },
         {"SELECT COUNT(*) || ' ' || SUM(CASE WHEN Deleted THEN 1 ELSE 0 END) || ' ' || "
          "(SELECT COUNT(*) FROM CardZones) FROM CardHolders WHERE CardNumber = '0000000001'"},
         "1 1 0"},
        {"a controller deleted",
         [&](TMyDBConnector& db) {
             return DeleteController(db, gate, clerk) == TControllerDelete::Failed &&
                    CommitOutcomeUnknown(db);
         },
         {"SELECT COUNT(*) FROM Controllers WHERE ConID = ?", {gate}},
         "0"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        auto db = Connected();
        Proxy->SetMode(TFaultProxy::TMode::CutAtCommit);
        EXPECT_TRUE(c.Change(*db)) << db->GetLastError().toStdString();
        EXPECT_EQ(Proxy->Mode(), TFaultProxy::TMode::Pass) << "a COMMIT was cut";
        EXPECT_THAT(db->GetLastError().toStdString(), HasSubstr("not known"));
        EXPECT_EQ(direct(c.Stored), c.Expected);
    }
}

// libpq's own limits go with every connection, unless the connection text sets them.
TEST_F(ServerLimits, EveryConnectionHasLimitsUnlessItsTextSetsThem) {
    const auto setting = [](PGconn* connection, const char* keyword) {
        QString value;
        PQconninfoOption* options = PQconninfo(connection);
        for (PQconninfoOption* option = options; option && option->keyword; ++option)
            if (qstrcmp(option->keyword, keyword) == 0 && option->val)
                value = QString::fromUtf8(option->val);
        PQconninfoFree(options);
        return value;
    };
    const auto db = Connected();
    for (const char* keyword : {"connect_timeout", "keepalives", "keepalives_idle",
                                "keepalives_interval", "keepalives_count", "tcp_user_timeout"})
        EXPECT_FALSE(setting(db->Handle(), keyword).isEmpty()) << keyword;
    const auto own = Connected(" connect_timeout=7 tcp_user_timeout=1234");
    EXPECT_EQ(setting(own->Handle(), "connect_timeout"), "7");
    EXPECT_EQ(setting(own->Handle(), "tcp_user_timeout"), "1234");
    const auto rows = db->Query({"SELECT current_setting('statement_timeout')"});
    ASSERT_TRUE(rows);
    EXPECT_NE(rows->Fields(0).AsString(), "0");
}

TEST_F(ServerLimits, AServerThatStopsAnsweringIsGivenUpAndFoundAgain) {
    auto db = Connected();
    db->SetAnswerLimit(500);
    Proxy->SetMode(TFaultProxy::TMode::Hold);
    EXPECT_EQ(db->Query({"SELECT COUNT(*) FROM CardHolders"}), nullptr);
    EXPECT_THAT(db->GetLastError().toStdString(), HasSubstr("did not answer"));
    EXPECT_TRUE(db->ConnectionLost());
    Proxy->SetMode(TFaultProxy::TMode::Pass);
    EXPECT_TRUE(AddCard(*db, "0000000001")) << db->GetLastError().toStdString();
}

// The open profile's connector never connects on the window thread: a worker does, and the
// connector takes its connection over.
TEST_F(ServerLimits, TheSessionConnectsAgainOnAWorkerAndSaysHowItWent) {
    TProfileSession session(TVYRStandProfile(DataDirectory() + "/profiles/site.ini"), Connected());
    TMyDBConnector& db = session.Database();
    ASSERT_FALSE(db.ReconnectOnUse);
    Proxy->SetMode(TFaultProxy::TMode::Refuse);
    Proxy->CutAll();
    TReconnect& reconnect = session.Reconnection();
    QSignalSpy finished(&reconnect, &TReconnect::Finished);
    EXPECT_FALSE(AddCard(db, "0000000001"));
    EXPECT_TRUE(db.ConnectionLost());
    EXPECT_FALSE(AddCard(db, "0000000001")) << "no connecting inside a statement";
    EXPECT_THAT(db.GetLastError().toStdString(), HasSubstr("connecting again"));
    ASSERT_TRUE(finished.wait(20000));
    EXPECT_FALSE(finished.takeFirst().at(0).toBool()) << "refused";

    Proxy->SetMode(TFaultProxy::TMode::Pass);
    reconnect.Start();
    ASSERT_TRUE(finished.wait(20000));
    EXPECT_TRUE(finished.takeFirst().at(0).toBool());
    EXPECT_FALSE(db.ConnectionLost());
    EXPECT_TRUE(AddCard(db, "0000000001")) << db.GetLastError().toStdString();
}

TEST_F(ServerLimits, ClosingAProfileDoesNotWaitForASilentServer) {
    auto session = std::make_unique<TProfileSession>(
        TVYRStandProfile(DataDirectory() + "/profiles/site.ini"), Connected());
    TChangeWatch& watch = session->Changes();
    ASSERT_TRUE(QTest::qWaitFor([&] { return watch.Listening(); }, 10000));
    // The listener loses its connection and connects again into a server that does not answer.
    Proxy->SetMode(TFaultProxy::TMode::Hold);
    Proxy->CutAll();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Proxy->OpenConnections() > 0; }, 10000));
    session.reset(); // returns; a hang here ends the test by its timeout
    Proxy->SetMode(TFaultProxy::TMode::Pass);
    // The listener's thread ends on its own once the server answers, and lets go of it.
    EXPECT_TRUE(QTest::qWaitFor([&] { return Proxy->OpenConnections() == 0; }, 30000));
}

} // namespace
