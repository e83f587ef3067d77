#pragma once

#include "profiles/legacyimport.h"
#include "profiles/profilecreation.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

class QThread;
class TDesktop;

// The import of the older software's files into a new database. It gets the database under its
// temporary name, before the database gets its own name and before any profile file names it,
// and opens its own connection on it. Throwing VyrError abandons the profile: nothing of it is
// left.
using TLegacyImporter =
    std::function<TLegacyImportSummary(const QString& autonoomPath, const QString& databasePath,
                                       const TLegacyImportProgress& progress)>;

// The files of the older software to bring into the new profile's database.
struct TLegacyImportChoice {
    QString AutonoomPath;
    TLegacyImporter Importer;
};

// How a profile creation ended.
struct TProfileCreationOutcome {
    // Why no profile was made, as CreateProfile raised it (rethrown where it is reported); null
    // when the profile was made.
    std::exception_ptr Failure;
    std::optional<TLegacyImportSummary> Imported; // when an import brought files over
    QString Notice; // what the operator is told besides (see TProfilePaths)
};

// On a server the import runs into the new site's open transaction on the job's connection; the
// importer given (for a file) is not used there.
//
// Makes one profile (CreateProfile, with the import of the older software's files when one is
// chosen) on a thread of its own, so that the window thread goes on answering while a large import
// runs. Whatever the creation and the import open (the new database's connection included) they
// open and close on that thread. Progress and the outcome arrive as signals on the thread that
// made the job.
class TProfileCreationJob : public QObject {
    Q_OBJECT
public:
    // The creation's FillDatabase is the import when one is given, and must be empty otherwise.
    // The desktop is used on the job's thread (a leftover database that makes way goes to its
    // trash) and must outlive the job.
    TProfileCreationJob(TProfileCreation creation, std::optional<TLegacyImportChoice> import,
                        TDesktop& desktop, QObject* parent = nullptr);
    // A job still running is called off: an import stops at its next progress step and leaves
    // nothing behind; past the import the profile is finished. Returns once the thread ended.
    ~TProfileCreationJob() override;
    TProfileCreationJob(const TProfileCreationJob&) = delete;
    TProfileCreationJob& operator=(const TProfileCreationJob&) = delete;

    // What will be made; settled (the leftover choice included) before Start.
    TProfileCreation& Creation() { return FCreation; }
    const TProfileCreation& Creation() const { return FCreation; }

    // Starts the work once; Finished follows after the thread has ended.
    void Start();
    // Calls the creation off. True while a profile on a server waits for the server's first
    // answers: it then ends without writing anything, and nobody need wait for it
    // (DeleteWhenFinished). False once it writes: an import stops at its next step, and past the
    // import the profile is finished; Finished tells which.
    bool CallOff();
    // Nobody waits for this job any more: it deletes itself once its thread ended.
    void DeleteWhenFinished();

signals:
    // The import's records: `done` of `total`. Told with 0 of 1 when the import begins.
    void Progress(qint64 done, qint64 total);
    void Finished(const TProfileCreationOutcome& outcome);

private:
    void Run();
    void Import(const TLegacyImportChoice& import, const QString& database);
    void ImportIntoServer(const TLegacyImportChoice& import, TMyDBConnector& database);
    // Runs one import with the job's progress and calling off; a failure becomes the operator's
    // message.
    void RunImport(const std::function<TLegacyImportSummary(const TLegacyImportProgress&)>& import);

    TProfileCreation FCreation;
    TDesktop& FDesktop;
    std::unique_ptr<QThread> FThread;
    std::atomic<bool> FCalledOff = false;
    // Set before a server creation writes anything; a file's creation writes from its start.
    std::atomic<bool> FWriting = false;
    bool FEnded = false;
    // Written on the job's thread, read after it ended.
    TProfileCreationOutcome FOutcome;
};
