#pragma once

#include "db/MyDBConnector.h"
#include "db/changewatch.h"
#include "db/sitewriter.h"
#include "profiles/profilesession.h"
#include "shared/publictypes.h"

#include "testenv.h"

class TTestCluster;

#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>
#include <ostream>
#include <vector>

// Readable failure messages for Qt texts.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

// And for statements: the text, then the values.
void PrintTo(const TMyStatement& statement, std::ostream* out);

// A connector in front of the real one that keeps every statement it was given and can be told
// to fail those that contain a piece of text, as an engine error would.
class TRecordingConnector : public TMyDBConnector {
public:
    explicit TRecordingConnector(std::unique_ptr<TMyDBConnector> inner) : Inner(std::move(inner)) {
        ConnectionString = Inner->ConnectionString;
    }

    QString GetDBTypeName() const override { return Inner->GetDBTypeName(); }
    std::unique_ptr<TChangeWatch> WatchChanges() override { return Inner->WatchChanges(); }

    bool Connect() override { return Inner->Connect(); }
    void Disconnect() override { Inner->Disconnect(); }
    bool IsConnected() const override { return Inner->IsConnected(); }
    bool ReConnect() override { return Inner->ReConnect(); }
    QString GetLastError() const override { return Failing ? FailedText : Inner->GetLastError(); }
    QString GetLastSqlState() const override {
        return Failing ? QString() : Inner->GetLastSqlState();
    }
    bool ConnectionLost() const override { return Inner->ConnectionLost(); }
    bool TakeConnection(TMyDBConnector& fresh) override { return Inner->TakeConnection(fresh); }
    bool ExecuteQuery(const TMyStatement& statement) override;
    qint64 ExecuteCounted(const TMyStatement& statement) override;
    std::unique_ptr<TMyResultSet> Query(const TMyStatement& statement) override;
    int MaxBoundValues() const override { return Inner->MaxBoundValues(); }
    int AnswerLimit() const override { return Inner->AnswerLimit(); }
    void SetAnswerLimit(int milliseconds) override { Inner->SetAnswerLimit(milliseconds); }
    // A worker's connection is recorded, and refused, as this one: its statements join these.
    std::unique_ptr<TMyDBConnector> NewConnection() const override;
    bool StartTransaction() override;
    bool CommitTransaction() override;
    void RollbackTransaction() override;

    // The statements sent so far whose text starts with `start` (all of them for an empty start).
    QList<TMyStatement> Sent(const QString& start = {}) const;

    QList<TMyStatement> Statements;
    QString FailWhenContaining; // in the text; empty: nothing fails
    std::unique_ptr<TMyDBConnector> Inner;
    // The recorder this one was made for as a worker's connection: it records there and fails as
    // that one is told to.
    TRecordingConnector* Origin = nullptr;

protected:
    void BeginBulkWork() override;
    bool EndBulkWork() override;

private:
    bool Fails(const TMyStatement& statement);
    void Record(const TMyStatement& statement);
    std::mutex FRecording;
    bool Failing = false;
    QString FailedText;
    std::vector<std::unique_ptr<TBulkWork>> FBulk;
};

// The engines a site database can live on.
enum class TEngine { SQLite, PostgreSQL };
inline void PrintTo(TEngine engine, std::ostream* out) {
    *out << (engine == TEngine::SQLite ? "SQLite" : "PostgreSQL");
}
// For INSTANTIATE_TEST_SUITE_P: the engine as the name of the case.
std::string EngineCaseName(const ::testing::TestParamInfo<TEngine>& info);
inline const TEngine BothEngines[] = {TEngine::SQLite, TEngine::PostgreSQL};

// A profile database with rows in it: a fresh copy of the template database in the test's
// private home, opened as a profile session whose connector is a recorder in front of the engine,
// with no controller records yet; and the run's reader settings, on no adapter. On the server
// (Engine() says so), a new database of the binary's throwaway cluster takes the file's place. The
// helpers write and read rows straight through the engine, as other parts of the program (or
// another copy of it) would, so they are neither recorded nor made to fail.
class ProfileDbTest : public HomeTest {
protected:
    // Fixtures that run on both engines answer with their parameter.
    virtual TEngine Engine() const { return TEngine::SQLite; }
    // The cluster that holds the database on the server: the run's, unless a fixture stops the
    // server under the program's feet.
    virtual TTestCluster& Cluster() const;
    void SetUp() override;
    void TearDown() override;

    TRecordingConnector& Database() const;
    TControllerRecords& Controllers() const { return Session->Controllers(); }
    // Sends a statement straight to the engine; fails the test when it affects no row.
    void Exec(const TMyStatement& statement) const;
    // Every row of a query as texts, or one row with the error.
    std::vector<QStringList> Rows(const TMyStatement& statement) const;
    // The first field of every row, as text.
    QStringList Column(const TMyStatement& statement) const;
    // The first field of the first row as a number; -1 without one.
    int Count(const TMyStatement& statement) const;

    // Inserts a controller of type VYR292 and returns its ConID.
    int32_t AddController(const QString& name, const QString& code = "000000", int conByte1 = 2,
                          int conByte2 = 4) const;
    void AddCardHolder(const QString& number, const QString& name, const QString& custom1 = {},
                       const QString& custom2 = {}, bool deleted = false) const;
    void AddZone(int32_t conId, const QString& number, int zone) const;
    void AddZone(const TStandController& controller, const QString& number, int zone) const;
    // A record as the controller list would hold it.
    TStandController Record(int32_t conId) const;
    // The card's zone rows at the controller, as "zone" texts in row order.
    QStringList Zones(int32_t conId, const QString& number) const;
    QStringList Zones(const TStandController& controller, const QString& number) const {
        return Zones(controller.ConID, number);
    }

    // Waits until every change handed to the session's writer was reported on the window thread
    // (and what the windows did with the outcome, a new change among it, was done); false when
    // that took longer than a minute.
    bool WritesDone() const;
    // Hands a change to the session's writer, as a window would, and waits for its outcome.
    template <class TWrite> TWrite& Written(const std::shared_ptr<TWrite>& write) const {
        Session->Writes().Start(write);
        EXPECT_TRUE(WritesDone());
        return *write;
    }

    // Takes the unique card indexes away, as in a database made before them: such a database can
    // still hold two rows for one card, which the program has to live with until it is cleaned up.
    void MakeOlderDatabase() const;

    // Hands the session over to a window that takes it (the main window); Session stays usable
    // for as long as that window lives.
    std::unique_ptr<TProfileSession> TakeSession() { return std::move(OwnedSession); }

    QString DatabaseFile;     // on SQLite
    QString ServerConnection; // on the server
    std::unique_ptr<TProfileSession> OwnedSession;
    TProfileSession* Session = nullptr;
    TRunSettings RunSettings;
};

// The same fixture on the engine the test's parameter names, for suites instantiated over
// BothEngines.
class EngineProfileDbTest : public ProfileDbTest, public ::testing::WithParamInterface<TEngine> {
protected:
    TEngine Engine() const override { return GetParam(); }
};

// A session on a profile named "Site" whose database is the SQLite file `database`, behind a
// recorder; or on a connected engine of any kind.
std::unique_ptr<TProfileSession> RecordedSession(const QString& database);
std::unique_ptr<TProfileSession> RecordedSession(std::unique_ptr<TMyDBConnector> engine,
                                                 const QString& databaseFile);

// A cardholder as a list row shows them: their card number and name.
TCardHolder ListedHolder(const QString& number, const QString& name);

// A card number that begins with the given four characters (the part a key holds).
QString CardStartingWith(const QString& firstFour, int serial = 0);
