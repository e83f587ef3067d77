#include "profiles/profileconnection.h"

#include "db/MyDBConnector.h"
#include "db/MySQLite.h"
#include "db/databasecheck.h"
#include "profiles/VYRStandProfile.h"
#include "shared/datadir.h"
#include "shared/desktop.h"
#include "shared/publictypes.h"
#include "shared/translation.h"

#include <QDir>
#include <QFileInfo>

QString ConnectProfileDatabase(const TVYRStandProfile& profile, TDesktop& desktop) {
    ReleaseDBConnection();
    QDir::setCurrent(DataDirectory());
    const QString database = ResolveDatabasePath(profile.DBFileName);
    DBConnection = std::make_unique<TMySQLite>();
    DBConnection->ConnectionString = JetConnectionString(database);
    // A missing file is the connector's to explain; one that exists must be ours to write.
    if (QFileInfo::exists(database)) {
        if (!desktop.MakeWritable(database))
            return _("The database file is read-only and changing the attributes failed!") +
                   "\n\n" + _("Make sure the database is writeable!");
        if (const QString problem = DatabaseFileProblem(database); !problem.isEmpty())
            return problem;
    }
    if (!DBConnection->Connect())
        return DBConnection->GetLastError();
    return QString();
}
