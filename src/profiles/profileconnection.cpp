#include "profiles/profileconnection.h"

#include "db/MyDBConnector.h"
#include "db/MyPostgreSQL.h"
#include "db/MySQLite.h"
#include "db/databasecheck.h"
#include "profiles/VYRStandProfile.h"
#include "profiles/profilesession.h"
#include "profiles/serverconnection.h"
#include "shared/datadir.h"
#include "shared/desktop.h"
#include "shared/translation.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>

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

} // namespace

TProfileOpening::TProfileOpening(const TVYRStandProfile& profile, TDesktop& desktop,
                                 TFileSystemTypeProbe probe)
    : FProfile(profile), FProbe(std::move(probe)) {
    QDir::setCurrent(DataDirectory());
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
    opening.Problem = FProblem;
    if (!FConnector || !opening.Problem.isEmpty())
        return opening;
    if (!FConnector->Connect()) {
        opening.Problem = FConnector->GetLastError();
        return opening;
    }
    if (!FFile.isEmpty())
        opening.Warning = NetworkFileSystemWarning(FFile, SQLiteLocksVerdict(FFile, FProbe));
    else if (const auto* server = dynamic_cast<const TMyPostgreSQL*>(FConnector.get()))
        opening.Warning = server->JournalWarning();
    opening.Session = std::make_unique<TProfileSession>(FProfile, std::move(FConnector));
    return opening;
}

TSessionOpening OpenProfileSession(const TVYRStandProfile& profile, TDesktop& desktop,
                                   TFileSystemTypeProbe probe) {
    return TProfileOpening(profile, desktop, std::move(probe)).Connect();
}

TProfileOpeningJob::TProfileOpeningJob(std::unique_ptr<TProfileOpening> opening, QObject* parent)
    : QObject(parent), FOpening(std::move(opening)),
      FProfileFileName(FOpening->Profile().ProfileFileName) {}

TProfileOpeningJob::~TProfileOpeningJob() {
    if (FThread)
        FThread->wait();
}

void TProfileOpeningJob::Start() {
    if (FThread)
        return;
    FThread.reset(QThread::create([this] { FOutcome = FOpening->Connect(); }));
    FThread->setObjectName("profile opening");
    // Told once the thread is over: from then on the connector is the receiver's alone.
    connect(FThread.get(), &QThread::finished, this, [this] {
        FRunning = false;
        emit Finished();
    });
    FRunning = true;
    FThread->start();
}

void TProfileOpeningJob::DeleteWhenFinished() {
    setParent(nullptr);
    if (!FRunning) {
        deleteLater();
        return;
    }
    connect(this, &TProfileOpeningJob::Finished, this, &QObject::deleteLater);
}
