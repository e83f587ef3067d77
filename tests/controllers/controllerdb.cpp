#include "controllerdb.h"

#include "db/MyDBConnector.h"
#include "db/MySQLite.h"
#include "db/sqlquote.h"
#include "shared/datadir.h"

#include <QDir>
#include <QFile>

void ControllerDbTest::SetUp() {
    HomeTest::SetUp();
    QDir().mkpath(DataDirectory() + "/data");
    DatabaseFile = DataDirectory() + "/data/site.accdb";
    ASSERT_TRUE(QFile::copy(ProgramDirectory() + "/default.accdb", DatabaseFile));
    QFile::setPermissions(DatabaseFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    DBConnection = std::make_unique<TMySQLite>();
    DBConnection->ConnectionString = JetConnectionString(DatabaseFile);
    ASSERT_TRUE(DBConnection->Connect()) << DBConnection->GetLastError().toStdString();
}

void ControllerDbTest::TearDown() {
    ControllerList.clear();
    ReleaseDBConnection();
    HomeTest::TearDown();
}

int32_t ControllerDbTest::AddController(const QString& name, const QString& code, int conByte1,
                                        int conByte2) {
    EXPECT_TRUE(DBConnection->ExecuteQuery(
        "INSERT INTO Controllers (ConType, ConName, ConCode, ConByte1, ConByte2) VALUES(" +
        SqlQuoted("VYR292") + ", " + SqlQuoted(name) + ", " + SqlQuoted(code) + ", " +
        QString::number(conByte1) + ", " + QString::number(conByte2) + ")"))
        << DBConnection->GetLastError().toStdString();
    return Count("SELECT @@Identity");
}

void ControllerDbTest::AddCardHolder(const QString& cardNumber, const QString& holder,
                                     bool deleted) {
    EXPECT_TRUE(DBConnection->ExecuteQuery(
        "INSERT INTO CardHolders (CardNumber, CardHolder, CardAdded, CardLastEdit, Deleted) "
        "VALUES(" +
        SqlQuoted(cardNumber) + ", " + SqlQuoted(holder) + ", NOW(), NOW(), " +
        (deleted ? "1" : "0") + ")"))
        << DBConnection->GetLastError().toStdString();
}

void ControllerDbTest::AddZone(int32_t conId, const QString& cardNumber, int zone) {
    EXPECT_TRUE(DBConnection->ExecuteQuery(
        "INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES(" + QString::number(conId) +
        ", " + SqlQuoted(cardNumber) + ", " + QString::number(zone) + ")"))
        << DBConnection->GetLastError().toStdString();
}

TStandController ControllerDbTest::Record(int32_t conId) {
    TStandController record;
    const std::vector<QStringList> rows =
        Rows("SELECT ConID, ConType, ConName, ConCode, ConByte1, ConByte2 FROM Controllers WHERE "
             "ConID = " +
             QString::number(conId));
    EXPECT_EQ(rows.size(), 1u);
    if (rows.size() != 1 || rows[0].size() != 6)
        return record;
    record.ConID = rows[0][0].toInt();
    record.ConType = rows[0][1];
    record.ConName = rows[0][2];
    record.ConCode = rows[0][3];
    record.ConByte1 = uint8_t(rows[0][4].toInt());
    record.ConByte2 = uint8_t(rows[0][5].toInt());
    return record;
}

std::vector<QStringList> ControllerDbTest::Rows(const QString& sql) {
    std::vector<QStringList> rows;
    TMyResultSet* result = nullptr;
    if (DBConnection->Query(sql, result)) {
        for (result->First(); !result->Eof(); result->Next()) {
            QStringList row;
            for (int i = 0; i < result->FieldCount(); ++i)
                row << result->Fields(i).AsString();
            rows.push_back(row);
        }
    } else {
        rows.push_back({"error: " + DBConnection->GetLastError()});
    }
    DBConnection->DestroyQuery(result);
    return rows;
}

int ControllerDbTest::Count(const QString& sql) {
    const std::vector<QStringList> rows = Rows(sql);
    return rows.empty() || rows[0].isEmpty() ? -1 : rows[0][0].toInt();
}

QString CardStartingWith(const QString& firstFour, int serial) {
    return firstFour + QStringLiteral("%1").arg(serial, 6, 16, QLatin1Char('0')).toUpper();
}
