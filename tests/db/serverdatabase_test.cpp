#include "db/MyPostgreSQL.h"
#include "db/cardindexes.h"
#include "db/changehint.h"
#include "journal/journal.h"
#include "profiles/legacyimport.h"
#include "profiles/legacyrecords.h"
#include "shared/errors.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "legacyfiles.h"
#include "pgcluster.h"
#include "profiledb.h"

#include <libpq-fe.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace {

using ::testing::HasSubstr;

QString SchemaOf(const QString& connection) {
    return connection.section("search_path=", 1).chopped(1);
}

// A site database of the shared cluster, connected through the connector under test.
class ServerDatabase : public ::testing::Test {
protected:
    void SetUp() override { Connect(TTestCluster::Shared()); }

    void Connect(TTestCluster& cluster) {
        Cluster = &cluster;
        ASSERT_TRUE(cluster.Running()) << cluster.Error().toStdString();
        Connection = cluster.NewSite();
        ASSERT_FALSE(Connection.isEmpty()) << cluster.Error().toStdString();
        Db.ConnectionString = Connection;
        ASSERT_TRUE(Db.Connect()) << Db.GetLastError().toStdString();
    }

    // SQL as the superuser in the site's schema.
    QString Sql(const QString& sql) const {
        return Cluster->Sql("postgres", "SET search_path = " + SchemaOf(Connection) + "; " + sql);
    }

    bool AddCard(TMyDBConnector& db, const QString& number) {
        return db.ExecuteQuery({"INSERT INTO CardHolders (CardNumber, CardHolder, CardAdded, "
                                "CardLastEdit) VALUES (?, \"x\", NOW(), NOW())",
                                {number}});
    }

    int Cards() {
        const std::unique_ptr<TMyResultSet> rows = Db.Query("SELECT COUNT(*) FROM CardHolders");
        return rows ? rows->Fields(0).AsInteger() : -1;
    }

    std::string Error() const { return Db.GetLastError().toStdString(); }

    TTestCluster* Cluster = nullptr;
    QString Connection;
    TMyPostgreSQL Db;
};

TEST_F(ServerDatabase, AnEmptyDatabaseBecomesASiteOnlyWhenAskedAndIsRecognisedAsOne) {
    // The fixture's site was made on purpose; a look from outside finds one, and changes nothing.
    const TServerDatabaseInfo info = InspectServerDatabase(Connection);
    ASSERT_TRUE(info.Ok) << info.Error.toStdString();
    EXPECT_EQ(info.Kind, TServerDatabaseKind::Site);
    EXPECT_EQ(info.Tables, (QStringList{"cardholders", "cardzones", "controllers", "journal",
                                        "pendingchanges"}));
    EXPECT_FALSE(info.Version.isEmpty());
    EXPECT_EQ(info.Version, Db.ServerVersion());

    TTestCluster& cluster = *Cluster;
    const QString empty = cluster.NewDatabase();
    const TServerDatabaseInfo nothing = InspectServerDatabase(empty);
    ASSERT_TRUE(nothing.Ok) << nothing.Error.toStdString();
    EXPECT_EQ(nothing.Kind, TServerDatabaseKind::Empty);
    // A profile's connecting never makes a site: an empty one in its place would look like a site
    // whose records were all deleted.
    TMyPostgreSQL opening;
    opening.ConnectionString = empty;
    EXPECT_FALSE(opening.Connect());
    EXPECT_FALSE(opening.IsConnected());
    EXPECT_THAT(opening.GetLastError().toStdString(), HasSubstr("is empty: it holds no site"));
    EXPECT_EQ(InspectServerDatabase(empty).Kind, TServerDatabaseKind::Empty);
    TMyPostgreSQL maker;
    maker.ConnectionString = empty;
    ASSERT_TRUE(maker.ConnectMakingSite()) << maker.GetLastError().toStdString();
    EXPECT_EQ(InspectServerDatabase(empty).Kind, TServerDatabaseKind::Site);

    const TServerDatabaseInfo unreachable = InspectServerDatabase("host=/nonexistent dbname=x");
    EXPECT_FALSE(unreachable.Ok);
    EXPECT_FALSE(unreachable.Error.isEmpty());
}

TEST_F(ServerDatabase, ADatabaseHoldingSomethingElseIsRefusedAndLeftAsItWas) {
    const QString other = Cluster->NewDatabase();
    ASSERT_EQ(Cluster->Sql("postgres", "CREATE TABLE " + SchemaOf(other) +
                                           ".Invoices (Id integer); CREATE TABLE " +
                                           SchemaOf(other) + ".CardHolders (CardNumber text)"),
              "");
    TMyPostgreSQL db;
    db.ConnectionString = other;
    EXPECT_FALSE(db.Connect());
    EXPECT_FALSE(db.IsConnected());
    // One of the site's tables is there: each difference is named.
    EXPECT_THAT(db.GetLastError().toStdString(), HasSubstr("The table Controllers is missing."));
    EXPECT_THAT(db.GetLastError().toStdString(),
                HasSubstr("The column CardHolders.CardHolder is missing."));
    const TServerDatabaseInfo info = InspectServerDatabase(other);
    EXPECT_EQ(info.Kind, TServerDatabaseKind::Other);
    EXPECT_EQ(info.Tables, (QStringList{"cardholders", "invoices"}));
}

TEST_F(ServerDatabase, ASiteMadeByHandFromTheReadmeOpensAndGetsWhatTheProgramAdds) {
    // The README's SQL, as an administrator would paste it.
    QFile readme(QStringLiteral(VYR_SOURCE_DIR "/README.md"));
    ASSERT_TRUE(readme.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(readme.readAll());
    const QString start = "<!-- site-schema -->\n```sql\n";
    const qsizetype from = text.indexOf(start);
    ASSERT_GE(from, 0) << "the README shows no site schema";
    const qsizetype to = text.indexOf("```", from + start.size());
    const QString sql = text.mid(from + start.size(), to - from - start.size());

    const QString site = Cluster->NewDatabase();
    // Made before the marks were kept in the database: the program adds their table.
    ASSERT_EQ(Cluster->Sql("postgres", "SET search_path = " + SchemaOf(site) + "; " + sql +
                                           "; DROP TABLE PendingChanges; DROP INDEX "
                                           "CardHoldersOneRowPerCard"),
              "");
    EXPECT_EQ(InspectServerDatabase(site).Kind, TServerDatabaseKind::Site);
    TMyPostgreSQL db;
    db.ConnectionString = site;
    ASSERT_TRUE(db.Connect()) << db.GetLastError().toStdString();
    EXPECT_EQ(
        InspectServerDatabase(site).Tables,
        (QStringList{"cardholders", "cardzones", "controllers", "journal", "pendingchanges"}));
    // As the main window does at every opening.
    const TCardIndexUpgrade upgrade = AddUniqueCardIndexes(db);
    EXPECT_TRUE(upgrade.Ok) << upgrade.Error.toStdString();
    ASSERT_TRUE(AddCard(db, "00000ABCDE")) << db.GetLastError().toStdString();
    EXPECT_FALSE(AddCard(db, "00000abcde"));
    EXPECT_TRUE(db.ExecuteQuery("INSERT INTO PendingChanges (ConID) VALUES (1)"));
}

// The older software's files into a site on the server: everything, or nothing at all.
TEST_F(ServerDatabase, TheLegacyImportBringsASiteOverWholeOrNotAtAll) {
    QTemporaryDir folder;
    const QString autonoom = folder.filePath("autonoom.bst");
    ASSERT_TRUE(
        WriteLegacyFile(autonoom, ControllerRecord("A1B2C3", "Front door", 2, 4) +
                                      ControllerRecord("FFEEDD", "Back \"door\" 'B'", 30, 255)));
    // The same card twice, in other letter case: the later record wins whole.
    ASSERT_TRUE(
        WriteLegacyFile(folder.filePath("asleutel.bst"),
                        CardRecord("01A2B3C4D5", "O\"Brien", "d'Arc", {}, {{1, 1}, {2, 2}}) +
                            CardRecord("0a00000001", "First", {}, {}, {{1, 1}}) +
                            CardRecord("0A00000001", "Later", {}, {}, {{2, 2}})));
    auto import = [&](TMyDBConnector& db) {
        const auto controllers = TLegacyRecordReader::OpenFile(autonoom, ControllerRecordSize);
        TTransaction transaction(db);
        EXPECT_TRUE(transaction.Started());
        const TLegacyImportSummary summary = ImportLegacyRecords(
            db, *controllers,
            [&] {
                return TLegacyRecordReader::OpenFile(LegacyCardFilePath(autonoom), CardRecordSize);
            },
            TJournalAuthor{"importer", "desk"});
        EXPECT_TRUE(transaction.Commit()) << db.GetLastError().toStdString();
        return summary;
    };
    auto rows = [](TMyDBConnector& db, const QString& sql) {
        QStringList all;
        if (const std::unique_ptr<TMyResultSet> result = db.Query(sql))
            for (result->First(); !result->Eof(); result->Next()) {
                QStringList fields;
                for (int i = 0; i < result->FieldCount(); ++i)
                    fields << result->Fields(i).AsString();
                all << fields.join('|');
            }
        else
            all << "error: " + db.GetLastError();
        return all;
    };

    const TLegacyImportSummary summary = import(Db);
    EXPECT_EQ(summary.ControllersImported, 2);
    EXPECT_EQ(summary.CardholdersImported, 2);
    EXPECT_EQ(summary.CardRecordsReplaced, 1);
    EXPECT_EQ(summary.ZoneRowsWritten, 3);
    EXPECT_THAT(rows(Db, "SELECT ConName, ConCode, ConByte1, ConByte2 FROM Controllers ORDER BY "
                         "ConID"),
                ::testing::ElementsAre("Front door|A1B2C3|2|4", "Back \"door\" 'B'|FFEEDD|30|255"));
    EXPECT_THAT(rows(Db, "SELECT CardNumber, CardHolder, CardCustom1, Deleted FROM CardHolders "
                         "ORDER BY CardNumber"),
                ::testing::ElementsAre("01A2B3C4D5|O\"Brien|d'Arc|0", "0A00000001|Later||0"));
    EXPECT_THAT(rows(Db, "SELECT c.ConCode, z.CardNumber, z.ZoneID FROM CardZones z JOIN "
                         "Controllers c ON c.ConID = z.ConID ORDER BY z.CardNumber, c.ConCode"),
                ::testing::ElementsAre("A1B2C3|01A2B3C4D5|1", "FFEEDD|01A2B3C4D5|2",
                                       "FFEEDD|0A00000001|2"));
    const std::optional<QList<TJournalEntry>> journal = ReadJournal(Db, {}, 0);
    ASSERT_TRUE(journal) << Db.GetLastError().toStdString();
    ASSERT_EQ(journal->size(), 1);
    EXPECT_EQ(journal->at(0).Action, TJournalAction::LegacyImport);
    EXPECT_EQ(journal->at(0).Operator, "importer");
    EXPECT_EQ(journal->at(0).Workstation, "desk");
    EXPECT_THAT(journal->at(0).Changes.mid(0, 3),
                ::testing::ElementsAre(TJournalChange{"CardHolders", "", "2"},
                                       TJournalChange{"Controllers", "", "2"},
                                       TJournalChange{"Zones", "", "3"}));

    // A row the database refuses half-way: nothing of the import stays.
    TMyPostgreSQL refusing;
    refusing.ConnectionString = Cluster->NewSite();
    ASSERT_TRUE(refusing.Connect()) << refusing.GetLastError().toStdString();
    ASSERT_EQ(Cluster->Sql("postgres", "ALTER TABLE " + SchemaOf(refusing.ConnectionString) +
                                           ".CardZones ADD CHECK (ZoneID < 2)"),
              "");
    EXPECT_THROW(import(refusing), VyrError);
    for (const char* table : {"Controllers", "CardHolders", "CardZones", "Journal"})
        EXPECT_EQ(rows(refusing, QStringLiteral("SELECT COUNT(*) FROM ") + table), QStringList{"0"})
            << table;
}

// A role with the four rights on the site's tables works; one without a right is told which.
TEST_F(ServerDatabase, AnOperatorRoleWorksAndAMissingRightIsNamed) {
    const QString schema = SchemaOf(Connection);
    const QString clerk = schema + "_clerk";
    const QString reader = schema + "_reader";
    ASSERT_EQ(Sql("CREATE ROLE " + clerk + " LOGIN; CREATE ROLE " + reader + " LOGIN; " +
                  "GRANT USAGE ON SCHEMA " + schema + " TO " + clerk + ", " + reader + "; " +
                  "GRANT SELECT, INSERT, UPDATE, DELETE ON ALL TABLES IN SCHEMA " + schema +
                  " TO " + clerk + "; GRANT USAGE ON ALL SEQUENCES IN SCHEMA " + schema + " TO " +
                  clerk + "; GRANT SELECT ON ALL TABLES IN SCHEMA " + schema + " TO " + reader),
              "");
    auto as = [&](const QString& role) {
        auto db = std::make_unique<TMyPostgreSQL>();
        db->ConnectionString = QString(Connection).replace("user=postgres", "user=" + role);
        EXPECT_TRUE(db->Connect()) << db->GetLastError().toStdString();
        return db;
    };

    const std::unique_ptr<TMyPostgreSQL> operatorDb = as(clerk);
    EXPECT_TRUE(operatorDb->ExecuteQuery(
        "INSERT INTO Controllers (ConType, ConName, ConCode) VALUES (\"VYR292\", \"Door\", "
        "\"A1B2C3\")"))
        << operatorDb->GetLastError().toStdString();
    const std::unique_ptr<TMyResultSet> identity = operatorDb->Query("SELECT @@Identity");
    ASSERT_TRUE(identity) << operatorDb->GetLastError().toStdString();
    EXPECT_GT(identity->Fields(0).AsInteger(), 0);
    EXPECT_TRUE(AddCard(*operatorDb, "0000000001"));
    EXPECT_TRUE(operatorDb->ExecuteQuery("UPDATE CardHolders SET Deleted = 1"));
    EXPECT_TRUE(operatorDb->ExecuteQuery("DELETE * FROM CardHolders"));

    // With the README's REVOKE, the operator adds to the journal and can alter nothing in it.
    ASSERT_EQ(Sql("REVOKE UPDATE, DELETE, TRUNCATE ON " + schema + ".Journal FROM " + clerk), "");
    TJournalEntry entry;
    entry.Action = TJournalAction::ControllerAdded;
    entry.ConName = "Door";
    EXPECT_TRUE(AppendJournal(*operatorDb, entry, {"clerk", "desk"}))
        << operatorDb->GetLastError().toStdString();
    for (const char* change :
         {"UPDATE Journal SET Operator = \"someone else\"", "DELETE * FROM Journal"}) {
        EXPECT_FALSE(operatorDb->ExecuteQuery(change)) << change;
        EXPECT_EQ(operatorDb->GetLastSqlState(), "42501") << change;
    }

    const std::unique_ptr<TMyPostgreSQL> readerDb = as(reader);
    EXPECT_FALSE(AddCard(*readerDb, "0000000002"));
    EXPECT_EQ(readerDb->GetLastSqlState(), "42501");
    const std::string message = readerDb->GetLastError().toStdString();
    EXPECT_THAT(message, HasSubstr(reader.toStdString()));
    EXPECT_THAT(message, HasSubstr("cardholders"));
    EXPECT_THAT(message, HasSubstr("the right INSERT"));

    // Making a site takes the owner's rights; the operator is told so, and nothing is made.
    const QString empty = Cluster->NewDatabase();
    ASSERT_EQ(Cluster->Sql("postgres", "GRANT USAGE ON SCHEMA " + SchemaOf(empty) + " TO " + clerk),
              "");
    TMyPostgreSQL maker;
    maker.ConnectionString = QString(empty).replace("user=postgres", "user=" + clerk);
    EXPECT_FALSE(maker.ConnectMakingSite());
    EXPECT_THAT(maker.GetLastError().toStdString(), HasSubstr(clerk.toStdString()));
    EXPECT_THAT(maker.GetLastError().toStdString(), HasSubstr("the right CREATE"));
    EXPECT_EQ(InspectServerDatabase(empty).Kind, TServerDatabaseKind::Empty);
}

// A README block's SQL: the lines of the ```sql block after `marker`.
QString ReadmeSql(const QString& marker) {
    QFile readme(QStringLiteral(VYR_SOURCE_DIR "/README.md"));
    if (!readme.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(readme.readAll());
    const QString start = marker + "\n```sql\n";
    const qsizetype from = text.indexOf(start);
    if (from < 0)
        return {};
    const qsizetype to = text.indexOf("```", from + start.size());
    return text.mid(from + start.size(), to - from - start.size());
}

// Runs SQL on a connection text of its own: "" when it went through, else the SQLSTATE and the
// server's words; `rows` gets the first row's fields.
QString RunOn(const QString& connection, const QString& sql, QStringList* row = nullptr) {
    PGconn* handle = PQconnectdb(connection.toUtf8().constData());
    QString outcome;
    if (PQstatus(handle) != CONNECTION_OK) {
        outcome = QString::fromUtf8(PQerrorMessage(handle));
    } else {
        PGresult* result = PQexec(handle, sql.toUtf8().constData());
        const ExecStatusType status = PQresultStatus(result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            outcome = QString::fromLatin1(PQresultErrorField(result, PG_DIAG_SQLSTATE)) + " " +
                      QString::fromUtf8(PQresultErrorMessage(result));
        else if (row && PQntuples(result) > 0)
            for (int i = 0; i < PQnfields(result); ++i)
                *row << QString::fromUtf8(PQgetvalue(result, 0, i));
        PQclear(result);
    }
    PQfinish(handle);
    return outcome;
}

// A site with the README's two roles: its owner, who made it (the program, or an administrator
// with the README's SQL), and the operator, with the README's grants.
class GuardedSite : public ServerDatabase {
protected:
    enum TMadeBy { Program, Readme };

    // Makes the site in a fresh schema; false with the reason in `error`.
    bool MakeSite(TMadeBy madeBy, QString& error) {
        Site = Cluster->NewDatabase();
        const QString schema = SchemaOf(Site);
        Owner = schema + "_owner";
        Operator = schema + "_operator";
        error = Sql("CREATE ROLE " + Owner + " LOGIN; CREATE ROLE " + Operator +
                    " LOGIN; ALTER SCHEMA " + schema + " OWNER TO " + Owner);
        if (!error.isEmpty())
            return false;
        if (madeBy == Program) {
            TMyPostgreSQL owner;
            owner.ConnectionString = As(Owner);
            if (!owner.ConnectMakingSite()) {
                error = owner.GetLastError();
                return false;
            }
        } else {
            error = RunOn(As(Owner), ReadmeSql("<!-- site-schema -->"));
            if (!error.isEmpty())
                return false;
        }
        // The README's grants, for this schema and these roles.
        QString grants = ReadmeSql("<!-- site-grants -->");
        grants = grants.mid(grants.indexOf("-- in vyrsite"));
        grants.replace("vyr_operator", Operator).replace("SCHEMA public", "SCHEMA " + schema);
        error = RunOn(As(Owner), grants);
        return error.isEmpty();
    }
    QString As(const QString& role) const {
        return QString(Site).replace("user=postgres", "user=" + role);
    }
    // The newest entry: its number, time, login name and database role.
    QStringList Newest() const {
        QStringList row;
        RunOn(As(Owner),
              "SELECT JournalID, EntryTime, Operator, DatabaseRole FROM Journal ORDER BY "
              "JournalID DESC LIMIT 1",
              &row);
        return row;
    }

    QString Site;
    QString Owner;
    QString Operator;
};

// Whatever the operator role sends, an entry carries the number, the time and the role the server
// gave it, and the journal's numbers stay the server's: a forged entry cannot take the number of
// the next real one, nor can the sequence be moved or drawn on.
TEST_F(GuardedSite, TheOperatorCannotForgeAJournalEntrysFacts) {
    for (const TMadeBy madeBy : {Program, Readme}) {
        SCOPED_TRACE(madeBy == Program ? "made by the program" : "made from the README");
        QString error;
        ASSERT_TRUE(MakeSite(madeBy, error)) << error.toStdString();
        const QString forgedTime = "2001-02-03T04:05:06.000Z";
        TMyPostgreSQL operatorDb;
        operatorDb.ConnectionString = As(Operator);
        ASSERT_TRUE(operatorDb.Connect()) << operatorDb.GetLastError().toStdString();
        EXPECT_EQ(operatorDb.JournalWarning(), "");
        TJournalEntry entry;
        entry.Action = TJournalAction::ControllerAdded;
        entry.ConName = "Door";
        ASSERT_TRUE(AppendJournal(operatorDb, entry, {"clerk", "desk"}))
            << operatorDb.GetLastError().toStdString();
        const qint64 first = Newest().value(0).toLongLong();

        const struct {
            const char* what;
            QString sql;
        } forgeries[] = {
            {"an entry with its own time and role",
             "INSERT INTO Journal (EntryTime, Operator, Workstation, Action, Changes, "
             "DatabaseRole) VALUES ('" +
                 forgedTime + "', 'boss', 'desk', 'controller-added', '[]', '" + Owner + "')"},
            {"an entry with the next real entry's number",
             QStringLiteral("INSERT INTO Journal (JournalID, EntryTime, Operator, Workstation, "
                            "Action, Changes) OVERRIDING SYSTEM VALUE VALUES (%1, '%2', 'boss', "
                            "'desk', 'controller-added', '[]')")
                 .arg(first + 2)
                 .arg(forgedTime)},
            {"an entry far ahead",
             QStringLiteral("INSERT INTO Journal (JournalID, EntryTime, Operator, Workstation, "
                            "Action, Changes) OVERRIDING SYSTEM VALUE VALUES (%1, '%2', 'boss', "
                            "'desk', 'controller-added', '[]')")
                 .arg(first + 1000)
                 .arg(forgedTime)},
        };
        qint64 last = first;
        for (const auto& forgery : forgeries) {
            SCOPED_TRACE(forgery.what);
            EXPECT_EQ(RunOn(As(Operator), forgery.sql), "");
            const QStringList newest = Newest();
            ASSERT_EQ(newest.size(), 4);
            EXPECT_EQ(newest[0].toLongLong(), last + 1);
            last = newest[0].toLongLong();
            EXPECT_NE(newest[1], forgedTime);
            EXPECT_EQ(newest[2], "boss"); // what the workstation says stays its word
            EXPECT_EQ(newest[3], Operator);
        }

        // What would alter the journal or its numbers is refused.
        const QString sequence = "pg_get_serial_sequence('journal', 'journalid')";
        for (const QString& refused :
             {"UPDATE Journal SET EntryTime = '" + forgedTime + "'",
              QStringLiteral("UPDATE Journal SET DatabaseRole = 'x'"),
              QStringLiteral("DELETE FROM Journal"), QStringLiteral("TRUNCATE Journal"),
              "SELECT nextval(" + sequence + ")", "SELECT setval(" + sequence + ", 1)",
              "SELECT setval(" + sequence + ", 9000000000000000000)",
              QStringLiteral("ALTER TABLE Journal DISABLE TRIGGER vyr_journal_facts"),
              QStringLiteral("ALTER TABLE Journal ALTER COLUMN JournalID RESTART WITH 1"),
              QStringLiteral("SELECT vyr_journal_facts()")}) {
            SCOPED_TRACE(refused.toStdString());
            EXPECT_THAT(RunOn(As(Operator), refused).toStdString(),
                        ::testing::AnyOf(HasSubstr("42501"), HasSubstr("0A000")));
        }

        // The workstations' next entries follow, numbered and timed by the server.
        ASSERT_TRUE(AppendJournal(operatorDb, entry, {"clerk", "desk"}))
            << operatorDb.GetLastError().toStdString();
        const std::optional<QList<TJournalEntry>> read = ReadJournal(operatorDb, {}, 1);
        ASSERT_TRUE(read && read->size() == 1) << operatorDb.GetLastError().toStdString();
        EXPECT_EQ(read->at(0).Id, last + 1);
        EXPECT_EQ(read->at(0).DatabaseRole, Operator);
        EXPECT_EQ(read->at(0).Operator, "clerk");
    }
}

// A site made before the server vouched for the journal: an operator is told and works on, the
// owner's opening adds it.
TEST_F(GuardedSite, AnOlderSiteGetsItsJournalGuardedWhenTheOwnerOpensIt) {
    QString error;
    ASSERT_TRUE(MakeSite(Readme, error)) << error.toStdString();
    ASSERT_EQ(RunOn(As(Owner), "DROP TRIGGER vyr_journal_facts ON Journal; DROP FUNCTION "
                               "vyr_journal_facts(); ALTER TABLE Journal DROP COLUMN DatabaseRole"),
              "");
    TMyPostgreSQL operatorDb;
    operatorDb.ConnectionString = As(Operator);
    ASSERT_TRUE(operatorDb.Connect()) << operatorDb.GetLastError().toStdString();
    EXPECT_THAT(operatorDb.JournalWarning().toStdString(), HasSubstr(Owner.toStdString()));
    operatorDb.Disconnect();

    TMyPostgreSQL ownerDb;
    ownerDb.ConnectionString = As(Owner);
    ASSERT_TRUE(ownerDb.Connect()) << ownerDb.GetLastError().toStdString();
    EXPECT_EQ(ownerDb.JournalWarning(), "");
    ASSERT_TRUE(operatorDb.Connect()) << operatorDb.GetLastError().toStdString();
    EXPECT_EQ(operatorDb.JournalWarning(), "");
    EXPECT_EQ(RunOn(As(Operator), "INSERT INTO Journal (EntryTime, Operator, Workstation, "
                                  "Action, Changes) VALUES ('2001-02-03T04:05:06.000Z', 'boss', "
                                  "'desk', 'controller-added', '[]')"),
              "");
    EXPECT_EQ(Newest().value(3), Operator);
    EXPECT_NE(Newest().value(1), "2001-02-03T04:05:06.000Z");
}

// A role that may only connect hears that something changed, never which card; the site's own
// workstations still learn which cards, from the journal they may read.
TEST_F(GuardedSite, AListenerWithoutRightsHearsNoCardNumbers) {
    QString error;
    ASSERT_TRUE(MakeSite(Program, error)) << error.toStdString();
    const QString outsider = SchemaOf(Site) + "_outsider";
    ASSERT_EQ(Sql("CREATE ROLE " + outsider + " LOGIN"), "");
    PGconn* listener = PQconnectdb(As(outsider).toUtf8().constData());
    ASSERT_EQ(PQstatus(listener), CONNECTION_OK);
    const QByteArray channel = SiteChannelName(SchemaOf(Site));
    char* name = PQescapeIdentifier(listener, channel.constData(), size_t(channel.size()));
    PQclear(PQexec(listener, QByteArray("LISTEN ").append(name).constData()));
    PQfreemem(name);

    TMyPostgreSQL operatorDb;
    operatorDb.ConnectionString = As(Operator);
    ASSERT_TRUE(operatorDb.Connect()) << operatorDb.GetLastError().toStdString();
    {
        TTransaction change(operatorDb);
        ASSERT_TRUE(AddCard(operatorDb, "00000C0FFE"));
        TJournalEntry entry;
        entry.Action = TJournalAction::CardHolderAdded;
        entry.CardNumber = "00000C0FFE";
        ASSERT_TRUE(AppendJournal(operatorDb, entry, {"clerk", "desk"}));
        ASSERT_TRUE(change.Commit()) << operatorDb.GetLastError().toStdString();
    }
    QStringList heard;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            PQconsumeInput(listener);
            while (PGnotify* notice = PQnotifies(listener)) {
                heard << QString::fromUtf8(notice->extra);
                PQfreemem(notice);
            }
            return !heard.isEmpty();
        },
        10000));
    PQfinish(listener);
    for (const QString& notice : heard) {
        EXPECT_THAT(notice.toStdString(), HasSubstr("cardholders"));
        EXPECT_THAT(notice.toUpper().toStdString(), ::testing::Not(HasSubstr("C0FFE")));
    }
    // Nor can the outsider read the journal the notice points to: not even its schema is theirs.
    EXPECT_THAT(
        RunOn(As(outsider), "SELECT CardNumber FROM " + SchemaOf(Site) + ".Journal").toStdString(),
        HasSubstr("42501"));
}

// A site whose schema name fills the server's 63 bytes with accented letters: every commit sends
// its notice on a channel the server takes.
TEST_F(ServerDatabase, ALongAccentedSchemaNameLeavesCommitsWorking) {
    const QString schema = "x" + QString(30, QChar(0xE9)); // 61 bytes in UTF-8
    ASSERT_EQ(Cluster->Sql("postgres", "CREATE SCHEMA " + schema), "");
    TMyPostgreSQL db;
    db.ConnectionString = QString(Connection).replace(SchemaOf(Connection), schema);
    ASSERT_TRUE(db.ConnectMakingSite()) << db.GetLastError().toStdString();
    {
        TTransaction change(db);
        ASSERT_TRUE(AddCard(db, "0000000001")) << db.GetLastError().toStdString();
        EXPECT_TRUE(change.Commit()) << db.GetLastError().toStdString();
    }
    EXPECT_TRUE(AddCard(db, "0000000002")) << db.GetLastError().toStdString();
    const std::unique_ptr<TMyResultSet> rows = db.Query("SELECT COUNT(*) FROM CardHolders");
    ASSERT_TRUE(rows);
    EXPECT_EQ(rows->Fields(0).AsInteger(), 2);
    EXPECT_EQ(Cluster->Sql("postgres", "DROP SCHEMA " + schema + " CASCADE"), "");
}

// Another session takes the row this one needs next while this one holds the row it needs: the
// server ends one of them. This one tries once more, and gets through once the other gave way.
TEST_F(ServerDatabase, ADeadlockIsTriedOnceMoreBeforeItIsReported) {
    ASSERT_TRUE(AddCard(Db, "0000000001"));
    ASSERT_TRUE(AddCard(Db, "0000000002"));
    PGconn* other = PQconnectdb(Connection.toUtf8().constData());
    ASSERT_EQ(PQstatus(other), CONNECTION_OK);
    auto otherRuns = [other](const char* sql) {
        PGresult* result = PQexec(other, sql);
        const QString state = QString::fromLatin1(PQresultErrorField(result, PG_DIAG_SQLSTATE));
        PQclear(result);
        return state;
    };
    // This session looks for a deadlock after 1 s of waiting, the other one after 1.2 s; the
    // other one starts waiting 0.3 s later. So this one finds the first deadlock (at 1 s), and
    // the other one the second (at 1.5 s), before this one's second try would (at 2 s).
    ASSERT_EQ(otherRuns("SET deadlock_timeout = '1200ms'; SET statement_timeout = '30s'"), "");
    Db.ExecuteQuery("SET deadlock_timeout = '1s'");
    ASSERT_EQ(otherRuns("BEGIN"), "");
    ASSERT_EQ(otherRuns("UPDATE CardHolders SET CardHolder = 'other' WHERE CardNumber = "
                        "'0000000002'"),
              "");
    ASSERT_TRUE(Db.StartTransaction());
    ASSERT_TRUE(Db.ExecuteQuery(
        "UPDATE CardHolders SET CardHolder = \"this\" WHERE CardNumber = \"0000000001\""));
    QString otherState;
    std::thread otherSession([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        otherState = otherRuns("UPDATE CardHolders SET CardHolder = 'other' WHERE CardNumber = "
                               "'0000000001'");
        otherRuns("ROLLBACK");
    });
    // Waits for the other session, which then waits for this one.
    const bool updated = Db.ExecuteQuery(
        "UPDATE CardHolders SET CardHolder = \"this\" WHERE CardNumber = \"0000000002\"");
    if (!updated)
        Db.RollbackTransaction(); // or the other session would wait for this one for good
    otherSession.join();
    PQfinish(other);
    // The first try lost; the second waited until the other session was ended in its turn.
    EXPECT_TRUE(updated) << Error();
    EXPECT_EQ(otherState, "40P01");
    EXPECT_TRUE(Db.CommitTransaction()) << Error();
    const std::unique_ptr<TMyResultSet> rows =
        Db.Query("SELECT CardHolder FROM CardHolders ORDER BY CardNumber ASC");
    ASSERT_TRUE(rows);
    EXPECT_EQ(rows->Fields(0).AsString(), "this");
    rows->Next();
    EXPECT_EQ(rows->Fields(0).AsString(), "this");
}

// Inside a transaction a statement travels with its savepoint, and with the statements that waited
// for it: each answer belongs to its own statement. A refused statement is reported with its own
// words and SQLSTATE and leaves the transaction usable; a statement that waited and failed ends
// the transaction, and whatever carried it reports the failure as its own.
TEST_F(ServerDatabase, EachStatementSentTogetherGetsItsOwnAnswer) {
    ASSERT_TRUE(AddCard(Db, "0000000001"));
    const TMyStatement waitingCard{"INSERT INTO CardHolders (CardNumber, CardHolder) VALUES (?, ?)",
                                   {QStringLiteral("0000000002"), QStringLiteral("waited")}};
    const TMyStatement takenCard{"INSERT INTO CardHolders (CardNumber, CardHolder) VALUES (?, ?)",
                                 {QStringLiteral("0000000001"), QStringLiteral("taken")}};
    const TMyStatement nowhere{"INSERT INTO Nowhere (x) VALUES (?)", {1}};

    {
        TTransaction change(Db);
        ASSERT_TRUE(Db.ExecuteWithTransaction(waitingCard));
        // Sent with the waiting one: the refusal is this statement's alone.
        EXPECT_FALSE(Db.ExecuteQuery(takenCard));
        EXPECT_EQ(Db.GetLastSqlState(), "23505");
        EXPECT_THAT(Error(), HasSubstr("duplicate key"));
        EXPECT_EQ(Db.ExecuteCounted("UPDATE CardHolders SET CardHolder = \"after\""), 2) << Error();
        EXPECT_TRUE(change.Commit()) << Error();
    }
    EXPECT_EQ(Cards(), 2);

    struct TCarrier {
        const char* Name;
        std::function<bool()> Carry; // sends what waits; false when it failed
    };
    const TCarrier carriers[] = {
        {"the next statement",
         [&] { return Db.Query("SELECT COUNT(*) FROM CardHolders") != nullptr; }},
        {"a nested transaction", [&] { return Db.StartTransaction(); }},
        {"the commit", [&] { return true; }},
    };
    for (const TCarrier& carrier : carriers) {
        SCOPED_TRACE(carrier.Name);
        for (const TMyStatement* failing : {&takenCard, &nowhere}) {
            {
                TTransaction change(Db);
                ASSERT_TRUE(AddCard(Db, "0000000003"));
                ASSERT_TRUE(Db.ExecuteWithTransaction(*failing));
                EXPECT_FALSE(carrier.Carry() && change.Commit());
            }
            EXPECT_EQ(Db.GetLastSqlState(), failing == &takenCard ? "23505" : "42P01");
            EXPECT_THAT(Error(), HasSubstr(failing == &takenCard ? "duplicate key" : "nowhere"));
            // Nothing of the change stays, and the connection goes on.
            EXPECT_EQ(Cards(), 2) << Error();
        }
    }
}

// The server stopped at once (a power cut) under a change and outside of one, on a cluster of its
// own so that no other test loses its server.
class LostServer : public ServerDatabase {
protected:
    void SetUp() override { Connect(TTestCluster::Private()); }
    void TearDown() override { Cluster->Start(); }
};

TEST_F(LostServer, AChangeFailsWholeAndTheConnectorWorksOnceTheServerIsBack) {
    ASSERT_TRUE(AddCard(Db, "0000000001"));
    {
        TTransaction change(Db);
        ASSERT_TRUE(change.Started());
        ASSERT_TRUE(AddCard(Db, "0000000002"));
        ASSERT_TRUE(Cluster->Kill()) << Cluster->Error().toStdString();
        EXPECT_FALSE(AddCard(Db, "0000000003"));
        EXPECT_THAT(Error(), HasSubstr("connection to the database server was lost"));
        ASSERT_TRUE(Cluster->Start()) << Cluster->Error().toStdString();
        // The server is back, but the change it lost stays lost: nothing more of it is written.
        EXPECT_FALSE(AddCard(Db, "0000000004"));
        EXPECT_THAT(Error(), HasSubstr("connection to the database server was lost"));
        EXPECT_FALSE(change.Commit());
    }
    // The next statement connects again, without ReConnect, and finds only what was committed.
    EXPECT_EQ(Cards(), 1) << Error();

    // Outside a change: the statement that meets the lost server fails, the next one works.
    ASSERT_TRUE(Cluster->Kill());
    EXPECT_FALSE(AddCard(Db, "0000000005"));
    EXPECT_THAT(Error(), HasSubstr("connection to the database server was lost"));
    EXPECT_EQ(Db.Query("SELECT COUNT(*) FROM CardHolders"), nullptr);
    EXPECT_THAT(Error(), HasSubstr("cannot be reached"));
    ASSERT_TRUE(Cluster->Start());
    EXPECT_TRUE(AddCard(Db, "0000000006")) << Error();
    EXPECT_EQ(Cards(), 2);
    EXPECT_TRUE(Db.IsConnected());
}

} // namespace
