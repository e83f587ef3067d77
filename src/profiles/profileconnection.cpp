#include "profiles/profileconnection.h"

#include "db/MyDBConnector.h"
#include "db/MySQLite.h"
#include "db/databasecheck.h"
#include "profiles/VYRStandProfile.h"
#include "profiles/profilesession.h"
#include "shared/datadir.h"
#include "shared/desktop.h"
#include "shared/translation.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString ConnectDatabase(TMyDBConnector& connector, const QString& database, TDesktop& desktop) {
    // A missing file is the connector's to explain; one that exists must be ours to write.
    if (QFileInfo::exists(database)) {
        if (!desktop.MakeWritable(database))
            return _("The database file is read-only and changing the attributes failed!") +
                   "\n\n" + _("Make sure the database is writeable!");
        if (const QString problem = DatabaseFileProblem(database); !problem.isEmpty())
            return problem;
    }
    if (!connector.Connect())
        return connector.GetLastError();
    return QString();
}

} // namespace

TSessionOpening OpenProfileSession(const TVYRStandProfile& profile, TDesktop& desktop) {
    QDir::setCurrent(DataDirectory());
    const QString database = ResolveDatabasePath(profile.DBFileName);
    auto connector = std::make_unique<TMySQLite>();
    connector->ConnectionString = JetConnectionString(database);
    TSessionOpening opening;
    opening.Problem = ConnectDatabase(*connector, database, desktop);
    if (opening.Problem.isEmpty())
        opening.Session = std::make_unique<TProfileSession>(profile, std::move(connector));
    return opening;
}
