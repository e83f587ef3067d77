#pragma once

#include <QString>

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
