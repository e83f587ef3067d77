#include "cardholders/cardholderstatements.h"
#include "controllers/controllerstatements.h"
#include "db/changehint.h"
#include "shared/publictypes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>

namespace {

using Cards = std::optional<QStringList>;

TCardHolder Holder(const QString& number) {
    TCardHolder record;
    record.CardNumber = number;
    record.CardHolder = "Anna";
    return record;
}

// Every statement the program changes cards with names its cards, or says it cannot; a card left
// out would leave another workstation's list showing an old row for good.
TEST(ChangeHint, AStatementNamesTheCardsWhoseRowsItMayHaveChanged) {
    const struct {
        const char* what;
        TMyStatement statement;
        Cards cards;
    } cases[] = {
        {"a new holder", InsertCardHolderStatement(Holder("0A1B2C3D4E")),
         QStringList{"0A1B2C3D4E"}},
        {"an edit under the same number", UpdateCardHolderStatement(Holder("1111"), "1111"),
         QStringList{"1111", "1111"}},
        {"a replacement: both cards", UpdateCardHolderStatement(Holder("2222"), "1111"),
         QStringList{"2222", "1111"}},
        {"a delete", MarkCardHolderDeletedStatement("3333"), QStringList{"3333"}},
        {"the deleted row", DeleteDeletedCardHoldersStatement("3333"), QStringList{"3333"}},
        {"a claim", ClaimCardHolderStatement("4444"), QStringList{"4444"}},
        {"a zone row", InsertCardZoneStatement(7, "5555", 2), QStringList{"5555"}},
        {"a zone row going", DeleteCardZoneStatement(7, "5555"), QStringList{"5555"}},
        {"all zones of a card", DeleteZonesOfDeletedCardStatement("6666"), QStringList{"6666"}},
        {"the card's value bound after others",
         {"UPDATE CardZones SET ZoneID = ? WHERE (ConID = ?) AND (CardNumber = ?)", {1, 7, "7777"}},
         QStringList{"7777"}},
        {"a literal holding a question mark before the number",
         {"INSERT INTO CardHolders (CardHolder, CardCustom1, CardNumber) VALUES(?, \"wh?\"\"y\", "
          "?)",
          {"Bert", "8888"}},
         QStringList{"8888"}},
        {"another table", InsertPendingChangeStatement(7, 1), QStringList()},
        {"a controller", DeleteControllerStatement(7), QStringList()},
        // Statements that can reach other cards than any they name.
        {"every live card", ClaimLiveCardHoldersStatement(), std::nullopt},
        {"the zones of a controller", DeleteControllerZonesStatement(7), std::nullopt},
        {"either of two conditions",
         {"DELETE * FROM CardZones WHERE (CardNumber = ?) OR (ConID = ?)", {"1111", 7}},
         std::nullopt},
        {"a negated number",
         {"DELETE * FROM CardZones WHERE NOT (CardNumber = ?)", {"1111"}},
         std::nullopt},
        {"a number from a subquery",
         {"DELETE * FROM CardZones WHERE CardNumber = ? AND ConID IN (SELECT ConID FROM "
          "Controllers)",
          {"1111"}},
         std::nullopt},
        {"a number not bound",
         {"UPDATE CardHolders SET CardNumber = UPPER(CardNumber) WHERE CardNumber = ?", {"1111"}},
         std::nullopt},
        {"rows of an insert from a query",
         {"INSERT INTO CardZones (ConID, CardNumber, ZoneID) SELECT ?, CardNumber, 1 FROM "
          "CardHolders",
          {7}},
         std::nullopt},
        {"two rows at once",
         {"INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES(?, ?, ?), (?, ?, ?)",
          {7, "1111", 1, 7, "2222", 1}},
         std::nullopt},
        {"a number beyond ASCII", MarkCardHolderDeletedStatement(QString::fromUtf8("É123")),
         std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ChangedCardNumbers(c.statement), c.cards);
    }
}

TEST(ChangeHint, ANoticeCarriesItsTablesAndCardsThroughItsText) {
    const struct {
        const char* what;
        QStringList tables;
        TChangedCards cards;
        QStringList tablesRead;
        TChangedCards cardsRead;
    } cases[] = {
        {"cards named",
         {"cardholders", "cardzones"},
         {true, {"1111", "a,#b%c"}},
         {"cardholders", "cardzones"},
         {true, {"1111", "a,#b%c"}}},
        {"only controllers",
         {"controllers"},
         TChangedCards::None(),
         {"controllers"},
         TChangedCards::None()},
        {"cards unknown", {"cardzones"}, {}, {"cardzones"}, {}},
        {"too many to name",
         {"cardholders"},
         {true,
          [] {
              QSet<QString> many;
              for (int i = 0; i <= MaxNamedCards; ++i)
                  many.insert(QString::number(i));
              return many;
          }()},
         {"cardholders"},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const TChangeNotice notice = ReadChangeNotice(ChangeNoticeText(c.tables, c.cards));
        EXPECT_EQ(notice.Tables, c.tablesRead);
        EXPECT_EQ(notice.Cards.Known, c.cardsRead.Known);
        EXPECT_EQ(notice.Cards.Numbers, c.cardsRead.Numbers);
    }
    // What a program that names no cards sends.
    EXPECT_FALSE(ReadChangeNotice("cardholders,pendingchanges").Cards.Known);
    EXPECT_TRUE(ReadChangeNotice("controllers,pendingchanges").Cards.Known);
    EXPECT_FALSE(ReadChangeNotice("").Cards.Known);
}

// A transaction's notice names the cards only while every statement in it did.
TEST(ChangeHint, OneStatementOverAllCardsMakesTheWholeTransactionUnknown) {
    TNoticeDraft draft;
    EXPECT_TRUE(draft.isEmpty());
    draft.Note("cardzones", DeleteCardZoneStatement(7, "1111"));
    draft.Note("cardzones", InsertCardZoneStatement(7, "2222", 1));
    draft.Note("pendingchanges", InsertPendingChangeStatement(7, 1));
    TChangeNotice notice = ReadChangeNotice(draft.Text());
    EXPECT_EQ(notice.Tables, QStringList({"cardzones", "pendingchanges"}));
    EXPECT_TRUE(notice.Cards.Known);
    EXPECT_EQ(notice.Cards.Numbers, QSet<QString>({"1111", "2222"}));

    draft.Note("cardholders", ClaimLiveCardHoldersStatement());
    draft.Note("cardzones", InsertCardZoneStatement(7, "3333", 1));
    notice = ReadChangeNotice(draft.Text());
    EXPECT_FALSE(notice.Cards.Known);

    draft.clear();
    EXPECT_TRUE(draft.isEmpty());
    draft.Note("cardholders", ClaimCardHolderStatement("4444"));
    EXPECT_EQ(ReadChangeNotice(draft.Text()).Cards.Numbers, QSet<QString>{"4444"});
}

} // namespace
