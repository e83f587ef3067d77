#pragma once

#include "db/MyDBConnector.h"

#include <QSqlDatabase>

struct sqlite3;

// The connector for the embedded engine: one SQLite file per profile, reached through Qt SQL.
// Statements arrive in the Access dialect and are translated (accessdialect.h) before SQLite sees
// them. The file is recognised by its content, whatever its name: profile databases keep their
// ".accdb" names, and a real Access file is refused with a message that says so.
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
    bool ExecuteQuery(const QString& sql) override;
    bool Query(const QString& sql, TMyResultSet*& QObject) override;
    void DestroyQuery(TMyResultSet*& QObject) override;

    // The Qt SQL connection, created with the connector under a name of its own.
    QSqlDatabase SQLiteConnection;

protected:
    void BeginBulkWork() override;
    void EndBulkWork() override;

private:
    bool Fail(const QString& message);
    bool OpenFile(const QString& fileName);
    // The translated statement, or false with the reason in LastError.
    bool Translate(const QString& sql, QString& translated);

    QString LastError;
    QString FConnectionName;
    sqlite3* FHandle = nullptr;
    int FBulkDepth = 0;
    bool FBulkTransaction = false;
};
