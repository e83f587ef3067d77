#include "db/MySQLite.h"
#include "db/cardindexes.h"

#include "profiledb.h"

#include <QFile>

#include <gtest/gtest.h>

#include <functional>

namespace {

class CardIndexUpgradeTest : public ProfileDbTest {
public: // for the cases' row writers
    using ProfileDbTest::AddCardHolder;
    using ProfileDbTest::AddZone;

protected:
    int UniqueIndexes() const {
        return Count(
            "SELECT COUNT(*) FROM sqlite_master WHERE (type = \"index\") AND (name IN (\"" +
            QString(CardHoldersUniqueIndex) + "\", \"" + CardZonesUniqueIndex + "\"))");
    }
    QString Schema() const { return Column("SELECT sql FROM sqlite_master").join('\n'); }
};

TEST_F(CardIndexUpgradeTest, ANewDatabaseHasThemAndIsLeftAlone) {
    EXPECT_EQ(UniqueIndexes(), 2);
    const TCardIndexUpgrade upgrade = AddUniqueCardIndexes(Session->Database());
    EXPECT_TRUE(upgrade.Ok);
    EXPECT_TRUE(upgrade.DuplicateCardNumbers.isEmpty());
    // One look at the schema and nothing else.
    EXPECT_EQ(Database().Statements.size(), 1);
}

TEST_F(CardIndexUpgradeTest, AnOlderDatabaseGetsThemWhenNothingStandsInTheWay) {
    MakeOlderDatabase();
    AddCardHolder("00000ABCDE", "One");
    AddCardHolder("1111111111", "Two", {}, {}, /*deleted=*/true);
    AddZone(1, "00000ABCDE", 1);
    AddZone(2, "00000abcde", 2);

    const TCardIndexUpgrade upgrade = AddUniqueCardIndexes(Session->Database());
    EXPECT_TRUE(upgrade.Ok) << upgrade.Error.toStdString();
    EXPECT_EQ(UniqueIndexes(), 2);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM sqlite_master WHERE name = \"CardHoldersByCardNumber\""),
              0);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM CardHolders"), 2);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM CardZones"), 2);
    // From now on the database refuses what the program must never write.
    EXPECT_FALSE(Database().Inner->ExecuteQuery(
        "INSERT INTO CardHolders (CardNumber, CardHolder) VALUES (\"00000abcde\", \"Again\")"));
}

TEST_F(CardIndexUpgradeTest, DuplicatesLeaveTheDatabaseAsItWasAndAreNamed) {
    struct Case {
        const char* what;
        std::function<void(CardIndexUpgradeTest&)> rows;
        QStringList named;
    };
    const Case cases[] = {
        {"two holders, one deleted, in two cases",
         [](CardIndexUpgradeTest& t) {
             t.AddCardHolder("00000ABCDE", "Live");
             t.AddCardHolder("00000abcde", "Gone", {}, {}, true);
         },
         {"00000ABCDE"}},
        {"two zones of a card at one controller",
         [](CardIndexUpgradeTest& t) {
             t.AddCardHolder("2222222222", "Holder");
             t.AddZone(7, "2222222222", 1);
             t.AddZone(7, "2222222222", 2);
         },
         {"2222222222"}},
        {"both at once, named once each and sorted",
         [](CardIndexUpgradeTest& t) {
             t.AddCardHolder("3333333333", "A");
             t.AddCardHolder("3333333333", "B");
             t.AddZone(1, "3333333333", 1);
             t.AddZone(1, "3333333333", 1);
             t.AddZone(1, "0000000001", 1);
             t.AddZone(1, "0000000001", 0);
         },
         {"0000000001", "3333333333"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MakeOlderDatabase();
        Database().Inner->ExecuteQuery("DELETE * FROM CardZones");
        Database().Inner->ExecuteQuery("DELETE * FROM CardHolders");
        c.rows(*this);
        const QString schemaBefore = Schema();
        const int holders = Count("SELECT COUNT(*) FROM CardHolders");
        const int zones = Count("SELECT COUNT(*) FROM CardZones");

        const TCardIndexUpgrade upgrade = AddUniqueCardIndexes(Session->Database());
        EXPECT_FALSE(upgrade.Ok);
        EXPECT_EQ(upgrade.DuplicateCardNumbers, c.named);
        EXPECT_EQ(Schema(), schemaBefore);
        EXPECT_EQ(Count("SELECT COUNT(*) FROM CardHolders"), holders);
        EXPECT_EQ(Count("SELECT COUNT(*) FROM CardZones"), zones);
        // Nothing was left open: the next change goes through on its own.
        Exec("UPDATE CardHolders SET CardCustom4 = \"x\" WHERE CardHolder = " + QString("\"") +
             Column("SELECT CardHolder FROM CardHolders").value(0) + "\"");
    }
}

TEST_F(CardIndexUpgradeTest, AReadOnlyDatabaseIsLeftAsItIsWithTheReason) {
    MakeOlderDatabase();
    Session->Database().Disconnect();
    QFile::setPermissions(DatabaseFile, QFileDevice::ReadOwner);
    ASSERT_TRUE(Session->Database().Connect());
    const TCardIndexUpgrade upgrade = AddUniqueCardIndexes(Session->Database());
    EXPECT_FALSE(upgrade.Ok);
    EXPECT_TRUE(upgrade.DuplicateCardNumbers.isEmpty());
    EXPECT_FALSE(upgrade.Error.isEmpty());
    EXPECT_EQ(UniqueIndexes(), 0);
}

} // namespace
