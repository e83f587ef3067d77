#include "profiles/profileremoval.h"

#include "profiles/VYRStandProfile.h"
#include "profiles/sitemove.h"

#include <QFile>
#include <QFileInfo>

bool SameFile(const QString& a, const QString& b) {
    if (a.isEmpty() || b.isEmpty())
        return false;
    const QFileInfo first(a);
    const QFileInfo second(b);
    const QString canonicalA = first.canonicalFilePath();
    const QString canonicalB = second.canonicalFilePath();
    if (!canonicalA.isEmpty() && !canonicalB.isEmpty())
        return canonicalA == canonicalB;
    return first.absoluteFilePath() == second.absoluteFilePath();
}

TProfileFileRemoval RemoveProfileFile(const QString& path) {
    if (QFileInfo::exists(path) && !(QFile::permissions(path) & QFileDevice::WriteOwner))
        return TProfileFileRemoval::ReadOnly;
    if (!QFile::remove(path) && QFileInfo::exists(path))
        return TProfileFileRemoval::Failed;
    // A move's marker goes with its profile: a later profile of the same name is not that move's.
    QFile::remove(SiteMoveMarkerName(path));
    return TProfileFileRemoval::Removed;
}

TDatabaseState
ProfileDatabaseState(const TVYRStandProfile& profile,
                     const std::vector<std::unique_ptr<TVYRStandProfile>>& profiles) {
    const QString database = ResolveDatabasePath(profile.DBFileName);
    if (database.isEmpty() || !QFileInfo(database).isFile())
        return TDatabaseState::Missing;
    for (const auto& other : profiles) {
        if (SameFile(other->ProfileFileName, profile.ProfileFileName))
            continue;
        if (SameFile(ResolveDatabasePath(other->DBFileName), database))
            return TDatabaseState::NamedByAnotherProfile;
    }
    return TDatabaseState::OwnedAlone;
}
