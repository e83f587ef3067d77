#include "profiles/profilecreationjob.h"

#include "journal/journal.h"
#include "profiles/legacyrecords.h"
#include "shared/errors.h"
#include "shared/translation.h"

#include <utility>

namespace {

using TImport = std::function<TLegacyImportSummary(const TLegacyImportProgress&)>;

// Runs one import with the job's progress and calling off; a failure becomes the operator's
// message. A call-off unwinds the import (which rolls back) and the creation (which removes what
// it made).
void RunImport(const TCancellableJob::TControl& control, TProfileCreationOutcome& outcome,
               const TImport& import) {
    control.Check();
    control.Progress(0, 1);
    try {
        outcome.Imported = import([&control](qint64 done, qint64 total) {
            control.Check();
            control.Progress(done, total);
        });
    } catch (const std::exception& error) {
        // The profile creation removes the new database; the operator learns why.
        throw VyrError(FormatText(_("The files of the older software could not be imported: "
                                    "%s\n\nNo profile was created."),
                                  {ErrorText(error)}));
    }
}

TLegacyImportSummary ImportIntoServer(const TLegacyImportChoice& import, TMyDBConnector& database,
                                      const TLegacyImportProgress& progress) {
    const std::unique_ptr<TLegacyRecordReader> controllers =
        TLegacyRecordReader::OpenFile(import.AutonoomPath, ControllerRecordSize);
    return ImportLegacyRecords(
        database, *controllers,
        [&] {
            return TLegacyRecordReader::OpenFile(LegacyCardFilePath(import.AutonoomPath),
                                                 CardRecordSize);
        },
        CurrentJournalAuthor(), progress);
}

} // namespace

TProfileCreationJob::TProfileCreationJob(TProfileCreation creation,
                                         std::optional<TLegacyImportChoice> import,
                                         TDesktop& desktop, QObject* parent)
    : TProfileCreationJob(std::make_shared<TState>(TState{std::move(creation), {}}),
                          std::move(import), desktop, parent) {}

TProfileCreationJob::TProfileCreationJob(std::shared_ptr<TState> state,
                                         std::optional<TLegacyImportChoice> import,
                                         TDesktop& desktop, QObject* parent)
    : TCancellableJob(
          "profile creation",
          [state, &desktop](const TControl&) {
              try {
                  state->Outcome.Notice = CreateProfile(state->Creation, desktop).Notice;
              } catch (const TCalledOff&) {
                  // Nobody may wait for this outcome any more; whoever does learns that nothing
                  // was made.
                  state->Outcome.Imported.reset();
                  state->Outcome.Failure = std::make_exception_ptr(
                      VyrError(_("The profile was not made: its making was called off.")));
              } catch (...) {
                  state->Outcome.Imported.reset();
                  state->Outcome.Failure = std::current_exception();
              }
          },
          // A file's creation writes from its start; one on a server once the server answered.
          state->Creation.ServerConnection.trimmed().isEmpty(), parent),
      FState(std::move(state)) {
    // The creation's steps run on the job's thread and hold only what outlives it there: the
    // state (theirs) and the job's control.
    TState* const own = FState.get();
    const TControl* const control = &Control();
    TProfileCreation& made = own->Creation;
    if (import && !made.ServerConnection.trimmed().isEmpty())
        made.FillServerDatabase = [own, control, import = *import](TMyDBConnector& database) {
            RunImport(*control, own->Outcome, [&](const TLegacyImportProgress& progress) {
                return ImportIntoServer(import, database, progress);
            });
        };
    else if (import && import->Importer)
        made.FillDatabase = [own, control, import = std::move(*import)](const QString& database) {
            RunImport(*control, own->Outcome, [&](const TLegacyImportProgress& progress) {
                return import.Importer(import.AutonoomPath, database, progress);
            });
        };
    made.BeforeWriting = [control] { control->BeginWriting(); };
    connect(this, &TCancellableJob::Ended, this, [this] { emit Finished(FState->Outcome); });
}
