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
#include "journal/journal.h"

#include "profiledb.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class SharedSiteTest : public EngineProfileDbTest {
public: // for the tables' steps
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

    std::unique_ptr<TMyDBConnector> Other;
    TControllerRecords OtherRecords; // what the other workstation's lists mark
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
             EXPECT_EQ(DeleteCardHolderAndZones(*t.Other, "1111111111", t.OtherRecords, t.Author),
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
             EXPECT_EQ(DeleteCardHolderAndZones(*t.Other, "1111111111", t.OtherRecords, t.Author),
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
            ASSERT_EQ(DeleteCardHolderAndZones(*Other, "1111111111", OtherRecords, Author),
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

TEST_P(SharedSiteTest, DeletingWhatIsAlreadyGoneChangesNothingAndSaysSo) {
    ASSERT_EQ(DeleteCardHolderAndZones(*Other, "1111111111", OtherRecords, Author),
              TCardHolderDelete::Deleted);
    ASSERT_EQ(DeleteController(*Other, Back, Author), TControllerDelete::Deleted);
    Database().Inner->ExecuteQuery("DELETE * FROM PendingChanges");

    EXPECT_EQ(DeleteCardHolderAndZones(Session->Database(), "1111111111", Controllers(), Author),
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
