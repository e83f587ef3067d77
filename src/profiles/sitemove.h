#pragma once

#include "profiles/VYRStandProfile.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class QThread;

// Moving a profile's site from its local database file to an empty database on a server.
//
// The site's rows are copied as they are (ConID values kept, so zones and pending-change marks
// still point at their controllers; the server's identity continues past the highest ConID), in
// one transaction with the schema. The rows are counted on both sides before anything else
// changes. Then the profile file is rewritten to name the server, the local file is renamed
// beside itself (MovedDatabaseName), and only then is the server's transaction committed. Any
// failure undoes the steps done so far: the profile names its local file as before, that file
// keeps its name, and the server's database is as empty as it was.

// The local database's name once its site has moved: "<file>.moved-to-server", beside it.
QString MovedDatabaseName(const QString& databaseFile);

// Rows copied so far of all of them. Called on the mover's thread, after every batch and once
// more when everything is copied, before the rows are counted.
using TSiteMoveProgress = std::function<void(qint64 done, qint64 total)>;

// Moves the site; returns the profile as its file now reads. Throws VyrError with the reason, and
// everything is then as it was before the call.
TVYRStandProfile MoveSiteToServer(const TVYRStandProfile& profile, const QString& connection,
                                  const TSiteMoveProgress& progress = {});

// Runs MoveSiteToServer on a thread of its own; Progress and Finished arrive on the thread that
// made the job. Destroying a running job waits for the move to end, undone: it is called off at
// its next batch.
class TSiteMoveJob : public QObject {
    Q_OBJECT
public:
    TSiteMoveJob(TVYRStandProfile profile, QString connection, QObject* parent = nullptr);
    ~TSiteMoveJob() override;
    TSiteMoveJob(const TSiteMoveJob&) = delete;
    TSiteMoveJob& operator=(const TSiteMoveJob&) = delete;

    void Start();
    // After Finished without an error: the profile as its file now reads.
    const TVYRStandProfile& Moved() const { return FMoved; }
    // Calls the move off. True when it had not begun to copy (it was still connecting, which a
    // server that does not answer makes last): it then ends undone without writing anything, and
    // nobody need wait for it (DeleteWhenFinished). False once the copy began: the move ends
    // undone at its next batch, or done when it was past its last, and Finished tells which.
    bool CallOff();
    // Nobody waits for this job any more: it deletes itself once its thread ended.
    void DeleteWhenFinished();

signals:
    void Progress(qint64 done, qint64 total);
    // The reason the move failed, or empty when the site is on the server now.
    void Finished(const QString& error);

private:
    TVYRStandProfile FProfile;
    QString FConnection;
    TVYRStandProfile FMoved;
    QString FError;
    std::unique_ptr<QThread> FThread;
    std::atomic<bool> FCalledOff = false;
    std::atomic<bool> FCopying = false;
    bool FEnded = false;
};
