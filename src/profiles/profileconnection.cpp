#include "profiles/profileconnection.h"

#include "controllers/pendingchanges.h"
#include "db/MyDBConnector.h"
#include "db/MyPostgreSQL.h"
#include "db/MySQLite.h"
#include "db/cardindexes.h"
#include "db/databasecheck.h"
#include "journal/journal.h"
#include "profiles/VYRStandProfile.h"
#include "profiles/profilesession.h"
#include "profiles/serverconnection.h"
#include "profiles/sitemove.h"
#include "shared/datadir.h"
#include "shared/desktop.h"
#include "shared/errors.h"
#include "shared/translation.h"

#include <QDir>
#include <QFileInfo>

namespace {

// A missing file is the connector's to explain; one that exists must be ours to write.
QString PrepareFile(const QString& database, TDesktop& desktop) {
    if (!QFileInfo::exists(database))
        return QString();
    if (!desktop.MakeWritable(database))
        return _("The database file is read-only and changing the attributes failed!") + "\n\n" +
               _("Make sure the database is writeable!");
    return DatabaseFileProblem(database);
}

// The site's tables checked before anything reads them: a table of another make would show as
// empty lists, not as a fault. What later versions added is added, as far as the role may; "" when
// the site can be opened, else the message naming each difference.
QString PrepareSiteTables(TMyDBConnector& database) {
    TSiteTablesCheck check = CheckSiteTables(database);
    if (check.Error.isEmpty() && check.Differences.isEmpty() && !check.Missing.isEmpty()) {
        AddPendingChangesTable(database);
        AddJournalTable(database);
        check = CheckSiteTables(database);
    }
    if (!check.Error.isEmpty())
        return check.Error;
    if (check.Differences.isEmpty() && check.Missing.isEmpty())
        return QString();
    return SiteTablesRefusal(check.Differences + check.Missing);
}

// What later versions of the program added to a site, added where it lacks it: the stamps of the
// marks, the journal and its indexes, one row per card number. Where the role may not change the
// tables nothing changes and the site works as it did; only a connection lost meanwhile stops the
// opening (the reason is returned), since the lists would then show a site they cannot read. A
// warning for the operator (card numbers held twice) is added to `warning`.
QString UpgradeSite(TMyDBConnector& database, QString& warning) {
    const auto lost = [&] {
        return database.ConnectionLost() || !database.IsConnected()
                   ? FormatText(_("The site could not be brought up to date for this version of "
                                  "the program, so nothing was opened:\n\n%s"),
                                {database.GetLastError()})
                   : QString();
    };
    AddPendingChangesTable(database);
    if (QString problem = lost(); !problem.isEmpty())
        return problem;
    AddJournalTable(database);
    if (QString problem = lost(); !problem.isEmpty())
        return problem;
    // The operator cleans the numbers up in the cardholder list, and the next opening adds the
    // indexes.
    const TCardIndexUpgrade upgrade = AddUniqueCardIndexes(database);
    if (QString problem = lost(); !problem.isEmpty())
        return problem;
    if (!upgrade.DuplicateCardNumbers.isEmpty()) {
        const QString duplicates = FormatText(
            TranslatePlural("This card number is in the database more than once: %s. Delete the "
                            "extra cardholders in the cardholder list, then open the profile "
                            "again.",
                            "These card numbers are in the database more than once: %s. Delete "
                            "the extra cardholders in the cardholder list, then open the profile "
                            "again.",
                            upgrade.DuplicateCardNumbers.size()),
            {upgrade.DuplicateCardNumbers.join(", ")});
        warning = warning.isEmpty() ? duplicates : warning + "\n\n" + duplicates;
    }
    return QString();
}

} // namespace

TProfileOpening::TProfileOpening(const TVYRStandProfile& profile, TDesktop& desktop,
                                 TFileSystemTypeProbe probe)
    : FProfile(profile), FProbe(std::move(probe)) {
    QDir::setCurrent(DataDirectory());
    // Settled when connecting: it may need the server.
    FMoveInterrupted = QFileInfo::exists(SiteMoveMarkerName(profile.ProfileFileName));
    const TProfileDatabaseRef ref =
        ProfileDatabaseRef(profile.DBFileName, profile.ServerConnection);
    if (!ref.Problem.isEmpty()) {
        FProblem = ref.Problem;
        return;
    }
    if (ref.Kind == TProfileDatabaseRef::Server) {
        FConnector = std::make_unique<TMyPostgreSQL>();
        FConnector->ConnectionString = ref.Value;
        return;
    }
    FFile = ResolveDatabasePath(ref.Value);
    FConnector = std::make_unique<TMySQLite>();
    FConnector->ConnectionString = JetConnectionString(FFile);
    FProblem = PrepareFile(FFile, desktop);
}

TProfileOpening::~TProfileOpening() = default;

TSessionOpening TProfileOpening::Connect() {
    TSessionOpening opening;
    if (FMoveInterrupted) {
        try {
            const TVYRStandProfile settled = SettleInterruptedMove(FProfile);
            if (settled.ServerConnection != FProfile.ServerConnection) {
                // The move is finished: the site is on the server now. The file's connector was
                // made on the window thread and is destroyed there, with the opening.
                FProfile = settled;
                FSetAside = std::move(FConnector);
                FConnector = std::make_unique<TMyPostgreSQL>();
                FConnector->ConnectionString = settled.ServerConnection.trimmed();
                FFile.clear();
                FProblem.clear();
            }
        } catch (const VyrError& error) {
            opening.Problem = error.Message();
            return opening;
        }
    }
    opening.Problem = FProblem;
    if (!FConnector || !opening.Problem.isEmpty())
        return opening;
    if (!FConnector->Connect()) {
        opening.Problem = FConnector->GetLastError();
        return opening;
    }
    if (const QString problem = PrepareSiteTables(*FConnector); !problem.isEmpty()) {
        opening.Problem = problem;
        FConnector->Disconnect();
        return opening;
    }
    if (!FFile.isEmpty())
        opening.Warning = NetworkFileSystemWarning(FFile, SQLiteLocksVerdict(FFile, FProbe));
    else if (const auto* server = dynamic_cast<const TMyPostgreSQL*>(FConnector.get()))
        opening.Warning = server->JournalWarning();
    if (const QString problem = UpgradeSite(*FConnector, opening.Warning); !problem.isEmpty()) {
        opening.Problem = problem;
        opening.Warning.clear();
        FConnector->Disconnect();
        return opening;
    }
    opening.Session = std::make_unique<TProfileSession>(FProfile, std::move(FConnector));
    return opening;
}

TSessionOpening OpenProfileSession(const TVYRStandProfile& profile, TDesktop& desktop,
                                   TFileSystemTypeProbe probe) {
    return TProfileOpening(profile, desktop, std::move(probe)).Connect();
}

TProfileOpeningJob::TProfileOpeningJob(std::unique_ptr<TProfileOpening> opening, QObject* parent)
    : TProfileOpeningJob(std::make_shared<TState>(TState{std::move(opening), {}}), parent) {}

TProfileOpeningJob::TProfileOpeningJob(std::shared_ptr<TState> state, QObject* parent)
    : TCancellableJob(
          "profile opening",
          [state](const TControl&) { state->Outcome = state->Opening->Connect(); }, true, parent),
      FState(std::move(state)), FProfileFileName(FState->Opening->Profile().ProfileFileName) {
    // Told once the thread is over: from then on the connector is the receiver's alone.
    connect(this, &TCancellableJob::Ended, this, [this] { emit Finished(); });
}
