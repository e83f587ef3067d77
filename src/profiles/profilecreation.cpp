#include "profiles/profilecreation.h"

#include "db/MyPostgreSQL.h"
#include "db/databasecheck.h"
#include "profiles/VYRStandProfile.h"
#include "profiles/serverconnection.h"
#include "shared/datadir.h"
#include "shared/desktop.h"
#include "shared/errors.h"
#include "shared/ini.h"
#include "shared/safefile.h"
#include "shared/translation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <optional>

namespace {

bool SamePath(const QString& a, const QString& b) {
    return QDir::cleanPath(QFileInfo(a).absoluteFilePath()) ==
           QDir::cleanPath(QFileInfo(b).absoluteFilePath());
}

// Whether any profile file in the folder names this database. Files that cannot be read are
// treated as naming it: when in doubt, a database is somebody's.
bool SomeProfileNames(const QString& database) {
    const QString folder = DataDirectory() + "/profiles";
    const QStringList entries =
        QDir(folder).entryList({"*.ini"}, QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString& entry : entries) {
        TVYRStandProfile profile(folder + "/" + entry);
        try {
            if (profile.LoadINI() && SamePath(ResolveDatabasePath(profile.DBFileName), database))
                return true;
        } catch (const VyrError&) {
            return true;
        }
    }
    return false;
}

// Temporary databases of this stem left by a Finish that was killed. Only called while holding
// the stem's lock, so none of them belongs to a creation still running.
void RemoveAbandonedTemporaries(const QString& database) {
    const QFileInfo info(database);
    const QStringList leftovers =
        QDir(info.absolutePath())
            .entryList({"." + info.fileName() + ".*.new", "." + info.fileName() + ".*.new-journal"},
                       QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : leftovers)
        QFile::remove(info.absolutePath() + "/" + name);
}

QString TemporaryNameFor(const QString& database) {
    const QFileInfo info(database);
    return info.absolutePath() + "/." + info.fileName() + "." +
           QString::number(QRandomGenerator::global()->generate64(), 36) + ".new";
}

// The database that stood under the new profile's database name until this creation put its own
// there. It is kept until the profile file is written, so that a failure puts it back.
class TDisplacedDatabase {
public:
    // Moves `database` away from its name: to the trash, from where the operator can restore it,
    // or, when it holds nothing worth restoring, to a hidden temporary beside it (which the next
    // creation clears should this run be killed). Throws VyrError when it cannot be moved.
    TDisplacedDatabase(const QString& database, TDesktop* trash)
        : FDatabase(database), FTrash(trash) {
        if (trash) {
            if (!trash->MoveToTrash(database, &FMovedTo))
                throw VyrError(
                    FormatText(_("The database could not be created: %s"),
                               {FormatText(_("%s could not be moved to the trash."), {database})}));
            return;
        }
        FMovedTo = TemporaryNameFor(database);
        if (!RenameWithoutReplacing(database, FMovedTo))
            throw VyrError(FormatText(_("The database could not be created: %s"),
                                      {QString::fromLocal8Bit(std::strerror(errno))}));
    }
    TDisplacedDatabase(const TDisplacedDatabase&) = delete;
    TDisplacedDatabase& operator=(const TDisplacedDatabase&) = delete;

    // Back under its name, which the caller has cleared; from the trash it leaves no entry. When
    // that fails it stays where it is (in the trash: restorable by the operator).
    void PutBack() const {
        if (FTrash)
            FTrash->PutBackFromTrash(FMovedTo, FDatabase);
        else
            RenameWithoutReplacing(FMovedTo, FDatabase);
    }
    // The creation succeeded: a hidden temporary goes, a file in the trash stays there.
    void Release() const {
        if (!FTrash)
            QFile::remove(FMovedTo);
    }

private:
    QString FDatabase;
    QString FMovedTo;
    TDesktop* FTrash; // null: displaced to a hidden temporary
};

void WriteProfileFile(const TProfilePaths& paths, const QString& name,
                      const QString& connection = {}) {
    // The file must not exist yet; a profile made meanwhile by another copy is never replaced.
    if (QFileInfo::exists(paths.ProfileFile) || QFileInfo(paths.ProfileFile).isSymLink())
        throw VyrError(FormatText(_("A profile file of this name already exists: %s\n\n"
                                    "Please choose another name."),
                                  {paths.ProfileFile}));
    TVYRStandProfile profile(paths.ProfileFile);
    profile.ProfileName = name;
    profile.DBFileName = connection.isEmpty() ? paths.StoredDatabaseName : QString();
    profile.ServerConnection = connection;
    profile.SaveToINI(paths.ProfileFile);
}

QString ServerDatabaseRefused(const QString& reason) {
    return FormatText(_("The database on the server cannot be used: %s"), {reason});
}

// The commit that made the site lost its answer, so the server may have kept the site or not: it
// is asked anew, on a connection of its own. The database was empty before, so a site in it now
// is this one, whole: its tables and everything imported committed together. Returns what the
// operator is told once the profile is made; throws when no profile may be made.
QString SettleLostCommit(const QString& connection) {
    const TServerDatabaseInfo info = InspectServerDatabase(connection);
    if (!info.Ok)
        throw VyrError(FormatText(
            _("The connection to the server broke just as the new site was being saved, and "
              "whether the server kept it is not known: %s\n\nNo profile was made. Once the "
              "server answers, make the profile again with the same database: a site found there "
              "is taken as it is."),
            {info.Error}));
    if (info.Kind != TServerDatabaseKind::Site)
        throw VyrError(_("The connection to the server broke just as the new site was being "
                         "saved. Asked again, the server holds no site: nothing was saved and no "
                         "profile was made."));
    return _("The connection to the server broke just as the new site was being saved, so for a "
             "moment it was not known whether the server kept it. Asked again, the server holds "
             "the whole site: the profile was made.");
}

TProfilePaths CreateServerProfile(const TProfileCreation& creation, TProfilePaths paths) {
    const QString connection = creation.ServerConnection.trimmed();
    if (const QString problem = ServerConnectionProblem(connection); !problem.isEmpty())
        throw VyrError(problem);
    const TServerDatabaseInfo info = InspectServerDatabase(connection);
    if (!info.Ok)
        throw VyrError(ServerDatabaseRefused(info.Error));
    // Its opening would refuse it: no profile is made for it.
    if (!info.Differences.isEmpty())
        throw VyrError(ServerDatabaseRefused(
            FormatText(_("its tables differ from what this program uses:\n\n%s\n\nAsk whoever "
                         "made the site's database to make its tables as the program makes "
                         "them."),
                       {info.Differences.join("\n")})));
    switch (info.Kind) {
    case TServerDatabaseKind::Other:
        throw VyrError(ServerDatabaseRefused(
            FormatText(_("it holds tables of something else (%s). Choose an empty database or a "
                         "site database."),
                       {info.Tables.join(", ")})));
    case TServerDatabaseKind::Site:
        // Rows are never mixed into a site that holds its own already.
        if (creation.FillServerDatabase)
            throw VyrError(ServerDatabaseRefused(
                _("it already holds a site. The files of the older software are imported only "
                  "into an empty database.")));
        if (creation.BeforeWriting)
            creation.BeforeWriting();
        WriteProfileFile(paths, creation.ProfileName, connection);
        return paths;
    case TServerDatabaseKind::Empty:
        break;
    }
    TMyPostgreSQL database;
    database.ConnectionString = connection;
    if (!database.ConnectEmptyInTransaction())
        throw VyrError(ServerDatabaseRefused(database.GetLastError()));
    try {
        if (creation.BeforeWriting)
            creation.BeforeWriting();
        if (creation.FillServerDatabase)
            creation.FillServerDatabase(database);
    } catch (...) {
        database.RollbackTransaction();
        throw;
    }
    // The commit first, the profile file last: a profile never names a database that is not a
    // site yet, which its opening would refuse. A crash in between leaves a site that no profile
    // names, which the wizard finds and uses.
    if (!database.CommitTransaction()) {
        if (!CommitOutcomeUnknown(database))
            throw VyrError(ServerDatabaseRefused(database.GetLastError()));
        database.Disconnect();
        paths.Notice = SettleLostCommit(connection);
    }
    try {
        WriteProfileFile(paths, creation.ProfileName, connection);
    } catch (const VyrError& error) {
        throw VyrError(FormatText(_("The site was made on the server, but the profile file could "
                                    "not be written: %s\n\nChoose the same database in the "
                                    "wizard again to make a profile for it."),
                                  {error.Message()}));
    }
    return paths;
}

} // namespace

TProfilePaths NewProfilePaths(const QString& name) {
    const QString stem = ProfileFileStem(name);
    return {DataDirectory() + "/profiles/" + stem + ".ini",
            DataDirectory() + "/data/" + stem + ".accdb", "data/" + stem + ".accdb"};
}

QString ProfileNameProblem(const QString& name) {
    // The loader skips a profile file without a name, and INI values lose their outer blanks:
    // a blank name would make a profile that vanishes while its files stay behind.
    if (name.trimmed().isEmpty())
        return _("Please enter a name for the profile.");
    if (name.contains('\n') || name.contains('\r'))
        return _("A profile name is one line: please remove the line break from the name.");
    return QString();
}

TNameClash NameClash(const QString& name) {
    const TProfilePaths paths = NewProfilePaths(name);
    if (QFileInfo::exists(paths.ProfileFile) || QFileInfo(paths.ProfileFile).isSymLink())
        return TNameClash::ProfileExists;
    if (!QFileInfo::exists(paths.DatabaseFile) && !QFileInfo(paths.DatabaseFile).isSymLink())
        return TNameClash::None;
    return SomeProfileNames(paths.DatabaseFile) ? TNameClash::DatabaseInUse
                                                : TNameClash::LeftoverDatabase;
}

bool LeftoverTakesTheSource(const QString& leftoverDatabase, const TProfileCreation& creation) {
    return (creation.FillDatabase || creation.SourceChosen) &&
           DatabaseHoldsNoSite(leftoverDatabase);
}

TProfilePaths CreateProfile(const TProfileCreation& creation, TDesktop& desktop) {
    if (const QString problem = ProfileNameProblem(creation.ProfileName); !problem.isEmpty())
        throw VyrError(problem);
    const TProfilePaths paths = NewProfilePaths(creation.ProfileName);
    CreateDataFolders();
    // Two wizards making the same name wait for each other here.
    const TFileLock lock(paths.DatabaseFile);
    if (!creation.ServerConnection.trimmed().isEmpty()) {
        // The profile file is the only file: only its name can clash.
        if (QFileInfo::exists(paths.ProfileFile) || QFileInfo(paths.ProfileFile).isSymLink())
            throw VyrError(FormatText(_("A profile file of this name already exists: %s\n\n"
                                        "Please choose another name."),
                                      {paths.ProfileFile}));
        return CreateServerProfile(creation, paths);
    }
    RemoveAbandonedTemporaries(paths.DatabaseFile);

    const TNameClash clash = NameClash(creation.ProfileName);
    if (clash == TNameClash::ProfileExists)
        throw VyrError(FormatText(_("A profile file of this name already exists: %s\n\n"
                                    "Please choose another name."),
                                  {paths.ProfileFile}));
    if (clash == TNameClash::DatabaseInUse ||
        (clash == TNameClash::LeftoverDatabase && creation.Leftover == TLeftoverDatabase::Refuse))
        throw VyrError(FormatText(_("A database file of this name already exists: %s\n\n"
                                    "Please choose another name."),
                                  {paths.DatabaseFile}));

    // The database copied under a temporary name, to be filled and then given the final name.
    QString source = creation.SourceDatabase;
    if (clash == TNameClash::LeftoverDatabase && creation.Leftover == TLeftoverDatabase::Use) {
        QString problem = ProfileDatabaseProblem(paths.DatabaseFile);
        if (problem.isEmpty())
            problem = DatabaseFileProblem(paths.DatabaseFile);
        if (!problem.isEmpty())
            throw VyrError(problem);
        if (!LeftoverTakesTheSource(paths.DatabaseFile, creation)) {
            WriteProfileFile(paths, creation.ProfileName);
            return paths;
        }
        // An import runs into the leftover itself; a chosen database takes its place.
        if (!creation.SourceChosen)
            source = paths.DatabaseFile;
    }

    if (const QString problem = ProfileDatabaseProblem(source); !problem.isEmpty())
        throw VyrError(FormatText(_("The database could not be created: %s"), {problem}));

    const QString temporary = TemporaryNameFor(paths.DatabaseFile);
    QString copyError;
    if (!CopyFileDurably(source, temporary, &copyError))
        throw VyrError(FormatText(_("The database could not be created: %s"), {copyError}));
    std::optional<TDisplacedDatabase> displaced;
    try {
        if (creation.FillDatabase)
            creation.FillDatabase(temporary);
        if (clash == TNameClash::LeftoverDatabase && QFileInfo::exists(paths.DatabaseFile))
            displaced.emplace(paths.DatabaseFile,
                              creation.Leftover == TLeftoverDatabase::Replace ? &desktop : nullptr);
        if (!RenameWithoutReplacing(temporary, paths.DatabaseFile))
            throw VyrError(FormatText(_("A database file of this name already exists: %s\n\n"
                                        "Please choose another name."),
                                      {paths.DatabaseFile}));
    } catch (...) {
        QFile::remove(temporary);
        if (displaced)
            displaced->PutBack();
        throw;
    }
    try {
        WriteProfileFile(paths, creation.ProfileName);
    } catch (...) {
        QFile::remove(paths.DatabaseFile);
        SyncFolderOf(paths.DatabaseFile);
        if (displaced)
            displaced->PutBack();
        throw;
    }
    if (displaced)
        displaced->Release();
    return paths;
}
