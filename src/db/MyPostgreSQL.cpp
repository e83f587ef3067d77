#include "db/MyPostgreSQL.h"

#include "db/accessdialect.h"
#include "db/changewatch.h"
#include "db/databasecheck.h"
#include "db/serverschema.h"
#include "db/sitetables.h"
#include "shared/translation.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <libpq-fe.h>

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <utility>
#include <vector>

namespace {

// SQLSTATEs with an answer of their own.
const char* const SerializationFailure = "40001";
const char* const DeadlockDetected = "40P01";
const char* const InsufficientPrivilege = "42501";

struct TResultDeleter {
    void operator()(PGresult* result) const { PQclear(result); }
};
using TResult = std::unique_ptr<PGresult, TResultDeleter>;

bool Succeeded(const PGresult* result) {
    const ExecStatusType status = PQresultStatus(result);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

using TClock = std::chrono::steady_clock;

// Waits until libpq holds the next result, at most until `deadline`: a server that stopped
// answering (a hung host behind a live network, which no keepalive notices) holds nobody for
// longer. False when the time ran out; `wait` then says so, and the connection is not used again
// before it is made anew.
bool AwaitResult(PGconn* connection, TServerWait& wait, TClock::time_point deadline) {
    while (PQisBusy(connection)) {
        const qint64 left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
        if (left <= 0) {
            wait.TimedOut = true;
            return false;
        }
        pollfd socket{PQsocket(connection), POLLIN, 0};
        if (socket.fd < 0)
            return true; // broken: PQgetResult says so
        const int ready = poll(&socket, 1, int(std::min<qint64>(left, 60000)));
        if (ready < 0 && errno != EINTR)
            return true;
        if (ready > 0 && !PQconsumeInput(connection))
            return true;
    }
    return true;
}

TClock::time_point Deadline(const TServerWait& wait) {
    return TClock::now() + std::chrono::milliseconds(wait.LimitMs);
}

// PQexec, or with `values` PQexecParams, within the wait's limit: the last result, or the first
// error; null when nothing came (the connection broke or the time ran out).
PGresult* Exec(PGconn* connection, TServerWait& wait, const char* sql, int count = -1,
               const char* const* values = nullptr) {
    if (wait.TimedOut)
        return nullptr;
    const int sent =
        count < 0 ? PQsendQuery(connection, sql)
                  : PQsendQueryParams(connection, sql, count, nullptr, values, nullptr, nullptr, 0);
    if (!sent)
        return nullptr;
    const TClock::time_point deadline = Deadline(wait);
    PGresult* kept = nullptr;
    for (;;) {
        if (!AwaitResult(connection, wait, deadline)) {
            PQclear(kept);
            return nullptr;
        }
        PGresult* result = PQgetResult(connection);
        if (!result)
            return kept;
        if (kept && PQresultStatus(kept) == PGRES_FATAL_ERROR) {
            PQclear(result);
            continue;
        }
        PQclear(kept);
        kept = result;
    }
}

// One statement of a pipeline: its text, and its values (a null pointer for NULL).
struct TPipelined {
    const char* Sql;
    int Count = 0;
    const char* const* Values = nullptr;
};

// Sends the statements together and reads their results in order: one round trip to the server
// for all of them. The server skips whatever follows a statement that failed (its result says
// PGRES_PIPELINE_ABORTED); a result is null when the connection broke before it came.
std::vector<TResult> RunPipeline(PGconn* connection, TServerWait& wait,
                                 const std::vector<TPipelined>& statements) {
    std::vector<TResult> results(statements.size());
    if (wait.TimedOut || !PQenterPipelineMode(connection))
        return results;
    size_t sent = 0;
    for (const TPipelined& statement : statements) {
        // Types are left to the server: each value is read as its place in the statement needs.
        if (!PQsendQueryParams(connection, statement.Sql, statement.Count, nullptr,
                               statement.Values, nullptr, nullptr, 0))
            break;
        ++sent;
    }
    // The sync sends the lot, and ends what the server skips after a failure.
    bool synced = false;
    const bool flushed = PQpipelineSync(connection) == 1;
    const TClock::time_point deadline = Deadline(wait);
    const auto next = [&]() -> PGresult* {
        return AwaitResult(connection, wait, deadline) ? PQgetResult(connection) : nullptr;
    };
    for (size_t i = 0; flushed && i < sent && !synced && !wait.TimedOut; ++i) {
        PGresult* result = next();
        if (!result)
            break;
        if (PQresultStatus(result) == PGRES_PIPELINE_SYNC) {
            PQclear(result);
            synced = true;
            break;
        }
        results[i].reset(result);
        // A statement's results end with a null; a broken connection may keep answering with
        // errors of its own instead.
        while (!synced && PQstatus(connection) == CONNECTION_OK) {
            PGresult* more = next();
            if (!more)
                break;
            synced = PQresultStatus(more) == PGRES_PIPELINE_SYNC;
            PQclear(more);
        }
    }
    for (int left = 4;
         flushed && !synced && !wait.TimedOut && left > 0 && PQstatus(connection) == CONNECTION_OK;
         --left) {
        PGresult* result = next();
        synced = PQresultStatus(result) == PGRES_PIPELINE_SYNC;
        PQclear(result);
    }
    // Fails only with a broken connection, which is set up anew (pipeline mode off) when it is
    // reset.
    PQexitPipelineMode(connection);
    return results;
}

// The values of a bound statement as libpq takes them: a null pointer for NULL.
template <typename TBoundStatement>
std::vector<const char*> ValuePointers(const TBoundStatement& statement) {
    std::vector<const char*> pointers(size_t(statement.Values.size()));
    for (qsizetype i = 0; i < statement.Values.size(); ++i)
        pointers[size_t(i)] = statement.Nulls[i] ? nullptr : statement.Values[i].constData();
    return pointers;
}

// The steps of a pipeline for statements that waited; `values` keeps their value pointers.
template <typename TBoundStatement>
std::vector<TPipelined> WaitingSteps(const QList<TBoundStatement>& waiting,
                                     std::vector<std::vector<const char*>>& values) {
    std::vector<TPipelined> steps;
    values.reserve(size_t(waiting.size()));
    for (const TBoundStatement& statement : waiting) {
        values.push_back(ValuePointers(statement));
        steps.push_back(
            {statement.Sql.constData(), int(statement.Values.size()), values.back().data()});
    }
    return steps;
}

QString ServerText(const char* text) {
    return QString::fromUtf8(text).trimmed();
}

// The first word of a statement past its comments, in capitals.
QString StatementVerb(const QString& sql) {
    for (const QString& line : sql.split(u'\n')) {
        const QString text = line.trimmed();
        if (!text.isEmpty() && !text.startsWith(QStringLiteral("--")))
            return text.section(u' ', 0, 0).toUpper();
    }
    return {};
}

// Whether a site that has a journal lacks what makes the server vouch for its entries.
bool JournalLacksFacts(PGconn* connection, TServerWait& wait,
                       const QHash<QString, QSet<QString>>& tables) {
    const auto journal = tables.find(QStringLiteral("journal"));
    if (journal == tables.end())
        return false;
    if (!journal->contains(QStringLiteral("databaserole")))
        return true;
    const TResult result(Exec(connection, wait,
                              "SELECT COUNT(*) FROM pg_trigger t JOIN pg_class c ON c.oid = "
                              "t.tgrelid JOIN pg_namespace n ON n.oid = c.relnamespace WHERE "
                              "n.nspname = current_schema() AND c.relname = 'journal' AND "
                              "t.tgname = 'vyr_journal_facts' AND t.tgenabled <> 'D'"));
    return PQresultStatus(result.get()) != PGRES_TUPLES_OK ||
           qstrcmp(PQgetvalue(result.get(), 0, 0), "1") != 0;
}

// The channel the workstations of a site listen on. Notices stay within their database, but a
// database can hold several sites, one per schema: the channel carries the schema's name. Empty
// when the connection cannot say.
QByteArray SiteChannel(PGconn* connection, TServerWait& wait) {
    const TResult result(Exec(connection, wait, "SELECT current_schema()"));
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK || PQntuples(result.get()) != 1)
        return {};
    return SiteChannelName(QString::fromUtf8(PQgetvalue(result.get(), 0, 0)));
}

// The table a statement that changes rows writes to, in lower case; empty for any other.
QString ChangedTable(const QString& sql) {
    // Runs for every statement that changed rows: plain word comparisons, no pattern to compile.
    const QStringList words = QString(sql).replace(u'(', u' ').simplified().split(u' ');
    const QString& verb = words.value(0);
    qsizetype at = -1;
    if (verb.compare(QLatin1String("UPDATE"), Qt::CaseInsensitive) == 0) {
        at = 1;
    } else if (verb.compare(QLatin1String("INSERT"), Qt::CaseInsensitive) == 0 ||
               verb.compare(QLatin1String("DELETE"), Qt::CaseInsensitive) == 0) {
        for (qsizetype i = 1; i < words.size() && at < 0; ++i)
            if (words[i].compare(QLatin1String("INTO"), Qt::CaseInsensitive) == 0 ||
                words[i].compare(QLatin1String("FROM"), Qt::CaseInsensitive) == 0)
                at = i + 1;
    }
    return at > 0 ? words.value(at).remove(u'"').toLower() : QString();
}

QString TimedOutText(const TServerWait& wait) {
    return FormatText(_("The database server did not answer within %s seconds."),
                      {QString::number(wait.LimitMs / 1000)});
}

// The server's own words, and for a missing right what the program needs to go on: the right is
// named by the statement's first word (SELECT, INSERT, UPDATE, DELETE; CREATE for the schema).
QString ErrorMessage(const PGresult* result, PGconn* connection, const char* sql) {
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const char* primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    QString message = primary  ? ServerText(primary)
                      : result ? ServerText(PQresultErrorMessage(result))
                               : ServerText(PQerrorMessage(connection));
    if (state && qstrcmp(state, InsufficientPrivilege) == 0)
        return FormatText(
            _("The database role %s lacks the right %s (%s). Ask the site "
              "database's owner to grant it SELECT, INSERT, UPDATE and DELETE on the "
              "site's tables."),
            {ServerText(PQuser(connection)), StatementVerb(QString::fromUtf8(sql)), message});
    if (message.isEmpty())
        message = ServerText(PQerrorMessage(connection));
    return message;
}

// The tables in the connection's schema, each with its columns (all lower case).
bool ReadTables(PGconn* connection, TServerWait& wait, QHash<QString, QSet<QString>>& tables,
                QString& error) {
    const TResult result(
        Exec(connection, wait,
             "SELECT c.relname, a.attname FROM pg_class c JOIN pg_namespace n ON "
             "n.oid = c.relnamespace LEFT JOIN pg_attribute a ON a.attrelid = c.oid "
             "AND a.attnum > 0 AND NOT a.attisdropped WHERE n.nspname = "
             "current_schema() AND c.relkind IN ('r', 'p', 'v', 'm', 'f')"));
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) {
        error =
            wait.TimedOut ? TimedOutText(wait) : ErrorMessage(result.get(), connection, "SELECT");
        return false;
    }
    for (int row = 0; row < PQntuples(result.get()); ++row) {
        QSet<QString>& columns = tables[QString::fromUtf8(PQgetvalue(result.get(), row, 0))];
        if (!PQgetisnull(result.get(), row, 1))
            columns.insert(QString::fromUtf8(PQgetvalue(result.get(), row, 1)).toLower());
    }
    return true;
}

// What the tables make of the database; `missing` names what a would-be site lacks.
TServerDatabaseKind KindOf(const QHash<QString, QSet<QString>>& tables, QStringList& missing) {
    if (tables.isEmpty())
        return TServerDatabaseKind::Empty;
    for (const TSiteTable& table : SiteTables) {
        if (table.AddedLater)
            continue;
        // The server keeps unquoted names in lower case.
        const QString name = QString::fromLatin1(table.Name).toLower();
        const auto found = tables.find(name);
        if (found == tables.end()) {
            missing << name;
            continue;
        }
        for (const TSiteColumn& column : table.Columns)
            if (!column.AddedLater && !found->contains(QString::fromLatin1(column.Name).toLower()))
                missing << name + "." + QString::fromLatin1(column.Name).toLower();
    }
    return missing.isEmpty() ? TServerDatabaseKind::Site : TServerDatabaseKind::Other;
}

// The server went away: the connection broke, or the server said it is shutting down or in
// recovery. An error libpq made up itself carries no SQLSTATE; those all concern the connection.
bool ConnectionGone(PGconn* connection, const char* state) {
    if (PQstatus(connection) != CONNECTION_OK || !state)
        return true;
    return qstrncmp(state, "08", 2) == 0 || qstrcmp(state, "57P01") == 0 ||
           qstrcmp(state, "57P02") == 0 || qstrcmp(state, "57P03") == 0;
}

QString VersionText(PGconn* connection) {
    const char* version = PQparameterStatus(connection, "server_version");
    // "15.4 (Debian 15.4-1)": the number is what the operator needs.
    return version ? QString::fromUtf8(version).section(u' ', 0, 0) : QString();
}

// What libpq is told besides the profile's text, unless that text says it itself: no server call
// waits without a limit. Connecting gives up after 10 s; a connection whose packets go
// unanswered (a host gone, a cable pulled) is given up by the system after 30 s, and an idle one
// is probed every 10 s, so that the notice listener learns of a lost server too.
const char* const LimitKeywords[] = {"connect_timeout",     "keepalives",       "keepalives_idle",
                                     "keepalives_interval", "keepalives_count", "tcp_user_timeout"};
const char* const LimitValues[] = {"10", "1", "10", "5", "3", "30000"};

PGconn* Open(const QString& connection) {
    const QByteArray text = connection.toUtf8();
    // The profile's text first, so that what follows is ours whatever it says.
    std::vector<const char*> keywords{"dbname", "fallback_application_name", "client_encoding"};
    std::vector<const char*> values{text.constData(), "vyrstandalone", "UTF8"};
    QSet<QByteArray> given;
    if (PQconninfoOption* options = PQconninfoParse(text.constData(), nullptr)) {
        for (const PQconninfoOption* option = options; option->keyword; ++option)
            if (option->val && *option->val)
                given.insert(option->keyword);
        PQconninfoFree(options);
    }
    for (size_t i = 0; i < std::size(LimitKeywords); ++i)
        if (!given.contains(LimitKeywords[i])) {
            keywords.push_back(LimitKeywords[i]);
            values.push_back(LimitValues[i]);
        }
    keywords.push_back(nullptr);
    values.push_back(nullptr);
    PGconn* handle = PQconnectdbParams(keywords.data(), values.data(), 1);
    // The server's notices (a shutdown's warning among them) would go to stderr; the errors
    // that matter reach LastError anyway.
    PQsetNoticeProcessor(
        handle, [](void*, const char*) {}, nullptr);
    return handle;
}

// One notice as the server delivered it: who sent it and what it says, the cards read from the
// journal when it points there.
struct TNotice {
    int Sender = 0;
    TChangeNotice Told;
};

// The notice of a transaction's changes. When the journal entries written with them name every
// card they touched, the server adds where those entries are (its journal's trigger noted them).
const char* const NoticeSql = "SELECT pg_notify($1, $2)";
const char* const NoticeWithEntriesSql =
    "SELECT pg_notify($1, $2 || COALESCE(',@' || NULLIF(current_setting('vyr.journal_first', "
    "true), '') || '-' || current_setting('vyr.journal_last', true), ''))";

// The cards of the journal entries a notice points to, read with the listener's own rights: a role
// that may not read the journal learns nothing, and its lists read everything again.
void ReadNoticedCards(PGconn* connection, TServerWait& wait, TChangeNotice& notice) {
    if (!notice.CardsInJournal())
        return;
    const QByteArray from = QByteArray::number(notice.JournalFrom);
    const QByteArray to = QByteArray::number(notice.JournalTo);
    const char* values[] = {from.constData(), to.constData()};
    const TResult result(Exec(connection, wait,
                              "SELECT CardNumber, OldCardNumber FROM Journal WHERE "
                              "JournalID BETWEEN $1 AND $2",
                              2, values));
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK)
        return;
    QStringList numbers;
    for (int row = 0; row < PQntuples(result.get()); ++row)
        for (int column = 0; column < 2; ++column)
            numbers << QString::fromUtf8(PQgetvalue(result.get(), row, column));
    notice.Cards = CardsOfJournalEntries(numbers);
}

// Listens for the site's notices on a connection of its own, on a thread of its own: the
// connection waits on its socket there, so nothing of it can hold the window up. Until it listens,
// and while its connection is broken (it is opened again a second later), notices pass unheard; so
// the first news once it listens says that anything may have changed.
class TNoticeListener : public QObject {
public:
    // Notices, or with `listening` the news that the listener (again) hears everything from now.
    using TDeliver = std::function<void(const QList<TNotice>& notices, bool listening)>;

    TNoticeListener(QString connection, TDeliver deliver)
        : FConnectionText(std::move(connection)), FDeliver(std::move(deliver)),
          FRetry(new QTimer(this)) {
        FRetry->setSingleShot(true);
        FRetry->setInterval(1000);
        connect(FRetry, &QTimer::timeout, this, [this] { Listen(); });
    }
    ~TNoticeListener() override { Close(); }

    void Listen() {
        // Shorter than a statement's limit: nobody waits for the listener, but a profile closed
        // meanwhile waits for its thread to end before the program can.
        FWait.LimitMs = 15000;
        FWait.TimedOut = false;
        FConnection = Open(FConnectionText);
        const QByteArray channel =
            PQstatus(FConnection) == CONNECTION_OK ? SiteChannel(FConnection, FWait) : QByteArray();
        char* name = channel.isEmpty()
                         ? nullptr
                         : PQescapeIdentifier(FConnection, channel.constData(), channel.size());
        const TResult listening(
            name ? Exec(FConnection, FWait, QByteArray("LISTEN ").append(name).constData())
                 : nullptr);
        PQfreemem(name);
        if (PQresultStatus(listening.get()) != PGRES_COMMAND_OK) {
            Lost();
            return;
        }
        FNotifier = new QSocketNotifier(PQsocket(FConnection), QSocketNotifier::Read, this);
        connect(FNotifier, &QSocketNotifier::activated, this, [this] { Read(); });
        FDeliver({}, true);
        Read(); // what came with the answer to LISTEN
    }

private:
    void Read() {
        if (!PQconsumeInput(FConnection) || PQstatus(FConnection) != CONNECTION_OK) {
            Lost();
            return;
        }
        QList<TNotice> notices;
        // Notices that arrive while the journal is read are taken in by that read, and the
        // socket has nothing left to wake us for them: they are collected before the read ends.
        for (qsizetype read = 0;;) {
            while (PGnotify* notice = PQnotifies(FConnection)) {
                notices.append(
                    {notice->be_pid, ReadChangeNotice(QString::fromUtf8(notice->extra))});
                PQfreemem(notice);
            }
            if (read == notices.size())
                break;
            for (; read < notices.size(); ++read)
                ReadNoticedCards(FConnection, FWait, notices[read].Told);
        }
        if (!notices.isEmpty())
            FDeliver(notices, false);
    }

    void Lost() {
        Close();
        FRetry->start();
    }

    void Close() {
        delete FNotifier;
        FNotifier = nullptr;
        if (FConnection)
            PQfinish(FConnection);
        FConnection = nullptr;
    }

    const QString FConnectionText;
    const TDeliver FDeliver;
    QTimer* FRetry;
    PGconn* FConnection = nullptr;
    QSocketNotifier* FNotifier = nullptr;
    TServerWait FWait;
};

// Passes the listener's news on to the window's thread, less what the program's own connection
// sent: the window that saved has shown its change already.
class TPostgreSQLChangeWatch : public TChangeWatch {
public:
    explicit TPostgreSQLChangeWatch(const TMyPostgreSQL& own)
        : FOwn(own), FMailbox(std::make_shared<TMailbox>()), FThread(new QThread) {
        // Long enough to gather what one save of another workstation sends in separate
        // transactions, short beside the time a list takes to show it.
        SetSettleTime(50);
        FMailbox->Watch = this;
        auto* listener = new TNoticeListener(
            own.ConnectionString,
            [mailbox = FMailbox](const QList<TNotice>& notices, bool listening) {
                // Called on the listener's thread; the watch takes the news on its own, if it is
                // still there.
                const std::lock_guard lock(mailbox->Lock);
                QPointer<TPostgreSQLChangeWatch> watch(mailbox->Watch);
                if (watch)
                    QMetaObject::invokeMethod(
                        watch.data(),
                        [watch, notices, listening] {
                            if (watch)
                                watch->Receive(notices, listening);
                        },
                        Qt::QueuedConnection);
            });
        listener->moveToThread(FThread);
        connect(FThread, &QThread::started, listener, [listener] { listener->Listen(); });
        // The listener's connection and socket belong to its thread: they end there too.
        connect(
            FThread, &QThread::finished, listener, [listener] { delete listener; },
            Qt::DirectConnection);
        // The thread ends on its own once the listener is done, whoever still waits for it.
        connect(FThread, &QThread::finished, FThread, &QObject::deleteLater);
        FThread->start();
    }

    ~TPostgreSQLChangeWatch() override {
        {
            const std::lock_guard lock(FMailbox->Lock);
            FMailbox->Watch = nullptr;
        }
        // Mostly the listener waits on its socket and ends at once. One that waits for a server
        // that does not answer (within libpq's limits) is not waited for: closing the profile
        // goes on, and the thread ends, and goes, when the wait does.
        FThread->quit();
        if (FThread->wait(QDeadlineTimer(50)))
            delete FThread;
    }

    bool Listening() const override { return FListening; }

private:
    void Receive(const QList<TNotice>& notices, bool listening) {
        // What was sent before the listener listened went unheard: anything may have changed.
        if (listening)
            FListening = true;
        const int own = FOwn.ServerProcessId();
        QStringList tables;
        bool news = listening;
        // A notice without tables may stand for anything too.
        bool anyTable = listening;
        TChangedCards cards = listening ? TChangedCards() : TChangedCards::None();
        for (const TNotice& notice : notices) {
            if (notice.Sender == own)
                continue;
            news = true;
            const TChangeNotice& told = notice.Told;
            anyTable = anyTable || told.Tables.isEmpty();
            tables << told.Tables;
            cards.Add(told.Cards);
        }
        if (news)
            Noticed(anyTable ? QStringList() : tables, cards);
    }

    // Where the listener's thread finds the watch, while there is one.
    struct TMailbox {
        std::mutex Lock;
        TPostgreSQLChangeWatch* Watch = nullptr;
    };

    const TMyPostgreSQL& FOwn;
    std::shared_ptr<TMailbox> FMailbox;
    QThread* FThread;
    bool FListening = false;
};

} // namespace

TMyPostgreSQL::TMyPostgreSQL() = default;

TMyPostgreSQL::~TMyPostgreSQL() {
    Disconnect();
}

QString TMyPostgreSQL::GetDBTypeName() const {
    return QStringLiteral("postgresql");
}

bool TMyPostgreSQL::Connect() {
    return ConnectTo(false);
}

bool TMyPostgreSQL::ConnectMakingSite() {
    return ConnectTo(true);
}

bool TMyPostgreSQL::ConnectTo(bool makeSite) {
    if (FConnection)
        return Fail(QStringLiteral("The database is already connected"));
    FWait.TimedOut = false;
    if (ConnectionString.trimmed().isEmpty())
        return Fail(QStringLiteral("The profile names no database server"));
    FConnection = Open(ConnectionString);
    if (PQstatus(FConnection) != CONNECTION_OK) {
        Fail(ServerText(PQerrorMessage(FConnection)));
        PQfinish(FConnection);
        FConnection = nullptr;
        return false;
    }
    auto refuse = [this](const QString& why) {
        const QString reason = why;
        PQfinish(FConnection);
        FConnection = nullptr;
        return Fail(reason, FLastSqlState);
    };
    if (!SetUpSession())
        return refuse(LastError);

    QHash<QString, QSet<QString>> tables;
    QString error;
    if (!ReadTables(FConnection, FWait, tables, error))
        return refuse(error);
    QStringList missing;
    switch (KindOf(tables, missing)) {
    case TServerDatabaseKind::Empty:
        // A profile that names an empty database lost its site, or never had one (a wizard or a
        // move cut short): a new empty site in its place would look like a site whose records
        // were all deleted.
        if (!makeSite)
            return refuse(EmptyServerDatabaseText());
        // A new site: everything at once or nothing, so a failure leaves the database empty.
        if (!Run("BEGIN"))
            return refuse(LastError);
        if (!Run(ServerSiteSchema) || !Run("COMMIT")) {
            const QString reason = LastError;
            Run("ROLLBACK");
            return refuse(reason);
        }
        break;
    case TServerDatabaseKind::Site:
        // A site made before the marks were stored or stamped, or by hand from the README.
        if (!tables.contains(QStringLiteral("pendingchanges")) &&
            !Run("CREATE TABLE IF NOT EXISTS PendingChanges (ConID integer PRIMARY KEY, Stamp "
                 "bigint NOT NULL DEFAULT 0)"))
            return refuse(LastError);
        if (tables.contains(QStringLiteral("pendingchanges")) &&
            !tables.value(QStringLiteral("pendingchanges")).contains(QStringLiteral("stamp")) &&
            !Run("ALTER TABLE PendingChanges ADD COLUMN IF NOT EXISTS Stamp bigint NOT NULL "
                 "DEFAULT 0"))
            return refuse(LastError);
        if (!AddJournalFacts(tables))
            return refuse(LastError);
        break;
    case TServerDatabaseKind::Other:
        // A site whose tables differ from the program's gets each difference named; tables of
        // something else are said to be so.
        for (const TSiteTable& table : SiteTables) {
            if (table.AddedLater || !tables.contains(QString::fromLatin1(table.Name).toLower()))
                continue;
            const TSiteTablesCheck check = CheckSiteTables(*this);
            if (check.Error.isEmpty() && !check.Differences.isEmpty())
                return refuse(SiteTablesRefusal(check.Differences));
            break;
        }
        return refuse(FormatText(_("The database holds tables of something else than a site of "
                                   "this program (it lacks %s). Choose an empty database or a "
                                   "site database."),
                                 {missing.join(", ")}));
    }
    NotifyConnected();
    return true;
}

bool TMyPostgreSQL::AddJournalFacts(const QHash<QString, QSet<QString>>& tables) {
    FJournalWarning.clear();
    if (!JournalLacksFacts(FConnection, FWait, tables))
        return true;
    // All of it or nothing, so that a half-guarded journal is never left behind.
    if (!Run("BEGIN"))
        return false;
    if (Run(ServerJournalFacts) && Run("COMMIT"))
        return true;
    const QString reason = LastError;
    const QString state = FLastSqlState;
    Run("ROLLBACK");
    if (state != QLatin1String(InsufficientPrivilege))
        return Fail(reason, state);
    // Only the journal's owner may add it: the site works as before until the owner opens it.
    FJournalWarning =
        FormatText(_("The change history of this site does not yet have the server record who "
                     "made each change and when: until it does, a workstation could write "
                     "entries in another's name or with another time. It is added when the site "
                     "database's owner role (%s) opens the site once with this program, or by "
                     "the SQL in the README."),
                   {JournalOwner()});
    return true;
}

QString TMyPostgreSQL::JournalOwner() {
    const TResult result(Exec(FConnection, FWait,
                              "SELECT pg_get_userbyid(relowner) FROM pg_class "
                              "WHERE oid = to_regclass('journal')"));
    return PQresultStatus(result.get()) == PGRES_TUPLES_OK && PQntuples(result.get()) == 1
               ? QString::fromUtf8(PQgetvalue(result.get(), 0, 0))
               : QString();
}

bool TMyPostgreSQL::ConnectEmptyInTransaction() {
    if (FConnection)
        return Fail(QStringLiteral("The database is already connected"));
    FWait.TimedOut = false;
    if (ConnectionString.trimmed().isEmpty())
        return Fail(QStringLiteral("The profile names no database server"));
    FConnection = Open(ConnectionString);
    const auto refuse = [this](const QString& why) {
        const QString reason = why;
        const QString state = FLastSqlState;
        if (FConnection && PQtransactionStatus(FConnection) != PQTRANS_IDLE)
            Run("ROLLBACK");
        PQfinish(FConnection);
        FConnection = nullptr;
        return Fail(reason, state);
    };
    if (PQstatus(FConnection) != CONNECTION_OK)
        return refuse(ServerText(PQerrorMessage(FConnection)));
    if (!SetUpSession() || !Run("BEGIN"))
        return refuse(LastError);
    // Looked at inside the transaction, so that what is found is what the schema goes into.
    QHash<QString, QSet<QString>> tables;
    QString error;
    if (!ReadTables(FConnection, FWait, tables, error))
        return refuse(error);
    if (!tables.isEmpty())
        return refuse(FormatText(_("The database on the server is not empty (it holds %s). A "
                                   "site is moved only into an empty database."),
                                 {QStringList(tables.keys()).join(", ")}));
    if (!Run(ServerSiteSchema))
        return refuse(LastError);
    FTransactions.append(true);
    NotifyConnected();
    return true;
}

bool TMyPostgreSQL::SetUpSession() {
    // The forms every statement and every value are written in, whatever the server's defaults.
    // No statement of the program's runs for long: one that waits 15 s waits for a lock
    // that another workstation holds and does not let go of, and says so rather than hold the
    // operator. A limit the site's administrator set (for the role, the database, the
    // connection text) stays.
    return Run("SET DateStyle = ISO; SET standard_conforming_strings = on; "
               "SET client_min_messages = warning; "
               "SELECT set_config('statement_timeout', '15s', false) "
               "WHERE current_setting('statement_timeout') = '0'");
}

void TMyPostgreSQL::Disconnect() {
    if (FConnection) {
        // The outcome of bulk work is what was done; commit it rather than lose it with the
        // connection.
        if (FBulkTransaction && !FTransactionLost &&
            PQtransactionStatus(FConnection) == PQTRANS_INTRANS && Announce())
            Run("COMMIT");
        PQfinish(FConnection);
        FConnection = nullptr;
    }
    FTransactions.clear();
    FTransactionLost = false;
    FConnectionLost = false;
    FBulkDepth = 0;
    FBulkTransaction = false;
    FChangedTables.clear();
    FWaiting.clear();
    FChannel.clear();
    FWait.TimedOut = false;
    NotifyDisconnected();
}

bool TMyPostgreSQL::TakeConnection(TMyDBConnector& fresh) {
    auto* other = dynamic_cast<TMyPostgreSQL*>(&fresh);
    if (!other || !other->FConnection || other->ConnectionString != ConnectionString ||
        !FTransactions.isEmpty() || FBulkDepth > 0 || !other->FTransactions.isEmpty())
        return false;
    if (FConnection)
        PQfinish(FConnection);
    FConnection = std::exchange(other->FConnection, nullptr);
    FConnectionLost = false;
    FTransactionLost = false;
    FWait.TimedOut = false;
    FChannel.clear();
    other->Disconnect();
    NotifyConnected();
    return true;
}

bool TMyPostgreSQL::ConnectionLost() const {
    return FConnection && (FConnectionLost || PQstatus(FConnection) != CONNECTION_OK);
}

bool TMyPostgreSQL::IsConnected() const {
    return FConnection != nullptr;
}

bool TMyPostgreSQL::ReConnect() {
    Disconnect();
    return Connect();
}

QString TMyPostgreSQL::GetLastError() const {
    return LastError;
}

QString TMyPostgreSQL::ServerVersion() const {
    return FConnection ? VersionText(FConnection) : QString();
}

bool TMyPostgreSQL::ExecuteQuery(const TMyStatement& statement) {
    return ExecuteCounted(statement) == 1;
}

qint64 TMyPostgreSQL::ExecuteCounted(const TMyStatement& statement) {
    const TResult result(Send(statement));
    if (!result)
        return -1;
    if (PQresultStatus(result.get()) != PGRES_COMMAND_OK)
        return 0; // rows returned: none affected
    const char* affected = PQcmdTuples(result.get());
    const qint64 count = affected && *affected ? QByteArray(affected).toLongLong() : 0;
    if (count > 0)
        NoteChange(statement);
    return count;
}

bool TMyPostgreSQL::ExecuteWithTransaction(const TMyStatement& statement) {
    // Bulk work commits what was done when a statement fails: nothing there may wait.
    if (FTransactions.isEmpty() || FBulkTransaction || FTransactionLost || !FConnection)
        return ExecuteCounted(statement) >= 0;
    TBound bound;
    if (!Bind(statement, bound))
        return false;
    FWaiting.append(bound);
    // Told with the commit, which fails whole should the statement fail.
    if (const QString table = ChangedTable(statement.Sql); !table.isEmpty())
        FChangedTables.Note(table, statement);
    return true;
}

std::unique_ptr<TChangeWatch> TMyPostgreSQL::WatchChanges() {
    return std::make_unique<TPostgreSQLChangeWatch>(*this);
}

int TMyPostgreSQL::ServerProcessId() const {
    return FConnection ? PQbackendPID(FConnection) : 0;
}

// The connector sends the notices, not each save and not triggers in the schema: every path that
// changes the site goes through here, a forgotten path cannot forget to tell, and a site made by
// hand for an operator role without the right to create triggers works alike.
bool TMyPostgreSQL::NoteChange(const TMyStatement& statement) {
    const QString table = ChangedTable(statement.Sql);
    if (table.isEmpty())
        return true;
    FChangedTables.Note(table, statement);
    if (!FTransactions.isEmpty() || FBulkTransaction)
        return true;
    // A lone statement has committed already; its notice follows it. Should the notice fail, the
    // change stands all the same, and the others see it with their next change or reopening.
    const QString reason = LastError;
    const QString state = FLastSqlState;
    const bool told = Announce();
    LastError = reason;
    FLastSqlState = state;
    return told;
}

bool TMyPostgreSQL::Announce() {
    if (FChangedTables.isEmpty())
        return true;
    const QByteArray payload = FChangedTables.Text().toUtf8();
    const char* sql = FChangedTables.CardsInJournal() ? NoticeWithEntriesSql : NoticeSql;
    FChangedTables.clear();
    if (FChannel.isEmpty())
        FChannel = SiteChannel(FConnection, FWait);
    const char* values[] = {FChannel.constData(), payload.constData()};
    const TResult result(Exec(FConnection, FWait, sql, 2, values));
    if (PQresultStatus(result.get()) == PGRES_TUPLES_OK)
        return true;
    return FailWith(result.get(), "SELECT");
}

std::unique_ptr<TMyResultSet> TMyPostgreSQL::Query(const TMyStatement& statement) {
    const TResult result(Send(statement));
    if (!result)
        return nullptr;
    PGresult* const handle = result.get();
    auto rows = std::make_unique<TMyResultSet>();
    const int columns = PQnfields(handle);
    QStringList names;
    std::vector<TMyValue::TKind> kinds;
    std::vector<bool> flags;
    for (int i = 0; i < columns; ++i) {
        names << QString::fromUtf8(PQfname(handle, i));
        // Type OIDs fixed by the server's catalog: bool, int8, int2, int4, oid; float4, float8,
        // numeric. The rest is read as text.
        switch (PQftype(handle, i)) {
        case 16:
            kinds.push_back(TMyValue::Integer);
            flags.push_back(true);
            continue;
        case 20:
        case 21:
        case 23:
        case 26:
            kinds.push_back(TMyValue::Integer);
            break;
        case 700:
        case 701:
        case 1700:
            kinds.push_back(TMyValue::Real);
            break;
        default:
            kinds.push_back(TMyValue::Text);
        }
        flags.push_back(false);
    }
    rows->SetFieldNames(names);
    const int count = PQntuples(handle);
    for (int row = 0; row < count; ++row) {
        for (int i = 0; i < columns; ++i) {
            if (PQgetisnull(handle, row, i)) {
                rows->AppendNull();
                continue;
            }
            const char* value = PQgetvalue(handle, row, i);
            if (flags[size_t(i)]) {
                rows->AppendInteger(value[0] == 't' ? 1 : 0);
                continue;
            }
            switch (kinds[size_t(i)]) {
            case TMyValue::Integer:
                rows->AppendInteger(
                    QByteArray::fromRawData(value, PQgetlength(handle, row, i)).toLongLong());
                break;
            case TMyValue::Real:
                rows->AppendReal(
                    QByteArray::fromRawData(value, PQgetlength(handle, row, i)).toDouble());
                break;
            default:
                rows->AppendText(QString::fromUtf8(value, PQgetlength(handle, row, i)));
            }
        }
    }
    return rows;
}

int TMyPostgreSQL::MaxBoundValues() const {
    // The protocol counts a statement's values in 16 bits.
    return 65535;
}

void TMyPostgreSQL::BeginBulkWork() {
    if (FBulkDepth++ > 0 || !FTransactions.isEmpty() || !Usable())
        return;
    FBulkTransaction = Run("BEGIN");
    FChangedTables.clear();
}

bool TMyPostgreSQL::EndBulkWork() {
    if (FBulkDepth == 0 || --FBulkDepth > 0 || !FBulkTransaction)
        return true;
    FBulkTransaction = false;
    if (!FConnection || FTransactionLost) {
        // The server undid the work when the connection broke; the error that found it stays.
        FTransactionLost = false;
        return false;
    }
    // A statement that failed inside ended the server's transaction; COMMIT then answers with
    // a rollback, which keeps the error of that statement as the one to report.
    const QString reason = LastError;
    const QString state = FLastSqlState;
    if (PQtransactionStatus(FConnection) == PQTRANS_INERROR) {
        FChangedTables.clear();
        Run("ROLLBACK");
        return Fail(reason, state);
    }
    // With its notice, as every commit: an answer lost on the way is unknown, not a failure.
    if (CommitWithNotice())
        return true;
    const QString commitReason = LastError;
    const QString commitState = FLastSqlState;
    if (PQstatus(FConnection) == CONNECTION_OK && PQtransactionStatus(FConnection) != PQTRANS_IDLE)
        Run("ROLLBACK");
    return Fail(commitReason, commitState);
}

bool TMyPostgreSQL::StartTransaction() {
    if (!FTransactions.isEmpty() || FBulkTransaction) {
        if (FTransactionLost || !FConnection)
            return Fail(_("The connection to the database server was lost; the change was not "
                          "saved."));
        // What waits belongs to the enclosing transaction, and must not go with a rollback of this
        // one.
        if (!RunAfterWaiting("SAVEPOINT vyr_work"))
            return false;
        FTransactions.append(false);
        return true;
    }
    if (!Usable())
        return false;
    if (!Run("BEGIN"))
        return false;
    FChangedTables.clear();
    FTransactions.append(true);
    return true;
}

bool TMyPostgreSQL::CommitTransaction() {
    if (FTransactions.isEmpty())
        return Fail(QStringLiteral("No transaction is open"));
    if (FTransactionLost || !FConnection) {
        // The server already undid the work; a failed commit ends the transaction for the
        // caller as a rollback would.
        FTransactions.removeLast();
        FWaiting.clear();
        if (FTransactions.isEmpty() && !FBulkTransaction)
            FTransactionLost = false;
        return Fail(_("The connection to the database server was lost; the change was not "
                      "saved."));
    }
    const bool outermost = FTransactions.last();
    if (!outermost) {
        FTransactions.removeLast();
        return Run("RELEASE SAVEPOINT vyr_work");
    }
    FTransactions.removeLast();
    if (PQtransactionStatus(FConnection) == PQTRANS_INERROR) {
        FChangedTables.clear();
        FWaiting.clear();
        const QString reason = LastError;
        Run("ROLLBACK");
        return Fail(reason, FLastSqlState);
    }
    if (CommitWithNotice())
        return true;
    const QString reason = LastError;
    const QString state = FLastSqlState;
    if (FConnection && PQstatus(FConnection) == CONNECTION_OK &&
        PQtransactionStatus(FConnection) != PQTRANS_IDLE)
        Run("ROLLBACK");
    return Fail(reason, state);
}

void TMyPostgreSQL::RollbackTransaction() {
    if (FTransactions.isEmpty())
        return;
    const bool outermost = FTransactions.takeLast();
    const QString reason = LastError;
    const QString state = FLastSqlState;
    // All that waits was asked for inside the transaction that ends here.
    FWaiting.clear();
    if (FTransactionLost) {
        // The server rolled everything back when the connection broke.
        if (FTransactions.isEmpty() && !FBulkTransaction)
            FTransactionLost = false;
    } else if (FConnection) {
        if (outermost) {
            FChangedTables.clear();
            Run("ROLLBACK");
        } else if (Run("ROLLBACK TO SAVEPOINT vyr_work"))
            Run("RELEASE SAVEPOINT vyr_work");
        // A savepoint's tables stay noted: one table too many costs the others a reload, no more.
    }
    LastError = reason;
    FLastSqlState = state;
}

bool TMyPostgreSQL::Fail(const QString& message, const QString& sqlState) {
    LastError = message;
    FLastSqlState = sqlState;
    return false;
}

bool TMyPostgreSQL::FailWith(PGresult* result, const char* sql) {
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    if (ConnectionGone(FConnection, state))
        return LostConnection();
    return Fail(ErrorMessage(result, FConnection, sql),
                state ? QString::fromLatin1(state) : QString());
}

QString TMyPostgreSQL::LostDetail() const {
    return FWait.TimedOut ? TimedOutText(FWait)
                          : ServerText(PQerrorMessage(FConnection)).section(u'\n', 0, 0);
}

bool TMyPostgreSQL::LostConnection() {
    FConnectionLost = true;
    const QString detail = LostDetail();
    if (!FTransactions.isEmpty() || FBulkTransaction)
        FTransactionLost = true;
    FChangedTables.clear(); // the server undid the open transaction's changes
    FWaiting.clear();
    Fail(FormatText(_("The connection to the database server was lost; the change was not "
                      "saved. (%s)"),
                    {detail}),
         QStringLiteral("08006"));
    NotifyConnectionLost();
    return false;
}

bool TMyPostgreSQL::CommitOutcomeLost() {
    FConnectionLost = true;
    FChangedTables.clear();
    FWaiting.clear();
    Fail(FormatText(_("The connection to the database server was lost just after the change was "
                      "sent to be saved: whether it was saved is not known. (%s)"),
                    {LostDetail()}),
         QString::fromLatin1(TransactionResolutionUnknown));
    NotifyConnectionLost();
    return false;
}

bool TMyPostgreSQL::Usable() {
    if (!FConnection)
        return Fail(NotConnectedText());
    if (FTransactionLost)
        return Fail(_("The connection to the database server was lost; the change was not "
                      "saved."));
    if (PQstatus(FConnection) == CONNECTION_OK && !FConnectionLost)
        return true;
    if (!ReconnectOnUse) {
        FConnectionLost = true;
        NotifyConnectionLost();
        return Fail(_("The connection to the database server was lost; the program is "
                      "connecting again."),
                    QStringLiteral("08003"));
    }
    // Outside a transaction nothing depends on the old session: the server may be back.
    PQreset(FConnection);
    FWait.TimedOut = false;
    if (PQstatus(FConnection) != CONNECTION_OK)
        return Fail(FormatText(_("The database server cannot be reached: %s"),
                               {ServerText(PQerrorMessage(FConnection)).section(u'\n', 0, 0)}),
                    QStringLiteral("08001"));
    FConnectionLost = false;
    return SetUpSession();
}

bool TMyPostgreSQL::Run(const char* sql) {
    const TResult result(Exec(FConnection, FWait, sql));
    const ExecStatusType status = PQresultStatus(result.get());
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
        return true;
    return FailWith(result.get(), sql);
}

bool TMyPostgreSQL::RunAfterWaiting(const char* sql) {
    if (FWaiting.isEmpty())
        return Run(sql);
    std::vector<std::vector<const char*>> values;
    std::vector<TPipelined> steps = WaitingSteps(FWaiting, values);
    steps.push_back({sql});
    const std::vector<TResult> results = RunPipeline(FConnection, FWait, steps);
    const QList<TBound> sent = std::exchange(FWaiting, {});
    for (size_t i = 0; i < results.size(); ++i)
        if (!Succeeded(results[i].get()))
            return FailWith(results[i].get(),
                            i < size_t(sent.size()) ? sent[qsizetype(i)].Sql.constData() : sql);
    return true;
}

bool TMyPostgreSQL::CommitWithNotice() {
    // The notice is the transaction's last statement: the change and the news of it commit
    // together or not at all.
    std::vector<std::vector<const char*>> values;
    std::vector<TPipelined> steps = WaitingSteps(FWaiting, values);
    QByteArray payload;
    const char* notice[2] = {nullptr, nullptr};
    if (!FChangedTables.isEmpty()) {
        payload = FChangedTables.Text().toUtf8();
        const char* sql = FChangedTables.CardsInJournal() ? NoticeWithEntriesSql : NoticeSql;
        FChangedTables.clear();
        if (FChannel.isEmpty())
            FChannel = SiteChannel(FConnection, FWait);
        notice[0] = FChannel.constData();
        notice[1] = payload.constData();
        steps.push_back({sql, 2, notice});
    }
    steps.push_back({"COMMIT"});
    // A connection found broken before anything went out lost the transaction, nothing more.
    const bool sendable = PQstatus(FConnection) == CONNECTION_OK && !FConnectionLost;
    const std::vector<TResult> results = RunPipeline(FConnection, FWait, steps);
    const QList<TBound> sent = std::exchange(FWaiting, {});
    // The connection broke with no word of the server against any of it: the server may have run
    // the lot, COMMIT included, and its answer was lost on the way. Only the server's own error
    // (it carries a SQLSTATE; what libpq says of a broken connection does not) tells that the
    // change was not kept.
    bool refused = false;
    bool done = true;
    for (const TResult& result : results) {
        done = done && Succeeded(result.get());
        refused = refused || (result && !Succeeded(result.get()) &&
                              PQresultErrorField(result.get(), PG_DIAG_SQLSTATE));
    }
    if (!done && !refused && sendable && (FWait.TimedOut || PQstatus(FConnection) != CONNECTION_OK))
        return CommitOutcomeLost();
    for (size_t i = 0; i < results.size(); ++i) {
        if (Succeeded(results[i].get()))
            continue;
        const bool waiting = i < size_t(sent.size());
        return FailWith(results[i].get(), waiting ? sent[qsizetype(i)].Sql.constData()
                                          : i + 1 < results.size() ? "SELECT"
                                                                   : "COMMIT");
    }
    return true;
}

PGresult* TMyPostgreSQL::Send(const TMyStatement& source) {
    if (!Usable())
        return nullptr;
    TBound bound;
    if (!Bind(source, bound))
        return nullptr;
    return SendText(bound);
}

bool TMyPostgreSQL::Bind(const TMyStatement& source, TBound& bound) {
    const TDialectTranslation translation =
        TranslateAccessDialect(source.Sql, {}, TSqlTarget::PostgreSQL);
    if (!translation.Ok) {
        Fail(translation.Error);
        return false;
    }
    if (translation.Placeholders != source.Values.size()) {
        Fail(QStringLiteral("The statement has room for %1 values but was given %2")
                 .arg(translation.Placeholders)
                 .arg(source.Values.size()));
        return false;
    }
    QList<QByteArray>& values = bound.Values;
    QList<bool>& nulls = bound.Nulls;
    values.reserve(source.Values.size());
    nulls.reserve(source.Values.size());
    for (qsizetype i = 0; i < source.Values.size(); ++i) {
        const QVariant& value = source.Values[i];
        bool null = false;
        QByteArray text;
        switch (value.typeId()) {
        case QMetaType::UnknownType:
            null = true;
            break;
        case QMetaType::QString: {
            const QString& string = *static_cast<const QString*>(value.constData());
            if (string.contains(QChar(u'\0'))) {
                Fail(QStringLiteral("Value %1 of the statement holds a NUL character, which the "
                                    "server does not store")
                         .arg(i + 1));
                return false;
            }
            text = string.toUtf8();
            break;
        }
        case QMetaType::Bool:
            // Taken by a boolean column as well as by an integer one.
            text = value.toBool() ? "1" : "0";
            break;
        case QMetaType::Char:
        case QMetaType::SChar:
        case QMetaType::UChar:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Long:
        case QMetaType::LongLong:
            text = QByteArray::number(value.toLongLong());
            break;
        case QMetaType::Double:
        case QMetaType::Float:
            text = QByteArray::number(value.toDouble(), 'g', 17);
            break;
        case QMetaType::QDateTime: {
            const QDateTime moment = value.toDateTime();
            if (moment.isValid())
                text = DatabaseDateTimeText(moment).toUtf8();
            else
                null = true;
            break;
        }
        default:
            Fail(QStringLiteral("Value %1 of the statement is of a kind the database does not "
                                "store (%2)")
                     .arg(i + 1)
                     .arg(QString::fromLatin1(value.typeName())));
            return false;
        }
        values << text;
        nulls << null;
    }
    bound.Sql = translation.Sql.toUtf8();
    return true;
}

PGresult* TMyPostgreSQL::SendText(const TBound& statement) {
    const QByteArray& sql = statement.Sql;
    const QList<QByteArray>& values = statement.Values;
    const std::vector<const char*> pointers = ValuePointers(statement);
    // A failed statement ends the server's whole transaction, where SQLite only undoes the
    // statement. Inside a transaction each statement is therefore a savepoint of its own: the
    // caller decides what a failure means for the rest, on both engines alike. The savepoint, the
    // statement and its release travel together, so that the guard costs no waiting of its own.
    const bool inTransaction = !FTransactions.isEmpty() || FBulkTransaction;
    for (int attempt = 0;; ++attempt) {
        TResult result;
        if (inTransaction) {
            // The statements that wait for this one go first, outside its savepoint: should one
            // fail, the transaction is over, as its caller expects.
            std::vector<std::vector<const char*>> waitingValues;
            std::vector<TPipelined> steps = WaitingSteps(FWaiting, waitingValues);
            const size_t waiting = steps.size();
            steps.push_back({"SAVEPOINT vyr_statement"});
            steps.push_back({sql.constData(), int(values.size()), pointers.data()});
            steps.push_back({"RELEASE SAVEPOINT vyr_statement"});
            std::vector<TResult> results = RunPipeline(FConnection, FWait, steps);
            const QList<TBound> sent = std::exchange(FWaiting, {});
            for (size_t i = 0; i < waiting; ++i)
                if (!Succeeded(results[i].get())) {
                    FailWith(results[i].get(), sent[qsizetype(i)].Sql.constData());
                    return nullptr;
                }
            // A savepoint that failed (a transaction the server already ended) skipped the rest.
            if (!Succeeded(results[waiting].get())) {
                FailWith(results[waiting].get(), "SAVEPOINT vyr_statement");
                return nullptr;
            }
            result = std::move(results[waiting + 1]);
            if (Succeeded(result.get())) {
                if (!Succeeded(results[waiting + 2].get())) {
                    FailWith(results[waiting + 2].get(), "RELEASE SAVEPOINT vyr_statement");
                    return nullptr;
                }
                return result.release();
            }
        } else {
            result.reset(
                Exec(FConnection, FWait, sql.constData(), int(values.size()), pointers.data()));
            if (Succeeded(result.get()))
                return result.release();
        }
        const char* state = PQresultErrorField(result.get(), PG_DIAG_SQLSTATE);
        if (ConnectionGone(FConnection, state)) {
            LostConnection();
            return nullptr;
        }
        const bool conflict = state && (qstrcmp(state, SerializationFailure) == 0 ||
                                        qstrcmp(state, DeadlockDetected) == 0);
        FailWith(result.get(), sql.constData());
        if (inTransaction) {
            const QString reason = LastError;
            const QString reasonState = FLastSqlState;
            const std::vector<TResult> undone = RunPipeline(
                FConnection, FWait,
                {{"ROLLBACK TO SAVEPOINT vyr_statement"}, {"RELEASE SAVEPOINT vyr_statement"}});
            for (const TResult& step : undone)
                if (!Succeeded(step.get())) {
                    FailWith(step.get(), "ROLLBACK TO SAVEPOINT vyr_statement");
                    return nullptr;
                }
            Fail(reason, reasonState);
        }
        // A conflict with another workstation's transaction is often gone a moment later.
        if (!conflict)
            return nullptr;
        if (attempt > 0) {
            Fail(FormatText(_("Another workstation changed the same records at the same moment, "
                              "twice in a row; this change was not saved. Try it again. (%s)"),
                            {LastError}),
                 FLastSqlState);
            return nullptr;
        }
    }
}

QString EmptyServerDatabaseText() {
    return _("The database on the server is empty: it holds no site, and nothing was opened. A "
             "database becomes a site only through the profile wizard (\"A database on a "
             "server\") or through \"Move to server...\" in profile management.");
}

namespace {

// A would-be site (one of the site's own tables at least) is compared with what the program uses
// as an opening compares it, types included, so that what the wizard says of it is what the
// opening would find. False when the catalogue cannot be read; info.Error says why.
bool ReadSiteDifferences(PGconn* connection, TServerWait& wait,
                         const QHash<QString, QSet<QString>>& tables, TServerDatabaseInfo& info) {
    const bool siteTables =
        std::any_of(std::begin(SiteTables), std::end(SiteTables), [&](const TSiteTable& table) {
            return !table.AddedLater && tables.contains(QString::fromLatin1(table.Name).toLower());
        });
    if (!siteTables)
        return true;
    const TResult result(Exec(connection, wait, ServerCatalogueSql));
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) {
        info.Error =
            wait.TimedOut ? TimedOutText(wait) : ErrorMessage(result.get(), connection, "SELECT");
        return false;
    }
    TSiteCatalogue found;
    for (int row = 0; row < PQntuples(result.get()); ++row)
        found[QString::fromUtf8(PQgetvalue(result.get(), row, 0)).toLower()]
             [QString::fromUtf8(PQgetvalue(result.get(), row, 1)).toLower()] =
                 QString::fromUtf8(PQgetvalue(result.get(), row, 2));
    info.Differences = CompareSiteTables(found, true).Differences;
    return true;
}

} // namespace

TServerDatabaseInfo InspectServerDatabase(const QString& connection) {
    TServerDatabaseInfo info;
    TServerWait wait;
    PGconn* handle = Open(connection);
    if (PQstatus(handle) != CONNECTION_OK) {
        info.Error = ServerText(PQerrorMessage(handle));
        PQfinish(handle);
        return info;
    }
    info.Version = VersionText(handle);
    QHash<QString, QSet<QString>> tables;
    if (ReadTables(handle, wait, tables, info.Error)) {
        QStringList missing;
        info.Kind = KindOf(tables, missing);
        info.Tables = tables.keys();
        info.Tables.sort();
        info.Ok = ReadSiteDifferences(handle, wait, tables, info);
    }
    PQfinish(handle);
    return info;
}
