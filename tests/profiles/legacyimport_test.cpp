#include "profiles/legacyimport.h"

#include "db/MySQLite.h"
#include "journal/journal.h"
#include "profiles/legacyrecords.h"
#include "shared/errors.h"

#include "hostiletext.h"
#include "legacyfiles.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlDriver>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

// A folder holding the older software's two files and a fresh copy of the template database.
class LegacyImportTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Folder.isValid());
        Autonoom = Folder.filePath("autonoom.bst");
        Asleutel = Folder.filePath("asleutel.bst");
        Database = Folder.filePath("site.accdb");
        ASSERT_TRUE(
            QFile::copy(QCoreApplication::applicationDirPath() + "/default.accdb", Database));
        QFile::setPermissions(Database, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }

    void WriteControllers(const QByteArray& content) {
        ASSERT_TRUE(WriteLegacyFile(Autonoom, content));
    }
    void WriteCards(const QByteArray& content) { ASSERT_TRUE(WriteLegacyFile(Asleutel, content)); }

    // Every row of a query, fields joined by "|".
    QStringList Rows(const QString& sql) {
        TMySQLite db;
        db.ConnectionString = JetConnectionString(Database);
        EXPECT_TRUE(db.Connect()) << db.GetLastError().toStdString();
        QStringList rows;
        if (const std::unique_ptr<TMyResultSet> result = db.Query(sql)) {
            for (result->First(); !result->Eof(); result->Next()) {
                QStringList fields;
                for (int i = 0; i < result->FieldCount(); ++i)
                    fields << result->Fields(i).AsString();
                rows << fields.join('|');
            }
        } else {
            rows << "error: " + db.GetLastError();
        }
        return rows;
    }

    int Count(const QString& table) { return Rows("SELECT COUNT(*) FROM " + table)[0].toInt(); }

    void ExpectUntouched() {
        EXPECT_EQ(Count("Controllers"), 0);
        EXPECT_EQ(Count("CardHolders"), 0);
        EXPECT_EQ(Count("CardZones"), 0);
        EXPECT_EQ(Count("Journal"), 0);
    }

    // The journal's entries, newest first.
    QList<TJournalEntry> Journal() {
        TMySQLite db;
        db.ConnectionString = JetConnectionString(Database);
        EXPECT_TRUE(db.Connect()) << db.GetLastError().toStdString();
        const std::optional<QList<TJournalEntry>> entries = ReadJournal(db, {}, 0);
        EXPECT_TRUE(entries) << db.GetLastError().toStdString();
        return entries.value_or(QList<TJournalEntry>());
    }

    // The message of the failed import, or "" when it did not fail.
    QString FailureOf(const TLegacyImportProgress& progress = {}) {
        try {
            ImportLegacyFiles(Autonoom, Database, progress);
        } catch (const VyrError& error) {
            return error.Message();
        }
        return {};
    }

    QTemporaryDir Folder;
    QString Autonoom;
    QString Asleutel;
    QString Database;
};

TEST_F(LegacyImportTest, BringsControllersCardholdersAndZonesOver) {
    WriteControllers(ControllerRecord("A1B2C3", "Front door", 2, 4) +
                     ControllerRecord("12345", "Broken code") + // record 2: skipped
                     ControllerRecord("FFEEDD", "Back \"door\" 'B'", 30, 255));
    WriteCards(
        CardRecord("01A2B3C4D5", "O\"Brien, Jos\xe9", "d'Arc", "x\x01y", {{1, 1}, {2, 1}, {3, 2}}) +
        CardRecord("", "No card", {}, {}, {{1, 1}}) +
        CardRecord("0000000000", "No card either", {}, {}, {{1, 1}}) +
        CardRecord("0000000002", "Both flags", {}, {}, {{1, 3}, {3, 3}, {4, 1}, {128, 2}}));
    std::vector<std::pair<qint64, qint64>> progress;
    const TLegacyImportSummary summary = ImportLegacyFiles(
        Autonoom, Database, [&](qint64 done, qint64 total) { progress.emplace_back(done, total); });

    EXPECT_THAT(
        Rows("SELECT ConType, ConName, ConCode, ConByte1, ConByte2 FROM Controllers "
             "ORDER BY ConID"),
        ElementsAre("VYR292|Front door|A1B2C3|2|4", "VYR292|Back \"door\" 'B'|FFEEDD|30|255"));
    EXPECT_THAT(Rows("SELECT CardNumber, CardHolder, CardCustom1, CardCustom2, CardCustom3, "
                     "CardCustom4, Deleted, CardAdded IS NOT NULL, CardLastEdit IS NOT NULL "
                     "FROM CardHolders ORDER BY CardNumber"),
                ElementsAre("0000000002|Both flags|||||0|1|1",
                            "01A2B3C4D5|O\"Brien, Jos" + QString(QChar(0xe9)) + "|d'Arc|x" +
                                QChar(1) + "y|||0|1|1"));
    // Position 2 is record 2, which holds no controller; positions 4 and 128 have no record.
    EXPECT_THAT(Rows("SELECT c.ConCode, z.CardNumber, z.ZoneID FROM CardZones z JOIN Controllers "
                     "c ON c.ConID = z.ConID ORDER BY z.CardNumber, c.ConCode"),
                ElementsAre("A1B2C3|0000000002|1", "FFEEDD|0000000002|1", "A1B2C3|01A2B3C4D5|1",
                            "FFEEDD|01A2B3C4D5|2"));

    EXPECT_EQ(summary.ControllersImported, 2);
    EXPECT_EQ(summary.ControllersSkipped, 1);
    EXPECT_EQ(summary.CardholdersImported, 2);
    EXPECT_EQ(summary.CardRecordsSkipped, 2);
    EXPECT_EQ(summary.CardRecordsReplaced, 0);
    EXPECT_EQ(summary.ZoneRowsWritten, 4);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), std::make_pair(qint64(4), qint64(4)));
}

TEST_F(LegacyImportTest, ARepeatedCardNumberKeepsTheLaterRecordWithItsZones) {
    WriteControllers(ControllerRecord("000001", "One") + ControllerRecord("000002", "Two") +
                     ControllerRecord("000003", "Three"));
    // The database tells card numbers apart without regard to ASCII case, so "0a" repeats "0A".
    WriteCards(CardRecord("0A00000001", "First", "old", {}, {{1, 1}, {2, 2}}) +
               CardRecord("0000000009", "Other", {}, {}, {{1, 2}}) +
               CardRecord("0a00000001", "Second", "new", {}, {{3, 1}}) +
               CardRecord("0A00000001", "Third", "newest", {}, {{2, 1}, {3, 2}}));
    const TLegacyImportSummary summary = ImportLegacyFiles(Autonoom, Database);

    EXPECT_THAT(Rows("SELECT CardNumber, CardHolder, CardCustom1 FROM CardHolders ORDER BY "
                     "CardNumber"),
                ElementsAre("0000000009|Other|", "0A00000001|Third|newest"));
    EXPECT_THAT(Rows("SELECT c.ConName, z.CardNumber, z.ZoneID FROM CardZones z JOIN Controllers "
                     "c ON c.ConID = z.ConID ORDER BY z.CardNumber, c.ConID"),
                ElementsAre("One|0000000009|2", "Two|0A00000001|1", "Three|0A00000001|2"));
    EXPECT_EQ(summary.CardholdersImported, 2);
    EXPECT_EQ(summary.CardRecordsReplaced, 2);
    EXPECT_EQ(summary.ZoneRowsWritten, 3);
    EXPECT_THAT(LegacyImportSummaryText(summary).toStdString(), HasSubstr("last record was kept"));
}

// One entry tells where the site's first records came from, signed by the desktop user; also an
// import that found nothing to bring says so.
TEST_F(LegacyImportTest, TheImportLeavesOneJournalEntryWithItsSummary) {
    const TJournalAuthor me = CurrentJournalAuthor();
    struct {
        const char* Name;
        QByteArray Controllers;
        QList<TJournalChange> Summary;
    } cases[] = {
        {"records",
         ControllerRecord("000001", "One") + ControllerRecord("12345", "Broken") +
             ControllerRecord("000003", "Three"),
         {{"CardHolders", "", "2"},
          {"Controllers", "", "2"},
          {"Zones", "", "3"},
          {"ControllersSkipped", "", "1"},
          {"CardRecordsSkipped", "", "1"},
          {"CardRecordsReplaced", "", "1"}}},
        {"no controller",
         ControllerRecord("12345", "Broken"),
         {{"CardHolders", "", "0"},
          {"Controllers", "", "0"},
          {"Zones", "", "0"},
          {"ControllersSkipped", "", "1"},
          {"CardRecordsSkipped", "", "0"},
          {"CardRecordsReplaced", "", "0"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        QFile::remove(Database);
        SetUp();
        WriteControllers(c.Controllers);
        WriteCards(CardRecord("0A00000001", "First", {}, {}, {{1, 1}}) +
                   CardRecord("", "No card", {}, {}, {{1, 1}}) +
                   CardRecord("0000000009", "Other", {}, {}, {{1, 2}, {3, 1}}) +
                   CardRecord("0a00000001", "Again", {}, {}, {{3, 2}}));
        ImportLegacyFiles(Autonoom, Database);
        const QList<TJournalEntry> entries = Journal();
        ASSERT_EQ(entries.size(), 1);
        EXPECT_EQ(entries[0].Action, TJournalAction::LegacyImport);
        EXPECT_EQ(entries[0].Operator, me.Operator);
        EXPECT_EQ(entries[0].Workstation, me.Workstation);
        EXPECT_EQ(entries[0].ConID, 0);
        EXPECT_EQ(entries[0].CardNumber, "");
        EXPECT_EQ(entries[0].Changes, c.Summary);
    }
}

TEST_F(LegacyImportTest, ManyCardsFillWholeStatementsAndTheRest) {
    // More cards and zone rows than one statement carries, so full and partial batches both run.
    QByteArray controllers;
    for (int i = 1; i <= 128; ++i)
        controllers +=
            ControllerRecord(QByteArray::number(100000 + i), "C" + QByteArray::number(i));
    WriteControllers(controllers);
    QByteArray cards;
    const int cardCount = 1203;
    for (int i = 0; i < cardCount; ++i) {
        TZoneFlags zones;
        for (int p = 1 + i % 5; p <= 128; p += 5)
            zones.emplace_back(p, 1 + i % 2);
        cards += CardRecord(QByteArray::number(i + 1).rightJustified(10, '0'), "H", {}, {}, zones);
    }
    WriteCards(cards);
    const TLegacyImportSummary summary = ImportLegacyFiles(Autonoom, Database);
    EXPECT_EQ(Count("CardHolders"), cardCount);
    EXPECT_EQ(Count("CardZones"), summary.ZoneRowsWritten);
    EXPECT_GT(summary.ZoneRowsWritten, 25 * cardCount);
    // The last card (i = 1202) has zone 1 at positions 3, 8, ... 128.
    EXPECT_EQ(Rows("SELECT COUNT(*) FROM CardZones WHERE CardNumber = \"0000001203\" AND ZoneID "
                   "= 1")[0],
              "26");
}

TEST_F(LegacyImportTest, AnEngineThatTakesFewValuesPerStatementGetsSmallerStatements) {
    QByteArray controllers;
    for (int i = 1; i <= 4; ++i)
        controllers +=
            ControllerRecord(QByteArray::number(100000 + i), "C" + QByteArray::number(i));
    WriteControllers(controllers);
    QByteArray cards;
    for (int i = 1; i <= 7; ++i)
        cards += CardRecord(QByteArray::number(i).rightJustified(10, '0'),
                            "H" + QByteArray::number(i), {}, {}, {{1, 1}, {2, 2}, {4, 1}});
    WriteCards(cards);

    TMySQLite db;
    db.ConnectionString = JetConnectionString(Database);
    ASSERT_TRUE(db.Connect()) << db.GetLastError().toStdString();
    // Room for two card rows (4 values each) or three zone rows (3 each) per statement.
    sqlite3* handle = *static_cast<sqlite3* const*>(db.SQLiteConnection.driver()->handle().data());
    sqlite3_limit(handle, SQLITE_LIMIT_VARIABLE_NUMBER, 10);
    ASSERT_EQ(db.MaxBoundValues(), 10);
    const auto autonoom = TLegacyRecordReader::OpenFile(Autonoom, ControllerRecordSize);
    const TLegacyImportSummary summary = ImportLegacyRecords(
        db, *autonoom, [&] { return TLegacyRecordReader::OpenFile(Asleutel, CardRecordSize); },
        TJournalAuthor{"importer", "desk"});
    db.Disconnect();

    EXPECT_EQ(summary.CardholdersImported, 7);
    EXPECT_EQ(summary.ZoneRowsWritten, 21);
    EXPECT_EQ(Count("CardHolders"), 7);
    EXPECT_EQ(Count("CardZones"), 21);
    EXPECT_THAT(Rows("SELECT CardHolder FROM CardHolders WHERE CardNumber = \"0000000007\""),
                ElementsAre("H7"));
}

TEST_F(LegacyImportTest, HostileTextsTheOlderFilesCanHoldArriveUnchanged) {
    // What a field of the older files can carry: Latin-1, no 0 byte, nothing at or below the blank
    // at either end (those are trimmed), within the field's size.
    auto fits = [](const QString& text, qsizetype size) {
        const QByteArray bytes = text.toLatin1();
        return QString::fromLatin1(bytes) == text && bytes.size() <= size &&
               !bytes.contains('\0') && BytesToText(bytes) == text;
    };
    QByteArray cards;
    QStringList expected;
    int serial = 0;
    for (const QString& text : HostileTexts()) {
        if (!fits(text, 30))
            continue;
        ++serial;
        // The number is the text itself where it can be one, so it is also a key that must match.
        const QString number = fits(text, 10) && !text.isEmpty() && text != "0000000000"
                                   ? text
                                   : QString::number(serial).rightJustified(10, u'0');
        const QString custom2 = fits(text, 10) ? text : QString();
        cards += CardRecord(number.toLatin1(), text.toLatin1(), text.toLatin1(), custom2.toLatin1(),
                            {{1, 2}});
        expected << number + "|" + text + "|" + text + "|" + custom2 + "|" + number;
    }
    ASSERT_GT(serial, 15);
    QByteArray controllers;
    QStringList names;
    for (const QString& text : HostileTexts()) {
        if (fits(text, 20) && !text.isEmpty()) {
            controllers += ControllerRecord("ABCDEF", text.toLatin1());
            names << text;
        }
    }
    WriteControllers(controllers);
    WriteCards(cards);
    ImportLegacyFiles(Autonoom, Database);

    QStringList stored =
        Rows("SELECT h.CardNumber, h.CardHolder, h.CardCustom1, h.CardCustom2, z.CardNumber FROM "
             "CardHolders h JOIN CardZones z ON z.CardNumber = h.CardNumber");
    stored.sort();
    expected.sort();
    EXPECT_EQ(stored, expected);
    EXPECT_EQ(Rows("SELECT ConName FROM Controllers ORDER BY ConID"), names);
}

struct SizeCase {
    const char* what;
    QByteArray controllers;
    std::optional<QByteArray> cards; // nullopt: asleutel.bst does not exist
    int controllersImported;
    int cardholdersImported;
};

class LegacyFileSizeTest : public LegacyImportTest,
                           public ::testing::WithParamInterface<SizeCase> {};

TEST_P(LegacyFileSizeTest, OnlyWholeRecordsAreRead) {
    WriteControllers(GetParam().controllers);
    if (GetParam().cards)
        WriteCards(*GetParam().cards);
    const TLegacyImportSummary summary = ImportLegacyFiles(Autonoom, Database);
    EXPECT_EQ(summary.ControllersImported, GetParam().controllersImported);
    EXPECT_EQ(summary.CardholdersImported, GetParam().cardholdersImported);
    EXPECT_EQ(Count("Controllers"), GetParam().controllersImported);
    EXPECT_EQ(Count("CardHolders"), GetParam().cardholdersImported);
}

const QByteArray OneController = ControllerRecord("ABCDEF", "Door");
const QByteArray OneCard = CardRecord("1234567890", "Holder", {}, {}, {{1, 1}});

INSTANTIATE_TEST_SUITE_P(
    Sizes, LegacyFileSizeTest,
    ::testing::Values(
        // Without a controller the card file is not needed at all.
        SizeCase{"empty controllers, no card file", {}, std::nullopt, 0, 0},
        SizeCase{"short controllers, no card file", OneController.left(127), std::nullopt, 0, 0},
        SizeCase{"controller records without codes", QByteArray(3 * 128, ' '), std::nullopt, 0, 0},
        SizeCase{"controllers with a tail", OneController + OneController.left(100), OneCard, 1, 1},
        SizeCase{"empty card file", OneController, QByteArray(), 1, 0},
        SizeCase{"short card file", OneController, OneCard.left(511), 1, 0},
        SizeCase{"cards with a tail", OneController,
                 OneCard + CardRecord("2", "Two") + OneCard.left(300), 1, 2}),
    [](const auto& info) {
        std::string name = info.param.what;
        for (char& c : name)
            if (!isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

// Makes file permissions count for the duration, also for root (who reads anything otherwise).
class AsAnotherUser {
public:
    AsAnotherUser() {
        if (geteuid() == 0)
            FOld = setfsuid(65534);
    }
    ~AsAnotherUser() {
        if (FOld >= 0)
            setfsuid(uid_t(FOld));
    }

private:
    int FOld = -1;
};

TEST_F(LegacyImportTest, FilesThatCannotBeReadFailNamingTheFile) {
    WriteControllers(OneController);
    WriteCards(OneCard);

    // Missing card file: the controllers were found, so the whole import fails.
    QFile::remove(Asleutel);
    EXPECT_THAT(FailureOf().toStdString(), HasSubstr(Asleutel.toStdString()));
    ExpectUntouched();

    // A folder where a file should be.
    QDir().mkdir(Asleutel);
    EXPECT_THAT(FailureOf().toStdString(), HasSubstr(Asleutel.toStdString() + " is not a file"));
    ExpectUntouched();
    QDir().rmdir(Asleutel);
    // A named pipe would block the open for ever if it were opened.
    ASSERT_EQ(mkfifo(QFile::encodeName(Asleutel).constData(), 0600), 0);
    EXPECT_THAT(FailureOf().toStdString(), HasSubstr(Asleutel.toStdString() + " is not a file"));
    ExpectUntouched();
    QFile::remove(Asleutel);
    WriteCards(OneCard);

    QFile::remove(Autonoom);
    QDir().mkdir(Autonoom);
    EXPECT_THAT(FailureOf().toStdString(), HasSubstr(Autonoom.toStdString() + " is not a file"));
    QDir().rmdir(Autonoom);

    // Unreadable: read-only is fine (nothing is written to these files), no permission is not.
    WriteControllers(OneController);
    QFile::setPermissions(Autonoom, QFileDevice::ReadOwner);
    EXPECT_EQ(FailureOf(), "");
    EXPECT_EQ(Count("Controllers"), 1);
    QFile::setPermissions(Autonoom, {});
    QString failure;
    {
        AsAnotherUser other;
        failure = FailureOf();
    }
    EXPECT_THAT(failure.toStdString(), HasSubstr(Autonoom.toStdString()));
    EXPECT_THAT(failure.toStdString(), HasSubstr("could not be opened"));

    // The wizard sends what the operator chose, which may be nothing.
    Autonoom.clear();
    EXPECT_THAT(FailureOf().toStdString(), HasSubstr("No file of the older software"));
}

TEST_F(LegacyImportTest, TheCardFileIsFoundInAnyCase) {
    WriteControllers(OneController);
    ASSERT_TRUE(WriteLegacyFile(Folder.filePath("ASLEUTEL.BST"), OneCard));
    EXPECT_EQ(ImportLegacyFiles(Autonoom, Database).CardholdersImported, 1);
}

TEST_F(LegacyImportTest, AStatementTheDatabaseRefusesUndoesEverything) {
    // A trigger stands for any refusal of the engine (a full disk, a damaged file, a constraint).
    {
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(Database.toUtf8().constData(), &raw), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(raw,
                               "CREATE TRIGGER refuse BEFORE INSERT ON CardZones WHEN "
                               "NEW.CardNumber = '0000000666' BEGIN SELECT RAISE(ABORT, "
                               "'no room for the devil'); END",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(raw);
    }
    WriteControllers(OneController + ControllerRecord("ABCDE0", "Second"));
    WriteCards(OneCard + CardRecord("0000000666", "Refused", {}, {}, {{2, 2}}));
    const QString failure = FailureOf();
    EXPECT_THAT(failure.toStdString(), HasSubstr("no room for the devil"));
    EXPECT_THAT(failure.toStdString(), HasSubstr("zones"));
    ExpectUntouched();
}

TEST_F(LegacyImportTest, ADatabaseThatCannotBeOpenedFailsBeforeAnything) {
    WriteControllers(OneController);
    WriteCards(OneCard);
    QFile::remove(Database);
    EXPECT_THAT(FailureOf().toStdString(), HasSubstr(Database.toStdString()));
    EXPECT_FALSE(QFile::exists(Database)); // nothing created where nothing was
}

// A device that fails after a number of bytes, as a disk with a bad sector does.
class FailingDevice : public QIODevice {
public:
    FailingDevice(qint64 size, qint64 failAt) : FSize(size), FFailAt(failAt) {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    qint64 size() const override { return FSize; }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        if (pos() >= FFailAt) {
            setErrorString("Input/output error");
            return -1;
        }
        const qint64 n = std::min({maxSize, FFailAt - pos(), FSize - pos()});
        std::memset(data, 'A', size_t(n));
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    qint64 FSize;
    qint64 FFailAt;
};

TEST_F(LegacyImportTest, AReadErrorEndsTheImportWithTheDevicesReason) {
    TMySQLite db;
    db.ConnectionString = JetConnectionString(Database);
    ASSERT_TRUE(db.Connect());
    ASSERT_TRUE(db.StartTransaction());
    TLegacyRecordReader controllers(std::make_unique<FailingDevice>(128 * 1000, 128 * 1000 + 1),
                                    "autonoom.bst", ControllerRecordSize);
    try {
        // 1000 records of "AAAAAA" codes; the card file fails inside its third chunk of records.
        ImportLegacyRecords(
            db, controllers,
            [] {
                return std::make_unique<TLegacyRecordReader>(
                    std::make_unique<FailingDevice>(512 * 1000, 512 * 300), "asleutel.bst",
                    CardRecordSize);
            },
            TJournalAuthor{"importer", "desk"});
        ADD_FAILURE() << "the read error was not reported";
    } catch (const VyrError& error) {
        EXPECT_THAT(error.Message().toStdString(), HasSubstr("asleutel.bst"));
        EXPECT_THAT(error.Message().toStdString(), HasSubstr("Input/output error"));
    }
    db.RollbackTransaction();
    db.Disconnect();
    ExpectUntouched();
}

long PeakResidentKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST_F(LegacyImportTest, OneHundredMegabytesOfNoiseImportWithBoundedMemory) {
    WriteControllers(OneController + ControllerRecord("BBBBBB", "Two"));
    const qint64 size = 100 * 1024 * 1024 + 77; // and a tail that is no record
    ASSERT_TRUE(WriteRandomFile(Asleutel, size, 9));
    const long peakBefore = PeakResidentKilobytes();
    const TLegacyImportSummary summary = ImportLegacyFiles(Autonoom, Database);
    const long growth = PeakResidentKilobytes() - peakBefore;

    // Noise is taken for what it says: nearly every record has some card number. Each record is
    // accounted for exactly once, and the database agrees with the summary.
    const qint64 records = size / 512;
    EXPECT_EQ(summary.CardholdersImported + summary.CardRecordsSkipped +
                  summary.CardRecordsReplaced,
              records);
    EXPECT_GT(summary.CardholdersImported, records * 9 / 10);
    EXPECT_EQ(Count("CardHolders"), summary.CardholdersImported);
    EXPECT_EQ(Count("CardZones"), summary.ZoneRowsWritten);
    // The file is streamed: far less memory than the file's size comes and goes.
#ifndef __SANITIZE_ADDRESS__
    // AddressSanitizer holds freed memory back in its quarantine, so the peak says nothing there.
    EXPECT_LT(growth, 48 * 1024) << "peak grew by " << growth << " kB";
#else
    (void)growth;
#endif
}

} // namespace
