#include "db/MySQLite.h"

#include "db/accessdialect.h"
#include "db/changewatch.h"
#include "db/sqlitetext.h"

#include <QAtomicInteger>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QTimer>
#include <QUrl>

#include <cstring>

#include <sqlite3.h>

namespace {

// How long a statement waits for another copy of the program's lock before it gives up.
constexpr int BusyTimeout = 5000;
// How often a watch looks at the data version: well within a second, and the look costs next to
// nothing.
constexpr int WatchInterval = 250;

// Looks at the data version of the connection the program works on, on the window's thread: the
// look never waits for a lock (see DataVersion), so it never holds the window up, and a commit of
// the program's own leaves the version alone, so no window reloads for what it just saved.
class TSQLiteChangeWatch : public TChangeWatch {
public:
    explicit TSQLiteChangeWatch(TMySQLite& connector) : FConnector(connector) {
        FKnown = FConnector.DataVersion(FVersion);
        FPoll.setInterval(WatchInterval);
        connect(&FPoll, &QTimer::timeout, this, [this] { Look(); });
        FPoll.start();
    }

private:
    void Look() {
        qint64 version = 0;
        if (!FConnector.DataVersion(version))
            return; // locked for a moment: the next look sees it
        const bool moved = FKnown && version != FVersion;
        FVersion = version;
        FKnown = true;
        if (moved)
            Noticed({}); // the file does not say which tables
    }

    TMySQLite& FConnector;
    QTimer FPoll;
    qint64 FVersion = 0;
    bool FKnown = false;
};

QString ErrorText(const QSqlError& error) {
    // The engine's own words say what went wrong; Qt's driver text only says which step failed.
    const QString engine = error.databaseText().trimmed();
    return engine.isEmpty() ? error.driverText().trimmed() : engine;
}

QString NewConnectionName() {
    static QAtomicInteger<quint64> counter;
    return QStringLiteral("vyr-sqlite-%1").arg(counter.fetchAndAddRelaxed(1) + 1);
}

// What the first bytes say about a file: Jet and ACE databases carry their name at offset 4,
// SQLite its format string at the start.
enum class TFileKind { SQLite, Access, Other };

TFileKind KindOfFile(const QByteArray& header) {
    static const QByteArray SQLiteMagic("SQLite format 3\0", 16);
    if (header.startsWith(SQLiteMagic))
        return TFileKind::SQLite;
    const QByteArray name = header.mid(4, 15);
    if (name == "Standard Jet DB" || name == "Standard ACE DB")
        return TFileKind::Access;
    return TFileKind::Other;
}

} // namespace

TMySQLite::TMySQLite() : FConnectionName(NewConnectionName()) {
    SQLiteConnection = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), FConnectionName);
}

TMySQLite::TStatement::~TStatement() {
    sqlite3_finalize(Handle);
}

TMySQLite::~TMySQLite() {
    Disconnect();
    SQLiteConnection = QSqlDatabase();
    QSqlDatabase::removeDatabase(FConnectionName);
}

QString TMySQLite::GetDBTypeName() const {
    return QStringLiteral("sqlite");
}

bool TMySQLite::Connect() {
    if (IsConnected())
        return Fail(QStringLiteral("The database is already connected"));
    const QString fileName = ConnectionStringFile(ConnectionString);
    if (fileName.isEmpty())
        return Fail(QStringLiteral("The connection string names no database file"));
    const QFileInfo info(fileName);
    if (!info.exists())
        return Fail(QStringLiteral("Could not find file '%1'.").arg(fileName));
    if (!info.isFile())
        return Fail(QStringLiteral("'%1' is not a database file.").arg(fileName));
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return Fail(QStringLiteral("Cannot read '%1': %2").arg(fileName, file.errorString()));
    const TFileKind kind = KindOfFile(file.read(100));
    file.close();
    if (kind == TFileKind::Access)
        return Fail(QStringLiteral("'%1' is a Microsoft Access database, which this program "
                                   "cannot open.")
                        .arg(fileName));
    if (kind != TFileKind::SQLite)
        return Fail(QStringLiteral("'%1' is not a database this program can open.").arg(fileName));
    if (!OpenFile(fileName)) {
        SQLiteConnection.close();
        FHandle = nullptr;
        return false;
    }
    NotifyConnected();
    return true;
}

bool TMySQLite::OpenFile(const QString& fileName) {
    // A file without its owner's write permission is read-only, as the read-only attribute is
    // elsewhere; honoured here so even a privileged user cannot change it by accident.
    const bool readOnly = !QFileInfo(fileName).permission(QFileDevice::WriteOwner);
    // A URI with an explicit mode: plain paths would let SQLite create an empty database when
    // the file vanished after the checks above.
    const QString uri = QString::fromLatin1(QUrl::fromLocalFile(fileName).toEncoded()) +
                        (readOnly ? QStringLiteral("?mode=ro") : QStringLiteral("?mode=rw"));
    SQLiteConnection.setDatabaseName(uri);
    SQLiteConnection.setConnectOptions(
        QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=") + QString::number(BusyTimeout) +
        (readOnly ? QStringLiteral(";QSQLITE_OPEN_READONLY") : QString()));
    if (!SQLiteConnection.open())
        return Fail(ErrorText(SQLiteConnection.lastError()));

    const QVariant handle = SQLiteConnection.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return Fail(QStringLiteral("The SQLite driver gives no connection handle"));
    FHandle = *static_cast<sqlite3* const*>(handle.constData());
    QString error;
    if (!RegisterTextRules(FHandle, &error))
        return Fail(error);

    // SQLite reads the file only now: a damaged file fails here, not at the first real statement.
    return Run("SELECT count(*) FROM sqlite_master") && Run("PRAGMA synchronous = FULL");
}

std::unique_ptr<TChangeWatch> TMySQLite::WatchChanges() {
    return std::make_unique<TSQLiteChangeWatch>(*this);
}

bool TMySQLite::DataVersion(qint64& version) {
    if (!FHandle || !FTransactions.isEmpty() || FBulkTransaction)
        return false;
    // The pragma takes a shared lock; while another copy commits that lock is not to be had, and
    // waiting for it is what the window must never do.
    sqlite3_busy_timeout(FHandle, 0);
    TStatement statement;
    bool read = false;
    if (sqlite3_prepare_v2(FHandle, "PRAGMA data_version", -1, &statement.Handle, nullptr) ==
            SQLITE_OK &&
        sqlite3_step(statement.Handle) == SQLITE_ROW) {
        version = sqlite3_column_int64(statement.Handle, 0);
        read = true;
    }
    sqlite3_busy_timeout(FHandle, BusyTimeout);
    return read;
}

void TMySQLite::Disconnect() {
    if (SQLiteConnection.isOpen()) {
        // Closing would roll back the bulk transaction; commit what was done instead.
        if (FBulkTransaction) {
            FBulkDepth = 1;
            EndBulkWork();
        }
        SQLiteConnection.close();
    }
    FHandle = nullptr;
    FTransactions.clear(); // closing rolled back whatever was open
    FBulkDepth = 0;
    FBulkTransaction = false;
    NotifyDisconnected();
}

bool TMySQLite::IsConnected() const {
    return SQLiteConnection.isOpen();
}

bool TMySQLite::ReConnect() {
    Disconnect();
    return Connect();
}

QString TMySQLite::GetLastError() const {
    return LastError;
}

bool TMySQLite::ExecuteQuery(const TMyStatement& statement) {
    return ExecuteCounted(statement) == 1;
}

qint64 TMySQLite::ExecuteCounted(const TMyStatement& source) {
    TStatement statement;
    if (!Prepare(source, statement))
        return -1;
    const auto changesBefore = sqlite3_total_changes64(FHandle);
    int rc;
    while ((rc = sqlite3_step(statement.Handle)) == SQLITE_ROW) {
    }
    if (rc != SQLITE_DONE) {
        FailWithEngineError();
        return -1;
    }
    // A statement that returns rows affects none. The total count also stays right after
    // statements that change no rows at all, where sqlite3_changes() repeats an older count.
    if (sqlite3_column_count(statement.Handle) > 0)
        return 0;
    return sqlite3_total_changes64(FHandle) - changesBefore;
}

std::unique_ptr<TMyResultSet> TMySQLite::Query(const TMyStatement& source) {
    TStatement statement;
    if (!Prepare(source, statement))
        return nullptr;
    sqlite3_stmt* handle = statement.Handle;
    const int columns = sqlite3_column_count(handle);
    auto rows = std::make_unique<TMyResultSet>();
    rows->SetFieldNames(FieldNames(handle, columns));
    int rc;
    while ((rc = sqlite3_step(handle)) == SQLITE_ROW) {
        for (int i = 0; i < columns; ++i) {
            switch (sqlite3_column_type(handle, i)) {
            case SQLITE_INTEGER:
                rows->AppendInteger(sqlite3_column_int64(handle, i));
                break;
            case SQLITE_FLOAT:
                rows->AppendReal(sqlite3_column_double(handle, i));
                break;
            case SQLITE_NULL:
                rows->AppendNull();
                break;
            default: // text, and the odd blob read as text
                rows->AppendText(
                    QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(handle, i)),
                                      sqlite3_column_bytes(handle, i)));
            }
        }
    }
    if (rc != SQLITE_DONE) {
        FailWithEngineError();
        return nullptr;
    }
    return rows;
}

int TMySQLite::MaxBoundValues() const {
    if (!FHandle)
        return TMyDBConnector::MaxBoundValues();
    return sqlite3_limit(FHandle, SQLITE_LIMIT_VARIABLE_NUMBER, -1);
}

void TMySQLite::BeginBulkWork() {
    if (FBulkDepth++ > 0 || !IsConnected() || !sqlite3_get_autocommit(FHandle))
        return;
    // IMMEDIATE takes the write lock now, waiting out another copy of the program if need be;
    // when that fails, the statements simply run one by one.
    FBulkTransaction = Run("BEGIN IMMEDIATE");
}

bool TMySQLite::EndBulkWork() {
    if (FBulkDepth == 0 || --FBulkDepth > 0 || !FBulkTransaction)
        return true;
    FBulkTransaction = false;
    if (!IsConnected())
        return false;
    if (sqlite3_get_autocommit(FHandle))
        return false; // the engine already ended the transaction (it does so on some I/O errors)
    // A reader of another copy can hold the commit up beyond the busy timeout; try once more
    // before giving up, and never leave the transaction open behind the caller's back.
    if (Run("COMMIT") || Run("COMMIT"))
        return true;
    const QString commitError = LastError;
    Run("ROLLBACK");
    LastError = commitError;
    return false;
}

bool TMySQLite::StartTransaction() {
    if (!IsConnected())
        return Fail(NotConnectedText());
    if (sqlite3_get_autocommit(FHandle)) {
        // IMMEDIATE: the write lock is taken now, so a second copy of the program makes us wait
        // here rather than fail half-way through the work.
        if (!Run("BEGIN IMMEDIATE"))
            return false;
        FTransactions.append(true);
        return true;
    }
    if (!Run("SAVEPOINT vyr_work"))
        return false;
    FTransactions.append(false);
    return true;
}

bool TMySQLite::CommitTransaction() {
    if (FTransactions.isEmpty() || !IsConnected())
        return Fail(QStringLiteral("No transaction is open"));
    const bool outermost = FTransactions.takeLast();
    if (!outermost)
        return Run("RELEASE vyr_work");
    if (sqlite3_get_autocommit(FHandle))
        return Fail(QStringLiteral("The database ended the transaction on its own"));
    // A reader of another copy can hold the commit up beyond the busy timeout: try once more.
    if (Run("COMMIT") || Run("COMMIT"))
        return true;
    const QString commitError = LastError;
    Run("ROLLBACK");
    LastError = commitError;
    return false;
}

void TMySQLite::RollbackTransaction() {
    if (FTransactions.isEmpty() || !IsConnected())
        return;
    const bool outermost = FTransactions.takeLast();
    // The caller wants the reason the work failed, not the rollback's own complaints.
    const QString reason = LastError;
    if (outermost) {
        if (!sqlite3_get_autocommit(FHandle))
            Run("ROLLBACK");
    } else {
        Run("ROLLBACK TO vyr_work");
        Run("RELEASE vyr_work");
    }
    LastError = reason;
}

bool TMySQLite::Fail(const QString& message) {
    LastError = message;
    return false;
}

bool TMySQLite::FailWithEngineError() {
    return Fail(QString::fromUtf8(sqlite3_errmsg(FHandle)));
}

bool TMySQLite::Prepare(const TMyStatement& source, TStatement& statement) {
    if (!IsConnected())
        return Fail(NotConnectedText());
    const TDialectTranslation translation = TranslateAccessDialect(source.Sql);
    if (!translation.Ok)
        return Fail(translation.Error);
    if (translation.Placeholders != source.Values.size())
        return Fail(QStringLiteral("The statement has room for %1 values but was given %2")
                        .arg(translation.Placeholders)
                        .arg(source.Values.size()));
    const QByteArray text = translation.Sql.toUtf8();
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(FHandle, text.constData(), int(text.size()), &statement.Handle, &tail) !=
        SQLITE_OK)
        return FailWithEngineError();
    if (!statement.Handle)
        return Fail(QStringLiteral("The statement is empty"));
    // The translation already refuses a second statement; this keeps it so whatever slips by.
    for (; tail && tail < text.constData() + text.size(); ++tail) {
        if (!std::strchr(" \t\r\n\f\v", *tail))
            return Fail(QStringLiteral("Only one statement can be sent at a time"));
    }
    // SQLite also knows named and numbered places (:name, ?5); our values go by position only, and
    // one of those would take a value meant for another place, or stay NULL without a word.
    const int places = sqlite3_bind_parameter_count(statement.Handle);
    bool plain = places == translation.Placeholders;
    for (int place = 1; plain && place <= places; ++place)
        plain = sqlite3_bind_parameter_name(statement.Handle, place) == nullptr;
    if (!plain)
        return Fail(QStringLiteral("The statement marks its values other than by ?"));
    return Bind(source.Values, statement.Handle);
}

bool TMySQLite::Bind(const QVariantList& values, sqlite3_stmt* statement) {
    for (int i = 0; i < values.size(); ++i) {
        const QVariant& value = values[i];
        const int place = i + 1;
        int rc = SQLITE_OK;
        switch (value.typeId()) {
        case QMetaType::UnknownType:
            rc = sqlite3_bind_null(statement, place);
            break;
        case QMetaType::QString: {
            // The value outlives the statement's run, so SQLite may read it where it lies. An
            // empty text is bound as such: a null QString has no characters to point at, and
            // SQLite would take a null pointer for NULL.
            const QString& text = *static_cast<const QString*>(value.constData());
            rc = text.isEmpty()
                     ? sqlite3_bind_text(statement, place, "", 0, SQLITE_STATIC)
                     : sqlite3_bind_text16(statement, place, text.utf16(),
                                           int(text.size() * sizeof(char16_t)), SQLITE_STATIC);
            break;
        }
        case QMetaType::Bool:
        case QMetaType::Char:
        case QMetaType::SChar:
        case QMetaType::UChar:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Long:
        case QMetaType::LongLong:
            rc = sqlite3_bind_int64(statement, place, value.toLongLong());
            break;
        case QMetaType::Double:
        case QMetaType::Float:
            rc = sqlite3_bind_double(statement, place, value.toDouble());
            break;
        case QMetaType::QDateTime: {
            const QDateTime moment = value.toDateTime();
            if (!moment.isValid()) {
                rc = sqlite3_bind_null(statement, place);
                break;
            }
            const QByteArray text = DatabaseDateTimeText(moment).toUtf8();
            rc = sqlite3_bind_text(statement, place, text.constData(), int(text.size()),
                                   SQLITE_TRANSIENT);
            break;
        }
        default:
            // Unsigned 64-bit numbers, byte arrays and the rest have no column to go to; refused
            // rather than stored as something else.
            return Fail(QStringLiteral("Value %1 of the statement is of a kind the database does "
                                       "not store (%2)")
                            .arg(place)
                            .arg(QString::fromLatin1(value.typeName())));
        }
        if (rc != SQLITE_OK)
            return FailWithEngineError();
    }
    return true;
}

QStringList TMySQLite::FieldNames(sqlite3_stmt* statement, int columns) {
    // The lists send the same statement thousands of times; the names of the last one are kept
    // so that each repeat shares them instead of building them anew.
    bool same = columns == FLastFieldNames.size();
    for (int i = 0; same && i < columns; ++i)
        same = FLastFieldNameBytes[i] == sqlite3_column_name(statement, i);
    if (!same) {
        FLastFieldNameBytes.clear();
        FLastFieldNames.clear();
        for (int i = 0; i < columns; ++i) {
            FLastFieldNameBytes.append(QByteArray(sqlite3_column_name(statement, i)));
            FLastFieldNames.append(QString::fromUtf8(FLastFieldNameBytes.back()));
        }
    }
    return FLastFieldNames;
}

bool TMySQLite::Run(const char* sql) {
    TStatement statement;
    if (sqlite3_prepare_v2(FHandle, sql, -1, &statement.Handle, nullptr) != SQLITE_OK)
        return FailWithEngineError();
    int rc;
    while ((rc = sqlite3_step(statement.Handle)) == SQLITE_ROW) {
    }
    return rc == SQLITE_DONE || FailWithEngineError();
}
