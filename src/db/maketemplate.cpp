// Builds the template profile database from schema.sql at build time. The schema names our
// collation, which SQLite insists on knowing when the tables are created, so the sqlite3 shell
// cannot do this: we open the file through the same driver and registration as the program.
//
//   vyr-maketemplate <schema.sql> <output file>

#include "db/sqlitetext.h"

#include <QCoreApplication>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#include <sqlite3.h>

#include <cstdio>

namespace {

int Failure(const QString& message) {
    std::fprintf(stderr, "vyr-maketemplate: %s\n", qPrintable(message));
    return 1;
}

int Build(const QString& schemaFile, const QString& outputFile) {
    QFile schema(schemaFile);
    if (!schema.open(QIODevice::ReadOnly))
        return Failure(schemaFile + ": " + schema.errorString());
    const QByteArray schemaText = schema.readAll();

    // Built beside the target and renamed over it, so a failed run leaves no half-made template.
    const QString partFile = outputFile + ".part";
    QFile::remove(partFile);
    QString error;
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "template");
        database.setDatabaseName(partFile);
        if (!database.open())
            return Failure(database.lastError().text());
        const QVariant handle = database.driver()->handle();
        if (qstrcmp(handle.typeName(), "sqlite3*") != 0)
            return Failure(QStringLiteral("the SQLite driver gives no connection handle"));
        sqlite3* connection = *static_cast<sqlite3* const*>(handle.constData());
        if (RegisterTextRules(connection, &error)) {
            char* message = nullptr;
            if (sqlite3_exec(connection, schemaText.constData(), nullptr, nullptr, &message) !=
                SQLITE_OK) {
                error = QString::fromUtf8(message);
                sqlite3_free(message);
            }
        }
        database.close();
    }
    QSqlDatabase::removeDatabase("template");
    if (!error.isEmpty()) {
        QFile::remove(partFile);
        return Failure(schemaFile + ": " + error);
    }
    // The template is copied for every new profile, and profiles hold personal data.
    QFile::setPermissions(partFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QFile::remove(outputFile);
    if (!QFile::rename(partFile, outputFile))
        return Failure(QStringLiteral("cannot write ") + outputFile);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3)
        return Failure(QStringLiteral("usage: vyr-maketemplate <schema.sql> <output file>"));
    return Build(arguments[1], arguments[2]);
}
