#include "db/MySQLite.h"

#include "db/accessdialect.h"
#include "db/sqlitetext.h"

#include <QAtomicInteger>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>

#include <sqlite3.h>

namespace {

const char* const NotConnected = "The database is not connected";

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
        QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=5000") +
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

    QSqlQuery query(SQLiteConnection);
    // SQLite reads the file only now: a damaged file fails here, not at the first real statement.
    if (!query.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")))
        return Fail(ErrorText(query.lastError()));
    if (!query.exec(QStringLiteral("PRAGMA synchronous = FULL")))
        return Fail(ErrorText(query.lastError()));
    return true;
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

bool TMySQLite::ExecuteQuery(const QString& sql) {
    if (!IsConnected())
        return Fail(QString::fromLatin1(NotConnected));
    QString statement;
    if (!Translate(sql, statement))
        return false;
    QSqlQuery query(SQLiteConnection);
    query.setForwardOnly(true);
    if (!query.exec(statement))
        return Fail(ErrorText(query.lastError()));
    // A statement that returns rows affects none; SQLite's change count would still be that of
    // the previous change.
    if (query.isSelect())
        return false;
    return query.numRowsAffected() == 1;
}

bool TMySQLite::Query(const QString& sql, TMyResultSet*& QObject) {
    QObject = new TMyResultSet;
    if (!IsConnected())
        return Fail(QString::fromLatin1(NotConnected));
    QString statement;
    if (!Translate(sql, statement))
        return false;
    QSqlQuery query(SQLiteConnection);
    query.setForwardOnly(true);
    if (!query.exec(statement))
        return Fail(ErrorText(query.lastError()));
    const QSqlRecord record = query.record();
    const int columns = int(record.count());
    QStringList names;
    names.reserve(columns);
    for (int i = 0; i < columns; ++i)
        names.append(record.fieldName(i));
    QObject->SetFieldNames(std::move(names));
    while (query.next()) {
        for (int i = 0; i < columns; ++i)
            QObject->AppendValue(query.value(i));
    }
    if (query.lastError().isValid())
        return Fail(ErrorText(query.lastError()));
    return true;
}

void TMySQLite::DestroyQuery(TMyResultSet*& QObject) {
    delete QObject;
    QObject = nullptr;
}

void TMySQLite::BeginBulkWork() {
    if (FBulkDepth++ > 0 || !IsConnected() || !sqlite3_get_autocommit(FHandle))
        return;
    // IMMEDIATE takes the write lock now, waiting out another copy of the program if need be;
    // when that fails, the statements simply run one by one.
    QSqlQuery query(SQLiteConnection);
    FBulkTransaction = query.exec(QStringLiteral("BEGIN IMMEDIATE"));
    if (!FBulkTransaction)
        Fail(ErrorText(query.lastError()));
}

void TMySQLite::EndBulkWork() {
    if (FBulkDepth == 0 || --FBulkDepth > 0 || !FBulkTransaction)
        return;
    FBulkTransaction = false;
    if (!IsConnected() || sqlite3_get_autocommit(FHandle))
        return; // the engine already ended the transaction (it does so on some I/O errors)
    QSqlQuery query(SQLiteConnection);
    // A reader of another copy can hold the commit up beyond the busy timeout; try once more
    // before giving up, and never leave the transaction open behind the caller's back.
    if (query.exec(QStringLiteral("COMMIT")) || query.exec(QStringLiteral("COMMIT")))
        return;
    Fail(ErrorText(query.lastError()));
    query.exec(QStringLiteral("ROLLBACK"));
}

bool TMySQLite::Fail(const QString& message) {
    LastError = message;
    return false;
}

bool TMySQLite::Translate(const QString& sql, QString& translated) {
    TDialectTranslation translation = TranslateAccessDialect(sql);
    if (!translation.Ok)
        return Fail(translation.Error);
    translated = std::move(translation.Sql);
    return true;
}
