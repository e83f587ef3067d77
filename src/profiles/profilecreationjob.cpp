#include "profiles/profilecreationjob.h"

#include "journal/journal.h"
#include "profiles/legacyrecords.h"
#include "shared/errors.h"
#include "shared/translation.h"

#include <QThread>

#include <utility>

namespace {

// Raised on the job's thread when the job is called off; it unwinds the import (which rolls back)
// and the creation (which removes what it made), and is never reported.
struct TCalledOff {};

} // namespace

TProfileCreationJob::TProfileCreationJob(TProfileCreation creation,
                                         std::optional<TLegacyImportChoice> import,
                                         TDesktop& desktop, QObject* parent)
    : QObject(parent), FCreation(std::move(creation)), FDesktop(desktop) {
    if (import && !FCreation.ServerConnection.trimmed().isEmpty())
        FCreation.FillServerDatabase = [this, import = *import](TMyDBConnector& database) {
            ImportIntoServer(import, database);
        };
    else if (import && import->Importer)
        FCreation.FillDatabase = [this, import = std::move(*import)](const QString& database) {
            Import(import, database);
        };
    FWriting = FCreation.ServerConnection.trimmed().isEmpty();
    // Told before the question, so that a call-off either stops the creation here or learns that
    // it writes already (CallOff asks in the opposite order).
    FCreation.BeforeWriting = [this] {
        FWriting = true;
        if (FCalledOff)
            throw TCalledOff{};
    };
}

bool TProfileCreationJob::CallOff() {
    FCalledOff = true;
    return !FWriting;
}

void TProfileCreationJob::DeleteWhenFinished() {
    setParent(nullptr);
    if (!FThread || FEnded) {
        deleteLater();
        return;
    }
    disconnect(this, &TProfileCreationJob::Finished, nullptr, nullptr);
    connect(this, &TProfileCreationJob::Finished, this, &QObject::deleteLater);
}

TProfileCreationJob::~TProfileCreationJob() {
    if (!FThread)
        return;
    FCalledOff = true;
    FThread->wait();
}

void TProfileCreationJob::Start() {
    if (FThread)
        return;
    FThread.reset(QThread::create([this] { Run(); }));
    FThread->setObjectName("profile creation");
    // Told once the thread is over, so that whoever ends the job then never waits for it.
    connect(FThread.get(), &QThread::finished, this, [this] {
        FEnded = true;
        emit Finished(FOutcome);
    });
    FThread->start();
}

void TProfileCreationJob::Run() {
    try {
        FOutcome.Notice = CreateProfile(FCreation, FDesktop).Notice;
    } catch (const TCalledOff&) {
        // Nobody may wait for this outcome any more; whoever does learns that nothing was made.
        FOutcome.Imported.reset();
        FOutcome.Failure = std::make_exception_ptr(
            VyrError(_("The profile was not made: its making was called off.")));
    } catch (...) {
        FOutcome.Imported.reset();
        FOutcome.Failure = std::current_exception();
    }
}

void TProfileCreationJob::Import(const TLegacyImportChoice& import, const QString& database) {
    RunImport([&](const TLegacyImportProgress& progress) {
        return import.Importer(import.AutonoomPath, database, progress);
    });
}

void TProfileCreationJob::ImportIntoServer(const TLegacyImportChoice& import,
                                           TMyDBConnector& database) {
    RunImport([&](const TLegacyImportProgress& progress) {
        const std::unique_ptr<TLegacyRecordReader> controllers =
            TLegacyRecordReader::OpenFile(import.AutonoomPath, ControllerRecordSize);
        return ImportLegacyRecords(
            database, *controllers,
            [&] {
                return TLegacyRecordReader::OpenFile(LegacyCardFilePath(import.AutonoomPath),
                                                     CardRecordSize);
            },
            CurrentJournalAuthor(), progress);
    });
}

void TProfileCreationJob::RunImport(
    const std::function<TLegacyImportSummary(const TLegacyImportProgress&)>& import) {
    if (FCalledOff)
        throw TCalledOff{};
    emit Progress(0, 1);
    try {
        FOutcome.Imported = import([this](qint64 done, qint64 total) {
            if (FCalledOff)
                throw TCalledOff{};
            emit Progress(done, total);
        });
    } catch (const std::exception& error) {
        // The profile creation removes the new database; the operator learns why.
        throw VyrError(FormatText(_("The files of the older software could not be imported: "
                                    "%s\n\nNo profile was created."),
                                  {ErrorText(error)}));
    }
}
