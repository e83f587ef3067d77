#pragma once

#include "db/statement.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

// A value as the engine returned it. Kept lean: the lists fetch hundreds of thousands of them.
struct TMyValue {
    enum TKind : unsigned char { Null, Integer, Real, Text };
    TKind Kind = Null;
    qint64 IntegerValue = 0;
    double RealValue = 0;
    QString TextValue;
};

// One value of a result set's current row. It points into the result set, so it is read at once
// and not kept beyond the release of its result set.
class TMyField {
public:
    TMyField() = default;
    explicit TMyField(const TMyValue* value) : FValue(value) {}

    int AsInteger() const;        // 0 for NULL, empty or non-numeric text
    QString AsString() const;     // "" for NULL
    QDateTime AsDateTime() const; // local time; invalid for NULL or text that is no date
    bool IsNull() const;

private:
    const TMyValue* FValue = nullptr;
};

// The rows of one statement, fully fetched, in the order the engine returned them. The cursor
// starts on the first row. Field names compare case-insensitively. Reading the fields when the
// cursor is past the last row gives NULL values; a name or position the statement did not select
// is a fault in the program and raises VyrError.
class TMyResultSet {
public:
    int RecordCount() const { return FColumnCount == 0 ? 0 : int(FValues.size() / FColumnCount); }
    void First() { FRow = 0; }
    void Next() {
        if (!Eof())
            ++FRow;
    }
    bool Eof() const { return FRow >= RecordCount(); }
    int FieldCount() const { return FColumnCount; }
    TMyField Fields(int index) const;
    TMyField FieldByName(const QString& name) const;
    const QStringList& FieldNames() const { return FNames; }

    // For connectors filling the set: the columns once, then the values row after row.
    void SetFieldNames(QStringList names);
    void AppendNull() { FValues.emplace_back(); }
    void AppendInteger(qint64 value) { FValues.push_back({TMyValue::Integer, value, 0, {}}); }
    void AppendReal(double value) { FValues.push_back({TMyValue::Real, 0, value, {}}); }
    void AppendText(QString value) { FValues.push_back({TMyValue::Text, 0, 0, std::move(value)}); }

private:
    int FieldIndex(const QString& name) const;

    QStringList FNames;
    int FColumnCount = 0;
    std::vector<TMyValue> FValues; // row after row
    int FRow = 0;
};

using TMyDBStateNotify = std::function<void()>;

// The program's one door to its database: statements go in as Access-dialect text with their
// values apart (see TMyStatement), errors never come out as exceptions but as a false or empty
// result and the engine's message in GetLastError.
class TChangeWatch;

class TMyDBConnector {
public:
    virtual ~TMyDBConnector();

    virtual QString GetDBTypeName() const;
    // Opens the database that ConnectionString names; true when it is open afterwards.
    virtual bool Connect() = 0;
    virtual void Disconnect() = 0;
    virtual bool IsConnected() const = 0;
    virtual bool ReConnect() = 0;
    // The message of the most recent error caught; never cleared.
    virtual QString GetLastError() const = 0;
    // The SQLSTATE of the most recent error when the engine gives one ("" otherwise); for the
    // kinds of failure that need an answer of their own, such as CommitOutcomeUnknown.
    virtual QString GetLastSqlState() const { return {}; }
    // Runs a statement that returns no rows; true only when exactly one row was affected.
    virtual bool ExecuteQuery(const TMyStatement& statement) = 0;
    // Runs a statement that returns no rows, as ExecuteQuery does, and tells how many rows it
    // affected, so that one statement can insert many rows; -1 with the reason in GetLastError
    // when it failed. The default learns the count from ExecuteQuery alone: 1, or 0 when no error
    // came of it.
    virtual qint64 ExecuteCounted(const TMyStatement& statement);
    // Runs a statement that must change exactly one row, inside a transaction that cannot go on
    // without it (a change's journal entry). An engine may send it together with the
    // transaction's next statement or its commit: its failure then comes out of that statement
    // or that commit, and the transaction keeps nothing. Outside a transaction, and by default,
    // the same as ExecuteQuery.
    virtual bool ExecuteWithTransaction(const TMyStatement& statement);
    // The rows of a statement, owned by the caller; none when the statement failed.
    virtual std::unique_ptr<TMyResultSet> Query(const TMyStatement& statement) = 0;
    // The most values one statement may carry; work that sends many rows at once stays below it.
    virtual int MaxBoundValues() const;
    // How long a statement waits for a server's answer before the connection counts as lost; 0 for
    // an engine without a server, whose statements never wait for one.
    virtual int AnswerLimit() const { return 0; }
    virtual void SetAnswerLimit(int milliseconds) { (void)milliseconds; }

    // A unit of work that either happens whole or not at all; see TTransaction, which is how the
    // program uses these. Inside another transaction (or bulk work) they nest. An engine without
    // transactions keeps the defaults, which refuse, so nothing relies on a rollback that cannot
    // happen.
    virtual bool StartTransaction();
    virtual bool CommitTransaction();
    virtual void RollbackTransaction();

    // A new connector to the same database, not yet connected, made on the thread that is to use
    // it (a worker's own connection). The default is a connector of this kind on this text.
    virtual std::unique_ptr<TMyDBConnector> NewConnection() const;

    // A watch that tells of changes other connections make to this database, made on the thread
    // that receives its news; it must not outlive the connector. The default watches nothing.
    virtual std::unique_ptr<TChangeWatch> WatchChanges();

    QString ConnectionString;

    // Whether a statement that finds the connection to a server lost connects again itself, on
    // the thread that runs it. The open profile's connector says no: its statements run on the
    // window thread, which never waits for a server; a TReconnect worker connects instead, and the
    // statements fail until it did.
    bool ReconnectOnUse = true;
    // Whether the connection to a server was lost and not made again yet.
    virtual bool ConnectionLost() const { return false; }
    // Takes over the connection that `fresh`, a connector of the same kind and text, made just
    // now (on any thread); this one's lost connection ends. False, and nothing changes, while a
    // transaction is open here, or when `fresh` has no connection to give.
    virtual bool TakeConnection(TMyDBConnector& fresh);

    TMyDBStateNotify& OnStateConnected() { return FStateConnectedEvent; }
    TMyDBStateNotify& OnStateDisconnected() { return FStateDisconnectedEvent; }
    // Told, on the thread of the statement that found out, when the connection to a server broke.
    TMyDBStateNotify& OnConnectionLost() { return FConnectionLostEvent; }

protected:
    void NotifyConnected() const;
    void NotifyDisconnected() const;
    void NotifyConnectionLost() const;

    // Bracket a run of many statements (see TBulkWork). An engine that gains nothing from it keeps
    // these no-ops. EndBulkWork is false when what was done is not kept, or not known to be
    // (CommitOutcomeUnknown), with the reason in the last error.
    virtual void BeginBulkWork() {}
    virtual bool EndBulkWork() { return true; }
    friend class TBulkWork;

private:
    TMyDBStateNotify FStateConnectedEvent;
    TMyDBStateNotify FStateDisconnectedEvent;
    TMyDBStateNotify FConnectionLostEvent;
};

// Keeps a connector in bulk mode for its lifetime: the legacy import and the grant to all
// cardholders send thousands of statements, and one transaction instead of one each makes that
// fast. What was done is committed when the scope ends for any reason, an early return or an
// exception included, so the outcome is the same as sending the statements one by one.
//
// Whoever tells the operator that the work is stored ends it with Commit first: the commit of
// thousands of rows can fail, or lose its answer, like any other.
class TBulkWork {
public:
    explicit TBulkWork(TMyDBConnector* connector);
    ~TBulkWork();
    TBulkWork(const TBulkWork&) = delete;
    TBulkWork& operator=(const TBulkWork&) = delete;

    // Commits what was done now. False when the engine did not keep it, or when its answer was
    // lost and the server may have kept it (CommitOutcomeUnknown): then nothing may be reported
    // as done or failed before the records were read again. Once only; later calls repeat the
    // answer. Inside other bulk work it only ends this part (true): the outermost one commits.
    bool Commit();

private:
    TMyDBConnector* FConnector;
    bool FEnded = false;
    bool FKept = true;
};

// One all-or-nothing change: what was done since the start is rolled back unless Commit succeeds,
// whatever way the scope is left. A connector that cannot start one leaves Started() false, and
// the caller changes nothing.
class TTransaction {
public:
    explicit TTransaction(TMyDBConnector& connector);
    ~TTransaction();
    TTransaction(const TTransaction&) = delete;
    TTransaction& operator=(const TTransaction&) = delete;

    bool Started() const { return FOpen; }
    // False when the engine would not keep the work; it is rolled back then, unless the outcome is
    // unknown (CommitOutcomeUnknown): the server may have kept it.
    bool Commit();

private:
    TMyDBConnector& FConnector;
    bool FOpen = false;
};

// A new connector of the kind `typeName` (as GetDBTypeName gives it) on `connectionString`, not
// yet connected; null for a kind the program does not know. Work on another thread makes its own
// connector this way, on that thread: a connection belongs to the thread that made it.
std::unique_ptr<TMyDBConnector> NewConnectorOfKind(const QString& typeName,
                                                   const QString& connectionString);

// The SQLSTATE of a commit whose outcome nobody knows: the connection broke after COMMIT went
// out and before its answer came, so the server may have kept the change or not.
inline constexpr char TransactionResolutionUnknown[] = "08007";

// What a statement on a connector that has no connection fails with.
inline QString NotConnectedText() {
    return QStringLiteral("The database is not connected");
}

// True when the most recent failure of `database` was such a commit: the caller must not report
// the change as failed, nor offer to repeat it, before the records were read again.
bool CommitOutcomeUnknown(const TMyDBConnector& database);

// The fixed password every profile database carries in its connection string.
inline constexpr char DatabasePassword[] = "kmr4816";

// The connection string for a profile database file, relative names included.
QString JetConnectionString(const QString& dbFileName);

// The value of `key` (case-insensitive) in a connection string, with quoted values unquoted; empty
// when the key is missing.
QString ConnectionStringValue(const QString& connectionString, const QString& key);

// The database file a connection string names, with `\` read as `/` (profile files written on
// Windows) and a relative name resolved against the working directory.
QString ConnectionStringFile(const QString& connectionString);
