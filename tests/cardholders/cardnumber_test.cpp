#include "cardholderfixture.h"

#include "cardholders/cardholdersave.h"
#include "cardholders/cardnumber.h"

#include <gtest/gtest.h>

namespace {

TEST(CardNumberRules, TypedNumberFieldsTakeHexadecimalDigitsOnly) {
    for (const QChar c : QString("0123456789abcdefABCDEF"))
        EXPECT_TRUE(IsCardNumberCharacter(c)) << int(c.unicode());
    for (const QChar c : QString("gGzZ -_.:;\"'%\b\t\r\x03\x16\x7f"
                                 "\u00e9\uff10"))
        EXPECT_FALSE(IsCardNumberCharacter(c)) << int(c.unicode());
}

struct TypedCase {
    const char* typed;
    bool reverse;
    bool accepted;
    const char* field;
    const char* number;
};

TEST(CardNumberRules, TypedNumbersAreAcceptedAtTenCharactersAndReversedInPairs) {
    const TypedCase cases[] = {
        {"0a1b2c3d4e", false, true, "0A1B2C3D4E", "0A1B2C3D4E"},
        {"0a1b2c3d4e", true, true, "0A1B2C3D4E", "4E3D2C1B0A"},
        {"A1B2C3D4E5", true, true, "A1B2C3D4E5", "E5D4C3B2A1"},
        {"0a1b2c3d4", false, false, "", ""},
        {"0a1b2c3d4", true, false, "", ""},
        {"0a1b2c3d4e5", false, false, "", ""},
        {"", false, false, "", ""},
    };
    for (const TypedCase& c : cases) {
        const TTypedCardNumber typed = NormaliseTypedNumber(c.typed, c.reverse);
        EXPECT_EQ(typed.Accepted, c.accepted) << c.typed;
        EXPECT_EQ(typed.FieldText, c.field) << c.typed;
        EXPECT_EQ(typed.Number, c.number) << c.typed;
    }
}

TEST(CardNumberRules, OnlyANewOrReplacedNumberMustHaveTenCharacters) {
    const QString none; // a new cardholder
    struct {
        QString number;
        QString loaded;
        bool savable;
    } cases[] = {
        {"0A1B2C3D4E", none, true},
        {"0a1b2c3d", none, false},
        {"0A1B2C3D4E5F", none, false},
        {"", none, false},
        // An imported holder keeps the number it was loaded with, whatever its length.
        {"0a1b2c3d", "0a1b2c3d", true},
        {"0A1B2C3D4E5F", "0A1B2C3D4E5F", true},
        {"", "", true},
        // Its replacement is a card number like any other.
        {"A1B2C3D4E5", "0a1b2c3d", true},
        {"0A1B2C3D4", "0a1b2c3d", false},
        {"0A1B2C3D", "0a1b2c3d", false}, // the loaded number in other letters is another number
        {"0A1B2C3D4", "0A1B2C3D4E", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SavableCardNumber(c.number, c.loaded), c.savable)
            << c.number.toStdString() << " loaded as " << c.loaded.toStdString();
}

TEST(CardNumberRules, TextsKeepFiftyCharactersAndNeverSplitOne) {
    const QString emoji = QString::fromUtf8("\xF0\x9F\x94\x91"); // one character, two UTF-16 units
    struct {
        QString text;
        QString kept;
    } cases[] = {
        {QString(51, 'x'), QString(50, 'x')},
        {QString(50, 'x'), QString(50, 'x')},
        {QString(60, QChar(0x00E9)), QString(50, QChar(0x00E9))},
        {QString(49, 'x') + emoji, QString(49, 'x') + emoji},
        {QString(50, 'x') + emoji, QString(50, 'x')},
        {QString(49, 'x') + emoji + "y", QString(49, 'x') + emoji},
        {"O\"Brien 'quoted' %_", "O\"Brien 'quoted' %_"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CardText(c.text), c.kept) << c.text.toStdString();
}

class ExistenceCheckTest : public CardholderTest {};

TEST_F(ExistenceCheckTest, OnlyExactlyOneLiveCardholderCounts) {
    MakeOlderDatabase(); // which can still hold two rows for one card
    AddCardHolder("0A1B2C3D4E", "Live");
    AddCardHolder("1111111111", "Gone", {}, {}, true);
    AddCardHolder("2222222222", "Twice");
    AddCardHolder("2222222222", "Twice again");
    AddCardHolder("3333333333", "Gone", {}, {}, true);
    AddCardHolder("3333333333", "Back");

    EXPECT_TRUE(CardNumberInDatabase(&Session->Database(), "0A1B2C3D4E"));
    EXPECT_FALSE(CardNumberInDatabase(&Session->Database(), "1111111111"));
    EXPECT_FALSE(CardNumberInDatabase(&Session->Database(), "2222222222"));
    EXPECT_TRUE(CardNumberInDatabase(&Session->Database(), "3333333333"));
    EXPECT_FALSE(CardNumberInDatabase(&Session->Database(), "4444444444"));
    // A quote cannot end the literal early and match everything.
    EXPECT_FALSE(CardNumberInDatabase(&Session->Database(), "\") OR (1 = 1) OR (\"\" = \""));
    EXPECT_EQ(Database().Sent().first(),
              TMyStatement("SELECT CardHolder FROM CardHolders WHERE (CardNumber = ?) AND (NOT "
                           "Deleted)",
                           {QString("0A1B2C3D4E")}));

    // The lookup tells the holder, and a database that answered from one that did not.
    struct TCase {
        const char* Number;
        bool Found;
        const char* Holder;
    };
    for (const TCase& c : {TCase{"0A1B2C3D4E", true, "Live"}, TCase{"0a1b2c3d4e", true, "Live"},
                           TCase{"2222222222", false, ""}, TCase{"3333333333", true, "Back"},
                           TCase{"4444444444", false, ""}}) {
        const TCardLookup lookup = LookUpCardNumber(&Session->Database(), c.Number);
        EXPECT_TRUE(lookup.Answered) << c.Number;
        EXPECT_EQ(lookup.Found, c.Found) << c.Number;
        EXPECT_EQ(lookup.CardHolder, c.Holder) << c.Number;
    }

    Database().FailWhenContaining = "FROM CardHolders";
    EXPECT_FALSE(CardNumberInDatabase(&Session->Database(), "0A1B2C3D4E"));
    EXPECT_FALSE(LookUpCardNumber(&Session->Database(), "0A1B2C3D4E").Answered);
    EXPECT_FALSE(CardNumberInDatabase(nullptr, "0A1B2C3D4E"));
    EXPECT_FALSE(LookUpCardNumber(nullptr, "0A1B2C3D4E").Answered);
}

TEST_F(ExistenceCheckTest, TheDialogLoadsOnlyTheOneLiveRowWithItsTextsAsKept) {
    MakeOlderDatabase();
    const QString longName = QString(49, u'x') + "😀yz";
    AddCardHolder("0A1B2C3D4E", longName, "c1", "c2");
    AddCardHolder("1111111111", "Gone", {}, {}, true);
    AddCardHolder("2222222222", "Twice");
    AddCardHolder("2222222222", "Twice again");

    const std::optional<TCardHolder> loaded = LoadCardHolder(Session->Database(), "0a1b2c3d4e");
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->CardNumber, "0A1B2C3D4E"); // as stored, not as asked
    EXPECT_EQ(loaded->CardHolder, QString(49, u'x') + "😀");
    EXPECT_EQ(loaded->CardCustom1, "c1");
    EXPECT_EQ(loaded->CardCustom2, "c2");
    EXPECT_EQ(loaded->CardCustom3, "");
    for (const char* number : {"1111111111", "2222222222", "3333333333"})
        EXPECT_FALSE(LoadCardHolder(Session->Database(), number)) << number;
    Database().FailWhenContaining = "FROM CardHolders";
    EXPECT_FALSE(LoadCardHolder(Session->Database(), "0A1B2C3D4E"));
}

} // namespace
