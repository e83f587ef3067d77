#include "db/MyPostgreSQL.h"
#include "profiles/VYRStandProfile.h"
#include "profiles/profileconnection.h"
#include "profiles/serverprobe.h"
#include "profiles/sitemove.h"
#include "shared/datadir.h"
#include "shared/errors.h"

#include "pgcluster.h"
#include "profilefiles.h"
#include "testenv.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <libpq-fe.h>
#include <sqlite3.h>

namespace {

using ::testing::HasSubstr;

// The rows of a query on a server database, each row's fields joined by "|".
QStringList ServerRows(const QString& connection, const QString& sql) {
    QStringList rows;
    PGconn* handle = PQconnectdb(connection.toUtf8().constData());
    PGresult* result = PQexec(handle, sql.toUtf8().constData());
    if (PQresultStatus(result) != PGRES_TUPLES_OK) {
        rows << "error: " + QString::fromUtf8(PQresultErrorMessage(result)).trimmed();
    } else {
        for (int row = 0; row < PQntuples(result); ++row) {
            QStringList fields;
            for (int i = 0; i < PQnfields(result); ++i)
                fields << (PQgetisnull(result, row, i)
                               ? QStringLiteral("NULL")
                               : QString::fromUtf8(PQgetvalue(result, row, i)));
            rows << fields.join("|");
        }
    }
    PQclear(result);
    PQfinish(handle);
    return rows;
}

QString ServerError(const QString& connection, const QString& sql) {
    PGconn* handle = PQconnectdb(connection.toUtf8().constData());
    PGresult* result = PQexec(handle, sql.toUtf8().constData());
    const ExecStatusType status = PQresultStatus(result);
    QString error;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        error = QString::fromUtf8(PQresultErrorMessage(result));
    PQclear(result);
    PQfinish(handle);
    return error;
}

// A row written to a SQLite file by another program (another workstation on the same file).
void MakeDatabaseChange(const QString& databaseFile) {
    sqlite3* handle = nullptr;
    sqlite3_open(QFile::encodeName(databaseFile).constData(), &handle);
    sqlite3_exec(handle,
                 "INSERT INTO CardHolders (CardNumber, CardHolder, Deleted) VALUES "
                 "('99AA88BB77', 'Late', 0)",
                 nullptr, nullptr, nullptr);
    sqlite3_close(handle);
}

QString NewServerDatabase(TTestCluster& cluster = TTestCluster::Shared()) {
    const QString connection = cluster.NewDatabase();
    EXPECT_FALSE(connection.isEmpty()) << cluster.Error().toStdString();
    return connection;
}

// ---- The probe ----------------------------------------------------------------------------

struct TProbeCase {
    const char* Name;
    // Prepares a fresh database of the shared cluster and returns the text to probe.
    std::function<QString(const QString& connection)> Prepare;
    bool Ok;
    TServerDatabaseKind Kind;
    const char* Said; // a piece of what the operator reads
};

void PrintTo(const TProbeCase& c, std::ostream* out) {
    *out << c.Name;
}

class ServerProbe : public ::testing::TestWithParam<TProbeCase> {};

TEST_P(ServerProbe, SaysWhatTheDatabaseHoldsOrWhyItCannotBeReached) {
    const QString connection = NewServerDatabase();
    const QString probed = GetParam().Prepare(connection);
    const TServerDatabaseInfo info = ProbeServer(probed);
    EXPECT_EQ(info.Ok, GetParam().Ok) << info.Error.toStdString();
    if (info.Ok) {
        EXPECT_EQ(info.Kind, GetParam().Kind);
        EXPECT_FALSE(info.Version.isEmpty());
    } else {
        EXPECT_FALSE(info.Error.isEmpty());
    }
    EXPECT_THAT(ServerProbeText(info).toStdString(), HasSubstr(GetParam().Said));
    // Probing changes nothing: an empty database stays empty.
    if (GetParam().Kind == TServerDatabaseKind::Empty && info.Ok) {
        EXPECT_EQ(ProbeServer(probed).Kind, TServerDatabaseKind::Empty);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Databases, ServerProbe,
    ::testing::Values(
        TProbeCase{"Empty", [](const QString& c) { return c; }, true, TServerDatabaseKind::Empty,
                   "is empty"},
        TProbeCase{"Site",
                   [](const QString& c) {
                       TMyPostgreSQL site;
                       site.ConnectionString = c;
                       EXPECT_TRUE(site.ConnectMakingSite()) << site.GetLastError().toStdString();
                       return c;
                   },
                   true, TServerDatabaseKind::Site, "holds a site"},
        TProbeCase{"Other",
                   [](const QString& c) {
                       EXPECT_EQ(ServerError(c, "CREATE TABLE invoices (id integer)"), "");
                       return c;
                   },
                   true, TServerDatabaseKind::Other, "invoices"},
        TProbeCase{"Unreachable",
                   [](const QString&) {
                       return QStringLiteral("host=/nonexistent/socket/folder dbname=site");
                   },
                   false, TServerDatabaseKind::Empty, "could not be reached"},
        TProbeCase{"Password", [](const QString& c) { return c + " password=secret"; }, false,
                   TServerDatabaseKind::Empty, "~/.pgpass"}),
    [](const ::testing::TestParamInfo<TProbeCase>& info) { return info.param.Name; });

// ---- Moving a site --------------------------------------------------------------------------

// A profile "Site" on a local file with two controllers (ConID 3 and 7, with a gap, as after a
// deletion), cardholders, zones, a pending-change mark and a cleared one.
class SiteMoveTest : public HomeTest {
public:
    void SetUp() override {
        HomeTest::SetUp();
        CreateDataFolders();
        DatabaseFile = DataDirectory() + "/data/site.accdb";
        ASSERT_EQ(MakeDatabase(DatabaseFile,
                               {"CREATE TABLE IF NOT EXISTS PendingChanges (ConID integer "
                                "PRIMARY KEY)",
                                "INSERT INTO Controllers (ConID, ConType, ConName, ConCode, "
                                "ConByte1, ConByte2) VALUES (3, 'VYR292', 'Gate', '123456', 2, 4)",
                                "INSERT INTO Controllers (ConID, ConType, ConName, ConCode, "
                                "ConByte1, ConByte2) VALUES (7, 'VYR292', 'Hall', '654321', 1, 8)",
                                "INSERT INTO CardHolders (CardNumber, CardHolder, CardCustom1, "
                                "CardAdded, Deleted) VALUES ('00AB12CD34', 'Ann', 'x', "
                                "'2024-03-01 10:00:00', 0)",
                                "INSERT INTO CardHolders (CardNumber, CardHolder, Deleted) "
                                "VALUES ('11EE22FF33', 'Ben', 1)",
                                "INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES (3, "
                                "'00AB12CD34', 1)",
                                "INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES (7, "
                                "'00AB12CD34', 5)",
                                // A mark still to be written and one cleared by a key written.
                                "INSERT INTO PendingChanges (ConID, Stamp) VALUES (7, "
                                "4611686018427387000)",
                                "INSERT INTO PendingChanges (ConID, Stamp) VALUES (3, -17)"}),
                  "");
        Profile = std::make_unique<TVYRStandProfile>(DataDirectory() + "/profiles/site.ini");
        Profile->ProfileName = "Site";
        Profile->DBFileName = "data/site.accdb";
        Profile->SaveToINI(Profile->ProfileFileName);
        ProfileText = ReadWholeFile(Profile->ProfileFileName);
        DatabaseBytes = ReadWholeFile(DatabaseFile);
    }

    // Everything as before the move: the profile file, the local file under its name, and the
    // server's database empty.
    void ExpectUnchanged(const QString& connection) const {
        EXPECT_EQ(ReadWholeFile(Profile->ProfileFileName), ProfileText);
        EXPECT_EQ(ReadWholeFile(DatabaseFile), DatabaseBytes);
        EXPECT_FALSE(QFileInfo::exists(MovedDatabaseName(DatabaseFile)));
        const TServerDatabaseInfo info = InspectServerDatabase(connection);
        EXPECT_TRUE(info.Ok) << info.Error.toStdString();
        EXPECT_EQ(info.Kind, TServerDatabaseKind::Empty) << info.Tables.join(",").toStdString();
    }

    QString DatabaseFile;
    std::unique_ptr<TVYRStandProfile> Profile;
    QByteArray ProfileText;
    QByteArray DatabaseBytes;
};

TEST_F(SiteMoveTest, CopiesEveryRowWithItsIdentityAndRenamesTheProfileOntoTheServer) {
    const QString connection = NewServerDatabase();
    qint64 lastDone = -1, lastTotal = -1;
    const TVYRStandProfile moved =
        MoveSiteToServer(*Profile, connection, [&](qint64 done, qint64 total) {
            lastDone = done;
            lastTotal = total;
        });
    EXPECT_EQ(lastDone, 8);
    EXPECT_EQ(lastTotal, 8);

    EXPECT_EQ(ServerRows(connection, "SELECT ConID, ConType, ConName, ConCode, ConByte1, ConByte2 "
                                     "FROM Controllers ORDER BY ConID"),
              QStringList({"3|VYR292|Gate|123456|2|4", "7|VYR292|Hall|654321|1|8"}));
    EXPECT_EQ(
        ServerRows(connection, "SELECT CardNumber, CardHolder, CardCustom1, CardAdded, "
                               "Deleted FROM CardHolders ORDER BY CardNumber"),
        QStringList({"00AB12CD34|Ann|x|2024-03-01 10:00:00|f", "11EE22FF33|Ben|NULL|NULL|t"}));
    EXPECT_EQ(
        ServerRows(connection, "SELECT ConID, CardNumber, ZoneID FROM CardZones ORDER BY ConID"),
        QStringList({"3|00AB12CD34|1", "7|00AB12CD34|5"}));
    // Each mark with its stamp: a cleared one stays cleared.
    EXPECT_EQ(ServerRows(connection, "SELECT ConID, Stamp FROM PendingChanges ORDER BY ConID"),
              QStringList({"3|-17", "7|4611686018427387000"}));
    // A controller added on the server takes the next number, not one that came along.
    EXPECT_EQ(ServerRows(connection, "INSERT INTO Controllers (ConName) VALUES ('New') "
                                     "RETURNING ConID"),
              QStringList({"8"}));

    // The profile file names the server and no file; the local file is kept beside its old name.
    TVYRStandProfile reread(Profile->ProfileFileName);
    ASSERT_TRUE(reread.LoadINI());
    EXPECT_EQ(reread.ProfileName, "Site");
    EXPECT_EQ(reread.DBFileName, "");
    EXPECT_EQ(reread.ServerConnection, connection.trimmed());
    EXPECT_EQ(moved.ServerConnection, reread.ServerConnection);
    EXPECT_FALSE(QFileInfo::exists(DatabaseFile));
    EXPECT_EQ(ReadWholeFile(MovedDatabaseName(DatabaseFile)), DatabaseBytes);
}

// The journal moves with the site: its entries keep their numbers (their order, by which the
// histories page), and the server's new entries come after them.
TEST_F(SiteMoveTest, TheJournalMovesWithItsNumbersAndNewEntriesFollowThem) {
    sqlite3* handle = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(DatabaseFile).constData(), &handle), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(handle,
                           "INSERT INTO Journal (JournalID, EntryTime, Operator, Workstation, "
                           "Action, ConID, ConName, CardNumber, OldCardNumber, CardHolder, "
                           "Changes) VALUES (5, '2026-03-01T09:00:00.000Z', 'anna', 'desk', "
                           "'card-replaced', NULL, NULL, '00AB12CD34', '99FF00EE11', 'Ann', "
                           "'[]'), (3000000000, '2026-03-02T09:00:00.000Z', 'bert', 'hall', "
                           "'zone-changed', 3, 'Gate', '00AB12CD34', NULL, 'Ann', "
                           "'[[\"ZoneID\",\"0\",\"1\"]]')",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(handle);
    const QString connection = NewServerDatabase();
    qint64 lastTotal = -1;
    MoveSiteToServer(*Profile, connection, [&](qint64, qint64 total) { lastTotal = total; });
    EXPECT_EQ(lastTotal, 10);

    EXPECT_EQ(ServerRows(connection,
                         "SELECT JournalID, EntryTime, Operator, Workstation, Action, ConID, "
                         "ConName, CardNumber, OldCardNumber, CardHolder, Changes FROM Journal "
                         "ORDER BY JournalID"),
              QStringList({"5|2026-03-01T09:00:00.000Z|anna|desk|card-replaced|NULL|NULL|"
                           "00AB12CD34|99FF00EE11|Ann|[]",
                           "3000000000|2026-03-02T09:00:00.000Z|bert|hall|zone-changed|3|Gate|"
                           "00AB12CD34|NULL|Ann|[[\"ZoneID\",\"0\",\"1\"]]"}));
    EXPECT_EQ(ServerRows(connection, "INSERT INTO Journal (EntryTime, Operator, Workstation, "
                                     "Action, Changes) VALUES ('2026-03-03T09:00:00.000Z', "
                                     "'anna', 'desk', 'controller-added', '[]') RETURNING "
                                     "JournalID"),
              QStringList({"3000000001"}));
}

TEST_F(SiteMoveTest, AnEmptyLocalSiteMovesToo) {
    ASSERT_EQ(MakeDatabase(DatabaseFile, {}), "");
    const QString connection = NewServerDatabase();
    MoveSiteToServer(*Profile, connection);
    EXPECT_EQ(ServerRows(connection, "INSERT INTO Controllers (ConName) VALUES ('First') "
                                     "RETURNING ConID"),
              QStringList({"1"}));
}

struct TMoveFault {
    const char* Name;
    // Makes the move fail: prepares before it, or acts from its progress (on a fresh database of
    // `cluster`). Returns the connection text to move to.
    std::function<QString(SiteMoveTest& test, const QString& connection)> Before;
    std::function<void(qint64 done, qint64 total, const QString& databaseFile)> During;
    const char* Said;
    // The server's database holds this table afterwards (it was not empty before); "" for none.
    const char* KeptTable = "";
};

void PrintTo(const TMoveFault& c, std::ostream* out) {
    *out << c.Name;
}

class SiteMoveFault : public SiteMoveTest, public ::testing::WithParamInterface<TMoveFault> {};

TEST_P(SiteMoveFault, LeavesTheProfileOnItsFileAndTheServerAsItWas) {
    const TMoveFault& fault = GetParam();
    const QString connection = NewServerDatabase();
    const QString target = fault.Before ? fault.Before(*this, connection) : connection;
    try {
        MoveSiteToServer(*Profile, target, [&](qint64 done, qint64 total) {
            if (fault.During)
                fault.During(done, total, DatabaseFile);
        });
        ADD_FAILURE() << "the move went through";
    } catch (const VyrError& error) {
        EXPECT_THAT(error.Message().toStdString(), HasSubstr(fault.Said));
    }
    EXPECT_EQ(ReadWholeFile(Profile->ProfileFileName), ProfileText);
    // The local file keeps its name, and its content unless the fault itself wrote to it.
    EXPECT_TRUE(QFileInfo::exists(DatabaseFile));
    if (!fault.During) {
        EXPECT_EQ(ReadWholeFile(DatabaseFile), DatabaseBytes);
    }
    if (QString::fromUtf8(fault.Name) == "LocalFileNameTaken")
        EXPECT_EQ(ReadWholeFile(MovedDatabaseName(DatabaseFile)), "older");
    else
        EXPECT_FALSE(QFileInfo::exists(MovedDatabaseName(DatabaseFile)));
    const TServerDatabaseInfo info = InspectServerDatabase(connection);
    EXPECT_TRUE(info.Ok) << info.Error.toStdString();
    if (*fault.KeptTable)
        EXPECT_EQ(info.Tables, QStringList({fault.KeptTable}));
    else
        EXPECT_EQ(info.Kind, TServerDatabaseKind::Empty) << info.Tables.join(",").toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SiteMoveFault,
    ::testing::Values(
        TMoveFault{"ServerDatabaseNotEmpty",
                   [](SiteMoveTest&, const QString& c) {
                       EXPECT_EQ(ServerError(c, "CREATE TABLE invoices (id integer)"), "");
                       return c;
                   },
                   {},
                   "not empty",
                   "invoices"},
        TMoveFault{"ServerDatabaseAlreadyASite",
                   [](SiteMoveTest&, const QString& c) {
                       EXPECT_EQ(ServerError(c, "CREATE TABLE controllers (conid integer)"), "");
                       return c;
                   },
                   {},
                   "not empty",
                   "controllers"},
        TMoveFault{"PasswordInTheText",
                   [](SiteMoveTest&, const QString& c) { return c + " password=secret"; },
                   {},
                   "~/.pgpass"},
        TMoveFault{"ServerUnreachable",
                   [](SiteMoveTest&, const QString&) {
                       return QStringLiteral("host=/nonexistent/socket/folder dbname=site");
                   },
                   {},
                   "could not be moved"},
        TMoveFault{"ProfileFileReadOnly",
                   [](SiteMoveTest& test, const QString& c) {
                       QFile::setPermissions(test.Profile->ProfileFileName, QFileDevice::ReadOwner);
                       test.ProfileText = ReadWholeFile(test.Profile->ProfileFileName);
                       return c;
                   },
                   {},
                   "read-only"},
        TMoveFault{"LocalFileNameTaken",
                   [](SiteMoveTest& test, const QString& c) {
                       WriteTextFile(MovedDatabaseName(test.DatabaseFile), "older");
                       return c;
                   },
                   {},
                   "already exists"},
        // Somebody writes to the local file while it is copied: the counts differ.
        TMoveFault{"LocalFileChangedDuringTheCopy",
                   {},
                   [](qint64 done, qint64 total, const QString& databaseFile) {
                       if (done == total)
                           MakeDatabaseChange(databaseFile);
                   },
                   "rows in the local file"}),
    [](const ::testing::TestParamInfo<TMoveFault>& info) { return info.param.Name; });

// The server goes away in the middle of the copy (an immediate shutdown): nothing of the site
// reaches it, and once it is back the same move goes through.
TEST_F(SiteMoveTest, AServerLostDuringTheCopyLeavesEverythingAndTheMoveCanBeRepeated) {
    TTestCluster& cluster = TTestCluster::Private();
    const QString connection = NewServerDatabase(cluster);
    bool killed = false;
    EXPECT_THROW(MoveSiteToServer(*Profile, connection,
                                  [&](qint64, qint64) {
                                      if (!killed)
                                          killed = cluster.Kill();
                                  }),
                 VyrError);
    EXPECT_TRUE(killed);
    ASSERT_TRUE(cluster.Start()) << cluster.Error().toStdString();
    ExpectUnchanged(connection);

    MoveSiteToServer(*Profile, connection);
    EXPECT_EQ(ServerRows(connection, "SELECT COUNT(*) FROM CardZones"), QStringList({"2"}));
}

// ---- A move cut short ----------------------------------------------------------------------

// The rows a whole site holds, read through a profile's session, one text per table.
QStringList SiteRows(TMyDBConnector& db) {
    QStringList rows;
    for (const char* sql : {"SELECT ConID, ConName FROM Controllers ORDER BY ConID",
                            "SELECT CardNumber, CardHolder FROM CardHolders ORDER BY CardNumber",
                            "SELECT ConID, CardNumber, ZoneID FROM CardZones ORDER BY ConID",
                            "SELECT ConID, Stamp FROM PendingChanges ORDER BY ConID"}) {
        const std::unique_ptr<TMyResultSet> result = db.Query(TMyStatement(sql));
        if (!result) {
            rows << "error: " + db.GetLastError();
            continue;
        }
        QStringList table;
        for (result->First(); !result->Eof(); result->Next()) {
            QStringList fields;
            for (int i = 0; i < result->FieldCount(); ++i)
                fields << result->Fields(i).AsString();
            table << fields.join("|");
        }
        rows << table.join(", ");
    }
    return rows;
}

const QStringList WholeSite = {"3|Gate, 7|Hall", "00AB12CD34|Ann, 11EE22FF33|Ben",
                               "3|00AB12CD34|1, 7|00AB12CD34|5", "3|-17, 7|4611686018427387000"};

// Runs the move in a process of its own that is killed just before `step`; true when it died so.
bool MoveKilledAt(const QString& step, const QString& connection) {
    QProcess mover;
    mover.setProcessChannelMode(QProcess::ForwardedChannels);
    mover.start(QCoreApplication::applicationDirPath() + "/vyr-site-move-crash",
                {step, connection});
    if (!mover.waitForFinished(120000))
        return false;
    return mover.exitStatus() == QProcess::CrashExit;
}

struct TKillCase {
    const char* Step;
    // The server committed before the kill: the next opening finishes the move.
    bool Committed;
};

void PrintTo(const TKillCase& c, std::ostream* out) {
    *out << c.Step;
}

class SiteMoveKilled : public SiteMoveTest, public ::testing::WithParamInterface<TKillCase> {};

// Killed at any step, the move leaves a marker, and the next opening of the profile finishes or
// undoes it: the site opens whole, in one place, with its marks as they were.
TEST_P(SiteMoveKilled, TheNextOpeningFinishesOrUndoesTheMoveAndTheSiteOpensWhole) {
    const QString connection = NewServerDatabase();
    const QString marker = SiteMoveMarkerName(Profile->ProfileFileName);
    ASSERT_TRUE(MoveKilledAt(GetParam().Step, connection));
    EXPECT_TRUE(QFileInfo::exists(marker));

    TVYRStandProfile profile(Profile->ProfileFileName);
    ASSERT_TRUE(profile.LoadINI());
    TSessionOpening opening = OpenProfileSession(profile, Desktop);
    ASSERT_TRUE(opening.Session) << opening.Problem.toStdString();
    EXPECT_EQ(SiteRows(opening.Session->Database()), WholeSite);
    EXPECT_FALSE(QFileInfo::exists(marker));
    TVYRStandProfile reread(Profile->ProfileFileName);
    ASSERT_TRUE(reread.LoadINI());
    if (GetParam().Committed) {
        EXPECT_EQ(opening.Session->Database().GetDBTypeName(), "postgresql");
        EXPECT_EQ(reread.ServerConnection, connection.trimmed());
        EXPECT_EQ(reread.DBFileName, "");
        EXPECT_FALSE(QFileInfo::exists(DatabaseFile));
        EXPECT_TRUE(QFileInfo::exists(MovedDatabaseName(DatabaseFile)));
        return;
    }
    // Undone: the site stays in its file, the server's database is empty, and the move can be
    // made again.
    EXPECT_EQ(opening.Session->Database().GetDBTypeName(), "sqlite");
    EXPECT_EQ(ReadWholeFile(Profile->ProfileFileName), ProfileText);
    EXPECT_FALSE(QFileInfo::exists(MovedDatabaseName(DatabaseFile)));
    opening.Session.reset();
    EXPECT_EQ(InspectServerDatabase(connection).Kind, TServerDatabaseKind::Empty);
    const TVYRStandProfile moved = MoveSiteToServer(reread, connection);
    EXPECT_EQ(moved.ServerConnection, connection.trimmed());
    EXPECT_EQ(ServerRows(connection, "SELECT COUNT(*) FROM CardHolders"), QStringList({"2"}));
}

INSTANTIATE_TEST_SUITE_P(Steps, SiteMoveKilled,
                         ::testing::Values(TKillCase{"commit", false}, TKillCase{"profile", true},
                                           TKillCase{"rename", true}, TKillCase{"marker", true}),
                         [](const ::testing::TestParamInfo<TKillCase>& info) {
                             return std::string(info.param.Step);
                         });

// Whether a move cut short at its commit went through only the server can say. While it cannot be
// asked, the profile opens nothing, neither the file (whose site may be on the server already) nor
// the server; once it answers, the move is settled.
TEST_F(SiteMoveTest, AnUnsettledMoveOpensNothingWhileTheServerCannotBeAsked) {
    TTestCluster& cluster = TTestCluster::Private();
    const QString connection = NewServerDatabase(cluster);
    ASSERT_TRUE(MoveKilledAt("commit", connection));
    ASSERT_TRUE(cluster.Kill());
    TSessionOpening refused = OpenProfileSession(*Profile, Desktop);
    ASSERT_TRUE(cluster.Start()) << cluster.Error().toStdString();
    EXPECT_FALSE(refused.Session);
    EXPECT_THAT(refused.Problem.toStdString(), HasSubstr("cannot be asked whether the move"));
    EXPECT_TRUE(QFileInfo::exists(SiteMoveMarkerName(Profile->ProfileFileName)));
    EXPECT_EQ(ReadWholeFile(Profile->ProfileFileName), ProfileText);

    TSessionOpening opened = OpenProfileSession(*Profile, Desktop);
    ASSERT_TRUE(opened.Session) << opened.Problem.toStdString();
    EXPECT_EQ(SiteRows(opened.Session->Database()), WholeSite);
}

// A marker that is not about the file this profile names (left beside a profile file that was
// removed and made again) moves nothing: the profile opens its own file.
TEST_F(SiteMoveTest, AMarkerOfAnotherFileIsDroppedAndTheProfileOpensItsOwn) {
    const QString site = TTestCluster::Shared().NewSite();
    ASSERT_FALSE(site.isEmpty()) << TTestCluster::Shared().Error().toStdString();
    const QString marker = SiteMoveMarkerName(Profile->ProfileFileName);
    ASSERT_TRUE(WriteTextFile(marker, "[move]\nconnection=" + site.toUtf8() + "\ndatabase=" +
                                          DataDirectory().toUtf8() + "/data/other.accdb\n"));
    TSessionOpening opening = OpenProfileSession(*Profile, Desktop);
    ASSERT_TRUE(opening.Session) << opening.Problem.toStdString();
    EXPECT_EQ(opening.Session->Database().GetDBTypeName(), "sqlite");
    EXPECT_EQ(SiteRows(opening.Session->Database()), WholeSite);
    EXPECT_FALSE(QFileInfo::exists(marker));
    EXPECT_EQ(ReadWholeFile(Profile->ProfileFileName), ProfileText);
}

// A profile that names an empty database on a server (its site lost, or a move undone by hand) is
// refused with the reason; the database stays empty.
TEST_F(SiteMoveTest, AProfileNamingAnEmptyServerDatabaseOpensNothingAndMakesNoSite) {
    const QString connection = NewServerDatabase();
    Profile->DBFileName.clear();
    Profile->ServerConnection = connection;
    Profile->SaveToINI(Profile->ProfileFileName);
    TSessionOpening opening = OpenProfileSession(*Profile, Desktop);
    EXPECT_FALSE(opening.Session);
    EXPECT_THAT(opening.Problem.toStdString(), HasSubstr("is empty: it holds no site"));
    EXPECT_EQ(InspectServerDatabase(connection).Kind, TServerDatabaseKind::Empty);
}

} // namespace
