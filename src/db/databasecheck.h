#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

class TMyDBConnector;

// Checks made before a database file becomes a profile's database, each giving the reason to
// show the operator, or an empty text when the file is fit.

// The file can be opened for good: a regular file that this user owns and may write. A database
// that opens and then fails on every save ("attempt to write a readonly database") is refused
// here, with the reason, before anything is connected.
QString DatabaseFileProblem(const QString& path);

// The file is a database of this program: SQLite, with the three tables and every column the
// program uses. Opened read-only, so checking never changes the operator's file. A Microsoft
// Access file gets its own explanation: this program cannot open it, and what to do instead.
QString ProfileDatabaseProblem(const QString& path);

// True when the database opens and holds no controllers and no cardholders (deleted ones count):
// nothing of a site would be lost if something else went into its place. Any doubt (a file that
// does not open, a table that cannot be read) is false.
bool DatabaseHoldsNoSite(const QString& path);

// A site's tables as an opening finds them, compared with what the program uses (sitetables.h):
// every table and column, each of its broad type. Each difference is one text for the operator.
struct TSiteTablesCheck {
    // The catalogue could not be read: the engine's reason. Nothing was compared.
    QString Error;
    // What the program cannot make good: a table or column missing, a column of another type.
    QStringList Differences;
    // What the program adds to sites made before it needed them (AddedLater), missing here.
    QStringList Missing;
};

// Reads the connected database's catalogue, on either engine; changes nothing.
TSiteTablesCheck CheckSiteTables(TMyDBConnector& database);

// A catalogue as read: table, then column, both lower case, to the type the engine names.
using TSiteCatalogue = QHash<QString, QHash<QString, QString>>;

// The statement that reads a server's catalogue: table, column and type, in this order. For
// whoever looks at a server database without a connector of its own.
extern const char* const ServerCatalogueSql;

// What CheckSiteTables compares, on a catalogue read already (`server`: PostgreSQL's type names).
TSiteTablesCheck CompareSiteTables(const TSiteCatalogue& found, bool server);

// The operator's message for the differences found.
QString SiteTablesRefusal(const QStringList& differences);
