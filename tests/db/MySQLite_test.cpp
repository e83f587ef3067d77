#include "db/MySQLite.h"
#include "db/accessdialect.h"
#include "shared/errors.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "hostiletext.h"
#include "profiledb.h"

#include <memory>

namespace {

QString TemplateFile() {
    return QCoreApplication::applicationDirPath() + "/default.accdb";
}

bool WriteFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// A fresh copy of the template, connected; the connector under test is the engine itself.
class SQLiteConnector : public ProfileDbTest {
protected:
    void SetUp() override {
        ProfileDbTest::SetUp();
        Db = dynamic_cast<TMySQLite*>(Database().Inner.get());
        ASSERT_NE(Db, nullptr);
    }

    bool AddCard(const QString& number, const QString& holder) {
        return Db->ExecuteQuery({"INSERT INTO CardHolders (CardNumber, CardHolder, CardCustom1, "
                                 "CardCustom2, CardCustom3, CardCustom4, CardAdded, CardLastEdit) "
                                 "VALUES (?, ?, \"\", \"\", \"\", \"\", NOW(), NOW())",
                                 {number, holder}});
    }

    TMySQLite* Db = nullptr;
};

TEST_F(SQLiteConnector, RejectedStatementHandsBackNoRowsAndSaysWhy) {
    EXPECT_EQ(Db->Query("SELECT * FROM NoSuchTable"), nullptr);
    EXPECT_TRUE(Db->GetLastError().contains("NoSuchTable")) << Db->GetLastError().toStdString();
    // A statement that fails half-way through its rows hands back none of them either.
    ASSERT_TRUE(AddCard("0000000001", "One"));
    ASSERT_TRUE(AddCard("0000000002", "Two"));
    EXPECT_EQ(Db->Query("SELECT CardHolder, abs(-9223372036854775807 - (CardNumber = "
                        "\"0000000002\")) FROM CardHolders ORDER BY CardNumber ASC"),
              nullptr);
    EXPECT_TRUE(Db->GetLastError().contains("overflow")) << Db->GetLastError().toStdString();
}

TEST_F(SQLiteConnector, EachKindOfValueIsBoundAsTheColumnsExpectIt) {
    struct TCase {
        QVariant Value;
        const char* Type; // as the engine stores it
        QString Text;     // as the program reads it back
    };
    const QDateTime moment(QDate(2024, 3, 9), QTime(7, 5, 2));
    const TCase cases[] = {
        {QString("text"), "text", "text"},
        {QString(""), "text", ""},
        // A null string is what an untouched field gives: empty text, as typed, never NULL.
        {QString(), "text", ""},
        {QVariant(), "null", ""},
        {true, "integer", "1"},
        {false, "integer", "0"},
        {-7, "integer", "-7"},
        {qint64(1) << 40, "integer", "1099511627776"},
        {2.5, "real", "2.5"},
        {moment, "text", "2024-03-09 07:05:02"},
        // Kept as NOW() keeps it: local time, whatever time zone the value was given in.
        {moment.toUTC(), "text", "2024-03-09 07:05:02"},
        {QDateTime(), "null", ""},
    };
    for (const TCase& c : cases) {
        const TMyStatement statement("SELECT typeof(?), ?", {c.Value, c.Value});
        const std::vector<QStringList> rows = Rows(statement);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0], (QStringList{c.Type, c.Text})) << ::testing::PrintToString(statement);
    }
}

TEST_F(SQLiteConnector, ReadOnlyFileRefusesWritesCleanly) {
    ASSERT_TRUE(AddCard("0000000001", "Before"));
    Db->Disconnect();
    QFile::setPermissions(DatabaseFile, QFileDevice::ReadOwner);
    ASSERT_TRUE(Db->Connect()) << Db->GetLastError().toStdString();
    EXPECT_FALSE(AddCard("0000000002", "After"));
    EXPECT_TRUE(Db->GetLastError().contains("readonly")) << Db->GetLastError().toStdString();
    EXPECT_EQ(Column("SELECT CardHolder FROM CardHolders"), QStringList{"Before"});
    EXPECT_FALSE(QFile::exists(DatabaseFile + "-journal"));
}

TEST(BulkWork, WithoutAConnectorDoesNothing) {
    TBulkWork bulk(nullptr);
}

struct TBadFile {
    const char* Name;
    QByteArray Content;
    bool Create; // false: the file does not exist
    const char* Message;
};

class SQLiteConnectFailure : public ::testing::TestWithParam<TBadFile> {};

TEST_P(SQLiteConnectFailure, LeavesAClearMessageAndNoNewFile) {
    QTemporaryDir folder;
    const QString fileName = folder.filePath("profile.accdb");
    if (GetParam().Create) {
        ASSERT_TRUE(WriteFile(fileName, GetParam().Content));
    }
    TMySQLite db;
    bool notified = false;
    db.OnStateConnected() = [&] { notified = true; };
    db.OnStateDisconnected() = [&] { notified = true; };
    db.ConnectionString = JetConnectionString(fileName);
    EXPECT_FALSE(db.Connect());
    EXPECT_FALSE(db.IsConnected());
    EXPECT_FALSE(notified);
    EXPECT_TRUE(db.GetLastError().contains(GetParam().Message)) << db.GetLastError().toStdString();
    EXPECT_EQ(QFile::exists(fileName), GetParam().Create);
    if (GetParam().Create) {
        QFile file(fileName);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), GetParam().Content);
    }
}

QByteArray AccessHeader(const char* name) {
    QByteArray header(256, '\0');
    header.replace(4, 15, name);
    return header;
}

INSTANTIATE_TEST_SUITE_P(
    Files, SQLiteConnectFailure,
    ::testing::Values(TBadFile{"Missing", {}, false, "Could not find file"},
                      TBadFile{"Text", "Dit is geen database.\n", true, "is not a database"},
                      TBadFile{"Empty", "", true, "is not a database"},
                      TBadFile{"Jet", AccessHeader("Standard Jet DB"), true, "Microsoft Access"},
                      TBadFile{"Ace", AccessHeader("Standard ACE DB"), true, "Microsoft Access"},
                      TBadFile{"DamagedSQLite",
                               QByteArray("SQLite format 3\0", 16) + QByteArray(4080, '\x7f'), true,
                               "not a database"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(SQLiteConnectionString, NamesTheFileWithTheFixedPassword) {
    EXPECT_EQ(JetConnectionString("data/site.accdb"),
              "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=data/site.accdb;Persist Security "
              "Info=False;Jet OLEDB:Database Password=kmr4816;");
    for (const QString& name : {QString("/tmp/a;b.accdb"), QString("/tmp/\"q\"; 'x'.accdb"),
                                QString(" spaced.accdb"), QString("/tmp/%1 50%.accdb")}) {
        EXPECT_EQ(ConnectionStringValue(JetConnectionString(name), "data source"), name);
        EXPECT_EQ(ConnectionStringValue(JetConnectionString(name), "Jet OLEDB:Database Password"),
                  "kmr4816");
    }
}

TEST(SQLiteConnectionString, RelativeAndWindowsStyleNamesResolveAgainstTheWorkingDirectory) {
    QTemporaryDir folder;
    QDir(folder.path()).mkpath("data");
    ASSERT_TRUE(QFile::copy(TemplateFile(), folder.filePath("data/my site ;#?%.accdb")));
    QFile::setPermissions(folder.filePath("data/my site ;#?%.accdb"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QString oldCurrent = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(folder.path()));
    TMySQLite db;
    db.ConnectionString = JetConnectionString("data\\my site ;#?%.accdb");
    const bool connected = db.Connect();
    // The working directory may change while connected; the database stays where it was.
    QDir::setCurrent(oldCurrent);
    EXPECT_TRUE(connected) << db.GetLastError().toStdString();
    EXPECT_TRUE(db.ExecuteQuery("INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES (1, "
                                "\"A\", 1)"))
        << db.GetLastError().toStdString();
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{});
}

} // namespace
