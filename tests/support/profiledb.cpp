#include "profiledb.h"

#include <QTest>

#include "db/MyPostgreSQL.h"
#include "db/MySQLite.h"
#include "db/cardindexes.h"
#include "shared/datadir.h"

#include "pgcluster.h"

#include <QFile>

std::string EngineCaseName(const ::testing::TestParamInfo<TEngine>& info) {
    return info.param == TEngine::SQLite ? "SQLite" : "PostgreSQL";
}

void PrintTo(const TMyStatement& statement, std::ostream* out) {
    *out << '"' << statement.Sql.toStdString() << '"';
    const char* separator = " with ";
    for (const QVariant& value : statement.Values) {
        *out << separator;
        separator = ", ";
        if (!value.isValid())
            *out << "NULL";
        else if (value.typeId() == QMetaType::QString)
            *out << '"' << value.toString().toStdString() << '"';
        else
            *out << value.toString().toStdString() << " (" << value.typeName() << ')';
    }
}

std::unique_ptr<TMyDBConnector> TRecordingConnector::NewConnection() const {
    std::unique_ptr<TMyDBConnector> inner = Inner->NewConnection();
    // A worker's connection never connects again inside a change; behind the recorder as well.
    inner->ReconnectOnUse = false;
    auto recorder = std::make_unique<TRecordingConnector>(std::move(inner));
    recorder->Origin = Origin ? Origin : const_cast<TRecordingConnector*>(this);
    return recorder;
}

void TRecordingConnector::Record(const TMyStatement& statement) {
    // The worker's statements reach the test once the window thread heard of the outcome.
    TRecordingConnector& recorder = Origin ? *Origin : *this;
    const std::lock_guard<std::mutex> lock(recorder.FRecording);
    recorder.Statements << statement;
}

bool TRecordingConnector::Fails(const TMyStatement& statement) {
    const QString& failing = Origin ? Origin->FailWhenContaining : FailWhenContaining;
    Failing = !failing.isEmpty() && statement.Sql.contains(failing);
    if (Failing)
        FailedText = "refused by the test: " + statement.Sql;
    return Failing;
}

bool TRecordingConnector::ExecuteQuery(const TMyStatement& statement) {
    Record(statement);
    return !Fails(statement) && Inner->ExecuteQuery(statement);
}

qint64 TRecordingConnector::ExecuteCounted(const TMyStatement& statement) {
    Record(statement);
    return Fails(statement) ? -1 : Inner->ExecuteCounted(statement);
}

std::unique_ptr<TMyResultSet> TRecordingConnector::Query(const TMyStatement& statement) {
    Record(statement);
    if (Fails(statement))
        return nullptr;
    return Inner->Query(statement);
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

bool TRecordingConnector::EndBulkWork() {
    if (FBulk.empty())
        return true;
    const bool kept = FBulk.back()->Commit();
    FBulk.pop_back();
    return kept;
}

QList<TMyStatement> TRecordingConnector::Sent(const QString& start) const {
    QList<TMyStatement> sent;
    for (const TMyStatement& statement : Statements)
        if (statement.Sql.startsWith(start))
            sent << statement;
    return sent;
}

bool ProfileDbTest::WritesDone() const {
    return QTest::qWaitFor([this] { return !Session->Writes().Busy(); }, 60000);
}

void ProfileDbTest::SetUp() {
    HomeTest::SetUp();
    CreateDataFolders();
    if (Engine() == TEngine::PostgreSQL) {
        TTestCluster& cluster = Cluster();
        ASSERT_TRUE(cluster.Running()) << cluster.Error().toStdString();
        ServerConnection = cluster.NewSite();
        ASSERT_FALSE(ServerConnection.isEmpty()) << cluster.Error().toStdString();
        auto engine = std::make_unique<TMyPostgreSQL>();
        engine->ConnectionString = ServerConnection;
        engine->Connect();
        OwnedSession = RecordedSession(std::move(engine), {});
    } else {
        DatabaseFile = DataDirectory() + "/data/site.accdb";
        ASSERT_TRUE(QFile::copy(ProgramDirectory() + "/default.accdb", DatabaseFile));
        QFile::setPermissions(DatabaseFile, QFile::ReadOwner | QFile::WriteOwner);
        OwnedSession = RecordedSession(DatabaseFile);
    }
    Session = OwnedSession.get();
    ASSERT_TRUE(Session->IsConnected()) << Session->Database().GetLastError().toStdString();
}

TTestCluster& ProfileDbTest::Cluster() const {
    return TTestCluster::Shared();
}

void ProfileDbTest::TearDown() {
    OwnedSession.reset();
    Session = nullptr;
    HomeTest::TearDown();
}

TRecordingConnector& ProfileDbTest::Database() const {
    return static_cast<TRecordingConnector&>(Session->Database());
}

std::unique_ptr<TProfileSession> RecordedSession(std::unique_ptr<TMyDBConnector> engine,
                                                 const QString& databaseFile) {
    TVYRStandProfile profile(DataDirectory() + "/profiles/site.ini");
    profile.ProfileName = "Site";
    profile.DBFileName = databaseFile;
    return std::make_unique<TProfileSession>(
        profile, std::make_unique<TRecordingConnector>(std::move(engine)));
}

std::unique_ptr<TProfileSession> RecordedSession(const QString& database) {
    auto engine = std::make_unique<TMySQLite>();
    engine->ConnectionString = JetConnectionString(database);
    engine->Connect();
    return RecordedSession(std::move(engine), database);
}

void ProfileDbTest::Exec(const TMyStatement& statement) const {
    EXPECT_TRUE(Database().Inner->ExecuteQuery(statement))
        << ::testing::PrintToString(statement) << ": "
        << Database().Inner->GetLastError().toStdString();
}

std::vector<QStringList> ProfileDbTest::Rows(const TMyStatement& statement) const {
    TMyDBConnector& engine = *Database().Inner;
    std::vector<QStringList> rows;
    if (const std::unique_ptr<TMyResultSet> result = engine.Query(statement)) {
        for (result->First(); !result->Eof(); result->Next()) {
            QStringList row;
            for (int i = 0; i < result->FieldCount(); ++i)
                row << result->Fields(i).AsString();
            rows.push_back(row);
        }
    } else {
        rows.push_back({"error: " + engine.GetLastError()});
    }
    return rows;
}

QStringList ProfileDbTest::Column(const TMyStatement& statement) const {
    QStringList values;
    for (const QStringList& row : Rows(statement))
        values << row.value(0);
    EXPECT_FALSE(values.value(0).startsWith("error: ")) << ::testing::PrintToString(statement);
    return values;
}

int ProfileDbTest::Count(const TMyStatement& statement) const {
    const std::vector<QStringList> rows = Rows(statement);
    return rows.empty() || rows[0].isEmpty() ? -1 : rows[0][0].toInt();
}

int32_t ProfileDbTest::AddController(const QString& name, const QString& code, int conByte1,
                                     int conByte2) const {
    Exec({"INSERT INTO Controllers (ConType, ConName, ConCode, ConByte1, ConByte2) VALUES(?, ?, "
          "?, ?, ?)",
          {QStringLiteral("VYR292"), name, code, conByte1, conByte2}});
    return Count("SELECT @@Identity");
}

void ProfileDbTest::AddCardHolder(const QString& number, const QString& name,
                                  const QString& custom1, const QString& custom2,
                                  bool deleted) const {
    Exec({"INSERT INTO CardHolders (CardNumber, CardHolder, CardCustom1, CardCustom2, CardCustom3, "
          "CardCustom4, CardAdded, CardLastEdit, Deleted) VALUES(?, ?, ?, ?, \"\", \"\", "
          "\"2001-02-03 04:05:06\", \"2001-02-03 04:05:06\", ?)",
          {number, name, custom1, custom2, deleted}});
}

void ProfileDbTest::AddZone(int32_t conId, const QString& number, int zone) const {
    Exec({"INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES(?, ?, ?)",
          {conId, number, zone}});
}

void ProfileDbTest::AddZone(const TStandController& controller, const QString& number,
                            int zone) const {
    AddZone(controller.ConID, number, zone);
}

TStandController ProfileDbTest::Record(int32_t conId) const {
    TStandController record;
    const std::vector<QStringList> rows =
        Rows({"SELECT ConID, ConType, ConName, ConCode, ConByte1, ConByte2 FROM Controllers WHERE "
              "ConID = ?",
              {conId}});
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
    return Column(
        {"SELECT ZoneID FROM CardZones WHERE (ConID = ?) AND (CardNumber = ?)", {conId, number}});
}

TCardHolder ListedHolder(const QString& number, const QString& name) {
    TCardHolder holder;
    holder.CardNumber = number;
    holder.CardHolder = name;
    return holder;
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
    ASSERT_EQ(Count({"SELECT COUNT(*) FROM sqlite_master WHERE (type = \"index\") AND (name IN "
                     "(?, ?))",
                     {QString::fromLatin1(CardHoldersUniqueIndex),
                      QString::fromLatin1(CardZonesUniqueIndex)}}),
              0);
}
