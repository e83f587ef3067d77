#include "profiles/serverconnection.h"

#include "shared/translation.h"

#include <libpq-fe.h>

namespace {

// The connection keywords whose value is a secret: the login's password and the one that unlocks
// the client certificate's key.
bool SecretKeyword(const char* keyword) {
    return qstrcmp(keyword, "password") == 0 || qstrcmp(keyword, "sslpassword") == 0;
}

// Whether libpq would take a database name as a connection text of its own.
bool LooksLikeConnectionText(const QString& value) {
    return value.contains(u'=') || value.startsWith(QLatin1String("postgresql://")) ||
           value.startsWith(QLatin1String("postgres://"));
}

// libpq's own reading, URIs (percent-encoding and user:password@ included) and keywords alike, so
// that what is checked here is exactly what a connection would use. True when the text reads;
// `secret` tells whether it, or a connection text given as its database name, carries a secret.
bool ReadConnectionText(const QString& connection, bool& secret, QString& error, int depth = 0) {
    char* failure = nullptr;
    PQconninfoOption* options = PQconninfoParse(connection.toUtf8().constData(), &failure);
    if (!options) {
        error = failure ? QString::fromUtf8(failure).trimmed() : QString();
        PQfreemem(failure);
        return false;
    }
    for (const PQconninfoOption* option = options; option->keyword; ++option) {
        if (!option->val || !*option->val)
            continue;
        if (SecretKeyword(option->keyword))
            secret = true;
        // A database name that is a connection text in its turn is read as one too: whatever
        // it carries is written into the profile all the same. One that does not read is a
        // plain (odd) name.
        const QString value = QString::fromUtf8(option->val);
        QString nestedError;
        if (qstrcmp(option->keyword, "dbname") == 0 && depth < 2 && LooksLikeConnectionText(value))
            ReadConnectionText(value, secret, nestedError, depth + 1);
    }
    PQconninfoFree(options);
    return true;
}

} // namespace

QString ServerConnectionProblem(const QString& connection) {
    if (connection.trimmed().isEmpty())
        return _("No database server is named.");
    bool secret = false;
    QString reason;
    if (!ReadConnectionText(connection, secret, reason))
        return FormatText(_("The connection text cannot be read: %s"), {reason});
    if (secret)
        return _("The connection text holds a password. A password is never written to a "
                 "profile: put it into the file ~/.pgpass (readable by you alone), where the "
                 "connection finds it, and leave it out here.");
    return QString();
}

TProfileDatabaseRef ProfileDatabaseRef(const QString& fileName, const QString& connection) {
    TProfileDatabaseRef ref;
    const bool file = !fileName.trimmed().isEmpty();
    const bool server = !connection.trimmed().isEmpty();
    if (file && server) {
        ref.Problem = _("The profile names both a database file and a database server; it may "
                        "name only one.");
        return ref;
    }
    if (server) {
        ref.Kind = TProfileDatabaseRef::Server;
        ref.Value = connection.trimmed();
        ref.Problem = ServerConnectionProblem(ref.Value);
    } else if (file) {
        ref.Kind = TProfileDatabaseRef::File;
        ref.Value = fileName;
    } else {
        ref.Problem = _("The profile names no database.");
    }
    return ref;
}
