#pragma once

#include "db/MyDBConnector.h"

#include <QSqlDatabase>

struct sqlite3;
struct sqlite3_stmt;

// The connector for the embedded engine: one SQLite file per profile. Qt SQL opens and owns the
// connection; the statements run through SQLite's own interface on that connection, since
// QSqlQuery's per-statement bookkeeping would double the cost of the many small queries the
// lists send (thousands per load).
//
// Statements arrive in the Access dialect and are translated (accessdialect.h) before SQLite sees
// them; their values are bound to the `?`s, never written into the text. The file is recognised by
// its content, whatever its name: profile databases keep their ".accdb" names, and a real Access
// file is refused with a message that says so.
//
// Durability comes first: the rollback journal with full sync, and a busy timeout so a second
// copy of the program on the same file waits instead of failing.
class TMySQLite : public TMyDBConnector {
public:
    TMySQLite();
    ~TMySQLite() override;
    TMySQLite(const TMySQLite&) = delete;
    TMySQLite& operator=(const TMySQLite&) = delete;

    QString GetDBTypeName() const override;
    bool Connect() override;
    void Disconnect() override;
    bool IsConnected() const override;
    bool ReConnect() override;
    QString GetLastError() const override;
    bool ExecuteQuery(const TMyStatement& statement) override;
    std::unique_ptr<TMyResultSet> Query(const TMyStatement& statement) override;
    // What this build of SQLite allows on this connection.
    int MaxBoundValues() const override;
    bool StartTransaction() override;
    bool CommitTransaction() override;
    void RollbackTransaction() override;

    qint64 ExecuteCounted(const TMyStatement& statement) override;

    // Polls the file's data version: it moves when another connection commits, never for this
    // one's own commits.
    std::unique_ptr<TChangeWatch> WatchChanges() override;
    // The file's data version as this connection sees it. Read without waiting: false while
    // another copy holds the file locked for its commit, or inside a transaction of ours.
    bool DataVersion(qint64& version);

    // The Qt SQL connection, created with the connector under a name of its own.
    QSqlDatabase SQLiteConnection;

protected:
    void BeginBulkWork() override;
    bool EndBulkWork() override;

private:
    // Finalizes its statement whatever way the caller leaves.
    struct TStatement {
        sqlite3_stmt* Handle = nullptr;
        TStatement() = default;
        TStatement(const TStatement&) = delete;
        TStatement& operator=(const TStatement&) = delete;
        ~TStatement();
    };

    bool Fail(const QString& message);
    bool FailWithEngineError();
    bool OpenFile(const QString& fileName);
    // Translates and prepares one program statement and binds its values, or fails with the
    // reason in LastError.
    bool Prepare(const TMyStatement& source, TStatement& statement);
    bool Bind(const QVariantList& values, sqlite3_stmt* statement);
    // Runs one of the connector's own SQLite statements to its end.
    bool Run(const char* sql);
    QStringList FieldNames(sqlite3_stmt* statement, int columns);

    QString LastError;
    QString FConnectionName;
    sqlite3* FHandle = nullptr;
    QList<QByteArray> FLastFieldNameBytes;
    QStringList FLastFieldNames;
    // One entry per open transaction: true for the outermost (a real BEGIN), false for one
    // nested inside another or inside bulk work (a savepoint).
    QList<bool> FTransactions;
    int FBulkDepth = 0;
    bool FBulkTransaction = false;
};
