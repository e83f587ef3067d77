#include "db/databasecheck.h"

#include "db/sitetables.h"
#include "shared/translation.h"

#include <QFile>
#include <QSet>
#include <QStringList>
#include <QUrl>

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
        const QSet<QString> columns = ColumnsOf(handle, table.Name, &error);
        if (!error.isEmpty())
            break;
        if (columns.isEmpty()) {
            missing << QString::fromLatin1(table.Name);
            continue;
        }
        for (const QString& column : table.Columns)
            if (!columns.contains(column.toLower()))
                missing << QString::fromLatin1(table.Name) + "." + column;
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
