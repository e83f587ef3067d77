#include "cardholderfixture.h"

#include "cardholders/cardnumberedit.h"
#include "db/MySQLite.h"
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

QStringList TRecordingConnector::Sent(const QString& start) const {
    QStringList sent;
    for (const QString& sql : Statements)
        if (sql.startsWith(start))
            sent << sql;
    return sent;
}

void CardholderTest::SetUp() {
    HomeTest::SetUp();
    CreateDataFolders();
    DatabaseFile = DataDirectory() + "/data/test.accdb";
    ASSERT_TRUE(QFile::copy(ProgramDirectory() + "/default.accdb", DatabaseFile));
    QFile::setPermissions(DatabaseFile, QFile::ReadOwner | QFile::WriteOwner);
    auto engine = std::make_unique<TMySQLite>();
    engine->ConnectionString = JetConnectionString(DatabaseFile);
    ASSERT_TRUE(engine->Connect()) << engine->GetLastError().toStdString();
    DBConnection = std::make_unique<TRecordingConnector>(std::move(engine));
    ControllerList.clear();
    DefaultBeep = [this] { ++Beeps; };
}

void CardholderTest::TearDown() {
    DefaultBeep = nullptr;
    ControllerList.clear();
    ReleaseDBConnection();
    HomeTest::TearDown();
}

TRecordingConnector& CardholderTest::Database() const {
    return static_cast<TRecordingConnector&>(*DBConnection);
}

void CardholderTest::Exec(const QString& sql) const {
    EXPECT_TRUE(Database().Inner->ExecuteQuery(sql))
        << sql.toStdString() << ": " << Database().Inner->GetLastError().toStdString();
}

QStringList CardholderTest::Column(const QString& sql) const {
    QStringList values;
    TMyResultSet* rows = nullptr;
    EXPECT_TRUE(Database().Inner->Query(sql, rows))
        << sql.toStdString() << ": " << Database().Inner->GetLastError().toStdString();
    for (rows->First(); !rows->Eof(); rows->Next())
        values << rows->Fields(0).AsString();
    Database().Inner->DestroyQuery(rows);
    return values;
}

int CardholderTest::Count(const QString& sql) const {
    const QStringList values = Column(sql);
    return values.isEmpty() ? -1 : values.first().toInt();
}

TStandController& CardholderTest::AddController(const QString& name) {
    Exec("INSERT INTO Controllers (ConType, ConName, ConCode, ConByte1, ConByte2) "
         "VALUES(\"VYR292\", " +
         SqlQuoted(name) + ", \"123456\", 0, 0)");
    auto controller = std::make_unique<TStandController>();
    controller->ConID = Column("SELECT @@Identity").value(0).toInt();
    controller->ConType = "VYR292";
    controller->ConName = name;
    controller->ConCode = "123456";
    ControllerList.push_back(std::move(controller));
    return *ControllerList.back();
}

void CardholderTest::AddCardHolder(const QString& number, const QString& name,
                                   const QString& custom1, const QString& custom2,
                                   bool deleted) const {
    Exec("INSERT INTO CardHolders (CardNumber, CardHolder, CardCustom1, CardCustom2, CardCustom3, "
         "CardCustom4, CardAdded, CardLastEdit, Deleted) VALUES(" +
         SqlQuoted(number) + ", " + SqlQuoted(name) + ", " + SqlQuoted(custom1) + ", " +
         SqlQuoted(custom2) + ", \"\", \"\", \"2001-02-03 04:05:06\", \"2001-02-03 04:05:06\", " +
         (deleted ? "1" : "0") + ")");
}

void CardholderTest::AddZone(const TStandController& controller, const QString& number,
                             int zone) const {
    Exec("INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES(" +
         QString::number(controller.ConID) + ", " + SqlQuoted(number) + ", " +
         QString::number(zone) + ")");
}

QStringList CardholderTest::Zones(const TStandController& controller, const QString& number) const {
    return Column(
        "SELECT ZoneID FROM CardZones WHERE (ConID = " + QString::number(controller.ConID) +
        ") AND (CardNumber = " + SqlQuoted(number) + ")");
}

QStringList CardholderTest::MarkedControllers() const {
    QStringList marked;
    for (const auto& controller : ControllerList)
        if (controller->ChangesMade)
            marked << controller->ConName;
    return marked;
}

#include "reader/MaximReader.h"
#include "readerfixture.h"

void CardReaderTest::SetUp() {
    CardholderTest::SetUp();
    ASSERT_TRUE(Fake.Loaded());
    TMaximReader::SetLibraryName(FakeTmex::FileName);
    Fake.Reset();
    SavedSettings = AppSettings;
    AppSettings = {"32", 5, 1};
}

void CardReaderTest::TearDown() {
    AppSettings = SavedSettings;
    TMaximReader::SetLibraryName({});
    CardholderTest::TearDown();
}

void CardReaderTest::Present(const RomBytes* card) {
    Fake.ClearBus();
    if (card)
        Fake.AddDevice(*card);
}
