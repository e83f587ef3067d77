#include "controllers/accidentaladmits.h"
#include "db/MyDBConnector.h"

#include "controllerdb.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::HasSubstr;

// Admitted card numbers with their zones and the granted cards that bring them in, as
// "number zones through", e.g. "12AB000009 1 12AB000001".
QStringList Described(const QList<TAccidentalAdmit>& admits) {
    QStringList texts;
    for (const TAccidentalAdmit& admit : admits) {
        QStringList zones;
        for (int zone : admit.Zones)
            zones << QString::number(zone);
        texts << (admit.Card.CardNumber + " " + zones.join(",") + " " + admit.Through.join(","))
                     .trimmed();
    }
    return texts;
}

QList<TSiteCard> SiteCards(const QStringList& numbers, const QStringList& deleted = {}) {
    QList<TSiteCard> cards;
    for (const QString& number : numbers)
        cards << TSiteCard{number, "Holder of " + number, false};
    for (const QString& number : deleted)
        cards << TSiteCard{number, "Former holder of " + number, true};
    return cards;
}

TEST(AccidentalAdmits, CardsThatBeginLikeAGrantedCardButAreNotGranted) {
    const struct {
        const char* name;
        QList<TCardGrant> grants;
        QList<TSiteCard> cards;
        QStringList admitted;
    } cases[] = {
        {"no card shares the first four characters",
         {{"12AB000001", 1}},
         SiteCards({"12AB000001", "12AC000001", "2AB0000001"}),
         {}},
        {"a card of another holder shares them",
         {{"12AB000001", 1}},
         SiteCards({"12AB000001", "12AB999999"}),
         {"12AB999999 1 12AB000001"}},
        {"a deleted holder's card shares them",
         {{"12AB000001", 2}},
         SiteCards({"12AB000001"}, {"12AB000777"}),
         {"12AB000777 2 12AB000001"}},
        // The key holds bytes: the letter case of either number does not matter.
        {"letter case of the admitted card",
         {{"12AB000001", 1}},
         SiteCards({"12AB000001", "12ab0000ff"}),
         {"12ab0000ff 1 12AB000001"}},
        {"letter case of the granted card",
         {{"cdef000001", 1}},
         SiteCards({"CDEF000001", "CDEF000002"}),
         {"CDEF000002 1 cdef000001"}},
        {"both cards granted: nothing by accident",
         {{"12AB000001", 1}, {"12AB000002", 2}},
         SiteCards({"12AB000001", "12AB000002"}),
         {}},
        {"zone 0 is no grant: that card is admitted by accident",
         {{"12AB000001", 1}, {"12AB000002", 0}},
         SiteCards({"12AB000001", "12AB000002"}),
         {"12AB000002 1 12AB000001"}},
        {"several holders behind one prefix, granted in both zones",
         {{"12AB000001", 1}, {"12AB000002", 2}},
         SiteCards({"12AB000001", "12AB000002", "12AB000003"}, {"12AB000004"}),
         {"12AB000003 1,2 12AB000001,12AB000002", "12AB000004 1,2 12AB000001,12AB000002"}},
        {"zone 1 and zone 2 prefixes apart",
         {{"12AB000001", 1}, {"34CD000001", 2}},
         SiteCards({"12AB000009", "34CD000009"}),
         {"12AB000009 1 12AB000001", "34CD000009 2 34CD000001"}},
        // A number of exactly four characters is the entry itself.
        {"a short card number of four characters",
         {{"12AB000001", 1}},
         SiteCards({"12AB", "12A", "12"}),
         {"12AB 1 12AB000001"}},
        {"a short granted number still gives its entry",
         {{"12AB", 1}},
         SiteCards({"12AB", "12AB000005"}),
         {"12AB000005 1 12AB"}},
        // Neither can be on a key.
        {"numbers that do not begin with four hexadecimal characters",
         {{"12G4000001", 1}, {"12", 1}},
         SiteCards({"12G4000002", "12", "1200000000"}),
         {}},
        {"no grants", {}, SiteCards({"12AB000001"}), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Described(AccidentalAdmits(c.grants, c.cards)), c.admitted);
    }
}

TEST(AccidentalAdmits, AKeyReadBackAdmitsWhatItsEntriesSayWhateverTheDatabaseGrants) {
    TKeyImageInput input;
    input.ConCode = "A1B2C3";
    input.Zone1Cards = {"12AB000001"};
    input.Zone2Cards = {"34CD000001"};
    const TDecodedKey key = DecodeKeyImage(BuildKeyImage(input));
    const QList<TSiteCard> cards =
        SiteCards({"12AB000001", "12AB000002", "34CD000001", "56EF000001"}, {"34CD000002"});

    // The controller's grants now: 34CD000001 lost its access since the key was written.
    const QList<TCardGrant> grants = {{"12AB000001", 1}, {"56EF000001", 1}};
    EXPECT_EQ(Described(KeyAdmitsWithoutGrant(key, grants, cards)),
              (QStringList{"12AB000002 1", "34CD000001 2", "34CD000002 2"}));
    // A key of no controller of this site: every card its entries let in.
    EXPECT_EQ(Described(KeyAdmitsWithoutGrant(key, {}, cards)),
              (QStringList{"12AB000001 1", "12AB000002 1", "34CD000001 2", "34CD000002 2"}));

    EXPECT_EQ(CardsOfEntry("12ab", cards), (QList<TSiteCard>{cards[0], cards[1]}));
    EXPECT_TRUE(CardsOfEntry("7777", cards).isEmpty());
}

TEST(AccidentalAdmits, TheNoteAfterAZoneChange) {
    const QList<TSiteCard> cards = SiteCards({"12AB000001", "12AB000002", "12AB000003"});
    struct Case {
        const char* name;
        QList<TCardGrant> grants; // after the click
        QString clicked;
        QString note; // a piece of it; empty: no note
    };
    const Case cases[] = {
        {"granting brings in the others",
         {{"12AB000001", 1}},
         "12AB000001",
         "Door now also admits cards 12AB000002, 12AB000003, which begin with the same four "
         "characters as card 12AB000001 but are not granted there."},
        {"one other card",
         {{"12AB000001", 1}, {"12AB000002", 2}},
         "12AB000002",
         "Door now also admits card 12AB000003, which begins"},
        {"taking a card away while a twin stays granted",
         {{"12AB000001", 1}},
         "12AB000002",
         "Door still admits card 12AB000002: another card granted there begins with the same "
         "four characters."},
        {"all three granted",
         {{"12AB000001", 1}, {"12AB000002", 1}, {"12AB000003", 2}},
         "12AB000003",
         ""},
        {"the last of them taken away", {}, "12AB000001", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString note =
            ZoneChangeNote("Door", c.clicked, AdmitsConcerning(c.clicked, c.grants, cards));
        if (c.note.isEmpty())
            EXPECT_EQ(note, "");
        else
            EXPECT_THAT(note.toStdString(), HasSubstr(c.note.toStdString()));
    }
}

using AccidentalAdmitsDbTest = ControllerDbTest;

TEST_F(AccidentalAdmitsDbTest, TheRuleOnTheDatabaseCountsDeletedHoldersAndOtherControllers) {
    const int32_t door = AddController("Door", "A1B2C3");
    const int32_t gate = AddController("Gate", "D4E5F6");
    AddCardHolder("12AB000001", "Ann");
    AddCardHolder("12ab000002", "Bob");               // granted at the gate only
    AddCardHolder("12AB000003", "Cas", {}, {}, true); // deleted
    AddCardHolder("34CD000001", "Dirk");
    AddCardHolder("34CD000002", "Eva");
    AddZone(door, "12AB000001", 1);
    AddZone(door, "34CD000001", 2);
    AddZone(door, "34CD000002", 2);
    AddZone(gate, "12ab000002", 1);

    const std::optional<QList<TAccidentalAdmit>> admits =
        ReadAccidentalAdmits(*Database().Inner, door);
    ASSERT_TRUE(admits);
    EXPECT_EQ(Described(*admits),
              (QStringList{"12ab000002 1 12AB000001", "12AB000003 1 12AB000001"}));
    EXPECT_EQ((*admits)[1].Card.CardHolder, "Cas");
    EXPECT_TRUE((*admits)[1].Card.Deleted);
    EXPECT_EQ(Described(*ReadAccidentalAdmits(*Database().Inner, gate)),
              (QStringList{"12AB000001 1 12ab000002", "12AB000003 1 12ab000002"}));

    const std::optional<QList<TSiteCard>> sharing = ReadSiteCardsOfEntry(*Database().Inner, "12ab");
    ASSERT_TRUE(sharing);
    QStringList cardsOf12ab;
    for (const TSiteCard& card : *sharing)
        cardsOf12ab << card.CardNumber;
    cardsOf12ab.sort();
    EXPECT_EQ(cardsOf12ab, (QStringList{"12AB000001", "12AB000003", "12ab000002"}));

    TStandController record = Record(door);
    EXPECT_THAT(ZoneChangeNote(*Database().Inner, record, "12AB000001").toStdString(),
                HasSubstr("Door now also admits cards 12ab000002, 12AB000003"));
    EXPECT_EQ(ZoneChangeNote(*Database().Inner, record, "34CD000002"), "");

    Database().FailWhenContaining = "FROM CardZones";
    EXPECT_FALSE(ReadAccidentalAdmits(Database(), door));
    EXPECT_EQ(ZoneChangeNote(Database(), record, "12AB000001"), "");
}

} // namespace
