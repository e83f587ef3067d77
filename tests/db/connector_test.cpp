#include "controllers/pendingchanges.h"
#include "db/MyPostgreSQL.h"
#include "db/MySQLite.h"
#include "db/accessdialect.h"
#include "shared/errors.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "hostiletext.h"
#include "profiledb.h"

#include <memory>

namespace {

// The connector's promises that hold on every engine: a fresh site database on each (a copy of
// the template, or a new database of the test cluster), and the same statements and answers.
class Connector : public EngineProfileDbTest {
protected:
    void SetUp() override {
        ProfileDbTest::SetUp();
        if (HasFatalFailure())
            return;
        Db = Database().Inner.get();
    }

    bool AddCard(const QString& number, const QString& holder) {
        return Db->ExecuteQuery({"INSERT INTO CardHolders (CardNumber, CardHolder, CardCustom1, "
                                 "CardCustom2, CardCustom3, CardCustom4, CardAdded, CardLastEdit) "
                                 "VALUES (?, ?, \"\", \"\", \"\", \"\", NOW(), NOW())",
                                 {number, holder}});
    }

    // A second connection to the same database, as another copy of the program would have.
    std::unique_ptr<TMyDBConnector> Observer() const {
        std::unique_ptr<TMyDBConnector> observer;
        if (GetParam() == TEngine::SQLite)
            observer = std::make_unique<TMySQLite>();
        else
            observer = std::make_unique<TMyPostgreSQL>();
        observer->ConnectionString = Db->ConnectionString;
        EXPECT_TRUE(observer->Connect()) << observer->GetLastError().toStdString();
        return observer;
    }

    QString Error() const { return Db->GetLastError(); }

    TMyDBConnector* Db = nullptr;
};

TEST_P(Connector, NamesItsEngineAndStartsWithNoError) {
    EXPECT_EQ(Db->GetDBTypeName(), GetParam() == TEngine::SQLite ? "sqlite" : "postgresql");
    EXPECT_TRUE(Db->IsConnected());
    EXPECT_EQ(Db->GetLastError(), "");
}

TEST_P(Connector, RejectedStatementHandsBackNoRowsAndSaysWhy) {
    EXPECT_EQ(Db->Query("SELECT * FROM NoSuchTable"), nullptr);
    EXPECT_TRUE(Error().contains("NoSuchTable", Qt::CaseInsensitive)) << Error().toStdString();
    EXPECT_FALSE(Db->ExecuteQuery("UPDATE NoSuchTable SET x = 1"));
    EXPECT_TRUE(Error().contains("NoSuchTable", Qt::CaseInsensitive)) << Error().toStdString();
}

TEST_P(Connector, BulkWorkCommitsWhatWasDoneWhenAnErrorEndsIt) {
    const std::unique_ptr<TMyDBConnector> observer = Observer();
    auto observedCards = [&] {
        const std::unique_ptr<TMyResultSet> result =
            observer->Query("SELECT COUNT(*) FROM CardHolders");
        return result ? result->Fields(0).AsInteger() : -1;
    };
    try {
        TBulkWork bulk(Db);
        ASSERT_TRUE(AddCard("0000000001", "One"));
        EXPECT_FALSE(Db->ExecuteQuery("INSERT INTO NoSuchTable VALUES (1)"));
        ASSERT_TRUE(AddCard("0000000002", "Two")) << Error().toStdString();
        // Inside the transaction: nobody else sees the rows yet.
        EXPECT_EQ(observedCards(), 0);
        throw VyrError("The legacy file could not be read");
    } catch (const VyrError&) {
    }
    EXPECT_EQ(observedCards(), 2);
    // Back to one statement at a time: visible at once.
    ASSERT_TRUE(AddCard("0000000003", "Three"));
    EXPECT_EQ(observedCards(), 3);
}

TEST_P(Connector, ExecuteQueryIsTrueOnlyForExactlyOneAffectedRow) {
    EXPECT_TRUE(AddCard("0000000001", "One"));
    EXPECT_TRUE(AddCard("0000000002", "Two"));
    for (const char* conId : {"1", "2"})
        EXPECT_TRUE(Db->ExecuteQuery(QStringLiteral("INSERT INTO CardZones (ConID, CardNumber, "
                                                    "ZoneID) VALUES (") +
                                     conId + ", \"0000000002\", 1)"));
    EXPECT_FALSE(Db->ExecuteQuery("UPDATE CardHolders SET CardHolder = \"x\" WHERE CardNumber = "
                                  "\"FFFFFFFFFF\""));
    EXPECT_TRUE(Db->ExecuteQuery("UPDATE CardHolders SET CardHolder = \"Uno\" WHERE CardNumber = "
                                 "\"0000000001\""));
    // The previous change counted one row; a statement that returns rows must not inherit it.
    EXPECT_FALSE(Db->ExecuteQuery("SELECT CardHolder FROM CardHolders WHERE CardNumber = "
                                  "\"0000000001\""));
    EXPECT_FALSE(Db->ExecuteQuery("DELETE * FROM CardZones WHERE CardNumber = \"0000000002\""));
    // None of these was an error.
    EXPECT_EQ(Db->GetLastError(), "");
    EXPECT_EQ(Column("SELECT COUNT(*) FROM CardZones"), QStringList{"0"});
}

TEST_P(Connector, ASecondStatementIsRefusedAndNeverRun) {
    ASSERT_TRUE(AddCard("0000000001", "One"));
    EXPECT_EQ(Db->Query("SELECT CardHolder FROM CardHolders; DELETE * FROM CardHolders"), nullptr);
    EXPECT_FALSE(Db->ExecuteQuery("DELETE * FROM CardZones; DELETE * FROM CardHolders"));
    EXPECT_FALSE(Db->GetLastError().isEmpty());
    EXPECT_EQ(Column("SELECT CardHolder FROM CardHolders"), QStringList{"One"});
}

TEST_P(Connector, SoftDeletedCardsAreExcludedByNotDeleted) {
    ASSERT_TRUE(AddCard("0000000001", "Kept"));
    ASSERT_TRUE(AddCard("0000000002", "Gone"));
    EXPECT_TRUE(Db->ExecuteQuery("UPDATE CardHolders SET Deleted = 1 WHERE CardNumber = "
                                 "\"0000000002\""));
    EXPECT_EQ(Column("SELECT CardHolder FROM CardHolders WHERE (NOT Deleted)"),
              QStringList{"Kept"});
    EXPECT_EQ(Column("SELECT COUNT(*) FROM CardHolders"), QStringList{"2"});
}

TEST_P(Connector, IdentityIsTheKeyOfTheLastInsertAndKeysAreNotReused) {
    auto addController = [this](const QString& name) {
        EXPECT_TRUE(
            Db->ExecuteQuery({"INSERT INTO Controllers (ConType, ConName, ConCode, "
                              "ConByte1, ConByte2) VALUES (\"VYR292\", ?, \"A1B2C3\", 7, 4)",
                              {name}}));
        const std::unique_ptr<TMyResultSet> result = Db->Query("SELECT @@Identity");
        return result ? result->Fields(0).AsInteger() : -1;
    };
    const int first = addController("Front door");
    const int second = addController("Back door");
    EXPECT_GT(first, 0);
    EXPECT_EQ(Column("SELECT ConID FROM Controllers WHERE ConName = \"Back door\""),
              QStringList{QString::number(second)});
    ASSERT_TRUE(Db->ExecuteQuery({"DELETE * FROM Controllers WHERE ConID = ?", {second}}));
    EXPECT_GT(addController("Gate"), second);
}

TEST_P(Connector, BoundValuesAreStoredExactlyAsTyped) {
    const QStringList& texts = HostileTexts();
    for (int i = 0; i < texts.size(); ++i)
        ASSERT_TRUE(AddCard(QString::number(i), texts[i])) << Db->GetLastError().toStdString();
    for (int i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(Column({"SELECT CardHolder FROM CardHolders WHERE (CardNumber = ?) AND (NOT "
                          "Deleted)",
                          {QString::number(i)}}),
                  QStringList{texts[i]});
        // And the value finds its own row when used as the key.
        EXPECT_EQ(Column({"SELECT CardNumber FROM CardHolders WHERE CardHolder = ?", {texts[i]}}),
                  QStringList{QString::number(i)});
    }
}

TEST_P(Connector, ValuesThatCannotBeBoundFailTheStatementAndChangeNothing) {
    struct TCase {
        const char* What;
        TMyStatement Statement;
        const char* Error;
    };
    const QString insert = "INSERT INTO CardHolders (CardNumber, CardHolder) VALUES (?, ?)";
    const TCase cases[] = {
        {"too few", {insert, {QString("0000000001")}}, "room for 2 values but was given 1"},
        {"too many",
         {insert, {QString("0000000001"), QString("One"), QString("Two")}},
         "room for 2 values but was given 3"},
        {"a ? in a literal is no place",
         {"INSERT INTO CardHolders (CardNumber, CardHolder) VALUES (?, \"?\")",
          {QString("0000000001"), QString("One")}},
         "room for 1 values but was given 2"},
        {"bytes", {insert, {QString("0000000001"), QByteArray("One")}}, "QByteArray"},
        {"an unsigned 64-bit number",
         {insert, {QString("0000000001"), QVariant::fromValue(quint64(1))}},
         "qulonglong"},
        {"a named place",
         {"INSERT INTO CardHolders (CardNumber, CardHolder) VALUES (?, :holder)",
          {QString("0000000001")}},
         "other than by ?"},
        {"numbered places out of order",
         {"INSERT INTO CardHolders (CardNumber, CardHolder) VALUES (?2, ?1)",
          {QString("0000000001"), QString("One")}},
         "other than by ?"},
        {"one numbered place used twice",
         {"INSERT INTO CardHolders (CardNumber, CardHolder) VALUES (?1, ?1)",
          {QString("0000000001"), QString("One")}},
         "other than by ?"},
        {"an @ place",
         {"INSERT INTO CardHolders (CardNumber, CardHolder) VALUES (?, @holder)",
          {QString("0000000001")}},
         "other than by ?"},
    };
    for (const TCase& c : cases) {
        EXPECT_FALSE(Db->ExecuteQuery(c.Statement)) << c.What;
        EXPECT_THAT(Db->GetLastError().toStdString(), ::testing::HasSubstr(c.Error)) << c.What;
        EXPECT_EQ(Db->Query(c.Statement), nullptr) << c.What;
    }
    EXPECT_EQ(Column("SELECT COUNT(*) FROM CardHolders"), QStringList{"0"});
}

TEST_P(Connector, MaxBoundValuesIsWhatOneStatementCanCarry) {
    const int most = Db->MaxBoundValues();
    ASSERT_GE(most, 999);
    auto inList = [](int values) {
        TMyStatement statement("SELECT COUNT(*) FROM CardHolders WHERE CardNumber IN (?");
        statement.Sql += QStringLiteral(",?").repeated(values - 1) + ")";
        for (int i = 0; i < values; ++i)
            statement.Values << QString::number(i);
        return statement;
    };
    EXPECT_EQ(Column(inList(most)), QStringList{"0"});
    EXPECT_EQ(Db->Query(inList(most + 1)), nullptr);
    EXPECT_FALSE(Db->GetLastError().isEmpty());
}

TEST_P(Connector, LikeContainsMatchesTypedTextAsAPlainSubstring) {
    const QStringList& texts = HostileTexts();
    for (int i = 0; i < texts.size(); ++i)
        ASSERT_TRUE(AddCard(QString::number(i), texts[i]));
    ASSERT_TRUE(AddCard("x1", "50 percent"));
    ASSERT_TRUE(AddCard("x2", "aXb"));
    ASSERT_TRUE(AddCard("x3", "ÉMILE ZOË"));
    const QStringList all = Column("SELECT CardHolder FROM CardHolders");
    for (const QString& typed : texts + QStringList{"émile", "e"}) {
        QStringList expected;
        for (const QString& holder : all) {
            if (holder.toCaseFolded().contains(typed.toCaseFolded()))
                expected << holder;
        }
        const TLikeOperand like = LikeContains(typed);
        QStringList found = Column({"SELECT CardHolder FROM CardHolders WHERE (NOT Deleted) AND "
                                    "(CardHolder LIKE " +
                                        like.Sql + ")",
                                    {like.Pattern}});
        expected.sort();
        found.sort();
        EXPECT_EQ(found, expected) << "typed: " << typed.toStdString();
    }
}

TEST_P(Connector, NamesAreOrderedIgnoringCaseWithAccentsBesideTheirLetter) {
    const QStringList names = {"b", "É", "Zoë", "A", "e", "c", "f", "ä", "a", "B", "é", "Émile"};
    for (const QString& name : names) {
        ASSERT_TRUE(AddCard(QString::number(names.indexOf(name)), name));
        ASSERT_TRUE(Db->ExecuteQuery({"INSERT INTO Controllers (ConName) VALUES (?)", {name}}));
    }
    // Rows that differ only in case may come in either order.
    const QStringList expected = {"a", "a", "ä", "b", "b", "c", "e", "é", "é", "émile", "f", "zoë"};
    for (const char* sql : {"SELECT CardHolder FROM CardHolders ORDER BY CardHolder ASC",
                            "SELECT ConName FROM Controllers ORDER BY ConName ASC"}) {
        QStringList folded;
        for (const QString& name : Column(sql))
            folded << name.toCaseFolded();
        EXPECT_EQ(folded, expected) << sql;
    }
    // Equal under the same rules, as Access compares text.
    EXPECT_EQ(Column("SELECT COUNT(*) FROM Controllers WHERE ConName = \"ÉMILE\""),
              QStringList{"1"});
    EXPECT_EQ(Column("SELECT COUNT(*) FROM Controllers WHERE ConName = \"Emile\""),
              QStringList{"0"});
}

TEST_P(Connector, CardNumbersCompareIgnoringCase) {
    ASSERT_TRUE(AddCard("00000ABCDE", "Hex"));
    EXPECT_EQ(Column("SELECT CardHolder FROM CardHolders WHERE CardNumber = \"00000abcde\""),
              QStringList{"Hex"});
}

TEST_P(Connector, ResultSetReadsRowsInOrderAndFieldsByAnyCase) {
    ASSERT_TRUE(AddCard("0000000001", "First"));
    ASSERT_TRUE(AddCard("0000000002", "Second"));
    ASSERT_TRUE(Db->ExecuteQuery("INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES (3, "
                                 "\"0000000002\", 2)"));
    std::unique_ptr<TMyResultSet> result = Db->Query(
        "SELECT CardNumber, CardHolder, CardInactive, CardAdded FROM CardHolders ORDER BY "
        "CardNumber ASC");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->RecordCount(), 2);
    EXPECT_EQ(result->FieldCount(), 4);
    EXPECT_EQ(result->FieldByName("cardholder").AsString(), "First");
    result->Next();
    EXPECT_EQ(result->FieldByName("CARDNUMBER").AsString(), "0000000002");
    const TMyField inactive = result->FieldByName("CardInactive");
    EXPECT_TRUE(inactive.IsNull());
    EXPECT_EQ(inactive.AsString(), "");
    EXPECT_EQ(inactive.AsInteger(), 0);
    EXPECT_FALSE(inactive.AsDateTime().isValid());
    EXPECT_FALSE(result->FieldByName("CardAdded").IsNull());
    EXPECT_THROW(result->FieldByName("NoSuchField"), VyrError);
    EXPECT_THROW(result->Fields(4), VyrError);
    result->Next();
    EXPECT_TRUE(result->Eof());
    EXPECT_TRUE(result->Fields(0).IsNull());
    result->First();
    EXPECT_EQ(result->Fields(1).AsString(), "First");

    result = Db->Query("SELECT ConID, ZoneID FROM CardZones WHERE (CardNumber = \"0000000002\")");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->Fields(0).AsInteger(), 3);
    EXPECT_EQ(result->Fields(1).AsInteger(), 2);
    EXPECT_EQ(result->Fields(1).AsString(), "2");
}

TEST_P(Connector, NowIsStoredAsLocalTimeAndReadBackAsTheSameMoment) {
    // Away from UTC, so a mix-up of local and universal time cannot pass unseen.
    const QByteArray oldZone = qgetenv("TZ");
    qputenv("TZ", "XST-5");
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    ASSERT_TRUE(AddCard("0000000001", "Timed"));
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);
    const std::unique_ptr<TMyResultSet> result =
        Db->Query("SELECT CardAdded, CardLastEdit FROM CardHolders");
    ASSERT_TRUE(result);
    const QDateTime added = result->Fields(0).AsDateTime();
    EXPECT_EQ(result->Fields(0).AsString(), result->Fields(1).AsString());
    if (oldZone.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", oldZone);
    ASSERT_TRUE(added.isValid());
    EXPECT_EQ(added.timeSpec(), Qt::LocalTime);
    EXPECT_LE(before, added);
    EXPECT_GE(after, added);
}

TEST_P(Connector, StatementsWhileDisconnectedFailIntoLastError) {
    int connected = 0;
    int disconnected = 0;
    Db->OnStateConnected() = [&] { ++connected; };
    Db->OnStateDisconnected() = [&] { ++disconnected; };
    Db->Disconnect();
    EXPECT_FALSE(Db->IsConnected());
    EXPECT_EQ(disconnected, 1);
    EXPECT_FALSE(AddCard("0000000001", "x"));
    EXPECT_FALSE(Db->GetLastError().isEmpty());
    EXPECT_EQ(Db->Query("SELECT 1"), nullptr);
    EXPECT_TRUE(Db->ReConnect());
    EXPECT_EQ(connected, 1);
    EXPECT_TRUE(AddCard("0000000001", "x"));
    // The counters go with this test; the fixture disconnects later.
    Db->OnStateConnected() = nullptr;
    Db->OnStateDisconnected() = nullptr;
}

TEST_P(Connector, ATransactionKeepsItsWorkOnlyWhenCommitted) {
    {
        TTransaction dropped(*Db);
        ASSERT_TRUE(dropped.Started());
        ASSERT_TRUE(AddCard("0000000001", "Dropped"));
    } // left without Commit: an early return or an exception ends the same way
    {
        TTransaction kept(*Db);
        ASSERT_TRUE(kept.Started());
        ASSERT_TRUE(AddCard("0000000002", "Kept"));
        {
            // Nested work fails and goes; the outer work stays.
            TTransaction inner(*Db);
            ASSERT_TRUE(inner.Started());
            ASSERT_TRUE(AddCard("0000000003", "Inner"));
        }
        {
            TTransaction inner(*Db);
            ASSERT_TRUE(AddCard("0000000004", "Inner kept"));
            EXPECT_TRUE(inner.Commit());
        }
        EXPECT_TRUE(kept.Commit());
    }
    EXPECT_EQ(Column("SELECT CardHolder FROM CardHolders ORDER BY CardNumber ASC"),
              (QStringList{"Kept", "Inner kept"}));

    // A rollback keeps the reason the work failed in LastError, not its own words.
    {
        TTransaction failing(*Db);
        ASSERT_TRUE(AddCard("0000000005", "Failing"));
        EXPECT_FALSE(Db->ExecuteQuery("INSERT INTO NoSuchTable VALUES (1)"));
    }
    EXPECT_TRUE(Error().contains("NoSuchTable", Qt::CaseInsensitive)) << Error().toStdString();
    EXPECT_EQ(Column("SELECT COUNT(*) FROM CardHolders"), QStringList{"2"});

    Db->Disconnect();
    TTransaction closed(*Db);
    EXPECT_FALSE(closed.Started());
    EXPECT_FALSE(closed.Commit());
}

TEST_P(Connector, TheTemplateRefusesASecondRowForACardInAnyCase) {
    ASSERT_TRUE(AddCard("00000ABCDE", "First"));
    EXPECT_FALSE(AddCard("00000abcde", "Second"));
    EXPECT_TRUE(Error().contains("UNIQUE", Qt::CaseInsensitive)) << Error().toStdString();
    ASSERT_TRUE(Db->ExecuteQuery("INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES (1, "
                                 "\"00000ABCDE\", 1)"));
    EXPECT_FALSE(Db->ExecuteQuery("INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES (1, "
                                  "\"00000abcde\", 2)"));
    // The same card at another controller is a row of its own.
    EXPECT_TRUE(Db->ExecuteQuery("INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES (2, "
                                 "\"00000ABCDE\", 2)"));
}

TEST_P(Connector, DisconnectingDuringBulkWorkKeepsWhatWasDone) {
    {
        TBulkWork bulk(Db);
        ASSERT_TRUE(AddCard("0000000001", "One"));
        Db->Disconnect();
        ASSERT_TRUE(Db->Connect());
        ASSERT_TRUE(AddCard("0000000002", "Two"));
    }
    Db->Disconnect();
    ASSERT_TRUE(Db->Connect());
    EXPECT_EQ(Column("SELECT COUNT(*) FROM CardHolders"), QStringList{"2"});
}

TEST_P(Connector, ATransactionIsAllOrNothing) {
    const QString twoCards = "INSERT INTO CardHolders (CardNumber, CardHolder) VALUES "
                             "(\"0000000001\", \"One\"), (\"0000000002\", \"Two\")";
    // Undone whole, by a rollback and by a disconnect before the commit.
    ASSERT_TRUE(Db->StartTransaction());
    EXPECT_EQ(Db->ExecuteCounted(twoCards), 2);
    Db->RollbackTransaction();
    EXPECT_EQ(Column("SELECT COUNT(*) FROM CardHolders"), QStringList{"0"});
    ASSERT_TRUE(Db->StartTransaction());
    EXPECT_EQ(Db->ExecuteCounted(twoCards), 2);
    Db->Disconnect();
    ASSERT_TRUE(Db->Connect());
    EXPECT_EQ(Column("SELECT COUNT(*) FROM CardHolders"), QStringList{"0"});

    // Kept whole by the commit; a commit without a transaction is an error, not a quiet success.
    ASSERT_TRUE(Db->StartTransaction());
    EXPECT_EQ(Db->ExecuteCounted(twoCards), 2);
    EXPECT_EQ(Db->ExecuteCounted("UPDATE CardHolders SET Deleted = 0"), 2);
    EXPECT_EQ(Db->ExecuteCounted("SELECT CardNumber FROM CardHolders"), 0);
    EXPECT_EQ(Db->ExecuteCounted("INSERT INTO Nowhere (x) VALUES (1)"), -1);
    EXPECT_THAT(Db->GetLastError().toStdString(), ::testing::HasSubstr("owhere"));
    ASSERT_TRUE(Db->CommitTransaction());
    EXPECT_FALSE(Db->CommitTransaction());
    Db->RollbackTransaction(); // nothing open: nothing happens
    EXPECT_EQ(Column("SELECT COUNT(*) FROM CardHolders"), QStringList{"2"});
}

// A statement that cannot be parted from its transaction (a change's journal entry) may go to the
// engine with the next statement or the commit: it is seen by what follows it, and kept or undone
// with the level of the transaction that asked for it.
TEST_P(Connector, AStatementThatGoesWithItsTransactionIsKeptAndUndoneWithIt) {
    const auto card = [](const QString& number) {
        return TMyStatement{"INSERT INTO CardHolders (CardNumber, CardHolder) VALUES (?, ?)",
                            {number, QStringLiteral("Holder ") + number}};
    };
    {
        TTransaction outer(*Db);
        ASSERT_TRUE(outer.Started());
        ASSERT_TRUE(Db->ExecuteWithTransaction(card("0000000001")));
        EXPECT_EQ(Column("SELECT CardNumber FROM CardHolders"), QStringList{"0000000001"});
        {
            TTransaction dropped(*Db);
            ASSERT_TRUE(dropped.Started()) << Error().toStdString();
            ASSERT_TRUE(Db->ExecuteWithTransaction(card("0000000002")));
        }
        {
            TTransaction kept(*Db);
            ASSERT_TRUE(kept.Started());
            ASSERT_TRUE(Db->ExecuteWithTransaction(card("0000000003")));
            EXPECT_TRUE(kept.Commit()) << Error().toStdString();
        }
        ASSERT_TRUE(Db->ExecuteWithTransaction(card("0000000004")));
        EXPECT_TRUE(outer.Commit()) << Error().toStdString();
    }
    EXPECT_EQ(Column("SELECT CardNumber FROM CardHolders ORDER BY CardNumber ASC"),
              (QStringList{"0000000001", "0000000003", "0000000004"}));

    // Refused (the number is taken): the transaction keeps nothing, and the reason is the
    // statement's, whether the statement or the commit tells it.
    {
        TTransaction failing(*Db);
        ASSERT_TRUE(AddCard("0000000005", "Five"));
        EXPECT_FALSE(Db->ExecuteWithTransaction(card("0000000001")) && failing.Commit());
    }
    EXPECT_TRUE(Error().contains("unique", Qt::CaseInsensitive)) << Error().toStdString();
    EXPECT_EQ(Column("SELECT COUNT(*) FROM CardHolders"), QStringList{"3"});

    // Outside a transaction it runs at once, where another connection sees it.
    ASSERT_TRUE(Db->ExecuteWithTransaction(card("0000000006")));
    const std::unique_ptr<TMyDBConnector> observer = Observer();
    const std::unique_ptr<TMyResultSet> rows = observer->Query("SELECT COUNT(*) FROM CardHolders");
    ASSERT_TRUE(rows) << observer->GetLastError().toStdString();
    EXPECT_EQ(rows->Fields(0).AsInteger(), 4);
}

// What the program adds of its own when it opens a site made before the table of stored marks
// (an older file, or a site an administrator made by hand on a server): the table comes, once, on
// either engine, and the answer tells whether it is there.
TEST_P(Connector, AnOlderSiteGetsTheTableOfStoredMarksAtOpen) {
    ASSERT_TRUE(Db->ExecuteQuery("DROP TABLE PendingChanges") || Error().isEmpty())
        << Error().toStdString();
    ASSERT_EQ(Db->Query("SELECT ConID FROM PendingChanges"), nullptr);
    EXPECT_TRUE(AddPendingChangesTable(*Db)) << Error().toStdString();
    EXPECT_TRUE(Db->Query("SELECT ConID FROM PendingChanges"));
    EXPECT_TRUE(AddPendingChangesTable(*Db)) << "a site that has the table keeps it";
    EXPECT_TRUE(Db->ExecuteQuery({"INSERT INTO PendingChanges (ConID) VALUES (?)", {7}}));
    EXPECT_EQ(StoredMarks(Db), QSet<int32_t>{7});
}

INSTANTIATE_TEST_SUITE_P(Engines, Connector, ::testing::ValuesIn(BothEngines), EngineCaseName);

} // namespace
