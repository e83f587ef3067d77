#pragma once

#include "profiles/legacyimport.h"
#include "profiles/profilecreation.h"
#include "shared/cancellablejob.h"

#include <QObject>
#include <QString>

#include <exception>
#include <functional>
#include <memory>
#include <optional>

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
// chosen) as a job of its own (shared/cancellablejob.h), so that the window thread goes on
// answering while a large import runs. Whatever the creation and the import open (the new
// database's connection included) they open and close on the job's thread. Progress and the
// outcome arrive as signals on the thread that made the job. A job still running when destroyed
// is called off: an import stops at its next progress step and leaves nothing behind; past the
// import the profile is finished.
//
// CallOff answers true while a profile on a server waits for the server's first answers: it then
// ends without writing anything. Once it writes (a file's creation from its start), an import
// stops at its next step, and past the import the profile is finished; Finished tells which.
class TProfileCreationJob : public TCancellableJob {
    Q_OBJECT
public:
    // The creation's FillDatabase is the import when one is given, and must be empty otherwise.
    // The desktop is used on the job's thread (a leftover database that makes way goes to its
    // trash) and must outlive the job.
    TProfileCreationJob(TProfileCreation creation, std::optional<TLegacyImportChoice> import,
                        TDesktop& desktop, QObject* parent = nullptr);

    // What will be made; settled (the leftover choice included) before Start.
    TProfileCreation& Creation() { return FState->Creation; }
    const TProfileCreation& Creation() const { return FState->Creation; }

signals:
    // The import's records: `done` of `total`, told with 0 of 1 when the import begins, come as
    // the job's Progress.
    void Finished(const TProfileCreationOutcome& outcome);

private:
    // The creation's own, used on its thread and read after it ended.
    struct TState {
        TProfileCreation Creation;
        TProfileCreationOutcome Outcome;
    };
    TProfileCreationJob(std::shared_ptr<TState> state, std::optional<TLegacyImportChoice> import,
                        TDesktop& desktop, QObject* parent);

    std::shared_ptr<TState> FState;
};
