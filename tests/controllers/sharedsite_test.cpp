// Two workstations on one site: this test's session is one, a second connection to the same file
// or server database is the other. What the other does between two steps of this one must neither
// be overwritten unseen nor lose a pending-change mark.

#include "cardholders/cardholdersave.h"
#include "controllers/controllerrecords.h"
#include "controllers/controllerstatements.h"
#include "controllers/keysource.h"
#include "controllers/pendingchanges.h"
#include "db/MyPostgreSQL.h"
#include "db/MySQLite.h"
#include "db/cardindexes.h"
#include "journal/journal.h"

#include "profiledb.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

namespace {

// The other workstation's connection for a change that is to be held at its end: the first commit
// that ends the outermost unit of work after a statement containing `holdAt` was sent first calls
// `hold`, on the thread the change runs on, with the engine as it stands, the change still open.
class THeldConnector : public TRecordingConnector {
public:
    THeldConnector(std::unique_ptr<TMyDBConnector> inner, QString holdAt,
                   std::function<void(TMyDBConnector&)> hold)
        : TRecordingConnector(std::move(inner)), FHoldAt(std::move(holdAt)),
          FHold(std::move(hold)) {}
    bool Held() const { return FHeld; }

    bool ExecuteQuery(const TMyStatement& statement) override {
        Arm(statement);
        return TRecordingConnector::ExecuteQuery(statement);
    }
    qint64 ExecuteCounted(const TMyStatement& statement) override {
        Arm(statement);
        return TRecordingConnector::ExecuteCounted(statement);
    }
    std::unique_ptr<TMyResultSet> Query(const TMyStatement& statement) override {
        Arm(statement);
        return TRecordingConnector::Query(statement);
    }
    bool StartTransaction() override {
        const bool started = TRecordingConnector::StartTransaction();
        FDepth += started ? 1 : 0;
        return started;
    }
    bool CommitTransaction() override {
        HoldAtTheEnd();
        --FDepth;
        return TRecordingConnector::CommitTransaction();
    }
    void RollbackTransaction() override {
        --FDepth;
        TRecordingConnector::RollbackTransaction();
    }

protected:
    void BeginBulkWork() override {
        ++FDepth;
        TRecordingConnector::BeginBulkWork();
    }
    bool EndBulkWork() override {
        HoldAtTheEnd();
        --FDepth;
        return TRecordingConnector::EndBulkWork();
    }

private:
    void Arm(const TMyStatement& statement) { FArmed = FArmed || statement.Sql.contains(FHoldAt); }
    void HoldAtTheEnd() {
        if (FDepth != 1 || !FArmed || FHeld)
            return;
        FHeld = true;
        FHold(*Inner);
    }

    QString FHoldAt;
    std::function<void(TMyDBConnector&)> FHold;
    int FDepth = 0;
    bool FArmed = false;
    bool FHeld = false;
};

class SharedSiteTest : public EngineProfileDbTest {
public: // for the tables' steps
    using ProfileDbTest::Column;
    using ProfileDbTest::Controllers;
    using ProfileDbTest::Database;
    using ProfileDbTest::Session;
    const TJournalAuthor Author{"other", "desk 2"};
    // The journal entry of a verified write of what the key was built from.
    static TJournalEntry Written(int32_t conId, const TKeyImageSource& source) {
        return KeyWrittenEntry(conId, "Front", source.Input, BuildKeyImage(source.Input));
    }
    void SetUp() override {
        ProfileDbTest::SetUp();
        if (HasFatalFailure())
            return;
        Other = OpenOther();
        ASSERT_TRUE(Other->IsConnected()) << Other->GetLastError().toStdString();
        Front = AddController("Front", "A1B2C3");
        Back = AddController("Back", "D4E5F6");
        AddCardHolder("1111111111", "Anna");
        AddCardHolder("2222222222", "Bert");
        AddZone(Front, "1111111111", 1);
        AddZone(Back, "2222222222", 2);
        Session->LoadControllers();
    }
    void TearDown() override {
        Other.reset();
        ProfileDbTest::TearDown();
    }

    // A connection of its own to the site, as another copy of the program has.
    std::unique_ptr<TMyDBConnector> OpenOther() const {
        std::unique_ptr<TMyDBConnector> other;
        if (Engine() == TEngine::PostgreSQL) {
            other = std::make_unique<TMyPostgreSQL>();
            other->ConnectionString = ServerConnection;
        } else {
            other = std::make_unique<TMySQLite>();
            other->ConnectionString = JetConnectionString(DatabaseFile);
        }
        other->Connect();
        return other;
    }

    TStandController& Listed(int32_t conId) const {
        for (const auto& controller : Controllers())
            if (controller->ConID == conId)
                return *controller;
        throw std::logic_error("no such record");
    }
    QStringList Stored() const {
        QStringList names;
        for (int32_t conId : StoredMarks(Database().Inner.get()))
            names << (conId == Front ? "Front" : conId == Back ? "Back" : "?");
        names.sort();
        return names;
    }

    // Runs `theirs` as the other workstation and `mine` on this session while `theirs` is still
    // open. On a server `theirs` runs on a connection and a thread of its own and stops before the
    // commit that ends the work in which it sent a statement containing `holdAt`, until `mine`
    // waits for a lock that `theirs` holds, or is done without: the meeting that natural timing
    // brings about only now and then. A file lets one writer in at a time, and the other waits
    // before its first statement; there `mine` runs after `theirs`, as it would have to.
    void WhileTheyHold(const std::function<void(TMyDBConnector&)>& theirs, const QString& holdAt,
                       const std::function<void()>& mine) {
        if (Engine() == TEngine::SQLite) {
            theirs(*Other);
            mine();
            return;
        }
        std::promise<void> holding;
        std::atomic<bool> mineDone{false};
        bool held = false;
        bool waitedFor = false;
        std::thread other([&] {
            auto engine = std::make_unique<TMyPostgreSQL>();
            engine->ConnectionString = ServerConnection;
            engine->Connect();
            THeldConnector connection(std::move(engine), holdAt, [&](TMyDBConnector& open) {
                holding.set_value();
                // Generous: only a fault in the program keeps `mine` from either.
                const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(2);
                while (!mineDone && std::chrono::steady_clock::now() < limit) {
                    if (Count(open, "SELECT COUNT(*) FROM pg_locks WHERE (NOT granted) AND "
                                    "(pg_backend_pid() = ANY(pg_blocking_pids(pid)))") > 0) {
                        waitedFor = true;
                        return;
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
            });
            theirs(connection);
            held = connection.Held();
            if (!held)
                holding.set_value();
        });
        holding.get_future().wait();
        mine();
        mineDone = true;
        other.join();
        EXPECT_TRUE(held) << "the other workstation never sent " << holdAt.toStdString();
        RecordProperty("waited for the other", waitedFor ? 1 : 0);
    }
    static int Count(TMyDBConnector& engine, const TMyStatement& statement) {
        const std::unique_ptr<TMyResultSet> rows = engine.Query(statement);
        return rows && rows->RecordCount() > 0 ? rows->Fields(0).AsInteger() : -1;
    }
    using ProfileDbTest::Count;

    // Nothing of a controller that is gone: no mark, no zone, no zone entry after its deletion
    // among the entries after `since`.
    void ExpectNothingOfGoneControllers(qint64 since) const {
        EXPECT_THAT(Column("SELECT ConID FROM PendingChanges WHERE ConID NOT IN (SELECT ConID "
                           "FROM Controllers)"),
                    IsEmpty());
        EXPECT_THAT(Column("SELECT ConID FROM CardZones WHERE ConID NOT IN (SELECT ConID FROM "
                           "Controllers)"),
                    IsEmpty());
        EXPECT_THAT(Column({"SELECT Later.ConID FROM Journal AS Later INNER JOIN Journal AS Gone "
                            "ON Gone.ConID = Later.ConID WHERE (Gone.Action = "
                            "\"controller-deleted\") AND (Later.Action = \"zone-changed\") AND "
                            "(Later.JournalID > Gone.JournalID) AND (Gone.JournalID > ?)",
                            {since}}),
                    IsEmpty());
    }

    std::unique_ptr<TMyDBConnector> Other;
    TControllerRecords OtherRecords; // what the other workstation's lists mark
    TKeyImageSource Source;          // what a key is being written with
    int32_t Front = 0;
    int32_t Back = 0;
};

// What the other workstation does between this one reading Front's key contents and clearing its
// mark after the verified write, and whether Front stays marked.
TEST_P(SharedSiteTest, AVerifiedWriteClearsTheMarkOnlyWhenNoChangeCameAfterTheImage) {
    struct Case {
        const char* what;
        bool markedBefore; // Front's mark when the image is read
        std::function<void(SharedSiteTest&)> meanwhile;
        TMarkClear expected;
        QStringList storedAfter;
    };
    const Case cases[] = {
        {"nothing", true, [](SharedSiteTest&) {}, TMarkClear::Cleared, {}},
        {"nothing, and no mark either", false, [](SharedSiteTest&) {}, TMarkClear::Cleared, {}},
        {"a zone click at Front",
         true,
         [](SharedSiteTest& t) {
             EXPECT_EQ(CycleCardZone(*t.Other, "2222222222", t.Front, t.Author), 1);
         },
         TMarkClear::ChangedSince,
         {"Front"}},
        {"a zone click at Front while it had no mark",
         false,
         [](SharedSiteTest& t) {
             EXPECT_EQ(CycleCardZone(*t.Other, "2222222222", t.Front, t.Author), 1);
         },
         TMarkClear::ChangedSince,
         {"Front"}},
        {"a zone click at Back only",
         true,
         [](SharedSiteTest& t) {
             EXPECT_EQ(CycleCardZone(*t.Other, "1111111111", t.Back, t.Author), 1);
         },
         TMarkClear::Cleared,
         {"Back"}},
        {"Front's code changed",
         true,
         [](SharedSiteTest& t) {
             TStandController loaded = t.Listed(t.Front);
             EXPECT_TRUE(UpdateController(*t.Other, loaded,
                                          {"Front", "0A0B0C", loaded.ConByte1, loaded.ConByte2},
                                          t.Author)
                             .Saved);
         },
         TMarkClear::ChangedSince,
         {"Front"}},
        {"Front renamed (the key holds no name)",
         true,
         [](SharedSiteTest& t) {
             TStandController loaded = t.Listed(t.Front);
             EXPECT_TRUE(
                 UpdateController(*t.Other, loaded,
                                  {"Front door", loaded.ConCode, loaded.ConByte1, loaded.ConByte2},
                                  t.Author)
                     .Saved);
         },
         TMarkClear::Cleared,
         {}},
        {"a card with access at Front deleted",
         true,
         [](SharedSiteTest& t) {
             EXPECT_EQ(DeleteCardHolderAndZones(*t.Other, ListedHolder("1111111111", "Anna"),
                                                t.OtherRecords, t.Author),
                       TCardHolderDelete::Deleted);
         },
         TMarkClear::ChangedSince,
         {"Front"}},
        {"the key written there too, then a zone click at Front",
         true,
         [](SharedSiteTest& t) {
             // The other's clear and the click's new mark: a counter that went with the mark and
             // started over would now equal the one read here.
             const TKeyImageSource theirs = ReadKeyImageSource(*t.Other, t.Front);
             EXPECT_EQ(ClearMarkAfterWrite(*t.Other, t.Front, theirs.Mark, Written(t.Front, theirs),
                                           t.Author),
                       TMarkClear::Cleared);
             EXPECT_EQ(CycleCardZone(*t.Other, "2222222222", t.Front, t.Author), 1);
         },
         TMarkClear::ChangedSince,
         {"Front"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Database().Inner->ExecuteQuery("DELETE * FROM PendingChanges");
        Database().Inner->ExecuteQuery("DELETE * FROM CardZones");
        Database().Inner->ExecuteQuery("UPDATE CardHolders SET Deleted = 0");
        Database().Inner->ExecuteQuery("UPDATE Controllers SET ConName = \"Front\", ConCode = "
                                       "\"A1B2C3\" WHERE ConName LIKE \"Front%\"");
        AddZone(Front, "1111111111", 1);
        AddZone(Back, "2222222222", 2);
        if (c.markedBefore) {
            ASSERT_TRUE(StoreMarks(*Database().Inner, {Front}));
        }
        Session->LoadControllers();

        const TKeyImageSource source = ReadKeyImageSource(Session->Database(), Front);
        ASSERT_EQ(source.Outcome, TKeyImageSource::Read);
        EXPECT_EQ(source.Mark.Marked, c.markedBefore);
        c.meanwhile(*this);
        EXPECT_EQ(Session->KeyWritten(Listed(Front), source.Mark, Written(Front, source)),
                  c.expected);
        EXPECT_EQ(Stored(), c.storedAfter);
        // The record follows the database; the closing question counts the database's marks.
        EXPECT_EQ(Listed(Front).ChangesMade, c.storedAfter.contains("Front"));
        EXPECT_EQ(Session->ChangedControllerCount(), c.storedAfter.size());
    }
}

TEST_P(SharedSiteTest, TheKeyIsBuiltFromTheDatabaseNotFromTheList) {
    TStandController loaded = Listed(Front);
    ASSERT_TRUE(UpdateController(*Other, loaded, {"Front", "0A0B0C", 1, 4}, Author).Saved);
    ASSERT_EQ(CycleCardZone(*Other, "2222222222", Front, Author), 1);
    const TKeyImageSource source = ReadKeyImageSource(Session->Database(), Front);
    ASSERT_EQ(source.Outcome, TKeyImageSource::Read);
    EXPECT_EQ(source.Input.ConCode, "0A0B0C");
    EXPECT_EQ(source.Input.ConByte1, 1);
    EXPECT_THAT(source.Input.Zone1Cards, ElementsAre("1111111111", "2222222222"));
    EXPECT_TRUE(source.Mark.Marked);

    ASSERT_EQ(DeleteController(*Other, Front, Author), TControllerDelete::Deleted);
    EXPECT_EQ(ReadKeyImageSource(Session->Database(), Front).Outcome, TKeyImageSource::Gone);
}

TEST_P(SharedSiteTest, EveryReadTakesTheMarksTheDatabaseHolds) {
    ASSERT_TRUE(StoreMarks(*Database().Inner, {Front}));
    Session->LoadControllers();
    ASSERT_EQ(Session->ChangedControllerCount(), 1);

    // The other workstation writes Front's key and changes a zone at Back.
    const TKeyImageSource theirs = ReadKeyImageSource(*Other, Front);
    ASSERT_EQ(ClearMarkAfterWrite(*Other, Front, theirs.Mark, Written(Front, theirs), Author),
              TMarkClear::Cleared);
    ASSERT_EQ(CycleCardZone(*Other, "1111111111", Back, Author), 1);
    EXPECT_EQ(Session->ChangedControllerCount(), 1); // the closing question asks the database
    Session->LoadControllers();
    EXPECT_FALSE(Listed(Front).ChangesMade);
    EXPECT_TRUE(Listed(Back).ChangesMade);

    // Without an answer from the database, the session keeps what it knew.
    Database().FailWhenContaining = "PendingChanges";
    Session->LoadControllers();
    Database().FailWhenContaining = "never sent";
    EXPECT_TRUE(Listed(Back).ChangesMade);
}

// A dialog loaded a record; the other workstation did something to it before OK.
TEST_P(SharedSiteTest, AnEditSavesOnlyOverWhatItLoaded) {
    struct Case {
        const char* what;
        std::function<void(SharedSiteTest&)> meanwhile;
        TCardHolderSave::TOutcome cardholder;
        TControllerSaved::TConflict controller;
    };
    const Case cases[] = {
        {"nothing", [](SharedSiteTest&) {}, TCardHolderSave::Saved, TControllerSaved::None},
        {"a zone click (no part of either dialog)",
         [](SharedSiteTest& t) {
             EXPECT_EQ(CycleCardZone(*t.Other, "1111111111", t.Front, t.Author), 2);
         },
         TCardHolderSave::Saved, TControllerSaved::None},
        {"both renamed",
         [](SharedSiteTest& t) {
             TCardHolder theirs = *LoadCardHolder(*t.Other, "1111111111");
             const TCardHolder loaded = theirs;
             theirs.CardHolder = "Anna (theirs)";
             EXPECT_EQ(
                 SaveEditedCardHolder(*t.Other, theirs, loaded, t.OtherRecords, t.Author).Outcome,
                 TCardHolderSave::Saved);
             TStandController record = t.Listed(t.Front);
             EXPECT_TRUE(UpdateController(
                             *t.Other, record,
                             {"Front (theirs)", record.ConCode, record.ConByte1, record.ConByte2},
                             t.Author)
                             .Saved);
         },
         TCardHolderSave::ChangedElsewhere, TControllerSaved::ChangedElsewhere},
        {"a custom text and the relay options changed",
         [](SharedSiteTest& t) {
             TCardHolder theirs = *LoadCardHolder(*t.Other, "1111111111");
             const TCardHolder loaded = theirs;
             theirs.CardCustom4 = "room 12";
             EXPECT_EQ(
                 SaveEditedCardHolder(*t.Other, theirs, loaded, t.OtherRecords, t.Author).Outcome,
                 TCardHolderSave::Saved);
             TStandController record = t.Listed(t.Front);
             EXPECT_TRUE(UpdateController(*t.Other, record, {record.ConName, record.ConCode, 9, 9},
                                          t.Author)
                             .Saved);
         },
         TCardHolderSave::ChangedElsewhere, TControllerSaved::ChangedElsewhere},
        {"both deleted",
         [](SharedSiteTest& t) {
             EXPECT_EQ(DeleteCardHolderAndZones(*t.Other, ListedHolder("1111111111", "Anna"),
                                                t.OtherRecords, t.Author),
                       TCardHolderDelete::Deleted);
             EXPECT_EQ(DeleteController(*t.Other, t.Front, t.Author), TControllerDelete::Deleted);
         },
         TCardHolderSave::Gone, TControllerSaved::Gone},
        {"the card replaced",
         [](SharedSiteTest& t) {
             TCardHolder theirs = *LoadCardHolder(*t.Other, "1111111111");
             const TCardHolder loaded = theirs;
             theirs.CardNumber = "3333333333";
             EXPECT_EQ(
                 SaveEditedCardHolder(*t.Other, theirs, loaded, t.OtherRecords, t.Author).Outcome,
                 TCardHolderSave::Saved);
         },
         TCardHolderSave::Gone, TControllerSaved::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Database().Inner->ExecuteQuery("DELETE * FROM CardHolders");
        Database().Inner->ExecuteQuery("DELETE * FROM CardZones");
        Database().Inner->ExecuteQuery("DELETE * FROM Controllers WHERE ConID <> " +
                                       QString::number(Back));
        Front = AddController("Front", "A1B2C3");
        AddCardHolder("1111111111", "Anna");
        AddZone(Front, "1111111111", 1);
        Session->LoadControllers();

        const TCardHolder loaded = *LoadCardHolder(Session->Database(), "1111111111");
        TStandController& record = Listed(Front);
        const TStandController recordBefore = record;
        c.meanwhile(*this);
        const std::vector<QStringList> rowsBefore =
            Rows("SELECT CardNumber, CardHolder, CardCustom4, Deleted FROM CardHolders ORDER BY "
                 "CardNumber");
        const std::vector<QStringList> controllerBefore =
            Rows("SELECT ConName, ConCode, ConByte1 FROM Controllers ORDER BY ConID");

        TCardHolder mine = loaded;
        mine.CardHolder = "Anna (mine)";
        EXPECT_EQ(
            SaveEditedCardHolder(Session->Database(), mine, loaded, Controllers(), Author).Outcome,
            c.cardholder);
        const TControllerSaved saved = UpdateController(
            Session->Database(), record, {"Front (mine)", "0F0F0F", record.ConByte1, 7}, Author);
        EXPECT_EQ(saved.Conflict, c.controller);
        EXPECT_EQ(saved.Saved, c.controller == TControllerSaved::None);
        if (c.cardholder != TCardHolderSave::Saved) {
            EXPECT_EQ(Rows("SELECT CardNumber, CardHolder, CardCustom4, Deleted FROM CardHolders "
                           "ORDER BY CardNumber"),
                      rowsBefore);
        }
        if (c.controller != TControllerSaved::None) {
            EXPECT_EQ(Rows("SELECT ConName, ConCode, ConByte1 FROM Controllers ORDER BY ConID"),
                      controllerBefore);
            // Reloading shows the current values, and a save over them goes through.
            if (c.controller == TControllerSaved::ChangedElsewhere) {
                ASSERT_TRUE(ReloadController(Session->Database(), record));
                EXPECT_NE(record.ConName + record.ConCode + QString::number(record.ConByte2),
                          recordBefore.ConName + recordBefore.ConCode +
                              QString::number(recordBefore.ConByte2));
                EXPECT_TRUE(UpdateController(Session->Database(), record,
                                             {"Front (mine)", "0F0F0F", record.ConByte1, 7}, Author)
                                .Saved);
            } else {
                EXPECT_FALSE(ReloadController(Session->Database(), record));
            }
        }
        if (c.cardholder == TCardHolderSave::ChangedElsewhere) {
            const TCardHolder current = *LoadCardHolder(Session->Database(), "1111111111");
            EXPECT_EQ(
                SaveEditedCardHolder(Session->Database(), mine, current, Controllers(), Author)
                    .Outcome,
                TCardHolderSave::Saved);
        }
    }
}

TEST_P(SharedSiteTest, AZoneClickMovesOnFromTheStoredZoneAndNeverOutlivesItsCard) {
    struct Case {
        const char* what;
        int stored; // Front's zone of card 1 as the other workstation left it; -1: deleted card
        bool controllerDeleted;
        int expected;
        QStringList zonesAfter;
    };
    const Case cases[] = {
        {"as listed", 1, false, 2, {"2"}},
        {"moved on elsewhere", 2, false, 0, {"0"}},
        {"taken away elsewhere", 0, false, 1, {"1"}},
        {"card deleted elsewhere", -1, false, ZoneCardGone, {}},
        {"controller deleted elsewhere", 1, true, ZoneCardGone, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Database().Inner->ExecuteQuery("DELETE * FROM CardZones");
        Database().Inner->ExecuteQuery("DELETE * FROM PendingChanges");
        Database().Inner->ExecuteQuery("UPDATE CardHolders SET Deleted = 0");
        if (Count("SELECT COUNT(*) FROM Controllers WHERE ConName = \"Front\"") == 0)
            Front = AddController("Front", "A1B2C3");
        AddZone(Front, "1111111111", 1); // what the list shows
        if (c.stored < 0) {
            ASSERT_EQ(DeleteCardHolderAndZones(*Other, ListedHolder("1111111111", "Anna"),
                                               OtherRecords, Author),
                      TCardHolderDelete::Deleted);
        } else if (c.stored != 1) {
            Other->ExecuteQuery(
                TMyStatement("UPDATE CardZones SET ZoneID = ? WHERE ConID = ?", {c.stored, Front}));
        }
        if (c.controllerDeleted) {
            ASSERT_EQ(DeleteController(*Other, Front, Author), TControllerDelete::Deleted);
        }
        const QStringList marksBefore = Stored();

        EXPECT_EQ(CycleCardZone(Session->Database(), "1111111111", Front, Author), c.expected);
        EXPECT_EQ(Zones(Front, "1111111111"), c.zonesAfter);
        EXPECT_EQ(Stored(), c.expected >= 0 ? QStringList{"Front"} : marksBefore);
        EXPECT_EQ(Count("SELECT COUNT(*) FROM CardZones WHERE CardNumber NOT IN (SELECT "
                        "CardNumber FROM CardHolders WHERE NOT Deleted)"),
                  0);
    }
}

// One workstation deletes a controller while the other changes what marks it or gives it zones:
// whichever waits for the other, nothing of the controller is left behind.
TEST_P(SharedSiteTest, NothingOutlivesAControllerDeletedMeanwhile) {
    struct Case {
        const char* what;
        std::function<void(SharedSiteTest&)> before; // this workstation, before the other starts
        std::function<void(SharedSiteTest&, TMyDBConnector&)> theirs;
        QString holdAt;
        std::function<void(SharedSiteTest&)> mine;
    };
    const auto deleteFront = [](SharedSiteTest& t, TMyDBConnector& other) {
        EXPECT_EQ(DeleteController(other, t.Front, t.Author), TControllerDelete::Deleted);
    };
    const auto readFrontsKey = [](SharedSiteTest& t) {
        ASSERT_TRUE(StoreMarks(*t.Database().Inner, {t.Front}));
        t.Source = ReadKeyImageSource(t.Session->Database(), t.Front);
        ASSERT_EQ(t.Source.Outcome, TKeyImageSource::Read);
    };
    const Case cases[] = {
        {"a cardholder with access there deleted",
         {},
         deleteFront,
         "DELETE * FROM Controllers",
         [](SharedSiteTest& t) {
             EXPECT_EQ(DeleteCardHolderAndZones(t.Session->Database(),
                                                ListedHolder("1111111111", "Anna"), t.Controllers(),
                                                t.Author),
                       TCardHolderDelete::Deleted);
         }},
        {"its card replaced",
         {},
         deleteFront,
         "DELETE * FROM Controllers",
         [](SharedSiteTest& t) {
             const TCardHolder loaded = *LoadCardHolder(t.Session->Database(), "1111111111");
             TCardHolder record = loaded;
             record.CardNumber = "3333333333";
             EXPECT_EQ(SaveEditedCardHolder(t.Session->Database(), record, loaded, t.Controllers(),
                                            t.Author)
                           .Outcome,
                       TCardHolderSave::Saved);
         }},
        {"the cardholder replaced by a new one",
         {},
         deleteFront,
         "DELETE * FROM Controllers",
         [](SharedSiteTest& t) {
             EXPECT_EQ(SaveNewCardHolder(t.Session->Database(), ListedHolder("1111111111", "Carla"),
                                         ListedHolder("1111111111", "Anna"), t.Controllers(),
                                         t.Author)
                           .Outcome,
                       TCardHolderSave::Saved);
         }},
        {"its key written", readFrontsKey, deleteFront, "DELETE * FROM Controllers",
         [](SharedSiteTest& t) {
             EXPECT_EQ(ClearMarkAfterWrite(t.Session->Database(), t.Front, t.Source.Mark,
                                           Written(t.Front, t.Source), t.Author),
                       TMarkClear::Gone);
         }},
        {"the controller deleted while a cardholder with access there is deleted",
         {},
         [](SharedSiteTest& t, TMyDBConnector& other) {
             EXPECT_EQ(DeleteCardHolderAndZones(other, ListedHolder("1111111111", "Anna"),
                                                t.OtherRecords, t.Author),
                       TCardHolderDelete::Deleted);
         },
         "UPDATE CardHolders SET Deleted",
         [](SharedSiteTest& t) {
             EXPECT_EQ(DeleteController(t.Session->Database(), t.Front, t.Author),
                       TControllerDelete::Deleted);
         }},
        {"the controller deleted while a key written there clears its mark", readFrontsKey,
         [](SharedSiteTest& t, TMyDBConnector& other) {
             EXPECT_EQ(ClearMarkAfterWrite(other, t.Front, t.Source.Mark,
                                           Written(t.Front, t.Source), t.Author),
                       TMarkClear::Cleared);
         },
         "INSERT INTO Journal",
         [](SharedSiteTest& t) {
             EXPECT_EQ(DeleteController(t.Session->Database(), t.Front, t.Author),
                       TControllerDelete::Deleted);
         }},
        {"a new controller deleted while it is granted to every cardholder",
         {},
         [](SharedSiteTest& t, TMyDBConnector& other) {
             EXPECT_TRUE(::AddController(other, {"Lift", "C0FFEE", 2, 4}, 1, t.Author).Saved);
         },
         "INSERT INTO CardZones",
         [](SharedSiteTest& t) {
             const QStringList lift = t.Column("SELECT ConID FROM Controllers WHERE ConName = "
                                               "\"Lift\"");
             ASSERT_EQ(lift.size(), 1);
             EXPECT_EQ(DeleteController(t.Session->Database(), lift[0].toInt(), t.Author),
                       TControllerDelete::Deleted);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const char* table : {"CardHolders", "CardZones", "PendingChanges"})
            Database().Inner->ExecuteQuery(QStringLiteral("DELETE * FROM ") + table);
        Database().Inner->ExecuteQuery("DELETE * FROM Controllers WHERE ConID <> " +
                                       QString::number(Back));
        Front = AddController("Front", "A1B2C3");
        AddCardHolder("1111111111", "Anna");
        AddCardHolder("2222222222", "Bert");
        AddZone(Front, "1111111111", 1);
        AddZone(Back, "1111111111", 2);
        AddZone(Front, "2222222222", 2);
        Session->LoadControllers();
        if (c.before)
            c.before(*this);
        const qint64 since =
            Column("SELECT COALESCE(MAX(JournalID), 0) FROM Journal").value(0).toLongLong();

        WhileTheyHold([&](TMyDBConnector& other) { c.theirs(*this, other); }, c.holdAt,
                      [&] { c.mine(*this); });
        ExpectNothingOfGoneControllers(since);
        EXPECT_THAT(Stored(), Not(Contains("?")));
        EXPECT_EQ(Count("SELECT COUNT(*) FROM CardZones WHERE CardNumber NOT IN (SELECT "
                        "CardNumber FROM CardHolders WHERE NOT Deleted)"),
                  0);
    }
}

// The operator was asked whether a new cardholder is to replace the one that has the card, and
// agreed; another workstation did something to that cardholder before the answer was saved.
TEST_P(SharedSiteTest, AConfirmedReplacementTakesOnlyTheCardholderAgreedTo) {
    struct Case {
        const char* what;
        std::function<void(SharedSiteTest&)> meanwhile;
        TCardHolderSave::TOutcome expected;
        QString holderAfter;
        QStringList deletedAfter; // the cardholders journaled as deleted, oldest first
    };
    const Case cases[] = {
        {"nothing", [](SharedSiteTest&) {}, TCardHolderSave::Saved, "Carla", {"Anna"}},
        {"replaced by another new cardholder",
         [](SharedSiteTest& t) {
             EXPECT_EQ(SaveNewCardHolder(*t.Other, ListedHolder("1111111111", "Dirk"),
                                         ListedHolder("1111111111", "Anna"), t.OtherRecords,
                                         t.Author)
                           .Outcome,
                       TCardHolderSave::Saved);
         },
         TCardHolderSave::HolderChanged,
         "Dirk",
         {"Anna"}},
        {"renamed",
         [](SharedSiteTest& t) {
             const TCardHolder loaded = *LoadCardHolder(*t.Other, "1111111111");
             TCardHolder record = loaded;
             record.CardHolder = "Anna Berg";
             EXPECT_EQ(
                 SaveEditedCardHolder(*t.Other, record, loaded, t.OtherRecords, t.Author).Outcome,
                 TCardHolderSave::Saved);
         },
         TCardHolderSave::HolderChanged,
         "Anna Berg",
         {}},
        {"deleted: the card is free",
         [](SharedSiteTest& t) {
             EXPECT_EQ(DeleteCardHolderAndZones(*t.Other, ListedHolder("1111111111", "Anna"),
                                                t.OtherRecords, t.Author),
                       TCardHolderDelete::Deleted);
         },
         TCardHolderSave::Saved,
         "Carla",
         {"Anna"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Database().Inner->ExecuteQuery("DELETE * FROM CardHolders");
        AddCardHolder("1111111111", "Anna");
        const QString before = Column("SELECT COALESCE(MAX(JournalID), 0) FROM Journal").value(0);
        const TCardHolder carla = ListedHolder("1111111111", "Carla");

        const TCardHolderSave asked =
            SaveNewCardHolder(Session->Database(), carla, std::nullopt, Controllers(), Author);
        ASSERT_EQ(asked.Outcome, TCardHolderSave::NumberTaken);
        EXPECT_EQ(asked.TakenBy, "Anna");
        c.meanwhile(*this);
        const TCardHolderSave saved =
            SaveNewCardHolder(Session->Database(), carla, asked.Taken, Controllers(), Author);
        EXPECT_EQ(saved.Outcome, c.expected);
        if (c.expected == TCardHolderSave::HolderChanged) {
            EXPECT_EQ(saved.TakenBy, c.holderAfter);
            // Deleting Anna from a list that still shows her is as wrong.
            EXPECT_EQ(DeleteCardHolderAndZones(Session->Database(),
                                               ListedHolder("1111111111", "Anna"), Controllers(),
                                               Author),
                      TCardHolderDelete::ChangedElsewhere);
        }
        EXPECT_EQ(LiveCardHolderOf(Session->Database(), "1111111111"), c.holderAfter);
        EXPECT_EQ(Column({"SELECT CardHolder FROM Journal WHERE (Action = ?) AND (JournalID > ?) "
                          "ORDER BY JournalID",
                          {JournalActionCode(TJournalAction::CardHolderDeleted), before.toInt()}}),
                  c.deletedAfter);
    }
}

// Two workstations giving one new number at once: on a server both find it free, the unique index
// refuses the second, and its operator is asked whether to replace the holder who was quicker.
// Agreeing replaces that holder, as when the number was taken before the save began.
TEST_P(SharedSiteTest, ANumberTakenDuringTheSaveCanBeReplacedAsAgreed) {
    const TCardHolder carla = ListedHolder("3333333333", "Carla");
    TCardHolderSave asked;
    WhileTheyHold(
        [&](TMyDBConnector& other) {
            EXPECT_EQ(SaveNewCardHolder(other, ListedHolder("3333333333", "Dirk"), std::nullopt,
                                        OtherRecords, Author)
                          .Outcome,
                      TCardHolderSave::Saved);
        },
        "INSERT INTO CardHolders",
        [&] {
            asked =
                SaveNewCardHolder(Session->Database(), carla, std::nullopt, Controllers(), Author);
        });
    ASSERT_EQ(asked.Outcome, TCardHolderSave::NumberTaken) << asked.Error.toStdString();
    EXPECT_EQ(asked.TakenBy, "Dirk");
    const TCardHolderSave saved =
        SaveNewCardHolder(Session->Database(), carla, asked.Taken, Controllers(), Author);
    EXPECT_EQ(saved.Outcome, TCardHolderSave::Saved) << saved.TakenBy.toStdString();
    EXPECT_EQ(LiveCardHolderOf(Session->Database(), "3333333333"), "Carla");
}

// A database from before one row per card may hold two cardholders with one card. Deleting one of
// them from the list deletes that one: the other keeps the card and its access.
TEST_P(SharedSiteTest, OfTwoCardholdersOfOneCardOnlyTheChosenOneIsDeleted) {
    Database().Inner->ExecuteQuery(QStringLiteral("DROP INDEX ") + CardHoldersUniqueIndex);
    AddCardHolder("1111111111", "Anne");
    AddCardHolder("2222222222", "Bert");
    ASSERT_EQ(Count("SELECT COUNT(*) FROM CardHolders WHERE CardNumber = \"2222222222\""), 2);
    const auto live = [this](const QString& number) {
        QStringList names =
            Column({"SELECT CardHolder FROM CardHolders WHERE (CardNumber = ?) AND (NOT Deleted)",
                    {number}});
        names.sort();
        return names;
    };
    const auto deletedEntries = [this] {
        return Column({"SELECT CardHolder FROM Journal WHERE Action = ? ORDER BY JournalID",
                       {JournalActionCode(TJournalAction::CardHolderDeleted)}});
    };

    EXPECT_EQ(DeleteCardHolderAndZones(Session->Database(), ListedHolder("1111111111", "Anne"),
                                       Controllers(), Author),
              TCardHolderDelete::Deleted);
    EXPECT_EQ(live("1111111111"), QStringList{"Anna"});
    EXPECT_EQ(Zones(Front, "1111111111"), QStringList{"1"});
    EXPECT_THAT(Stored(), IsEmpty()); // the key still admits the card, rightly
    EXPECT_EQ(deletedEntries(), QStringList{"Anne"});

    // Two rows the list cannot tell apart: one of them goes.
    EXPECT_EQ(DeleteCardHolderAndZones(Session->Database(), ListedHolder("2222222222", "Bert"),
                                       Controllers(), Author),
              TCardHolderDelete::Deleted);
    EXPECT_EQ(live("2222222222"), QStringList{"Bert"});
    EXPECT_EQ(Zones(Back, "2222222222"), QStringList{"2"});

    // A row that is no longer as the list showed it is not taken for another.
    EXPECT_EQ(DeleteCardHolderAndZones(Session->Database(), ListedHolder("1111111111", "Anne"),
                                       Controllers(), Author),
              TCardHolderDelete::ChangedElsewhere);
    EXPECT_EQ(live("1111111111"), QStringList{"Anna"});

    // The last holder of a card takes its access with them.
    EXPECT_EQ(DeleteCardHolderAndZones(Session->Database(), ListedHolder("1111111111", "Anna"),
                                       Controllers(), Author),
              TCardHolderDelete::Deleted);
    EXPECT_THAT(live("1111111111"), IsEmpty());
    EXPECT_THAT(Zones(Front, "1111111111"), IsEmpty());
    EXPECT_THAT(Stored(), ElementsAre("Front"));
    EXPECT_EQ(deletedEntries(), (QStringList{"Anne", "Bert", "Anna"}));
}

TEST_P(SharedSiteTest, DeletingWhatIsAlreadyGoneChangesNothingAndSaysSo) {
    ASSERT_EQ(
        DeleteCardHolderAndZones(*Other, ListedHolder("1111111111", "Anna"), OtherRecords, Author),
        TCardHolderDelete::Deleted);
    ASSERT_EQ(DeleteController(*Other, Back, Author), TControllerDelete::Deleted);
    Database().Inner->ExecuteQuery("DELETE * FROM PendingChanges");

    EXPECT_EQ(DeleteCardHolderAndZones(Session->Database(), ListedHolder("1111111111", "Anna"),
                                       Controllers(), Author),
              TCardHolderDelete::AlreadyGone);
    EXPECT_EQ(DeleteController(Session->Database(), Back, Author), TControllerDelete::AlreadyGone);
    EXPECT_THAT(Stored(), IsEmpty());
    EXPECT_EQ(Count("SELECT COUNT(*) FROM CardHolders WHERE CardNumber = \"1111111111\""), 1);

    // And a failure is no "already gone".
    Database().FailWhenContaining = "DELETE * FROM Controllers";
    EXPECT_EQ(DeleteController(Session->Database(), Front, Author), TControllerDelete::Failed);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM Controllers"), 1);
}

// A site made before the marks were stamped: its marks stay, and a stamp column comes with the
// opening (the server connector adds it when it connects).
TEST_P(SharedSiteTest, AnOlderSiteGetsTheStampAndKeepsItsMarks) {
    Database().Inner->ExecuteQuery("DROP TABLE PendingChanges");
    Database().Inner->ExecuteQuery("CREATE TABLE PendingChanges (ConID integer PRIMARY KEY)");
    ASSERT_EQ(Count("SELECT COUNT(*) FROM PendingChanges"), 0);
    Exec(TMyStatement("INSERT INTO PendingChanges (ConID) VALUES(?)", {Front}));
    if (Engine() == TEngine::PostgreSQL)
        ASSERT_TRUE(OpenOther()->IsConnected());
    else
        ASSERT_TRUE(AddPendingChangesTable(Session->Database()));

    Session->LoadControllers();
    EXPECT_TRUE(Listed(Front).ChangesMade);
    const TKeyImageSource source = ReadKeyImageSource(Session->Database(), Front);
    ASSERT_EQ(source.Outcome, TKeyImageSource::Read);
    ASSERT_EQ(CycleCardZone(*Other, "2222222222", Back, Author), 0);
    EXPECT_EQ(Session->KeyWritten(Listed(Front), source.Mark, Written(Front, source)),
              TMarkClear::Cleared);
    EXPECT_THAT(Stored(), ElementsAre("Back"));
}

INSTANTIATE_TEST_SUITE_P(Engines, SharedSiteTest, ::testing::ValuesIn(BothEngines), EngineCaseName);

} // namespace
