// Every change of the records writes its journal entries with its own statements: the records
// change and exactly the expected entries appear, or, when any statement of the change fails,
// neither.

#include "cardholders/cardholdersave.h"
#include "controllers/controllerrecords.h"
#include "controllers/keyimage.h"
#include "controllers/keysource.h"
#include "controllers/pendingchanges.h"
#include "journal/journal.h"

#include "profiledb.h"

#include <gmock/gmock.h>

#include <functional>

namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

const TJournalAuthor Clerk{"clerk", "front-desk"};

// A site: Front (zone 1 for Anna) and Back (zone 2 for Bert, zone 0 for Anna), and a deleted
// cardholder whose number may be taken over.
class JournalSavesTest : public EngineProfileDbTest {
public: // for the tables' steps
    using ProfileDbTest::AddCardHolder;
    using ProfileDbTest::Controllers;
    using ProfileDbTest::Count;
    using ProfileDbTest::Database;
    using ProfileDbTest::Record;
    using ProfileDbTest::Zones;

    void SetUp() override {
        ProfileDbTest::SetUp();
        if (HasFatalFailure())
            return;
        Front = AddController("Front", "A1B2C3", 2, 4);
        Back = AddController("Back", "D4E5F6", 2, 4);
        AddCardHolder("1111111111", "Anna", "Sales");
        AddCardHolder("2222222222", "Bert");
        AddCardHolder("3333333333", "Gone", {}, {}, true);
        AddZone(Front, "1111111111", 1);
        AddZone(Back, "1111111111", 0);
        AddZone(Back, "2222222222", 2);
        Session->LoadControllers();
        Before = LastEntry();
    }

    int64_t LastEntry() const {
        const QStringList last = Column("SELECT MAX(JournalID) FROM Journal");
        return last.isEmpty() ? 0 : last[0].toLongLong();
    }

    // The entries made since the set-up, oldest first, one line each:
    //   action|ConID|ConName|card|old card|holder|field:old>new;...|operator@workstation
    QStringList NewEntries() const {
        const std::optional<QList<TJournalEntry>> entries = ReadJournal(*Database().Inner, {}, 0);
        EXPECT_TRUE(entries) << Database().Inner->GetLastError().toStdString();
        QStringList lines;
        for (const TJournalEntry& entry : entries.value_or(QList<TJournalEntry>())) {
            if (entry.Id <= Before)
                continue;
            QStringList changes;
            for (const TJournalChange& change : entry.Changes)
                changes << change.Field + ":" + change.Old + ">" + change.New;
            lines.prepend(QStringList{JournalActionCode(entry.Action), QString::number(entry.ConID),
                                      entry.ConName, entry.CardNumber, entry.OldCardNumber,
                                      entry.CardHolder, changes.join(';'),
                                      entry.Operator + "@" + entry.Workstation}
                              .join('|'));
            EXPECT_TRUE(entry.Time.isValid());
            EXPECT_EQ(entry.Time.timeSpec(), Qt::UTC);
        }
        return lines;
    }

    // Everything the journal speaks of, for "nothing changed".
    std::vector<QStringList> Records() const {
        std::vector<QStringList> all;
        for (const char* query :
             {"SELECT CardNumber, CardHolder, CardCustom1, CardCustom2, Deleted FROM CardHolders "
              "ORDER BY CardNumber, Deleted",
              "SELECT ConID, CardNumber, ZoneID FROM CardZones ORDER BY ConID, CardNumber",
              "SELECT ConID, ConName, ConCode, ConByte1, ConByte2 FROM Controllers ORDER BY ConID",
              "SELECT ConID, Stamp FROM PendingChanges ORDER BY ConID"})
            for (QStringList row : Rows(query))
                all.push_back(row);
        return all;
    }

    static QString Line(const QString& action, int32_t conId, const QString& conName,
                        const QString& card, const QString& oldCard, const QString& holder,
                        const QString& changes) {
        return QStringList{action,  QString::number(conId), conName, card, oldCard, holder,
                           changes, "clerk@front-desk"}
            .join('|');
    }

    TCardHolder Holder(const QString& number, const QString& name, const QString& custom1 = {},
                       const QString& custom2 = {}) const {
        TCardHolder record;
        record.CardNumber = number;
        record.CardHolder = name;
        record.CardCustom1 = custom1;
        record.CardCustom2 = custom2;
        return record;
    }
    TCardHolder Loaded(const QString& number) const {
        const std::optional<TCardHolder> loaded = LoadCardHolder(*Database().Inner, number);
        EXPECT_TRUE(loaded);
        return loaded.value_or(TCardHolder());
    }

    // A verified write of Front's key as the programming dialog makes it.
    TMarkClear WriteFrontKey(const std::function<void()>& meanwhile = {}) {
        const TKeyImageSource source = ReadKeyImageSource(Database(), Front);
        EXPECT_EQ(source.Outcome, TKeyImageSource::Read);
        if (meanwhile)
            meanwhile();
        const TKeyImage image = BuildKeyImage(source.Input);
        WrittenCrc = QStringLiteral("%1").arg(image[KeyCrcOffset], 2, 16, QLatin1Char('0'));
        return ClearMarkAfterWrite(Database(), Front, source.Mark,
                                   KeyWrittenEntry(Front, "Front", source.Input, image), Clerk);
    }

    int32_t Front = 0;
    int32_t Back = 0;
    int64_t Before = 0;
    int32_t Added = 0; // a controller a step added
    QString WrittenCrc;
};

struct TSaveCase {
    const char* Name;
    // Makes the change through the save unit, checking its outcome and the records.
    std::function<void(JournalSavesTest&)> Change;
    std::function<QStringList(const JournalSavesTest&)> Entries;
};

const QString ZoneChanged = "zone-changed";

const TSaveCase SaveCases[] = {
    {"a new cardholder",
     [](JournalSavesTest& t) {
         ASSERT_EQ(SaveNewCardHolder(t.Database(), t.Holder("4444444444", "Dirk", "", "Lab"),
                                     std::nullopt, t.Controllers(), Clerk)
                       .Outcome,
                   TCardHolderSave::Saved);
         EXPECT_EQ(t.Loaded("4444444444").CardHolder, "Dirk");
     },
     [](const JournalSavesTest&) {
         return QStringList{JournalSavesTest::Line("cardholder-added", 0, "", "4444444444", "",
                                                   "Dirk", "CardHolder:>Dirk;CardCustom2:>Lab")};
     }},
    {"a new cardholder taking over a deleted one's number",
     [](JournalSavesTest& t) {
         ASSERT_EQ(SaveNewCardHolder(t.Database(), t.Holder("3333333333", "Eva"), std::nullopt,
                                     t.Controllers(), Clerk)
                       .Outcome,
                   TCardHolderSave::Saved);
         EXPECT_EQ(t.Count("SELECT COUNT(*) FROM CardHolders WHERE CardNumber = \"3333333333\""),
                   1);
     },
     [](const JournalSavesTest&) {
         return QStringList{JournalSavesTest::Line("cardholder-added", 0, "", "3333333333", "",
                                                   "Eva", "CardHolder:>Eva")};
     }},
    {"a new cardholder replacing the live one: the old one and their access go",
     [](JournalSavesTest& t) {
         ASSERT_EQ(SaveNewCardHolder(t.Database(), t.Holder("1111111111", "Carla"),
                                     t.Loaded("1111111111"), t.Controllers(), Clerk)
                       .Outcome,
                   TCardHolderSave::Saved);
         EXPECT_EQ(t.Loaded("1111111111").CardHolder, "Carla");
         EXPECT_THAT(t.Zones(t.Front, "1111111111"), IsEmpty());
     },
     [](const JournalSavesTest& t) {
         return QStringList{
             JournalSavesTest::Line("cardholder-deleted", 0, "", "1111111111", "", "Anna", ""),
             JournalSavesTest::Line(ZoneChanged, t.Front, "Front", "1111111111", "", "Anna",
                                    "ZoneID:1>0"),
             JournalSavesTest::Line("cardholder-added", 0, "", "1111111111", "", "Carla",
                                    "CardHolder:>Carla")};
     }},
    {"an edit names only the fields that changed",
     [](JournalSavesTest& t) {
         TCardHolder record = t.Loaded("1111111111");
         record.CardHolder = "Anna Berg";
         record.CardCustom1 = "";
         record.CardCustom3 = "Floor 2";
         ASSERT_EQ(SaveEditedCardHolder(t.Database(), record, t.Loaded("1111111111"),
                                        t.Controllers(), Clerk)
                       .Outcome,
                   TCardHolderSave::Saved);
         EXPECT_EQ(t.Loaded("1111111111").CardCustom3, "Floor 2");
     },
     [](const JournalSavesTest&) {
         return QStringList{JournalSavesTest::Line(
             "cardholder-edited", 0, "", "1111111111", "", "Anna Berg",
             "CardHolder:Anna>Anna Berg;CardCustom1:Sales>;CardCustom3:>Floor 2")};
     }},
    {"an edit that changes nothing leaves no entry",
     [](JournalSavesTest& t) {
         ASSERT_EQ(SaveEditedCardHolder(t.Database(), t.Loaded("1111111111"),
                                        t.Loaded("1111111111"), t.Controllers(), Clerk)
                       .Outcome,
                   TCardHolderSave::Saved);
     },
     [](const JournalSavesTest&) { return QStringList{}; }},
    {"the same card in other letters is an edit of the number",
     [](JournalSavesTest& t) {
         t.AddCardHolder("55AA000001", "Fay");
         t.Before = t.LastEntry();
         TCardHolder record = t.Loaded("55AA000001");
         record.CardNumber = "55aa000001";
         ASSERT_EQ(SaveEditedCardHolder(t.Database(), record, t.Loaded("55AA000001"),
                                        t.Controllers(), Clerk)
                       .Outcome,
                   TCardHolderSave::Saved);
     },
     [](const JournalSavesTest&) {
         return QStringList{JournalSavesTest::Line("cardholder-edited", 0, "", "55aa000001", "",
                                                   "Fay", "CardNumber:55AA000001>55aa000001")};
     }},
    {"a card replaced: old and new number, and the access the old card lost",
     [](JournalSavesTest& t) {
         TCardHolder record = t.Loaded("1111111111");
         record.CardNumber = "6666666666";
         record.CardCustom2 = "new badge";
         ASSERT_EQ(SaveEditedCardHolder(t.Database(), record, t.Loaded("1111111111"),
                                        t.Controllers(), Clerk)
                       .Outcome,
                   TCardHolderSave::Saved);
         EXPECT_EQ(t.Loaded("6666666666").CardHolder, "Anna");
         EXPECT_THAT(t.Zones(t.Front, "1111111111"), IsEmpty());
     },
     [](const JournalSavesTest& t) {
         return QStringList{
             JournalSavesTest::Line("card-replaced", 0, "", "6666666666", "1111111111", "Anna", ""),
             JournalSavesTest::Line("cardholder-edited", 0, "", "6666666666", "", "Anna",
                                    "CardCustom2:>new badge"),
             JournalSavesTest::Line(ZoneChanged, t.Front, "Front", "1111111111", "", "Anna",
                                    "ZoneID:1>0")};
     }},
    {"a cardholder deleted, with every access it had",
     [](JournalSavesTest& t) {
         ASSERT_EQ(
             DeleteCardHolderAndZones(t.Database(), t.Loaded("1111111111"), t.Controllers(), Clerk),
             TCardHolderDelete::Deleted);
         EXPECT_EQ(t.Count("SELECT COUNT(*) FROM CardZones WHERE CardNumber = \"1111111111\""), 0);
     },
     [](const JournalSavesTest& t) {
         // Zone 0 at Back was no access, so nothing was taken away there.
         return QStringList{
             JournalSavesTest::Line("cardholder-deleted", 0, "", "1111111111", "", "Anna", ""),
             JournalSavesTest::Line(ZoneChanged, t.Front, "Front", "1111111111", "", "Anna",
                                    "ZoneID:1>0")};
     }},
    {"a zone click from a zone",
     [](JournalSavesTest& t) {
         ASSERT_EQ(CycleCardZone(t.Database(), "1111111111", t.Front, Clerk), 2);
     },
     [](const JournalSavesTest& t) {
         return QStringList{JournalSavesTest::Line(ZoneChanged, t.Front, "Front", "1111111111", "",
                                                   "Anna", "ZoneID:1>2")};
     }},
    {"a zone click where the card had no row",
     [](JournalSavesTest& t) {
         ASSERT_EQ(CycleCardZone(t.Database(), "2222222222", t.Front, Clerk), 1);
     },
     [](const JournalSavesTest& t) {
         return QStringList{JournalSavesTest::Line(ZoneChanged, t.Front, "Front", "2222222222", "",
                                                   "Bert", "ZoneID:0>1")};
     }},
    {"a zone click back to no access",
     [](JournalSavesTest& t) {
         ASSERT_EQ(CycleCardZone(t.Database(), "2222222222", t.Back, Clerk), 0);
     },
     [](const JournalSavesTest& t) {
         return QStringList{JournalSavesTest::Line(ZoneChanged, t.Back, "Back", "2222222222", "",
                                                   "Bert", "ZoneID:2>0")};
     }},
    {"a controller added",
     [](JournalSavesTest& t) {
         const TControllerSaved saved =
             AddController(t.Database(), {"Gate", "0A0B0C", 1, 4}, 0, Clerk);
         ASSERT_TRUE(saved.Saved);
         t.Added = saved.ConID;
         EXPECT_EQ(t.Record(saved.ConID).ConName, "Gate");
     },
     [](const JournalSavesTest& t) {
         return QStringList{JournalSavesTest::Line("controller-added", t.Added, "Gate", "", "", "",
                                                   "ConName:>Gate;ConCode:>0A0B0C;ConByte1:>"
                                                   "1;ConByte2:>4")};
     }},
    {"a controller added for every cardholder: each card's grant is journaled",
     [](JournalSavesTest& t) {
         const TControllerSaved saved =
             AddController(t.Database(), {"Gate", "0A0B0C", 1, 4}, 2, Clerk);
         ASSERT_TRUE(saved.Saved);
         ASSERT_TRUE(saved.KeyOutdated);
         t.Added = saved.ConID;
         EXPECT_EQ(
             t.Count(TMyStatement("SELECT COUNT(*) FROM CardZones WHERE ConID = ?", {saved.ConID})),
             2);
     },
     [](const JournalSavesTest& t) {
         return QStringList{
             JournalSavesTest::Line("controller-added", t.Added, "Gate", "", "", "",
                                    "ConName:>Gate;ConCode:>0A0B0C;ConByte1:>1;ConByte2:>4"),
             JournalSavesTest::Line(ZoneChanged, t.Added, "Gate", "1111111111", "", "Anna",
                                    "ZoneID:0>2"),
             JournalSavesTest::Line(ZoneChanged, t.Added, "Gate", "2222222222", "", "Bert",
                                    "ZoneID:0>2")};
     }},
    {"a controller edited: only the fields that changed",
     [](JournalSavesTest& t) {
         TStandController record = t.Record(t.Front);
         ASSERT_TRUE(
             UpdateController(t.Database(), record, {"Front door", "A1B2C3", 3, 4}, Clerk).Saved);
     },
     [](const JournalSavesTest& t) {
         return QStringList{JournalSavesTest::Line("controller-edited", t.Front, "Front door", "",
                                                   "", "",
                                                   "ConName:Front>Front door;ConByte1:2>3")};
     }},
    {"a controller saved unchanged leaves no entry",
     [](JournalSavesTest& t) {
         TStandController record = t.Record(t.Front);
         ASSERT_TRUE(
             UpdateController(t.Database(), record, {"Front", "A1B2C3", 2, 4}, Clerk).Saved);
     },
     [](const JournalSavesTest&) { return QStringList{}; }},
    {"a controller deleted, with what it was",
     [](JournalSavesTest& t) {
         ASSERT_EQ(DeleteController(t.Database(), t.Back, Clerk), TControllerDelete::Deleted);
         EXPECT_EQ(t.Count("SELECT COUNT(*) FROM Controllers"), 1);
     },
     [](const JournalSavesTest& t) {
         return QStringList{
             JournalSavesTest::Line("controller-deleted", t.Back, "Back", "", "", "",
                                    "ConName:Back>;ConCode:D4E5F6>;ConByte1:2>;ConByte2:4>")};
     }},
    {"a key written and verified",
     [](JournalSavesTest& t) {
         ASSERT_TRUE(StoreMarks(*t.Database().Inner, {t.Front}));
         ASSERT_EQ(t.WriteFrontKey(), TMarkClear::Cleared);
         EXPECT_THAT(StoredMarks(t.Database().Inner.get()), IsEmpty());
     },
     [](const JournalSavesTest& t) {
         return QStringList{JournalSavesTest::Line("key-written", t.Front, "Front", "", "", "",
                                                   "CRC8:>" + t.WrittenCrc.toUpper() +
                                                       ";Zone1Cards:>1;Zone2Cards:>0")};
     }},
    {"a key written while a change came: journaled as out of date, the mark stays",
     [](JournalSavesTest& t) {
         ASSERT_TRUE(StoreMarks(*t.Database().Inner, {t.Front}));
         ASSERT_EQ(t.WriteFrontKey([&t] {
             ASSERT_EQ(CycleCardZone(*t.Database().Inner, "2222222222", t.Front, Clerk), 1);
         }),
                   TMarkClear::ChangedSince);
         EXPECT_THAT(StoredMarks(t.Database().Inner.get()), ElementsAre(t.Front));
     },
     [](const JournalSavesTest& t) {
         return QStringList{
             JournalSavesTest::Line(ZoneChanged, t.Front, "Front", "2222222222", "", "Bert",
                                    "ZoneID:0>1"),
             JournalSavesTest::Line("key-written", t.Front, "Front", "", "", "",
                                    "CRC8:>" + t.WrittenCrc.toUpper() +
                                        ";Zone1Cards:>1;Zone2Cards:>0;OutOfDate:>1")};
     }},
};

TEST_P(JournalSavesTest, EverySavePathWritesExactlyItsEntries) {
    for (const TSaveCase& c : SaveCases) {
        SCOPED_TRACE(c.Name);
        TearDown();
        SetUp();
        ASSERT_FALSE(HasFatalFailure());
        c.Change(*this);
        if (HasFatalFailure())
            return;
        EXPECT_THAT(NewEntries(), ElementsAreArray(c.Entries(*this)));
    }
}

// Whichever statement of a change fails, the entry sent before it or the change's own statements
// before the entry, the change rolls back whole: no records changed, no entry.
struct TRollbackCase {
    const char* Name;
    const char* Failing;                           // the statement made to fail
    std::function<void(JournalSavesTest&)> Change; // checks the outcome says so
};

const TRollbackCase RollbackCases[] = {
    {"a new cardholder whose entry is refused", "INSERT INTO Journal",
     [](JournalSavesTest& t) {
         EXPECT_EQ(SaveNewCardHolder(t.Database(), t.Holder("4444444444", "Dirk"), std::nullopt,
                                     t.Controllers(), Clerk)
                       .Outcome,
                   TCardHolderSave::Failed);
     }},
    {"a replacing cardholder whose mark fails after the entries were sent",
     "INSERT INTO PendingChanges",
     [](JournalSavesTest& t) {
         // Anna is still there afterwards, so the operator hears that the number is taken.
         EXPECT_EQ(SaveNewCardHolder(t.Database(), t.Holder("1111111111", "Carla"),
                                     t.Loaded("1111111111"), t.Controllers(), Clerk)
                       .Outcome,
                   TCardHolderSave::NumberTaken);
     }},
    {"an edit whose entry is refused", "INSERT INTO Journal",
     [](JournalSavesTest& t) {
         TCardHolder record = t.Loaded("1111111111");
         record.CardHolder = "Anna Berg";
         EXPECT_EQ(SaveEditedCardHolder(t.Database(), record, t.Loaded("1111111111"),
                                        t.Controllers(), Clerk)
                       .Outcome,
                   TCardHolderSave::Failed);
     }},
    {"a replacement whose mark fails after the entries were sent", "INSERT INTO PendingChanges",
     [](JournalSavesTest& t) {
         TCardHolder record = t.Loaded("1111111111");
         record.CardNumber = "6666666666";
         EXPECT_EQ(SaveEditedCardHolder(t.Database(), record, t.Loaded("1111111111"),
                                        t.Controllers(), Clerk)
                       .Outcome,
                   TCardHolderSave::Failed);
     }},
    {"a deletion whose entry is refused", "INSERT INTO Journal",
     [](JournalSavesTest& t) {
         EXPECT_EQ(
             DeleteCardHolderAndZones(t.Database(), t.Loaded("1111111111"), t.Controllers(), Clerk),
             TCardHolderDelete::Failed);
     }},
    {"a deletion whose mark fails after the entries were sent", "INSERT INTO PendingChanges",
     [](JournalSavesTest& t) {
         EXPECT_EQ(
             DeleteCardHolderAndZones(t.Database(), t.Loaded("1111111111"), t.Controllers(), Clerk),
             TCardHolderDelete::Failed);
     }},
    {"a zone click whose entry is refused", "INSERT INTO Journal",
     [](JournalSavesTest& t) {
         EXPECT_EQ(CycleCardZone(t.Database(), "1111111111", t.Front, Clerk), ZoneFailed);
     }},
    {"a zone click whose mark fails after the entry was sent", "INSERT INTO PendingChanges",
     [](JournalSavesTest& t) {
         EXPECT_EQ(CycleCardZone(t.Database(), "1111111111", t.Front, Clerk), ZoneFailed);
     }},
    {"a controller deletion whose entry is refused", "INSERT INTO Journal",
     [](JournalSavesTest& t) {
         EXPECT_EQ(DeleteController(t.Database(), t.Back, Clerk), TControllerDelete::Failed);
     }},
    {"a controller edit whose mark fails after the entry was sent", "INSERT INTO PendingChanges",
     [](JournalSavesTest& t) {
         TStandController record = t.Record(t.Front);
         EXPECT_FALSE(
             UpdateController(t.Database(), record, {"Front", "0A0B0C", 2, 4}, Clerk).Saved);
     }},
    {"a new controller whose entry is refused", "INSERT INTO Journal",
     [](JournalSavesTest& t) {
         EXPECT_FALSE(AddController(t.Database(), {"Gate", "0A0B0C", 1, 4}, 1, Clerk).Saved);
     }},
    {"a verified key write whose entry is refused: the mark stays", "INSERT INTO Journal",
     [](JournalSavesTest& t) { EXPECT_EQ(t.WriteFrontKey(), TMarkClear::Failed); }},
};

TEST_P(JournalSavesTest, AChangeThatFailsLeavesNeitherItsRecordsNorItsEntries) {
    for (const TRollbackCase& c : RollbackCases) {
        SCOPED_TRACE(c.Name);
        TearDown();
        SetUp();
        ASSERT_FALSE(HasFatalFailure());
        // A key to write: Front is marked, as after a change.
        ASSERT_TRUE(StoreMarks(*Database().Inner, {Front}));
        const std::vector<QStringList> before = Records();
        Database().FailWhenContaining = c.Failing;
        c.Change(*this);
        Database().FailWhenContaining.clear();
        EXPECT_FALSE(Database().Sent(c.Failing).isEmpty()) << "the failing statement was not sent";
        EXPECT_EQ(Records(), before);
        EXPECT_THAT(NewEntries(), IsEmpty());
    }
}

// A grant to all whose entries are refused adds the controller (with its own entry) but grants
// nothing: no card has access that its history would not show.
TEST_P(JournalSavesTest, AGrantWhoseEntriesAreRefusedGrantsNothing) {
    Database().FailWhenContaining = "SELECT ?, ?, ?, ?, CardZones.ConID";
    const TControllerSaved saved = ::AddController(Database(), {"Gate", "0A0B0C", 1, 4}, 1, Clerk);
    Database().FailWhenContaining.clear();
    ASSERT_TRUE(saved.Saved);
    EXPECT_FALSE(saved.KeyOutdated);
    EXPECT_EQ(Count(TMyStatement("SELECT COUNT(*) FROM CardZones WHERE ConID = ?", {saved.ConID})),
              0);
    EXPECT_THAT(StoredMarks(Database().Inner.get()), IsEmpty());
    EXPECT_THAT(NewEntries(),
                ElementsAre(Line("controller-added", saved.ConID, "Gate", "", "", "",
                                 "ConName:>Gate;ConCode:>0A0B0C;ConByte1:>1;ConByte2:>4")));
}

// A holder's history follows their card through its replacements.
TEST_P(JournalSavesTest, AHolderHistoryFollowsTheirCardsThroughReplacements) {
    TCardHolder record = Loaded("1111111111");
    record.CardNumber = "6666666666";
    ASSERT_EQ(SaveEditedCardHolder(Database(), record, Loaded("1111111111"), Controllers(), Clerk)
                  .Outcome,
              TCardHolderSave::Saved);
    ASSERT_EQ(CycleCardZone(Database(), "6666666666", Front, Clerk), 1);
    record = Loaded("6666666666");
    record.CardNumber = "7777777777";
    ASSERT_EQ(SaveEditedCardHolder(Database(), record, Loaded("6666666666"), Controllers(), Clerk)
                  .Outcome,
              TCardHolderSave::Saved);
    TJournalFilter filter;
    filter.CardNumber = "7777777777";
    const std::optional<QList<TJournalEntry>> history = ReadJournal(*Database().Inner, filter, 0);
    ASSERT_TRUE(history);
    QStringList seen;
    for (const TJournalEntry& entry : *history)
        seen << JournalActionCode(entry.Action) + " " + entry.CardNumber;
    EXPECT_THAT(seen, ElementsAre("zone-changed 6666666666", "card-replaced 7777777777",
                                  "zone-changed 6666666666", "zone-changed 1111111111",
                                  "card-replaced 6666666666"));
}

INSTANTIATE_TEST_SUITE_P(Engines, JournalSavesTest, ::testing::ValuesIn(BothEngines),
                         EngineCaseName);

} // namespace
