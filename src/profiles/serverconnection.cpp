#include "profiles/serverconnection.h"

#include "shared/translation.h"

#include <libpq-fe.h>

QString ServerConnectionProblem(const QString& connection) {
    if (connection.trimmed().isEmpty())
        return _("No database server is named.");
    // libpq's own reading, URIs and keywords alike, so that what is checked here is exactly
    // what a connection would use.
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(connection.toUtf8().constData(), &error);
    if (!options) {
        const QString reason = error ? QString::fromUtf8(error).trimmed() : QString();
        PQfreemem(error);
        return FormatText(_("The connection text cannot be read: %s"), {reason});
    }
    bool password = false;
    for (const PQconninfoOption* option = options; option->keyword; ++option) {
        if (qstrcmp(option->keyword, "password") == 0 && option->val && *option->val)
            password = true;
    }
    PQconninfoFree(options);
    if (password)
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
