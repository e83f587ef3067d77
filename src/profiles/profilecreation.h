#pragma once

#include <QString>

#include <functional>

class TDesktop;
class TMyDBConnector;

// Making a new profile: its database in the data folder and the profile file that names it.
// Either both exist afterwards, complete, or neither does: a crash or an error at any moment
// leaves no profile file that names a missing or half-made database.

// Where a profile of this name lives.
struct TProfilePaths {
    QString ProfileFile;        // full path of the profile file
    QString DatabaseFile;       // full path of its database
    QString StoredDatabaseName; // as written into the profile file, relative to the data directory
    // What the operator must be told besides, once the profile is made: how a commit whose answer
    // was lost turned out. Usually empty.
    QString Notice = {};
};
TProfilePaths NewProfilePaths(const QString& name);

// Why a text cannot be a profile name (blank, or with a line break), or an empty text.
QString ProfileNameProblem(const QString& name);

// What stands in the way of a new profile of this name.
enum class TNameClash {
    None,
    ProfileExists,    // a profile file of this stem: never replaced
    DatabaseInUse,    // a database of this stem that a profile names: never replaced
    LeftoverDatabase, // a database of this stem that no profile names (an earlier crash)
};
TNameClash NameClash(const QString& name);

// What to do with a leftover database of the new profile's name.
enum class TLeftoverDatabase {
    Refuse,
    // The leftover becomes the profile's database. One that holds no site (DatabaseHoldsNoSite)
    // takes what the creation brings: FillDatabase runs on a copy of it, or the chosen source
    // database takes its place. One that holds a site is used as it is, and what the creation
    // brings is not used: the operator must be told so before choosing this.
    Use,
    // The leftover goes to the trash and a new database takes its name.
    Replace,
};

struct TProfileCreation {
    QString ProfileName;
    // The database copied for the new profile: the template or one the operator chose. Checked
    // before anything is written.
    QString SourceDatabase;
    // Runs against the new database while it still has its temporary name, before it gets its
    // own name and before any profile file names it. Whatever it opens it opens itself, on the
    // path it is given. Throwing VyrError abandons the creation: nothing made stays behind.
    std::function<void(const QString& temporaryDatabase)> FillDatabase;
    TLeftoverDatabase Leftover = TLeftoverDatabase::Refuse;
    // SourceDatabase is one the operator chose (not the empty template): an empty leftover that
    // is used makes way for it.
    bool SourceChosen = false;

    // The profile names a database on a server instead of a file (SourceDatabase, FillDatabase
    // and Leftover are then not used). An empty database gets the site's schema, and what
    // FillServerDatabase adds, in one transaction; a site database is taken as it is (and is
    // refused when there is something to add to it); a database holding other tables is refused.
    QString ServerConnection = {};
    // Runs inside that transaction; throwing VyrError rolls it back and abandons the creation.
    std::function<void(TMyDBConnector& database)> FillServerDatabase = {};
    // For a server: runs once the server answered, before anything is written (into the database
    // or to the profile file). Throwing there abandons the creation with nothing left behind.
    std::function<void()> BeforeWriting = {};
};

// Whether a creation with this source, told to use the leftover database, would bring something
// into it rather than just use it (the leftover holds no site, and there is an import to run or
// a chosen database to copy).
bool LeftoverTakesTheSource(const QString& leftoverDatabase, const TProfileCreation& creation);

// Makes the profile. Throws VyrError with the reason; nothing this call made is then left, and a
// leftover database that made way is back under its name. A replaced leftover database goes to
// the trash (the desktop's), not away. No lock file stays behind.
TProfilePaths CreateProfile(const TProfileCreation& creation, TDesktop& desktop);
