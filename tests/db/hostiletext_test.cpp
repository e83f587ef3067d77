#include "cardholders/cardholderstatements.h"
#include "cardholders/cardnumber.h"
#include "controllers/controllerstatements.h"
#include "shared/publictypes.h"

#include "hostiletext.h"
#include "profiledb.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// Every statement builder that writes text, given a hostile text: the text is written, read back
// and compared, and every builder that finds rows by a text finds exactly the row it belongs to.
// Each field gets the text with a mark of its own, so a builder that mixes up its values shows.
// On both engines: each translates the statements in its own way.
class HostileTextStatements : public ProfileDbTest,
                              public ::testing::WithParamInterface<std::tuple<TEngine, QString>> {
protected:
    TEngine Engine() const override { return std::get<0>(GetParam()); }

    bool Run(const TMyStatement& statement) const {
        const bool ok = Session->Database().ExecuteQuery(statement);
        EXPECT_TRUE(ok) << ::testing::PrintToString(statement) << ": "
                        << Session->Database().GetLastError().toStdString();
        return ok;
    }

    std::vector<QStringList> Read(const TMyStatement& statement) const {
        std::vector<QStringList> rows;
        const std::unique_ptr<TMyResultSet> result = Session->Database().Query(statement);
        EXPECT_TRUE(result) << ::testing::PrintToString(statement) << ": "
                            << Session->Database().GetLastError().toStdString();
        if (result)
            for (result->First(); !result->Eof(); result->Next()) {
                QStringList row;
                for (int i = 0; i < result->FieldCount(); ++i)
                    row << result->Fields(i).AsString();
                rows.push_back(row);
            }
        return rows;
    }

    static TCardHolder Holder(const QString& text, const QString& mark) {
        TCardHolder record;
        record.CardNumber = text + mark + "#";
        record.CardHolder = text;
        record.CardCustom1 = "1" + mark + text;
        record.CardCustom2 = text + "2" + mark;
        record.CardCustom3 = mark + "3" + text;
        record.CardCustom4 = text + mark + "4";
        return record;
    }

    static QStringList Fields(const TCardHolder& record) {
        return {record.CardNumber,  record.CardHolder,  record.CardCustom1,
                record.CardCustom2, record.CardCustom3, record.CardCustom4};
    }

    // The one row the cardholder dialog loads for the number, and what the lookups find by it.
    void ExpectStored(const TCardHolder& record) const {
        EXPECT_EQ(Read(LoadCardHolderStatement(record.CardNumber)),
                  std::vector<QStringList>{Fields(record)});
        EXPECT_EQ(Read(CardHolderByNumberStatement(record.CardNumber)),
                  std::vector<QStringList>{{record.CardHolder}});
        const std::vector<QStringList> listed = Read(
            CardHolderListStatement(record.CardHolder, record.CardCustom1, record.CardCustom2));
        ASSERT_EQ(listed.size(), 1u);
        EXPECT_EQ(listed[0].mid(0, 6), Fields(record));
    }
};

TEST_P(HostileTextStatements, TravelThroughEveryBuilderUnchanged) {
    const QString text = std::get<1>(GetParam());
    // A neighbour that a statement bent by the text would touch too.
    AddCardHolder("NEIGHBOUR1", "Neighbour", "n1", "n2");
    const int32_t neighbourDoor = AddController("Neighbour door");
    AddZone(neighbourDoor, "NEIGHBOUR1", 1);

    const TCardHolder first = Holder(text, "a");
    ASSERT_TRUE(Run(InsertCardHolderStatement(first)));
    ExpectStored(first);

    // Saved again under another number: every field follows, found by the number it had.
    const TCardHolder edited = Holder(text, "b");
    ASSERT_TRUE(Run(UpdateCardHolderStatement(edited, first.CardNumber)));
    ExpectStored(edited);
    EXPECT_TRUE(Read(LoadCardHolderStatement(first.CardNumber)).empty());

    // Controllers: the name and code as typed, the insert's key found again.
    ASSERT_TRUE(Run(InsertControllerStatement(text, text + "c", 7, 9)));
    const std::vector<QStringList> identity = Read(LastIdentityStatement());
    ASSERT_EQ(identity.size(), 1u);
    const int32_t door = identity[0][0].toInt();
    const QString doorText = QString::number(door);
    auto controllerRow = [&] {
        for (const QStringList& row :
             Rows({"SELECT ConID, ConType, ConName, ConCode, ConByte1, ConByte2 FROM Controllers "
                   "WHERE ConID = ?",
                   {door}}))
            return row;
        return QStringList();
    };
    EXPECT_EQ(controllerRow(), (QStringList{doorText, "VYR292", text, text + "c", "7", "9"}));
    ASSERT_TRUE(Run(UpdateControllerStatement(door, "u" + text, text + "u", 1, 2)));
    EXPECT_EQ(controllerRow(), (QStringList{doorText, "VYR292", "u" + text, text + "u", "1", "2"}));

    // Zones: the number as the key of a card's rows, each delete taking exactly its own.
    const QString number = edited.CardNumber;
    ASSERT_TRUE(Run(InsertCardZoneStatement(door, number, 2)));
    EXPECT_EQ(Read(CardZonesOfCardStatement(number)), (std::vector<QStringList>{{doorText, "2"}}));
    EXPECT_EQ(Read(SelectZoneCardsStatement(door, 2)), std::vector<QStringList>{{number}});
    const QStringList zoneRow{number, doorText, "2"};
    const std::vector<QStringList> allZones = Read(AllCardZonesStatement());
    EXPECT_NE(std::find(allZones.begin(), allZones.end(), zoneRow), allZones.end());
    EXPECT_TRUE(Run(DeleteCardZoneStatement(door, number)));
    ASSERT_TRUE(Run(InsertCardZoneStatement(door, number, 1)));
    EXPECT_TRUE(Run(DeleteCardZonesStatement(number)));
    ASSERT_TRUE(Run(InsertCardZoneStatement(door, number, 1)));
    EXPECT_TRUE(Run(DeleteZonesOfDeletedCardStatement(number)));
    EXPECT_TRUE(Read(CardZonesOfCardStatement(number)).empty());

    // Deleting: marked, then gone; a new row under the number, then that one gone too.
    EXPECT_TRUE(Run(MarkCardHolderDeletedStatement(number)));
    EXPECT_TRUE(Read(LoadCardHolderStatement(number)).empty());
    EXPECT_TRUE(Run(DeleteDeletedCardHoldersStatement(number)));
    ASSERT_TRUE(Run(InsertCardHolderStatement(edited)));
    EXPECT_TRUE(Run(DeleteCardHolderStatement(number)));
    EXPECT_EQ(Count({"SELECT COUNT(*) FROM CardHolders WHERE CardNumber = ?", {number}}), 0);

    // The neighbour saw none of it.
    EXPECT_EQ(Rows("SELECT CardNumber, CardHolder, CardCustom1, CardCustom2, Deleted FROM "
                   "CardHolders"),
              (std::vector<QStringList>{{"NEIGHBOUR1", "Neighbour", "n1", "n2", "0"}}));
    EXPECT_EQ(Zones(neighbourDoor, "NEIGHBOUR1"), QStringList{"1"});
    EXPECT_EQ(Record(neighbourDoor).ConName, "Neighbour door");
}

INSTANTIATE_TEST_SUITE_P(Texts, HostileTextStatements,
                         ::testing::Combine(::testing::ValuesIn(BothEngines),
                                            ::testing::ValuesIn(HostileTexts())));

} // namespace
