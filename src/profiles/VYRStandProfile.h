#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// One site: a display name and the database that holds its controllers and cardholders, stored as
// a small INI file in the data directory's "profiles" folder.
class TVYRStandProfile {
public:
    explicit TVYRStandProfile(const QString& FileName);

    QString ProfileName;
    QString ProfileFileName;  // full path of the profile's INI file
    QString DBFileName;       // as stored: absolute, or relative to the data directory
    QString ServerConnection; // a database on a server instead: libpq's connection text

    // False for a file without a name: such a file is not a profile. Throws VyrError for a file
    // that cannot be read safely.
    bool LoadINI();
    // Throws VyrError("Unable to write to %s") when the file cannot be written.
    void SaveToINI(const QString& FileName) const;
};

// The stem that names a profile's files: ASCII letters lower-cased, then only 0-9 and a-z kept.
QString ProfileFileStem(const QString& name);

// A stored database name as a path on this system: Windows separators accepted, relative names
// resolved against the data directory.
QString ResolveDatabasePath(const QString& dbFileName);

// The profiles as the windows that show them hold them: each object stays where it is for as long
// as the list is not loaded again, so a rename made through one reaches every holder.
using TProfileList = std::vector<std::unique_ptr<TVYRStandProfile>>;

// Rebuilds the list from the data directory's profiles folder, sorted by file name. Files that
// cannot be read (not a regular file, too large) are left out; the reasons are returned.
QStringList LoadProfiles(TProfileList& profiles);
