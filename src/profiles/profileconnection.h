#pragma once

#include "profiles/VYRStandProfile.h"
#include "profiles/filesystemkind.h"
#include "profiles/profilesession.h"
#include "shared/cancellablejob.h"

#include <QObject>
#include <QString>

#include <memory>

class TDesktop;
class TMyDBConnector;

struct TSessionOpening {
    std::unique_ptr<TProfileSession> Session; // none when the database cannot be used
    QString Problem;                          // why not
    // Said to the operator once the session is taken: a site file where its locks cannot be
    // trusted, a server site whose journal the server does not vouch for yet, card numbers held
    // twice that keep the site from one row per card number. "" when there is nothing to say.
    QString Warning;
};

// One opening of a profile's database, in two steps. Making it does what needs the window thread:
// it settles which database the profile names (a file or a server; a profile naming both,
// neither, or a connection text with a password is refused here), makes a read-only file writable
// through the desktop and makes the connector. A move of the site to a server that was cut short
// is settled by Connect, which may then connect to the server instead of the file. Connect does the
// slow part, the connecting itself (a server may take seconds to answer or not answer at all, a
// file system may be far away) and the check of the site's tables (databasecheck.h: what later
// versions need is added, the card indexes included, and a site of other tables refused before
// any list reads it as empty; a server that stops answering meanwhile fails the opening rather
// than holding up the window that shows the site later), and may run on any thread: the connector
// is used by one thread at a time, first the one that connects, then the one that takes the
// session. Both engines allow that: SQLite's connections are not bound to a thread (the library is
// built thread-safe), and a libpq connection belongs to whoever holds it. The connector is made and
// destroyed on the window thread, where Qt registers its SQLite connections.
class TProfileOpening {
public:
    // Runs on the window thread; changes the current directory to the data directory, against
    // which profiles name their files.
    TProfileOpening(const TVYRStandProfile& profile, TDesktop& desktop,
                    TFileSystemTypeProbe probe = {});
    ~TProfileOpening();
    TProfileOpening(const TProfileOpening&) = delete;
    TProfileOpening& operator=(const TProfileOpening&) = delete;

    const TVYRStandProfile& Profile() const { return FProfile; }
    // Once, on any thread.
    TSessionOpening Connect();

private:
    TVYRStandProfile FProfile;
    std::unique_ptr<TMyDBConnector> FConnector;
    QString FFile; // a site file's path; "" for a server
    QString FProblem;
    TFileSystemTypeProbe FProbe;
    // A move of the site to a server was cut short: Connect finishes or undoes it first.
    bool FMoveInterrupted = false;
    std::unique_ptr<TMyDBConnector> FSetAside;
};

// Both steps at once, on the calling thread.
TSessionOpening OpenProfileSession(const TVYRStandProfile& profile, TDesktop& desktop,
                                   TFileSystemTypeProbe probe = {});

// An opening's Connect as a job of its own (shared/cancellablejob.h), so that the window goes on
// answering while a server is reached. Finished arrives on the thread that made the job, once the
// job's thread has ended; the outcome is then the job's to hand over. A connect under way cannot
// be called off: destroying the job waits for it, and whoever may not wait lets the job delete
// itself when finished (DeleteWhenFinished), outcome and all.
class TProfileOpeningJob : public TCancellableJob {
    Q_OBJECT
public:
    TProfileOpeningJob(std::unique_ptr<TProfileOpening> opening, QObject* parent = nullptr);

    const QString& ProfileFileName() const { return FProfileFileName; }
    // After Finished, once.
    TSessionOpening TakeOutcome() { return std::move(FState->Outcome); }

signals:
    void Finished();

private:
    // The opening's own, used on the job's thread and read after it ended; destroyed with the job
    // on the thread that made it, as the connector must be.
    struct TState {
        std::unique_ptr<TProfileOpening> Opening;
        TSessionOpening Outcome;
    };
    TProfileOpeningJob(std::shared_ptr<TState> state, QObject* parent);

    std::shared_ptr<TState> FState;
    QString FProfileFileName;
};
