#include "cardholders/cardholderstatements.h"
#include "controllers/controllerstatements.h"
#include "db/changehint.h"
#include "journal/journal.h"
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

// A notice names tables and where the change's journal entries are, never a record: anyone who
// may connect can listen, or send one.
TEST(ChangeHint, ANoticeCarriesItsTablesAndAStretchOfTheJournalButNoCards) {
    EXPECT_EQ(ChangeNoticeText({"cardholders", "cardzones"}), "cardholders,cardzones");
    const struct {
        const char* what;
        const char* text;
        QStringList tables;
        bool cardsKnown;
        qint64 from, to;
        bool readJournal;
    } cases[] = {
        {"cards in the journal",
         "cardholders,cardzones,journal,@41-43",
         {"cardholders", "cardzones", "journal"},
         false,
         41,
         43,
         true},
        {"no card table",
         "controllers,journal,@7-7",
         {"controllers", "journal"},
         true,
         7,
         7,
         false},
        {"cards not in the journal", "cardzones", {"cardzones"}, false, 0, 0, false},
        // What an older program sends: its card numbers are not taken.
        {"cards named in the notice",
         "cardholders,#1111,#2222",
         {"cardholders"},
         false,
         0,
         0,
         false},
        {"a stretch too long to read",
         "cardholders,@1-1000000",
         {"cardholders"},
         false,
         1,
         1000000,
         false},
        {"a stretch backwards", "cardholders,@9-3", {"cardholders"}, false, 0, 0, false},
        {"a stretch that is no number", "cardholders,@x-3", {"cardholders"}, false, 0, 0, false},
        {"nothing", "", {}, false, 0, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const TChangeNotice notice = ReadChangeNotice(c.text);
        EXPECT_EQ(notice.Tables, c.tables);
        EXPECT_EQ(notice.Cards.Known, c.cardsKnown);
        EXPECT_TRUE(notice.Cards.Numbers.isEmpty());
        EXPECT_EQ(notice.JournalFrom, c.from);
        EXPECT_EQ(notice.JournalTo, c.to);
        EXPECT_EQ(notice.CardsInJournal(), c.readJournal);
    }

    // The entries' cards, unless they are too many or fold differently on the engines.
    EXPECT_EQ(CardsOfJournalEntries({"1111", "", "2222", "1111"}).Numbers,
              QSet<QString>({"1111", "2222"}));
    EXPECT_TRUE(CardsOfJournalEntries({"1111", ""}).Known);
    EXPECT_FALSE(CardsOfJournalEntries({"1111", "ÄBC"}).Known);
    QStringList many;
    for (int i = 0; i <= MaxNamedCards; ++i)
        many << QString::number(i);
    EXPECT_FALSE(CardsOfJournalEntries(many).Known);
}

// A transaction's notice points to its journal entries only while every statement named its cards
// and the entries name them all.
TEST(ChangeHint, ANoticePointsToTheJournalOnlyWhenItsEntriesNameEveryChangedCard) {
    const auto entry = [](const QString& card, const QString& old = {}) {
        TJournalEntry written;
        written.CardNumber = card;
        written.OldCardNumber = old;
        return AppendJournalStatement(written, {"anna", "desk"}, QDateTime::currentDateTimeUtc());
    };
    TNoticeDraft draft;
    EXPECT_TRUE(draft.isEmpty());
    draft.Note("cardzones", DeleteCardZoneStatement(7, "1111"));
    draft.Note("cardzones", InsertCardZoneStatement(7, "2222", 1));
    draft.Note("pendingchanges", InsertPendingChangeStatement(7, 1));
    EXPECT_EQ(draft.Text(), "cardzones,pendingchanges");
    // Journalled as the saves do: one entry per card, a replacement naming both.
    draft.Note("journal", entry("1111"));
    EXPECT_FALSE(draft.CardsInJournal());
    draft.Note("journal", entry("2222", "aaaa"));
    EXPECT_TRUE(draft.CardsInJournal());
    EXPECT_EQ(draft.Text(), "cardzones,journal,pendingchanges");

    // A statement over all cards.
    draft.Note("cardholders", ClaimLiveCardHoldersStatement());
    EXPECT_FALSE(draft.CardsInJournal());

    // An entry for many cards at once cannot be read for its cards.
    draft.clear();
    EXPECT_TRUE(draft.isEmpty());
    draft.Note("cardholders", ClaimCardHolderStatement("4444"));
    draft.Note("journal", entry("4444"));
    EXPECT_TRUE(draft.CardsInJournal());
    draft.Note("journal", AppendGrantedZonesStatement(7, "Gate", 1, {"anna", "desk"},
                                                      QDateTime::currentDateTimeUtc()));
    EXPECT_FALSE(draft.CardsInJournal());

    // A replacement whose entry names the card in another letter case.
    draft.clear();
    draft.Note("cardholders", ClaimCardHolderStatement("00000abcde"));
    draft.Note("journal", entry("00000ABCDE"));
    EXPECT_TRUE(draft.CardsInJournal());
}

// The server takes a channel name of at most 63 bytes; a name cut inside a character is refused
// by every commit's notice.
TEST(ChangeHint, TheChannelIsCutToTheServersLengthOnACharacterBoundary) {
    EXPECT_EQ(SiteChannelName("site"), "vyr_site_site");
    const QString accented = "x" + QString(30, QChar(0xE9)); // 61 bytes
    EXPECT_EQ(QString::fromUtf8(SiteChannelName(accented)),
              "vyr_site_x" + QString(26, QChar(0xE9)));
    const QString beyond = QString::fromUcs4(U"\U0001F600") + QString(60, u'a');
    EXPECT_EQ(SiteChannelName(QString(26, u'a') + beyond).size(), 63);
    EXPECT_EQ(SiteChannelName(QString(53, u'a') + beyond), "vyr_site_" + QByteArray(53, 'a'));
}

} // namespace
