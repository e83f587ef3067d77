#include "cardholderfixture.h"

#include "cardholders/cardholdermodel.h"

#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class CardHolderModelTest : public CardholderTest {
protected:
    void SetUp() override {
        CardholderTest::SetUp();
        Model = std::make_unique<TCardHolderModel>(Controllers());
    }
    void TearDown() override {
        Model.reset();
        CardholderTest::TearDown();
    }
    // Makes a new model for the controllers added so far and loads it.
    bool Load(const TCardHolderFilter& filter = {}) {
        Model = std::make_unique<TCardHolderModel>(Controllers());
        return Model->Load(&Session->Database(), filter);
    }
    QStringList Texts(int column) const {
        QStringList texts;
        for (int row = 0; row < Model->rowCount(); ++row)
            texts << Model->index(row, column).data().toString();
        return texts;
    }
    QVector<int32_t> ZonesOf(int row) const { return Model->Record(row)->CardZones; }
    // A click on the zone cell of `row` at the controller of column `controllerIndex`, written by
    // the session's writer and shown as the list shows it: the new zone or why not.
    int Click(int row, int controllerIndex, QString* error = nullptr) {
        auto click = std::make_shared<TZoneClickWrite>();
        click->CardNumber = Model->Record(row)->CardNumber;
        click->ConID = Model->ZoneColumns()[controllerIndex].ConID;
        click->Author = Session->Author();
        Model->ZoneWritten(Written(click));
        if (error)
            *error = click->Error;
        return click->Zone;
    }
    TCardHolderDelete Delete(int row) {
        auto deletion = std::make_shared<TCardHolderDeleteWrite>();
        deletion->Chosen = *Model->Record(row);
        deletion->Author = Session->Author();
        Model->DeleteWritten(Written(deletion));
        return deletion->Deleted;
    }
    int RowOf(const QString& number) const { return int(Texts(0).indexOf(number)); }

    std::unique_ptr<TCardHolderModel> Model;
};

TEST_F(CardHolderModelTest, LoadsLiveCardholdersByNameWithTheirZonesPerController) {
    TStandController& front = AddController("Front");
    TStandController& back = AddController("Back");
    TStandController& shed = AddController("Shed");
    AddCardHolder("1111111111", "carl", "c1", "c2");
    AddCardHolder("2222222222", "Anna");
    AddCardHolder("3333333333", "bert");
    AddCardHolder("4444444444", "Aaron", {}, {}, true);
    AddZone(front, "1111111111", 1);
    AddZone(shed, "1111111111", 2);
    AddZone(back, "2222222222", 0);

    ASSERT_TRUE(Load());
    EXPECT_EQ(Database().Sent().first(),
              TMyStatement("SELECT CardNumber, CardHolder, CardCustom1, CardCustom2, CardCustom3, "
                           "CardCustom4, CardInactive, CardAdded, CardLastEdit FROM CardHolders "
                           "WHERE (NOT Deleted)  ORDER BY CardHolder ASC"));
    EXPECT_THAT(Texts(1), ElementsAre("Anna", "bert", "carl"));
    EXPECT_EQ(Model->columnCount(), 7);
    EXPECT_EQ(Texts(2).last(), "c1");
    EXPECT_EQ(Texts(3).last(), "c2");
    EXPECT_THAT(ZonesOf(0), ElementsAre(0, 0, 0));
    EXPECT_THAT(ZonesOf(1), ElementsAre(0, 0, 0));
    EXPECT_THAT(ZonesOf(2), ElementsAre(1, 0, 2));
    EXPECT_EQ(Model->index(2, TCardHolderModel::FirstZoneColumn + 2)
                  .data(TCardHolderModel::ZoneRole)
                  .toInt(),
              2);
}

// The list reads all zones with one statement and joins them in memory; the outcome must be what
// one statement per card gives, the odd rows included.
TEST_F(CardHolderModelTest, ZonesJoinedInMemoryMatchOneQueryPerCard) {
    MakeOlderDatabase(); // which can still hold two rows for one card
    TStandController& front = AddController("Front");
    TStandController& back = AddController("Back");
    TStandController& shed = AddController("Shed");
    AddCardHolder("0A1B2C3D4E", "Upper");
    AddCardHolder("2222222222", "Twin");
    AddCardHolder("2222222222", "Twin again");
    AddCardHolder("3333333333", "Gone", {}, {}, true);
    AddCardHolder("4444444444", "Nothing");
    AddZone(front, "0a1b2c3d4e", 1); // written in another case
    AddZone(back, "0A1B2C3D4E", 2);  // two rows for one controller
    AddZone(back, "0A1B2C3D4E", 1);
    AddZone(shed, "0A1B2C3D4E", 7); // a value no window writes
    Exec("INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES(999, \"0A1B2C3D4E\", 1)");
    AddZone(front, "2222222222", 2);
    AddZone(shed, "3333333333", 1);

    ASSERT_TRUE(Load());
    ASSERT_EQ(Model->rowCount(), 4);
    for (int row = 0; row < Model->rowCount(); ++row) {
        const TCardHolder& record = *Model->Record(row);
        QVector<int32_t> expected(3, 0);
        const std::unique_ptr<TMyResultSet> zones = Database().Inner->Query(
            {"SELECT ConID, ZoneID FROM CardZones WHERE (CardNumber = ?)", {record.CardNumber}});
        ASSERT_TRUE(zones);
        for (zones->First(); !zones->Eof(); zones->Next())
            for (size_t i = 0; i < Controllers().size(); ++i)
                if (Controllers()[i]->ConID == zones->Fields(0).AsInteger()) {
                    expected[qsizetype(i)] = zones->Fields(1).AsInteger();
                    break;
                }
        EXPECT_EQ(record.CardZones, expected) << record.CardHolder.toStdString();
    }
    EXPECT_THAT(ZonesOf(RowOf("0A1B2C3D4E")), ElementsAre(1, 2, 7));
}

// A list that cannot be read again is no empty list, and zones that cannot be read are no
// "no access" at every door: the rows stay as the last read showed them.
TEST_F(CardHolderModelTest, AFailedReadKeepsTheRowsAndZonesOfTheLastRead) {
    TStandController& front = AddController("Front");
    AddCardHolder("1111111111", "Anna");
    AddZone(front, "1111111111", 1);
    ASSERT_TRUE(Load());
    AddCardHolder("2222222222", "Bert");
    for (const char* refused : {"FROM CardZones", "FROM CardHolders"}) {
        SCOPED_TRACE(refused);
        Database().FailWhenContaining = refused;
        EXPECT_FALSE(Model->Load(&Session->Database(), {}));
        EXPECT_FALSE(Session->Database().GetLastError().isEmpty());
        ASSERT_EQ(Model->rowCount(), 1);
        EXPECT_THAT(ZonesOf(0), ElementsAre(1));
    }
    // Never read: nothing to show, and the reader is told so.
    Database().FailWhenContaining = "FROM CardZones";
    EXPECT_FALSE(Load());
    EXPECT_EQ(Model->rowCount(), 0);
}

TEST_F(CardHolderModelTest, FiltersFindTheirTextAsAPlainSubstring) {
    AddCardHolder("1111111111", "Ann \"Nan\" Smith", "Dept 50% off", "x_y");
    AddCardHolder("2222222222", "Annabel", "Dept 500", "xzy");
    AddCardHolder("3333333333", "Joanne", "sales", "x_y");
    AddCardHolder("4444444444", "Émile ANNE", "Sales", "");
    struct {
        TCardHolderFilter filter;
        QStringList names;
    } cases[] = {
        {{"ann", "", ""}, {"Ann \"Nan\" Smith", "Annabel", "Émile ANNE", "Joanne"}},
        {{"\"Nan\"", "", ""}, {"Ann \"Nan\" Smith"}},
        {{"\"", "", ""}, {"Ann \"Nan\" Smith"}},
        {{"", "50%", ""}, {"Ann \"Nan\" Smith"}},
        {{"", "%", ""}, {"Ann \"Nan\" Smith"}},
        {{"", "", "_"}, {"Ann \"Nan\" Smith", "Joanne"}},
        {{"ann", "SALES", ""}, {"Émile ANNE", "Joanne"}},
        {{"ann", "dept", "_"}, {"Ann \"Nan\" Smith"}},
        {{"émile", "", ""}, {"Émile ANNE"}},
        {{"\") OR (1 = 1) OR (\"", "", ""}, {}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(Load(c.filter))
            << c.filter.CardHolder.toStdString() << Database().GetLastError().toStdString();
        QStringList names = Texts(1);
        names.sort(Qt::CaseInsensitive);
        QStringList expected = c.names;
        expected.sort(Qt::CaseInsensitive);
        EXPECT_EQ(names, expected)
            << c.filter.CardHolder.toStdString() << " / " << c.filter.CardCustom1.toStdString()
            << " / " << c.filter.CardCustom2.toStdString();
    }
}

TEST_F(CardHolderModelTest, CyclingAZoneReplacesItsRowAndMarksTheController) {
    AddController("Front");
    TStandController& back = AddController("Back");
    AddCardHolder("1111111111", "Anna");
    ASSERT_TRUE(Load());
    Database().Statements.clear();

    for (const int expected : {1, 2, 0}) {
        EXPECT_EQ(Click(0, 1), expected);
        EXPECT_EQ(ZonesOf(0)[1], expected);
        EXPECT_THAT(Zones(back, "1111111111"), ElementsAre(QString::number(expected)));
        EXPECT_THAT(MarkedControllers(), ElementsAre("Back"));
    }
    const QString card = "1111111111";
    QList<TMyStatement> expected;
    for (const int zone : {1, 2, 0})
        expected << TMyStatement("DELETE * FROM CardZones WHERE (ConID = ?) AND (CardNumber = ?)",
                                 {back.ConID, card})
                 << TMyStatement(
                        "INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES(?, ?, ?)",
                        {back.ConID, card, zone});
    // The writes to the card's zones; each click also renews the controller's mark with a new
    // stamp of its own.
    QList<TMyStatement> zoneWrites;
    QVariantList markStamps;
    for (const TMyStatement& sent : Database().Statements) {
        if (sent.Sql.contains("CardZones") && !sent.Sql.startsWith("SELECT"))
            zoneWrites << sent;
        if (sent.Sql.startsWith("INSERT INTO PendingChanges")) {
            // The stamp, then the controller's number.
            EXPECT_EQ(sent.Values.value(1), QVariant(back.ConID));
            markStamps << sent.Values.value(0);
        }
    }
    EXPECT_EQ(zoneWrites, expected);
    ASSERT_EQ(markStamps.size(), 3);
    EXPECT_NE(markStamps[0], markStamps[1]);
    EXPECT_NE(markStamps[1], markStamps[2]);
    EXPECT_EQ(ZonesOf(0)[0], 0);
}

TEST_F(CardHolderModelTest, AZoneChangeTheDatabaseRefusesChangesNothing) {
    TStandController& front = AddController("Front");
    AddCardHolder("1111111111", "Anna");
    AddZone(front, "1111111111", 2);
    ASSERT_TRUE(Load());
    // The delete goes through, the insert does not: the transaction brings the row back.
    Database().FailWhenContaining = "INSERT INTO CardZones";
    QString error;
    EXPECT_EQ(Click(0, 0, &error), -1);
    EXPECT_EQ(ZonesOf(0)[0], 2);
    EXPECT_THAT(MarkedControllers(), IsEmpty());
    EXPECT_THAT(Zones(front, "1111111111"), ElementsAre("2"));
    EXPECT_TRUE(error.startsWith("refused by the test")) << error.toStdString();
}

// The writer's connection and the window's share the site file: the window thread reading while
// the writer commits click after click meets no lock, and neither does the writer.
TEST_F(CardHolderModelTest, TheWriterAndTheWindowShareTheFileWithoutMeetingALock) {
    TStandController& front = AddController("Front");
    AddCardHolder("1111111111", "Anna");
    ASSERT_TRUE(Load());
    std::vector<std::shared_ptr<TZoneClickWrite>> clicks;
    for (int i = 0; i < 30; ++i) {
        clicks.push_back(std::make_shared<TZoneClickWrite>());
        clicks.back()->CardNumber = "1111111111";
        clicks.back()->ConID = front.ConID;
        Session->Writes().Start(clicks.back());
    }
    QStringList refused;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            if (!Session->Database().Query({"SELECT COUNT(*) FROM CardZones"}))
                refused << Session->Database().GetLastError();
            return !Session->Writes().Busy();
        },
        60000));
    EXPECT_THAT(refused, IsEmpty());
    for (const auto& click : clicks)
        EXPECT_GE(click->Zone, 0) << click->Error.toStdString();
    EXPECT_THAT(Zones(front, "1111111111"), ElementsAre("0"));
}

TEST_F(CardHolderModelTest, DeletingMarksExactlyTheControllersWhereTheCardHadAccess) {
    TStandController& front = AddController("Front");
    TStandController& back = AddController("Back");
    TStandController& shed = AddController("Shed");
    AddCardHolder("1111111111", "Anna");
    AddCardHolder("2222222222", "Bert");
    AddZone(front, "1111111111", 1);
    AddZone(back, "1111111111", 0);
    AddZone(shed, "1111111111", 2);
    AddZone(front, "2222222222", 0);
    ASSERT_TRUE(Load());

    ASSERT_EQ(Delete(RowOf("2222222222")), TCardHolderDelete::Deleted);
    EXPECT_THAT(MarkedControllers(), IsEmpty());
    ASSERT_EQ(Delete(RowOf("1111111111")), TCardHolderDelete::Deleted);
    EXPECT_THAT(MarkedControllers(), ElementsAre("Front", "Shed"));
    EXPECT_EQ(Model->rowCount(), 0);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM CardZones"), 0);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM CardHolders WHERE Deleted = 1"), 2);
}

TEST_F(CardHolderModelTest, ADeleteTheDatabaseRefusesChangesNothing) {
    TStandController& front = AddController("Front");
    AddCardHolder("1111111111", "Anna");
    AddZone(front, "1111111111", 1);
    ASSERT_TRUE(Load());
    Database().FailWhenContaining = "UPDATE CardHolders SET Deleted";
    EXPECT_EQ(Delete(0), TCardHolderDelete::Failed);
    EXPECT_EQ(Model->rowCount(), 1);
    EXPECT_THAT(MarkedControllers(), IsEmpty());
    EXPECT_THAT(Zones(front, "1111111111"), ElementsAre("1"));
}

TEST_F(CardHolderModelTest, ACardholderDeletedElsewhereLeavesTheListWithoutAnError) {
    TStandController& front = AddController("Front");
    AddCardHolder("1111111111", "Anna");
    AddZone(front, "1111111111", 1);
    ASSERT_TRUE(Load());
    // Gone meanwhile (another copy of the program deleted it, zones and all).
    Exec("UPDATE CardHolders SET Deleted = 1 WHERE CardNumber = \"1111111111\"");
    Exec("DELETE * FROM CardZones");
    EXPECT_EQ(Delete(0), TCardHolderDelete::AlreadyGone);
    EXPECT_EQ(Model->rowCount(), 0);
    EXPECT_THAT(MarkedControllers(), IsEmpty());
    EXPECT_EQ(Count("SELECT COUNT(*) FROM CardHolders WHERE Deleted = 1"), 1);
}

TEST_F(CardHolderModelTest, SortingIsStableCaseBlindAndReversible) {
    AddController("Front");
    AddCardHolder("5555555555", "bob");
    AddCardHolder("1111111111", "anna");
    AddCardHolder("3333333333", "Anna");
    AddCardHolder("2222222222", "ANNA");
    AddCardHolder("4444444444", "Åsa");
    ASSERT_TRUE(Load());

    Model->Sort(0, Qt::AscendingOrder);
    EXPECT_THAT(Texts(0),
                ElementsAre("1111111111", "2222222222", "3333333333", "4444444444", "5555555555"));
    Model->Sort(1, Qt::AscendingOrder);
    EXPECT_THAT(Texts(0),
                ElementsAre("1111111111", "2222222222", "3333333333", "4444444444", "5555555555"));
    EXPECT_THAT(Texts(1), ElementsAre("anna", "ANNA", "Anna", "Åsa", "bob"));
    Model->Sort(1, Qt::DescendingOrder);
    EXPECT_THAT(Texts(0),
                ElementsAre("5555555555", "4444444444", "1111111111", "2222222222", "3333333333"));
    Model->Sort(0, Qt::DescendingOrder);
    Model->Sort(1, Qt::DescendingOrder);
    EXPECT_THAT(Texts(0),
                ElementsAre("5555555555", "4444444444", "3333333333", "2222222222", "1111111111"));
    const QStringList before = Texts(0);
    Model->Sort(TCardHolderModel::FirstZoneColumn, Qt::AscendingOrder);
    EXPECT_EQ(Texts(0), before);
}

TEST_F(CardHolderModelTest, AReplacedCardLosesItsZonesInTheRow) {
    TStandController& front = AddController("Front");
    AddCardHolder("1111111111", "Anna");
    AddZone(front, "1111111111", 2);
    ASSERT_TRUE(Load());

    TCardHolder saved;
    saved.CardNumber = "1111111111";
    saved.CardHolder = "Anna Renamed";
    Model->UpdateCardHolder(0, saved);
    EXPECT_THAT(ZonesOf(0), ElementsAre(2));
    EXPECT_EQ(Texts(1).first(), "Anna Renamed");

    saved.CardNumber = "9999999999";
    Model->UpdateCardHolder(0, saved);
    EXPECT_THAT(ZonesOf(0), ElementsAre(0));
    EXPECT_EQ(Texts(0).first(), "9999999999");
}

// Rows that change their place in one refresh each find it among rows in order, however they
// cross: one still standing at its old place must not lead another astray.
TEST_F(CardHolderModelTest, RowsMovingInOneRefreshEachFindTheirPlace) {
    const auto holders = [](const QStringList& names) {
        std::vector<std::unique_ptr<TCardHolder>> records;
        for (int i = 0; i < names.size(); ++i) {
            records.push_back(std::make_unique<TCardHolder>());
            records.back()->CardNumber = QString::number(1000000000 + i);
            records.back()->CardHolder = names[i];
        }
        return records;
    };
    for (const Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
        SCOPED_TRACE(order);
        Model = std::make_unique<TCardHolderModel>(Controllers());
        Model->Sort(TCardHolderModel::CardHolderColumn, order);
        EXPECT_FALSE(Model->Merge(holders({"a", "b", "c", "d", "e", "f"}), std::nullopt));
        // "a" becomes "bb" and "d" becomes "0".
        EXPECT_FALSE(Model->Merge(holders({"bb", "b", "c", "0", "e", "f"}), std::nullopt));
        QStringList expected = {"0", "b", "bb", "c", "e", "f"};
        if (order == Qt::DescendingOrder)
            std::reverse(expected.begin(), expected.end());
        EXPECT_EQ(Texts(1), expected);
    }
}

} // namespace
