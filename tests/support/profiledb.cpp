#include "profiledb.h"

#include "db/MySQLite.h"
#include "db/cardindexes.h"
#include "db/sqlquote.h"
#include "shared/datadir.h"

#include <QFile>

bool TRecordingConnector::Fails(const QString& sql) {
    Failing = !FailWhenContaining.isEmpty() && sql.contains(FailWhenContaining);
    if (Failing)
        FailedText = "refused by the test: " + sql;
    return Failing;
}

bool TRecordingConnector::ExecuteQuery(const QString& sql) {
    Statements << sql;
    return !Fails(sql) && Inner->ExecuteQuery(sql);
}

bool TRecordingConnector::Query(const QString& sql, TMyResultSet*& QObject) {
    Statements << sql;
    if (Fails(sql)) {
        Inner->Query("SELECT 1 WHERE 0", QObject);
        return false;
    }
    return Inner->Query(sql, QObject);
}

bool TRecordingConnector::StartTransaction() {
    Failing = false;
    return Inner->StartTransaction();
}

bool TRecordingConnector::CommitTransaction() {
    Failing = false;
    return Inner->CommitTransaction();
}

void TRecordingConnector::RollbackTransaction() {
    Inner->RollbackTransaction(); // the failure that caused it stays what GetLastError says
}

void TRecordingConnector::BeginBulkWork() {
    FBulk.push_back(std::make_unique<TBulkWork>(Inner.get()));
}

void TRecordingConnector::EndBulkWork() {
    if (!FBulk.empty())
        FBulk.pop_back();
}

QStringList TRecordingConnector::Sent(const QString& start) const {
    QStringList sent;
    for (const QString& sql : Statements)
        if (sql.startsWith(start))
            sent << sql;
    return sent;
}

void ProfileDbTest::SetUp() {
    HomeTest::SetUp();
    CreateDataFolders();
    DatabaseFile = DataDirectory() + "/data/site.accdb";
    ASSERT_TRUE(QFile::copy(ProgramDirectory() + "/default.accdb", DatabaseFile));
    QFile::setPermissions(DatabaseFile, QFile::ReadOwner | QFile::WriteOwner);
    auto engine = std::make_unique<TMySQLite>();
    engine->ConnectionString = JetConnectionString(DatabaseFile);
    ASSERT_TRUE(engine->Connect()) << engine->GetLastError().toStdString();
    DBConnection = std::make_unique<TRecordingConnector>(std::move(engine));
    ControllerList.clear();
}

void ProfileDbTest::TearDown() {
    ControllerList.clear();
    ReleaseDBConnection();
    HomeTest::TearDown();
}

TRecordingConnector& ProfileDbTest::Database() const {
    return static_cast<TRecordingConnector&>(*DBConnection);
}

void ProfileDbTest::Exec(const QString& sql) const {
    EXPECT_TRUE(Database().Inner->ExecuteQuery(sql))
        << sql.toStdString() << ": " << Database().Inner->GetLastError().toStdString();
}

std::vector<QStringList> ProfileDbTest::Rows(const QString& sql) const {
    TMyDBConnector& engine = *Database().Inner;
    std::vector<QStringList> rows;
    TMyResultSet* result = nullptr;
    if (engine.Query(sql, result)) {
        for (result->First(); !result->Eof(); result->Next()) {
            QStringList row;
            for (int i = 0; i < result->FieldCount(); ++i)
                row << result->Fields(i).AsString();
            rows.push_back(row);
        }
    } else {
        rows.push_back({"error: " + engine.GetLastError()});
    }
    engine.DestroyQuery(result);
    return rows;
}

QStringList ProfileDbTest::Column(const QString& sql) const {
    QStringList values;
    for (const QStringList& row : Rows(sql))
        values << row.value(0);
    EXPECT_FALSE(values.value(0).startsWith("error: ")) << sql.toStdString();
    return values;
}

int ProfileDbTest::Count(const QString& sql) const {
    const std::vector<QStringList> rows = Rows(sql);
    return rows.empty() || rows[0].isEmpty() ? -1 : rows[0][0].toInt();
}

int32_t ProfileDbTest::AddController(const QString& name, const QString& code, int conByte1,
                                     int conByte2) const {
    Exec("INSERT INTO Controllers (ConType, ConName, ConCode, ConByte1, ConByte2) VALUES(" +
         SqlQuoted("VYR292") + ", " + SqlQuoted(name) + ", " + SqlQuoted(code) + ", " +
         QString::number(conByte1) + ", " + QString::number(conByte2) + ")");
    return Count("SELECT @@Identity");
}

void ProfileDbTest::AddCardHolder(const QString& number, const QString& name,
                                  const QString& custom1, const QString& custom2,
                                  bool deleted) const {
    Exec("INSERT INTO CardHolders (CardNumber, CardHolder, CardCustom1, CardCustom2, CardCustom3, "
         "CardCustom4, CardAdded, CardLastEdit, Deleted) VALUES(" +
         SqlQuoted(number) + ", " + SqlQuoted(name) + ", " + SqlQuoted(custom1) + ", " +
         SqlQuoted(custom2) + ", \"\", \"\", \"2001-02-03 04:05:06\", \"2001-02-03 04:05:06\", " +
         (deleted ? "1" : "0") + ")");
}

void ProfileDbTest::AddZone(int32_t conId, const QString& number, int zone) const {
    Exec("INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES(" + QString::number(conId) +
         ", " + SqlQuoted(number) + ", " + QString::number(zone) + ")");
}

void ProfileDbTest::AddZone(const TStandController& controller, const QString& number,
                            int zone) const {
    AddZone(controller.ConID, number, zone);
}

TStandController ProfileDbTest::Record(int32_t conId) const {
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

QStringList ProfileDbTest::Zones(int32_t conId, const QString& number) const {
    return Column("SELECT ZoneID FROM CardZones WHERE (ConID = " + QString::number(conId) +
                  ") AND (CardNumber = " + SqlQuoted(number) + ")");
}

QString CardStartingWith(const QString& firstFour, int serial) {
    return firstFour + QStringLiteral("%1").arg(serial, 6, 16, QLatin1Char('0')).toUpper();
}

void ProfileDbTest::MakeOlderDatabase() const {
    TMyDBConnector& engine = *Database().Inner;
    // Schema statements change no row, so their answer is read from the schema instead.
    engine.ExecuteQuery(QStringLiteral("DROP INDEX ") + CardHoldersUniqueIndex);
    engine.ExecuteQuery(QStringLiteral("DROP INDEX ") + CardZonesUniqueIndex);
    engine.ExecuteQuery("CREATE INDEX CardHoldersByCardNumber ON CardHolders (CardNumber)");
    ASSERT_EQ(Count("SELECT COUNT(*) FROM sqlite_master WHERE (type = \"index\") AND (name IN (" +
                    SqlQuoted(CardHoldersUniqueIndex) + ", " + SqlQuoted(CardZonesUniqueIndex) +
                    "))"),
              0);
}
