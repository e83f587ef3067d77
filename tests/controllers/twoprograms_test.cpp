// Two programs on one site, as two processes: the site driver (sitedriver.cpp) is the other
// program, working through the same save units on the same file or server database.

#include "cardholders/cardholdersave.h"
#include "controllers/controllerrecords.h"
#include "controllers/keysource.h"
#include "controllers/pendingchanges.h"
#include "journal/journal.h"
#include "shared/datadir.h"

#include "profiledb.h"
#include "sitedriver.h"
#include "testenv.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::IsEmpty;

namespace {

class TwoProgramsTest : public EngineProfileDbTest {
protected:
    QTemporaryDir ShmFolder{QStringLiteral("/dev/shm/vyr-site-XXXXXX")};

    // Starts the driver on this site.
    std::unique_ptr<QProcess> StartDriver(const QStringList& arguments) const {
        auto driver = std::make_unique<QProcess>();
        driver->setProgram(ProgramDirectory() + "/vyr-sitedriver");
        driver->setArguments(
            QStringList{Engine() == TEngine::PostgreSQL ? "server" : "sqlite",
                        Engine() == TEngine::PostgreSQL ? ServerConnection : DatabaseFile} +
            arguments);
        driver->start();
        return driver;
    }
    // Waits for it; its errors go into the failure message.
    static void Finish(QProcess& driver) {
        ASSERT_TRUE(driver.waitForFinished(240000)) << "the driver did not finish";
        EXPECT_EQ(driver.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(driver.exitCode(), 0) << driver.readAllStandardError().toStdString();
    }

    // What each controller's key would hold now, read straight from the tables.
    std::map<int32_t, QString> ExpectedKeys() const {
        std::map<int32_t, QString> keys;
        for (const QStringList& row : Rows("SELECT ConID, ConCode, ConByte1, ConByte2 FROM "
                                           "Controllers")) {
            TKeyImageInput input;
            input.ConCode = row[1];
            input.ConByte1 = uint8_t(row[2].toInt());
            input.ConByte2 = uint8_t(row[3].toInt());
            input.Zone1Cards = Column(
                TMyStatement("SELECT CardNumber FROM CardZones WHERE (ConID = ?) AND (ZoneID = 1)",
                             {row[0].toInt()}));
            input.Zone2Cards = Column(
                TMyStatement("SELECT CardNumber FROM CardZones WHERE (ConID = ?) AND (ZoneID = 2)",
                             {row[0].toInt()}));
            keys[row[0].toInt()] = KeyWriteText(input);
        }
        return keys;
    }

    // The site as its journal tells it, replayed from the first entry: the live cardholders by
    // card and the zones above 0 by controller and card.
    struct TSiteState {
        std::map<QString, QString> Holders;
        std::map<std::pair<int32_t, QString>, QString> Zones;
        friend bool operator==(const TSiteState&, const TSiteState&) = default;
    };
    TSiteState Replayed() const {
        const std::optional<QList<TJournalEntry>> entries = ReadJournal(*Database().Inner, {}, 0);
        EXPECT_TRUE(entries);
        TSiteState site;
        const QList<TJournalEntry> newestFirst = entries.value_or(QList<TJournalEntry>());
        for (auto entry = newestFirst.rbegin(); entry != newestFirst.rend(); ++entry) {
            const QString card = entry->CardNumber.toUpper();
            switch (entry->Action) {
            case TJournalAction::CardHolderAdded:
                site.Holders[card] = entry->CardHolder;
                break;
            case TJournalAction::CardHolderEdited:
                for (const TJournalChange& change : entry->Changes)
                    if (change.Field == QLatin1String("CardHolder"))
                        site.Holders[card] = change.New;
                break;
            case TJournalAction::CardReplaced:
                site.Holders.erase(entry->OldCardNumber.toUpper());
                site.Holders[card] = entry->CardHolder;
                break;
            case TJournalAction::CardHolderDeleted:
                site.Holders.erase(card);
                break;
            case TJournalAction::ZoneChanged:
                for (const TJournalChange& change : entry->Changes)
                    if (change.Field == QLatin1String("ZoneID")) {
                        if (change.New == QLatin1String("0"))
                            site.Zones.erase({entry->ConID, card});
                        else
                            site.Zones[{entry->ConID, card}] = change.New;
                    }
                break;
            case TJournalAction::ControllerDeleted:
                std::erase_if(site.Zones,
                              [&](const auto& zone) { return zone.first.first == entry->ConID; });
                break;
            default:
                break;
            }
        }
        return site;
    }
    // The site as its tables hold it.
    TSiteState Stored() const {
        TSiteState site;
        for (const QStringList& row :
             Rows("SELECT CardNumber, CardHolder FROM CardHolders WHERE NOT Deleted"))
            site.Holders[row[0].toUpper()] = row[1];
        for (const QStringList& row :
             Rows("SELECT ConID, CardNumber, ZoneID FROM CardZones WHERE ZoneID > 0"))
            site.Zones[{row[0].toInt(), row[1].toUpper()}] = row[2];
        return site;
    }
    // How many entries of an action came after the entry `after`.
    int EntriesSince(int64_t after, TJournalAction action) const {
        return Count(TMyStatement("SELECT COUNT(*) FROM Journal WHERE (JournalID > ?) AND "
                                  "(Action = ?)",
                                  {qlonglong(after), JournalActionCode(action)}));
    }
    int64_t LastEntry() const {
        const QStringList last = Column("SELECT MAX(JournalID) FROM Journal");
        return last.isEmpty() ? 0 : last[0].toLongLong();
    }
};

// Two programs at once, a thousand and more operations between them; afterwards the site must
// hold its invariants and every key that no longer says what the database does must be marked.
TEST_P(TwoProgramsTest, ARandomRunOfBothKeepsTheSiteWholeAndEveryOutdatedKeyMarked) {
    const quint32 seed = qEnvironmentVariableIsSet("VYR_SITE_SEED")
                             ? quint32(qEnvironmentVariableIntValue("VYR_SITE_SEED"))
                             : QRandomGenerator::global()->generate();
    SCOPED_TRACE("seed " + std::to_string(seed) + " (VYR_SITE_SEED repeats the run)");

    // Made through the program's own save units, so that the journal explains the site from its
    // first row.
    const TJournalAuthor setUp{"setup", "test"};
    std::vector<int32_t> controllers;
    for (const char* name : {"Front", "Back", "Gate", "Shed", "Lift"}) {
        const TControllerSaved added =
            ::AddController(Database(), {name, "A1B2C3", 2, 4}, 0, setUp);
        ASSERT_TRUE(added.Saved);
        controllers.push_back(added.ConID);
    }
    for (int card = 0; card < SiteDriverCards / 2; ++card) {
        TCardHolder holder;
        holder.CardNumber = SiteDriverCard(card);
        holder.CardHolder = QStringLiteral("Holder %1").arg(card);
        ASSERT_EQ(SaveNewCardHolder(Database(), holder, std::nullopt, Controllers(), setUp).Outcome,
                  TCardHolderSave::Saved);
        for (int click = 0; click <= card % 2; ++click)
            ASSERT_GE(CycleCardZone(Database(), holder.CardNumber,
                                    controllers[size_t(card) % controllers.size()], setUp),
                      1);
    }
    ASSERT_EQ(Replayed(), Stored());
    ASSERT_TRUE(Database().Inner->ExecuteQuery(
                    "CREATE TABLE KeyWrites (ConID integer PRIMARY KEY, Image text)") ||
                Count("SELECT COUNT(*) FROM KeyWrites") == 0);
    // Every key written and verified before the run.
    for (const auto& [conId, key] : ExpectedKeys())
        Exec(TMyStatement("INSERT INTO KeyWrites (ConID, Image) VALUES(?, ?)", {conId, key}));

    if (Engine() == TEngine::SQLite && QFileInfo(QStringLiteral("/dev/shm")).isWritable()) {
        // Every commit of a file waits for the disk; in memory the run takes seconds, not a
        // minute, and the locking between the programs is the same.
        ASSERT_TRUE(ShmFolder.isValid());
        const QString inMemory = ShmFolder.filePath("site.accdb");
        Session = nullptr;
        OwnedSession.reset();
        ASSERT_TRUE(QFile::copy(DatabaseFile, inMemory));
        DatabaseFile = inMemory;
        OwnedSession = RecordedSession(DatabaseFile);
        Session = OwnedSession.get();
    }
    // Rounds: the checks after each see more last writes than one check at the end would.
    const int rounds = 6;
    const int operations = 100; // each program, each round; key writes and open dialogs add more
    int outdated = 0;
    QStringList locked;
    for (int round = 0; round < rounds && !HasFailure(); ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const quint32 roundSeed = seed + quint32(round) * 2;
        const int64_t before = LastEntry();
        auto first = StartDriver({QString::number(roundSeed), QString::number(operations)});
        auto second = StartDriver({QString::number(roundSeed + 1), QString::number(operations)});
        Finish(*first);
        Finish(*second);
        TSiteDriverTally done;
        for (QProcess* driver : {first.get(), second.get()}) {
            const QStringList lines =
                QString::fromUtf8(driver->readAllStandardOutput()).trimmed().split(u'\n');
            ASSERT_EQ(lines.size(), 2);
            locked << lines[0];
            done += TSiteDriverTally::FromText(lines[1]);
        }

        // No change without its entry: each operation that went through left exactly its own,
        // signed by the driver that made it, and the whole journal replayed gives the site.
        EXPECT_EQ(EntriesSince(before, TJournalAction::CardHolderAdded), done.Added);
        EXPECT_EQ(EntriesSince(before, TJournalAction::CardHolderEdited), done.Edited);
        EXPECT_EQ(EntriesSince(before, TJournalAction::CardReplaced), done.Replaced);
        EXPECT_GE(EntriesSince(before, TJournalAction::CardHolderDeleted), done.Deleted);
        EXPECT_GE(EntriesSince(before, TJournalAction::ZoneChanged), done.ZoneClicks);
        EXPECT_EQ(EntriesSince(before, TJournalAction::ControllerEdited), done.ControllerEdits);
        EXPECT_EQ(EntriesSince(before, TJournalAction::KeyWritten), done.KeyWrites);
        EXPECT_THAT(Rows(TMyStatement("SELECT DISTINCT Operator, Workstation FROM Journal WHERE "
                                      "JournalID > ? ORDER BY Operator",
                                      {qlonglong(before)})),
                    ::testing::IsSubsetOf(std::vector<QStringList>{
                        {QStringLiteral("driver %1").arg(roundSeed), "sitedriver"},
                        {QStringLiteral("driver %1").arg(roundSeed + 1), "sitedriver"}}));
        const TSiteState replayed = Replayed();
        const TSiteState stored = Stored();
        EXPECT_EQ(replayed.Holders, stored.Holders);
        EXPECT_EQ(replayed.Zones, stored.Zones);

        EXPECT_THAT(Rows("SELECT CardNumber FROM CardHolders WHERE NOT Deleted GROUP BY "
                         "CardNumber HAVING COUNT(*) > 1"),
                    IsEmpty());
        EXPECT_THAT(Rows("SELECT CardNumber FROM CardZones WHERE CardNumber NOT IN (SELECT "
                         "CardNumber FROM CardHolders WHERE NOT Deleted)"),
                    IsEmpty());
        EXPECT_THAT(Rows("SELECT CardNumber FROM CardZones WHERE ConID NOT IN (SELECT ConID FROM "
                         "Controllers)"),
                    IsEmpty());
        const QSet<int32_t> marked = StoredMarks(Database().Inner.get());
        for (const auto& [conId, key] : ExpectedKeys()) {
            const QStringList written =
                Column(TMyStatement("SELECT Image FROM KeyWrites WHERE ConID = ?", {conId}));
            ASSERT_EQ(written.size(), 1);
            if (written[0] != key) {
                ++outdated;
                EXPECT_TRUE(marked.contains(conId))
                    << "controller " << conId << " holds " << written[0].toStdString()
                    << " but the database says " << key.toStdString();
            }
        }
    }
    RecordProperty("drivers", locked.join("; ").toStdString());
    RecordProperty("outdated keys", outdated);
}

INSTANTIATE_TEST_SUITE_P(Engines, TwoProgramsTest, ::testing::ValuesIn(BothEngines),
                         EngineCaseName);

} // namespace
