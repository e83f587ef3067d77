#pragma once

#include "db/MyDBConnector.h"
#include "db/changehint.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

typedef struct pg_conn PGconn;
typedef struct pg_result PGresult;

// How long a connection waits for the server's answer to one statement (or one round trip of
// several), and whether it once waited in vain: a connection that did is not used again before it
// is made anew, for what it would read next could be the late answer to the statement given up.
struct TServerWait {
    int LimitMs = 20000;
    bool TimedOut = false;
};

// The connector for a site on a PostgreSQL server. It talks to the server through libpq itself
// rather than through Qt's driver: the SQLSTATE of every error reaches us (a lost server, a
// conflict worth one more try and a missing right each need their own answer), the connection is
// ours alone with no per-thread registry behind it, and the same handle can later LISTEN for other
// workstations' changes.
//
// ConnectionString is a libpq connection text: a URI or keywords (`service=site` for
// pg_service.conf). Passwords come from libpq's own places (~/.pgpass), never from us.
//
// Statements arrive in the Access dialect and are translated for PostgreSQL (accessdialect.h);
// their values are sent apart from the text. Connecting gives an older or hand-made site what the
// program adds of its own, and refuses an empty database (unless asked to make it a site) and one
// whose tables differ from what the program needs.
//
// When the server goes away, the statement that found out fails with a message saying so; a
// transaction that was open then is over, and every further statement in it fails until the
// caller rolls it back, so nothing is ever half-written. The next statement outside a
// transaction connects again. A statement outside a transaction that lost a serialization
// conflict or a deadlock is tried once more before it is reported.
class TMyPostgreSQL : public TMyDBConnector {
public:
    TMyPostgreSQL();
    ~TMyPostgreSQL() override;
    TMyPostgreSQL(const TMyPostgreSQL&) = delete;
    TMyPostgreSQL& operator=(const TMyPostgreSQL&) = delete;

    QString GetDBTypeName() const override;
    // Connects to the site in the database. An empty database is refused: it becomes a site only
    // through ConnectMakingSite or ConnectEmptyInTransaction, which the wizard and a move use.
    bool Connect() override;
    // Connects, making an empty database a site first (all tables in one transaction).
    bool ConnectMakingSite();
    // Connects to a database that must be empty and makes it a site inside a transaction left
    // open: whatever the caller adds (a moved site's rows) is committed with the schema, or
    // rolled back with it, through CommitTransaction or RollbackTransaction. A database that holds
    // anything is refused, untouched.
    bool ConnectEmptyInTransaction();
    void Disconnect() override;
    bool IsConnected() const override;
    bool ReConnect() override;
    bool TakeConnection(TMyDBConnector& fresh) override;
    bool ConnectionLost() const override;
    QString GetLastError() const override;
    bool ExecuteQuery(const TMyStatement& statement) override;
    std::unique_ptr<TMyResultSet> Query(const TMyStatement& statement) override;
    int MaxBoundValues() const override;
    bool StartTransaction() override;
    bool CommitTransaction() override;
    void RollbackTransaction() override;

    qint64 ExecuteCounted(const TMyStatement& statement) override;
    // Inside a transaction the statement waits, and goes to the server with the transaction's
    // next statement or its commit: it costs no round trip of its own, and needs no savepoint, for
    // its failure ends the transaction anyway.
    bool ExecuteWithTransaction(const TMyStatement& statement) override;

    // Listens on a connection of its own for the notices that every change to the site sends.
    std::unique_ptr<TChangeWatch> WatchChanges() override;
    // The server process this connection talks to, which the server names as the sender of the
    // connection's notices; 0 when not connected.
    int ServerProcessId() const;

    // Said to the operator after connecting, "" when there is nothing to say: the site's journal
    // lacks what makes the server vouch for its entries, and this role may not add it.
    QString JournalWarning() const { return FJournalWarning; }

    // The SQLSTATE of the most recent error ("" when it did not come from the server).
    QString GetLastSqlState() const override { return FLastSqlState; }
    // The server's version as it reports it ("15.4"); empty when not connected.
    QString ServerVersion() const;
    // The libpq connection, for what the connector does not wrap (LISTEN, COPY).
    PGconn* Handle() const { return FConnection; }
    // How long a statement waits for the server's answer before the connection counts as lost.
    // The server's own limits (statement_timeout, lock_timeout) come first and say why.
    void SetAnswerLimit(int milliseconds) override { FWait.LimitMs = milliseconds; }
    int AnswerLimit() const override { return FWait.LimitMs; }

protected:
    void BeginBulkWork() override;
    bool EndBulkWork() override;

private:
    // A statement as the server takes it: translated, with its values as text.
    struct TBound {
        QByteArray Sql;
        QList<QByteArray> Values;
        QList<bool> Nulls;
    };

    bool ConnectTo(bool makeSite);
    bool Fail(const QString& message, const QString& sqlState = {});
    bool FailWith(PGresult* result, const char* sql);
    // Connects (again) when the connection is gone and no transaction depends on the old one.
    bool Usable();
    bool SetUpSession();
    // Gives an older site's journal what the server vouches for in its entries, when this role
    // owns it; otherwise leaves the journal as it is and notes the warning. False only when the
    // owner's attempt failed.
    bool AddJournalFacts(const QHash<QString, QSet<QString>>& tables);
    QString JournalOwner();
    // Sends one translated statement with its values; the result, or null with LastError set.
    PGresult* Send(const TMyStatement& statement);
    // Translates the statement and writes its values as the server reads them; false with
    // LastError set when that cannot be done.
    bool Bind(const TMyStatement& statement, TBound& bound);
    PGresult* SendText(const TBound& statement);
    bool Run(const char* sql);
    // Runs `sql` after the statements that wait for the transaction's next one, in one round trip.
    bool RunAfterWaiting(const char* sql);
    // The waiting statements, the notice of the changed tables and COMMIT, in one round trip.
    bool CommitWithNotice();
    bool LostConnection();
    // The connection broke after COMMIT went out, before its answer came.
    bool CommitOutcomeLost();
    QString LostDetail() const;
    // Remembers the table a statement that changed rows wrote to, for the notice of its
    // transaction; outside a transaction the notice goes at once.
    bool NoteChange(const TMyStatement& statement);
    // Sends the notice of the tables changed so far; part of the open transaction, if any.
    bool Announce();

    QString LastError;
    QString FLastSqlState;
    PGconn* FConnection = nullptr;
    // One entry per open transaction: true for the outermost (BEGIN), false for a savepoint.
    QList<bool> FTransactions;
    // The server went away while a transaction was open: everything fails until it is rolled back.
    bool FTransactionLost = false;
    // The server went away; the next statement outside a transaction connects again.
    bool FConnectionLost = false;
    int FBulkDepth = 0;
    bool FBulkTransaction = false;
    // The tables (and cards) the open transaction (or bulk work) changed; told to the other
    // workstations in that transaction, just before it commits, so that a rollback tells no one.
    TNoticeDraft FChangedTables;
    // Statements of the innermost open transaction that wait for its next statement or its commit
    // (ExecuteWithTransaction).
    QList<TBound> FWaiting;
    // The channel of the site's notices, learnt with the first one.
    QByteArray FChannel;
    QString FJournalWarning;

    TServerWait FWait;
};

// How a database on a server looks before it becomes a profile's database.
enum class TServerDatabaseKind { Empty, Site, Other };

struct TServerDatabaseInfo {
    bool Ok = false; // connected and looked; otherwise Error says why
    QString Error;
    QString Version; // the server's version
    TServerDatabaseKind Kind = TServerDatabaseKind::Empty;
    QStringList Tables; // the tables found in the database's schema (lower case)
    // A site's tables (or some of them) that differ from what the program uses, each difference
    // as an opening names it (databasecheck.h); such a site cannot be used as it is.
    QStringList Differences;
};

// What the operator reads when a profile names an empty database on a server.
QString EmptyServerDatabaseText();

// Connects, looks and disconnects, changing nothing.
TServerDatabaseInfo InspectServerDatabase(const QString& connection);
