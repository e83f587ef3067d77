#include "db/databasecheck.h"

#include "db/MyDBConnector.h"
#include "db/sitetables.h"
#include "shared/translation.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <QStringList>
#include <QUrl>

#include <memory>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray Header(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(100);
}

bool IsAccessFile(const QByteArray& header) {
    const QByteArray name = header.mid(4, 15);
    return name == "Standard Jet DB" || name == "Standard ACE DB";
}

// The lower-cased column names of a table; empty when it does not exist.
QSet<QString> ColumnsOf(sqlite3* handle, const char* table, QString* error) {
    QSet<QString> columns;
    sqlite3_stmt* statement = nullptr;
    const QByteArray sql = QByteArray("PRAGMA table_info(") + table + ")";
    if (sqlite3_prepare_v2(handle, sql.constData(), -1, &statement, nullptr) != SQLITE_OK) {
        *error = QString::fromUtf8(sqlite3_errmsg(handle));
        return columns;
    }
    int step;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW)
        columns.insert(
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, 1)))
                .toLower());
    if (step != SQLITE_DONE)
        *error = QString::fromUtf8(sqlite3_errmsg(handle));
    sqlite3_finalize(statement);
    return columns;
}

// The number of rows in a table, or -1 when it cannot be counted.
qint64 RowCount(sqlite3* handle, const char* table) {
    sqlite3_stmt* statement = nullptr;
    // Counted without an index: an index may use the program's own collation, unknown here.
    const QByteArray sql = QByteArray("SELECT COUNT(*) FROM ") + table + " NOT INDEXED";
    if (sqlite3_prepare_v2(handle, sql.constData(), -1, &statement, nullptr) != SQLITE_OK)
        return -1;
    const qint64 count =
        sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int64(statement, 0) : -1;
    sqlite3_finalize(statement);
    return count;
}

// The column types an engine stores as the program's broad types need them.
bool ServerTypeFits(TSiteColumnKind kind, const QString& type) {
    switch (kind) {
    case TSiteColumnKind::Integer:
        return type == u"integer" || type == u"bigint" || type == u"smallint";
    case TSiteColumnKind::Text:
        return type == u"text" || type == u"character varying" || type == u"character";
    case TSiteColumnKind::Flag:
        return type == u"boolean";
    }
    return false;
}

// SQLite keeps what a column's declared type makes of a value (its affinity): a column of no type
// keeps values as they are bound; one of integer affinity would turn a card number of digits into
// a number and lose its leading zeros.
bool FileTypeFits(TSiteColumnKind kind, const QString& declared) {
    const QString type = declared.toUpper();
    if (type.isEmpty() || type.contains(u"BLOB"))
        return true;
    const bool integer = type.contains(u"INT");
    const bool text =
        !integer && (type.contains(u"CHAR") || type.contains(u"CLOB") || type.contains(u"TEXT"));
    const bool real = !integer && !text &&
                      (type.contains(u"REAL") || type.contains(u"FLOA") || type.contains(u"DOUB"));
    switch (kind) {
    case TSiteColumnKind::Integer:
    case TSiteColumnKind::Flag:
        return !text && !real;
    case TSiteColumnKind::Text:
        return text;
    }
    return false;
}

QString NeededType(TSiteColumnKind kind, bool server) {
    switch (kind) {
    case TSiteColumnKind::Integer:
        return server ? QStringLiteral("integer") : QStringLiteral("INTEGER");
    case TSiteColumnKind::Text:
        return server ? QStringLiteral("text") : QStringLiteral("TEXT");
    case TSiteColumnKind::Flag:
        return server ? QStringLiteral("boolean") : QStringLiteral("INTEGER");
    }
    return {};
}

} // namespace

QString DatabaseFileProblem(const QString& path) {
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return FormatText(_("The database file %s does not exist."), {path});
    if (!S_ISREG(status.st_mode))
        return FormatText(_("%s is not a regular file; it is not read."), {path});
    if (status.st_uid != ::geteuid())
        return FormatText(_("The database file %s belongs to another user. Copy it, or ask its "
                            "owner to give it to you, and use the copy."),
                          {path});
    if (!(status.st_mode & S_IWUSR) || ::access(QFile::encodeName(path).constData(), W_OK) != 0)
        return _("The database file is read-only and changing the attributes failed!") + "\n\n" +
               _("Make sure the database is writeable!");
    return QString();
}

QString ProfileDatabaseProblem(const QString& path) {
    if (path.isEmpty())
        return _("No database file was chosen.");
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return FormatText(_("The database file %s does not exist."), {path});
    if (!S_ISREG(status.st_mode))
        return FormatText(_("%s is not a regular file; it is not read."), {path});
    const QByteArray header = Header(path);
    if (IsAccessFile(header))
        return FormatText(
            _("%s is a Microsoft Access database, which this program cannot open.\n\n"
              "To bring over the cards of the older software, choose \"Import previous software "
              "files (*.bst)\"; otherwise choose a database made by this program."),
            {path});
    if (!header.startsWith(QByteArray("SQLite format 3\0", 16)))
        return FormatText(_("%s is not a database of this program."), {path});

    sqlite3* handle = nullptr;
    const QByteArray uri = QUrl::fromLocalFile(path).toEncoded() + "?mode=ro";
    QString error;
    if (sqlite3_open_v2(uri.constData(), &handle, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI,
                        nullptr) != SQLITE_OK)
        error = QString::fromUtf8(sqlite3_errmsg(handle));
    QStringList missing;
    for (const TSiteTable& table : SiteTables) {
        if (!error.isEmpty())
            break;
        if (table.AddedLater)
            continue;
        const QSet<QString> columns = ColumnsOf(handle, table.Name, &error);
        if (!error.isEmpty())
            break;
        if (columns.isEmpty()) {
            missing << QString::fromLatin1(table.Name);
            continue;
        }
        for (const TSiteColumn& column : table.Columns)
            if (!column.AddedLater && !columns.contains(QString::fromLatin1(column.Name).toLower()))
                missing << QString::fromLatin1(table.Name) + "." + QString::fromLatin1(column.Name);
    }
    sqlite3_close(handle);
    if (!error.isEmpty())
        return FormatText(_("%s cannot be opened as a database: %s"), {path, error});
    if (!missing.isEmpty())
        return FormatText(_("%s is not a database of this program: it lacks %s."),
                          {path, missing.join(", ")});
    return QString();
}

bool DatabaseHoldsNoSite(const QString& path) {
    sqlite3* handle = nullptr;
    const QByteArray uri = QUrl::fromLocalFile(path).toEncoded() + "?mode=ro";
    bool empty = false;
    if (sqlite3_open_v2(uri.constData(), &handle, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI,
                        nullptr) == SQLITE_OK)
        empty = RowCount(handle, "Controllers") == 0 && RowCount(handle, "CardHolders") == 0;
    sqlite3_close(handle);
    return empty;
}

const char* const ServerCatalogueSql =
    "SELECT table_name AS T, column_name AS C, data_type AS Y FROM information_schema.columns "
    "WHERE (table_schema = current_schema())";

TSiteTablesCheck CheckSiteTables(TMyDBConnector& database) {
    const bool server = database.GetDBTypeName() == QLatin1String("postgresql");
    const std::unique_ptr<TMyResultSet> rows = database.Query(
        server ? TMyStatement(QString::fromLatin1(ServerCatalogueSql))
               : TMyStatement(QStringLiteral("SELECT m.name AS T, p.name AS C, p.type AS Y FROM "
                                             "sqlite_master AS m, pragma_table_info(m.name) AS p "
                                             "WHERE (m.type = ?)"),
                              {QStringLiteral("table")}));
    if (!rows) {
        TSiteTablesCheck check;
        check.Error = database.GetLastError();
        return check;
    }
    TSiteCatalogue found;
    for (rows->First(); !rows->Eof(); rows->Next())
        found[rows->Fields(0).AsString().toLower()][rows->Fields(1).AsString().toLower()] =
            rows->Fields(2).AsString();
    return CompareSiteTables(found, server);
}

TSiteTablesCheck CompareSiteTables(const TSiteCatalogue& found, bool server) {
    TSiteTablesCheck check;
    for (const TSiteTable& table : SiteTables) {
        const QString tableName = QString::fromLatin1(table.Name);
        const auto columns = found.constFind(tableName.toLower());
        if (columns == found.constEnd()) {
            (table.AddedLater ? check.Missing : check.Differences)
                << FormatText(_("The table %s is missing."), {tableName});
            continue;
        }
        for (const TSiteColumn& column : table.Columns) {
            const QString columnName = tableName + "." + QString::fromLatin1(column.Name);
            const auto type = columns->constFind(QString::fromLatin1(column.Name).toLower());
            if (type == columns->constEnd())
                (column.AddedLater ? check.Missing : check.Differences)
                    << FormatText(_("The column %s is missing."), {columnName});
            else if (!(server ? ServerTypeFits(column.Kind, *type)
                              : FileTypeFits(column.Kind, *type)))
                check.Differences << FormatText(
                    _("The column %s is of type %s; the program needs %s."),
                    {columnName, *type, NeededType(column.Kind, server)});
        }
    }
    return check;
}

QString SiteTablesRefusal(const QStringList& differences) {
    return FormatText(_("The site's tables differ from what this program uses, so nothing was "
                        "opened:\n\n%s\n\nAsk whoever made the site's database to make its "
                        "tables as the program makes them."),
                      {differences.join("\n")});
}
