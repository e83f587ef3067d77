#pragma once

#include <QString>

// A profile names its site database in its [database] section: `filename=` for a SQLite file, or
// `connection=` for a database on a server, as a libpq connection URI
// (postgresql://host/site?sslmode=verify-full) or keywords (service=site, host=... dbname=...).
//
// Passwords never go into a profile file: a connection text carrying one is refused, and the
// operator is pointed to ~/.pgpass, which libpq reads by itself. Everything else (TLS, Kerberos,
// client certificates) is libpq's to decide.

// Why a connection text cannot name a site's server ("" when it can): empty, not readable as
// libpq reads it, or carrying a password.
QString ServerConnectionProblem(const QString& connection);

// Where a profile's database is, from the two keys of its [database] section.
struct TProfileDatabaseRef {
    enum TKind { None, File, Server };
    TKind Kind = None;
    QString Value;   // the file name or the connection text
    QString Problem; // why it cannot be used, for the operator; "" when it can
};
TProfileDatabaseRef ProfileDatabaseRef(const QString& fileName, const QString& connection);
