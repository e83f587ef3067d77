#include "db/MyDBConnector.h"
#include "journal/journal.h"
#include "journal/journaltext.h"

#include "hostiletext.h"
#include "profiledb.h"

#include <gmock/gmock.h>

namespace {

using ::testing::ElementsAre;

const TJournalAuthor Anna{"anna", "reception"};
const TJournalAuthor Bert{"bert", "security-office"};

TJournalEntry Entry(TJournalAction action, int32_t conId, const QString& card,
                    QList<TJournalChange> changes = {}) {
    TJournalEntry entry;
    entry.Action = action;
    entry.ConID = conId;
    entry.ConName = conId ? "Door " + QString::number(conId) : QString();
    entry.CardNumber = card;
    entry.CardHolder = card.isEmpty() ? QString() : "Holder of " + card;
    entry.Changes = std::move(changes);
    return entry;
}

class JournalTest : public ProfileDbTest, public ::testing::WithParamInterface<TEngine> {
protected:
    TEngine Engine() const override { return GetParam(); }

    // Appends through the engine at a chosen moment, as a workstation with that clock would. A
    // server writes its own clock's time, which the site's owner here sets back afterwards.
    void Append(const TJournalEntry& entry, const TJournalAuthor& author = Anna,
                const QDateTime& at = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC)) {
        Exec(AppendJournalStatement(entry, author, at));
        if (Engine() == TEngine::PostgreSQL)
            Exec({"UPDATE Journal SET EntryTime = ? WHERE JournalID = (SELECT MAX(JournalID) FROM "
                  "Journal)",
                  {at.toString(Qt::ISODateWithMs)}});
    }
    QList<TJournalEntry> Read(const TJournalFilter& filter = {}, int limit = 0,
                              int64_t before = 0) {
        const std::optional<QList<TJournalEntry>> entries =
            ReadJournal(*Database().Inner, filter, limit, before);
        EXPECT_TRUE(entries) << Database().Inner->GetLastError().toStdString();
        return entries.value_or(QList<TJournalEntry>());
    }
    static QStringList Cards(const QList<TJournalEntry>& entries) {
        QStringList cards;
        for (const TJournalEntry& entry : entries)
            cards << entry.CardNumber;
        return cards;
    }
};

// Whatever an operator typed comes back from the journal exactly, with who, where and when.
TEST_P(JournalTest, AnEntryComesBackAsItWasWritten) {
    const QDateTime at(QDate(2026, 12, 10), QTime(23, 59, 58, 123), Qt::UTC);
    for (const QString& text : HostileTexts()) {
        SCOPED_TRACE(text.toStdString());
        TJournalEntry entry = Entry(TJournalAction::CardHolderEdited, 7, "12AB000001",
                                    {{"CardHolder", text, "Anna"}, {"CardCustom1", "", text}});
        entry.ConName = text;
        entry.CardHolder = text;
        Exec(AppendJournalStatement(entry, {text, text}, at));
        const QList<TJournalEntry> read = Read({}, 1);
        ASSERT_EQ(read.size(), 1);
        // A server puts its own time and the role it authenticated beside the workstation's word.
        if (Engine() == TEngine::PostgreSQL) {
            EXPECT_TRUE(read[0].Time.isValid());
            EXPECT_NE(read[0].Time, at);
            EXPECT_EQ(read[0].DatabaseRole, "postgres");
        } else {
            EXPECT_EQ(read[0].Time, at);
            EXPECT_EQ(read[0].DatabaseRole, "");
        }
        EXPECT_EQ(read[0].Operator, text);
        EXPECT_EQ(read[0].Workstation, text);
        EXPECT_EQ(read[0].Action, TJournalAction::CardHolderEdited);
        EXPECT_EQ(read[0].ConID, 7);
        EXPECT_EQ(read[0].ConName, text);
        EXPECT_EQ(read[0].CardNumber, "12AB000001");
        EXPECT_EQ(read[0].CardHolder, text);
        EXPECT_EQ(read[0].Changes, entry.Changes);
    }
}

TEST_P(JournalTest, HistoriesAreNewestFirstFilteredAndPaged) {
    const auto day = [](int d) { return QDateTime(QDate(2026, 3, d), QTime(9, 0), Qt::UTC); };
    Append(Entry(TJournalAction::ControllerAdded, 1, {}), Anna, day(1));
    Append(Entry(TJournalAction::ZoneChanged, 1, "AAAA000001", {{"ZoneID", "0", "1"}}), Anna,
           day(2));
    Append(Entry(TJournalAction::ZoneChanged, 2, "aaaa000001", {{"ZoneID", "0", "2"}}), Bert,
           day(3));
    Append(Entry(TJournalAction::CardHolderAdded, 0, "BBBB000001"), Bert, day(4));
    // A workstation with a clock behind: the entry still counts as the newest.
    Append(Entry(TJournalAction::ZoneChanged, 1, "BBBB000001", {{"ZoneID", "0", "1"}}), Anna,
           day(1));

    EXPECT_THAT(Cards(Read()),
                ElementsAre("BBBB000001", "BBBB000001", "aaaa000001", "AAAA000001", ""));
    struct {
        const char* what;
        TJournalFilter filter;
        QStringList cards;
    } cases[] = {
        {"period", {day(2), day(4), {}, 0, {}}, {"aaaa000001", "AAAA000001"}},
        {"operator", {{}, {}, "bert", 0, {}}, {"BBBB000001", "aaaa000001"}},
        {"controller", {{}, {}, {}, 1, {}}, {"BBBB000001", "AAAA000001", ""}},
        // Card numbers compare regardless of letter case, as everywhere in a site.
        {"card", {{}, {}, {}, 0, "AaAa000001"}, {"aaaa000001", "AAAA000001"}},
        {"all at once", {day(1), day(5), "anna", 1, "AAAA000001"}, {"AAAA000001"}},
        {"nothing", {{}, {}, "cas", 0, {}}, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Cards(Read(c.filter)), c.cards) << c.what;

    const QList<TJournalEntry> first = Read({}, 2);
    ASSERT_EQ(first.size(), 2);
    const QList<TJournalEntry> second = Read({}, 2, first.back().Id);
    EXPECT_THAT(Cards(second), ElementsAre("aaaa000001", "AAAA000001"));
    EXPECT_THAT(Cards(Read({}, 2, second.back().Id)), ElementsAre(""));
    EXPECT_THAT(JournalOperators(*Database().Inner), ElementsAre("anna", "bert"));
}

// A holder's history goes on across the cards they were given, also when a card came back.
TEST_P(JournalTest, ACardsHistoryIncludesTheCardsItReplaced) {
    Append(Entry(TJournalAction::CardHolderAdded, 0, "1111111111"));
    Append(Entry(TJournalAction::ZoneChanged, 3, "1111111111", {{"ZoneID", "0", "1"}}));
    Append(Entry(TJournalAction::CardHolderAdded, 0, "9999999999"));
    TJournalEntry replaced = Entry(TJournalAction::CardReplaced, 0, "2222222222");
    replaced.OldCardNumber = "1111111111";
    Append(replaced);
    replaced.CardNumber = "1111111111";
    replaced.OldCardNumber = "2222222222";
    Append(replaced);
    replaced.CardNumber = "3333333333";
    replaced.OldCardNumber = "1111111111";
    Append(replaced);

    EXPECT_THAT(Cards(Read({{}, {}, {}, 0, "3333333333"})),
                ElementsAre("3333333333", "1111111111", "2222222222", "1111111111", "1111111111"));
    EXPECT_THAT(Cards(Read({{}, {}, {}, 0, "9999999999"})), ElementsAre("9999999999"));
}

// A card handed out again: a holder's history keeps to the stretches in which they had each card,
// without the card's earlier or later holders; the site's card filter still shows all of the card.
TEST_P(JournalTest, AHoldersHistoryKeepsToWhileTheyHadEachCard) {
    const auto append = [this](TJournalAction action, int32_t conId, const QString& card,
                               const QString& holder, const QString& oldCard = {}) {
        TJournalEntry entry = Entry(action, conId, card);
        entry.CardHolder = holder;
        entry.OldCardNumber = oldCard;
        Append(entry);
    };
    const QString first = "1111111111", second = "2222222222", unseen = "7777777777";
    append(TJournalAction::CardHolderAdded, 0, first, "Bob");
    append(TJournalAction::ZoneChanged, 3, first, "Bob");
    append(TJournalAction::CardHolderDeleted, 0, first, "Bob");
    append(TJournalAction::CardHolderAdded, 0, first, "Ann");
    append(TJournalAction::ZoneChanged, 4, first, "Ann");
    append(TJournalAction::CardReplaced, 0, second, "Ann", first);
    append(TJournalAction::CardHolderAdded, 0, first, "Carl");
    append(TJournalAction::ZoneChanged, 5, first, "Carl");
    append(TJournalAction::ZoneChanged, 6, second, "Ann");
    // Added before the journal began: everything of the card is theirs.
    append(TJournalAction::ZoneChanged, 3, unseen, "Dora");

    const auto holders = [](const QList<TJournalEntry>& entries) {
        QStringList names;
        for (const TJournalEntry& entry : entries)
            names << entry.CardHolder + " " + entry.CardNumber;
        return names;
    };
    TJournalFilter ann;
    ann.CardNumber = second;
    ann.HolderOnly = true;
    EXPECT_THAT(holders(Read(ann)), ElementsAre("Ann 2222222222", "Ann 2222222222",
                                                "Ann 1111111111", "Ann 1111111111"));
    // A page at a time, as the window reads it.
    const QList<TJournalEntry> firstPage = Read(ann, 3);
    ASSERT_EQ(firstPage.size(), 3);
    EXPECT_THAT(holders(Read(ann, 3, firstPage.back().Id)), ElementsAre("Ann 1111111111"));

    TJournalFilter carl;
    carl.CardNumber = first;
    carl.HolderOnly = true;
    EXPECT_THAT(holders(Read(carl)), ElementsAre("Carl 1111111111", "Carl 1111111111"));

    TJournalFilter dora;
    dora.CardNumber = unseen;
    dora.HolderOnly = true;
    EXPECT_THAT(holders(Read(dora)), ElementsAre("Dora 7777777777"));

    TJournalFilter card;
    card.CardNumber = first;
    EXPECT_EQ(Read(card).size(), 7);
}

// An entry belongs to its change: rolled back together, kept together.
TEST_P(JournalTest, AnEntryRolledBackWithItsChangeLeavesNothing) {
    TMyDBConnector& database = *Database().Inner;
    ASSERT_TRUE(database.StartTransaction());
    ASSERT_TRUE(AppendJournal(database, Entry(TJournalAction::ControllerDeleted, 4, {}), Anna));
    database.RollbackTransaction();
    EXPECT_TRUE(Read().isEmpty());

    ASSERT_TRUE(database.StartTransaction());
    ASSERT_TRUE(AppendJournal(database, Entry(TJournalAction::ControllerDeleted, 4, {}), Bert));
    ASSERT_TRUE(database.CommitTransaction());
    const QList<TJournalEntry> kept = Read();
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(kept[0].Operator, "bert");
    // Written now, by the clock of this machine.
    EXPECT_LE(qAbs(kept[0].Time.secsTo(QDateTime::currentDateTimeUtc())), 60);
}

TEST_P(JournalTest, AnOlderDatabaseGetsTheTableOnceAndKeepsItsEntries) {
    TMyDBConnector& database = *Database().Inner;
    database.ExecuteQuery("DROP TABLE Journal"); // changes no row: only the append below can tell
    EXPECT_FALSE(AppendJournal(database, Entry(TJournalAction::ControllerAdded, 1, {}), Anna));
    ASSERT_TRUE(AddJournalTable(database)) << database.GetLastError().toStdString();
    ASSERT_TRUE(AppendJournal(database, Entry(TJournalAction::ControllerAdded, 1, {}), Anna));
    ASSERT_TRUE(AddJournalTable(database));
    EXPECT_EQ(Read().size(), 1);
}

// A journal made with the first set of indexes gets the key writes' index when it is opened, in
// place of the replacements' index that every change had to write as well; a card's history still
// follows its replacements.
TEST_P(JournalTest, AnOlderJournalGetsTheKeyWritesIndexInPlaceOfTheReplacementsIndex) {
    TMyDBConnector& database = *Database().Inner;
    const bool server = GetParam() == TEngine::PostgreSQL;
    const auto indexes = [&] {
        QStringList names = Column(
            server ? "SELECT indexname FROM pg_indexes WHERE (schemaname = current_schema()) AND "
                     "(tablename = \"journal\")"
                   : "SELECT name FROM sqlite_master WHERE (type = \"index\") AND (tbl_name = "
                     "\"Journal\") AND (sql IS NOT NULL)");
        for (QString& name : names)
            name = name.toLower();
        names.removeAll("journal_pkey");
        names.sort();
        return names;
    };
    const QStringList current{"journalbyaction", "journalbycard", "journalbycontroller",
                              "journalbyoperator", "journalbytime"};
    ASSERT_EQ(indexes(), current);
    database.ExecuteCounted("DROP INDEX JournalByAction");
    database.ExecuteCounted("CREATE INDEX JournalReplacements ON Journal (Action, CardNumber)");
    Append(Entry(TJournalAction::ZoneChanged, 3, "1111111111", {{"ZoneID", "0", "1"}}));
    TJournalEntry replaced = Entry(TJournalAction::CardReplaced, 0, "2222222222");
    replaced.OldCardNumber = "1111111111";
    Append(replaced);
    Append(Entry(TJournalAction::KeyWritten, 3, {}, {{"CRC8", "", "5A"}}));

    ASSERT_TRUE(AddJournalTable(database)) << database.GetLastError().toStdString();
    EXPECT_EQ(indexes(), current);
    EXPECT_EQ(Read().size(), 3);
    EXPECT_THAT(Cards(Read({{}, {}, {}, 0, "2222222222"})),
                ElementsAre("2222222222", "1111111111"));
    const std::optional<QHash<int32_t, TJournalEntry>> writes = LastKeyWrites(database);
    ASSERT_TRUE(writes);
    EXPECT_EQ(writes->keys(), QList<int32_t>{3});
}

// The controller list tells per controller when its key was last written and by whom.
TEST_P(JournalTest, EachControllersLastKeyWriteIsFound) {
    const auto write = [&](int32_t conId, const TJournalAuthor& author) {
        Append(Entry(TJournalAction::KeyWritten, conId, {}, {{"CRC8", "", "5A"}}), author);
    };
    write(1, Anna);
    Append(Entry(TJournalAction::ZoneChanged, 1, "1111111111", {{"ZoneID", "0", "1"}}), Bert);
    write(2, Anna);
    write(1, Bert);
    Append(Entry(TJournalAction::ControllerEdited, 3, {}), Bert);
    const std::optional<QHash<int32_t, TJournalEntry>> writes = LastKeyWrites(*Database().Inner);
    ASSERT_TRUE(writes);
    EXPECT_EQ(writes->size(), 2);
    EXPECT_EQ(writes->value(1).Operator, "bert");
    EXPECT_EQ(writes->value(2).Operator, "anna");
    EXPECT_FALSE(writes->contains(3));
}

INSTANTIATE_TEST_SUITE_P(Engines, JournalTest, ::testing::ValuesIn(BothEngines), EngineCaseName);

TEST(JournalCsv, FieldsAreQuotedAsRfc4180AsksAndNeverRunAsFormulas) {
    const struct {
        const char* field;
        const char* written;
    } cases[] = {
        {"Anna", "Anna"},
        {"", ""},
        {"Jansen, Anna", "\"Jansen, Anna\""},
        {"Anna \"Ans\" Jansen", "\"Anna \"\"Ans\"\" Jansen\""},
        {"two\r\nlines", "\"two\r\nlines\""},
        {"line\nfeed", "\"line\nfeed\""},
        {"=HYPERLINK(\"http://x\")", "\"'=HYPERLINK(\"\"http://x\"\")\""},
        {"+31 20 1234567", "'+31 20 1234567"},
        {"-1", "'-1"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"\tTab", "'\tTab"},
        {"Zoë 🔑", "Zoë 🔑"},
        {"2026-03-01 12:00:00", "2026-03-01 12:00:00"},
    };
    for (const auto& c : cases) {
        const QByteArray document = CsvDocument({{QString::fromUtf8(c.field), "x"}});
        EXPECT_EQ(document, QByteArray("\xEF\xBB\xBF") + c.written + ",x\r\n") << c.field;
    }
    EXPECT_EQ(CsvDocument({{"a", "b"}, {"c"}, {}}), "\xEF\xBB\xBF"
                                                    "a,b\r\nc\r\n\r\n");
}

TEST(JournalText, EveryActionReadsAsASentenceWithItsValues) {
    const auto entry = [](TJournalAction action, QList<TJournalChange> changes = {}) {
        TJournalEntry e = Entry(action, 2, "12AB000001", std::move(changes));
        e.OldCardNumber = "34CD000001";
        e.CardHolder = "Anna";
        return e;
    };
    const struct {
        TJournalEntry entry;
        const char* text;
    } cases[] = {
        {entry(TJournalAction::CardHolderAdded), "Cardholder Anna added with card 12AB000001"},
        {entry(TJournalAction::CardHolderEdited,
               {{"CardHolder", "Ana", "Anna"}, {"CardCustom2", "", "Room 4"}}),
         "Cardholder Anna (card 12AB000001) edited: Name from \"Ana\" to \"Anna\"; Custom field 2 "
         "from \"\" to \"Room 4\""},
        {entry(TJournalAction::CardReplaced),
         "Card 34CD000001 of Anna replaced by card 12AB000001"},
        {entry(TJournalAction::CardHolderDeleted), "Cardholder Anna (card 12AB000001) deleted"},
        {entry(TJournalAction::ZoneChanged, {{"ZoneID", "0", "2"}}),
         "Card 12AB000001 (Anna) at Door 2: zone 2, before no access"},
        {entry(TJournalAction::ControllerAdded), "Controller Door 2 added"},
        {entry(TJournalAction::ControllerEdited, {{"ConCode", "000000", "A1B2C3"}}),
         "Controller Door 2 edited: Controller code from \"000000\" to \"A1B2C3\""},
        {entry(TJournalAction::ControllerDeleted), "Controller Door 2 deleted"},
        {entry(TJournalAction::KeyWritten,
               {{"CRC8", "", "5A"}, {"Zone1Cards", "", "12"}, {"Zone2Cards", "", "0"}}),
         "Memory key of Door 2 written and verified: check byte 5A, 12 cards in zone 1, 0 cards in "
         "zone 2"},
        {entry(TJournalAction::KeyWritten, {{"CRC8", "", "5A"},
                                            {"Zone1Cards", "", "12"},
                                            {"Zone2Cards", "", "0"},
                                            {"OutOfDate", "", "1"}}),
         "Memory key of Door 2 written and verified, but already out of date (changed meanwhile): "
         "check byte 5A, 12 cards in zone 1, 0 cards in zone 2"},
        {entry(TJournalAction::CardHolderEdited, {{"CardNumber", "12ab000001", "12AB000001"}}),
         "Cardholder Anna (card 12AB000001) edited: Card number from \"12ab000001\" to "
         "\"12AB000001\""},
        {entry(TJournalAction::LegacyImport,
               {{"CardHolders", "", "10000"}, {"Controllers", "", "128"}, {"Zones", "", "128000"}}),
         "Cards of the previous software imported: 10000 cardholders, 128 controllers, 128000 "
         "zones"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DescribeJournalEntry(c.entry), c.text);
        // Stored under a name this version can read back.
        EXPECT_EQ(JournalActionFromCode(JournalActionCode(c.entry.Action)), c.entry.Action);
    }
    EXPECT_FALSE(JournalActionFromCode("badge-printed"));
}

} // namespace
