#pragma once

#include "profiles/VYRStandProfile.h"
#include "shared/cancellablejob.h"
#include "shared/errors.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

// Moving a profile's site from its local database file to an empty database on a server.
//
// The site's rows are copied as they are (ConID values kept, so zones and pending-change marks
// still point at their controllers, and the marks keep their stamps; the server's identity
// continues past the highest ConID), in one transaction with the schema, and the rows are counted
// on both sides. Then the steps follow that a crash could cut apart, each durable before the next:
// a marker file beside the profile names the server and the move, the server commits, the profile
// file is rewritten to name the server, the local file is renamed beside itself
// (MovedDatabaseName), and the marker goes. A move cut short anywhere is settled at the next
// opening of the profile (SettleInterruptedMove): before the commit it is undone, after it
// finished. A failure before the commit undoes everything: the profile names its local file as
// before, that file keeps its name, and the server's database is as empty as it was.

// The local database's name once its site has moved: "<file>.moved-to-server", beside it.
QString MovedDatabaseName(const QString& databaseFile);

// The marker of a move under way: "<profile file>.moving", beside the profile file. It names the
// server, the local file and the move, and is written in one atomic replacement.
QString SiteMoveMarkerName(const QString& profileFile);

// The steps of a move that a crash can separate, in order.
enum class TSiteMoveStep { Commit, ProfileRewrite, Rename, MarkerRemoval };

// Told of each step just before it is taken, on the mover's thread; a test's fake stops the
// process there.
class TSiteMoveSteps {
public:
    virtual ~TSiteMoveSteps() = default;
    virtual void Reached(TSiteMoveStep step) = 0;
};

// Finishes or undoes a move of this profile that was cut short, and returns the profile as its
// file then reads; the profile as given when no move was under way. Settling an undecided move
// asks the server whether it committed; when the server cannot answer, this throws VyrError with
// the reason and nothing changes (the site must not be opened while it may live in two places).
TVYRStandProfile SettleInterruptedMove(const TVYRStandProfile& profile);

// Rows copied so far of all of them. Called on the mover's thread, after every batch and once
// more when everything is copied, before the rows are counted.
using TSiteMoveProgress = std::function<void(qint64 done, qint64 total)>;

// What MoveSiteToServer throws when the server's answer to the commit was lost and the server
// cannot be asked again: the move may have happened or not, and the marker stays for the next
// opening to settle. The operator must not read it as a failure.
class TSiteMoveUnknown : public VyrError {
public:
    using VyrError::VyrError;
};

// Moves the site; returns the profile as its file now reads. Throws VyrError with the reason; a
// failure before the commit leaves everything as it was before the call, one after it leaves the
// marker, so that the next opening finishes the move. An earlier try at the same move whose outcome
// was unknown is settled first; when it went through, that is the answer.
TVYRStandProfile MoveSiteToServer(const TVYRStandProfile& profile, const QString& connection,
                                  const TSiteMoveProgress& progress = {},
                                  TSiteMoveSteps* steps = nullptr);

// Runs MoveSiteToServer as a job of its own (shared/cancellablejob.h); Progress and Finished
// arrive on the thread that made the job. Destroying a running job waits for the move to end,
// undone: it is called off at its next batch. CallOff answers true while the move had not begun to
// copy (it was still connecting, which a server that does not answer makes last): it then ends
// undone without writing anything. Once the copy began, the move ends undone at its next batch, or
// done when it was past its last, and Finished tells which.
class TSiteMoveJob : public TCancellableJob {
    Q_OBJECT
public:
    TSiteMoveJob(TVYRStandProfile profile, QString connection, QObject* parent = nullptr);

    // After Finished without an error: the profile as its file now reads.
    const TVYRStandProfile& Moved() const { return FOutcome->Moved; }
    // After Finished with an error: whether the move may have happened all the same
    // (TSiteMoveUnknown), so that the error is no failure.
    bool OutcomeUnknown() const { return FOutcome->Unknown; }

signals:
    // The reason the move failed, or empty when the site is on the server now.
    void Finished(const QString& error);

private:
    struct TOutcome {
        TVYRStandProfile Moved;
        QString Error;
        bool Unknown = false;
    };
    TSiteMoveJob(std::shared_ptr<TOutcome> outcome, TVYRStandProfile profile, QString connection,
                 QObject* parent);

    // The move's own, written on its thread and read after it ended.
    std::shared_ptr<TOutcome> FOutcome;
};
