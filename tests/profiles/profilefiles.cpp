#include "profilefiles.h"

#include "shared/datadir.h"

#include <QDir>
#include <QFile>

#include <sqlite3.h>

QString MakeDatabase(const QString& path, const QStringList& statements) {
    QFile::remove(path);
    if (!QFile::copy(ProgramDirectory() + "/default.accdb", path))
        return "copy failed";
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    sqlite3* handle = nullptr;
    QString error;
    if (sqlite3_open(QFile::encodeName(path).constData(), &handle) != SQLITE_OK)
        error = QString::fromUtf8(sqlite3_errmsg(handle));
    for (const QString& statement : statements) {
        if (!error.isEmpty())
            break;
        if (sqlite3_exec(handle, statement.toUtf8().constData(), nullptr, nullptr, nullptr) !=
            SQLITE_OK)
            error = statement + ": " + QString::fromUtf8(sqlite3_errmsg(handle));
    }
    sqlite3_close(handle);
    return error;
}

QStringList DatabaseColumn(const QString& path, const QString& sql) {
    QStringList values;
    sqlite3* handle = nullptr;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &handle, SQLITE_OPEN_READONLY,
                        nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(handle, sql.toUtf8().constData(), -1, &statement, nullptr) ==
            SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW)
            values << QString::fromUtf8(
                reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
    } else {
        values << "error: " + QString::fromUtf8(sqlite3_errmsg(handle));
    }
    sqlite3_finalize(statement);
    sqlite3_close(handle);
    return values;
}

QStringList DataFolderFiles() {
    QStringList files;
    for (const QString& folder : {QStringLiteral("data"), QStringLiteral("profiles")})
        for (const QString& name :
             QDir(DataDirectory() + "/" + folder)
                 .entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name))
            files << folder + "/" + name;
    return files;
}
