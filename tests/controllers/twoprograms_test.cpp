// Two programs on one site, as two processes: the site driver (sitedriver.cpp) is the other
// program, working through the same save units on the same file or server database.

#include "cardholders/cardholdersave.h"
#include "controllers/controllerrecords.h"
#include "controllers/keysource.h"
#include "controllers/pendingchanges.h"
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
};

// Two programs at once, a thousand and more operations between them; afterwards the site must
// hold its invariants and every key that no longer says what the database does must be marked.
TEST_P(TwoProgramsTest, ARandomRunOfBothKeepsTheSiteWholeAndEveryOutdatedKeyMarked) {
    const quint32 seed = qEnvironmentVariableIsSet("VYR_SITE_SEED")
                             ? quint32(qEnvironmentVariableIntValue("VYR_SITE_SEED"))
                             : QRandomGenerator::global()->generate();
    SCOPED_TRACE("seed " + std::to_string(seed) + " (VYR_SITE_SEED repeats the run)");

    std::vector<int32_t> controllers;
    for (const char* name : {"Front", "Back", "Gate", "Shed", "Lift"})
        controllers.push_back(AddController(name, "A1B2C3"));
    for (int card = 0; card < SiteDriverCards / 2; ++card) {
        AddCardHolder(SiteDriverCard(card), QStringLiteral("Holder %1").arg(card));
        AddZone(controllers[size_t(card) % controllers.size()], SiteDriverCard(card), 1 + card % 2);
    }
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
        auto first = StartDriver({QString::number(roundSeed), QString::number(operations)});
        auto second = StartDriver({QString::number(roundSeed + 1), QString::number(operations)});
        Finish(*first);
        Finish(*second);
        locked << first->readAllStandardOutput().trimmed()
               << second->readAllStandardOutput().trimmed();

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
