#pragma once

#include "controllers/controllerrecords.h"
#include "controllers/pendingchanges.h"
#include "journal/journal.h"
#include "profiles/VYRStandProfile.h"

#include <QSet>

#include <cstdint>
#include <memory>

class TChangeWatch;
class TMyDBConnector;
class TReconnect;
class TSiteWriter;

// Everything that belongs to one open profile: the profile itself, the connector to its database,
// the controller records read from it and their pending-change marks. Opening another profile
// means a new session; nothing of the old one carries over.
//
// The database holds the marks every workstation of the site shares, and each read takes them as
// they are there: a mark another workstation cleared by a verified write goes here too, one it set
// appears. When the site cannot be read, the session keeps the records and marks of the last read
// that worked: a failed query never forgets which keys must still be written.
class TProfileSession {
public:
    TProfileSession(TVYRStandProfile profile, std::unique_ptr<TMyDBConnector> database);
    ~TProfileSession();
    TProfileSession(const TProfileSession&) = delete;
    TProfileSession& operator=(const TProfileSession&) = delete;

    const TVYRStandProfile& Profile() const { return FProfile; }
    // Who signs the journal entries of this session's changes: the desktop user on this machine,
    // as they were when the profile was opened.
    const TJournalAuthor& Author() const { return FAuthor; }
    TMyDBConnector& Database() const { return *FDatabase; }
    bool IsConnected() const;
    // Profile management renamed the profile: the session goes by the new name from now on.
    void ProfileRenamed(const QString& name) { FProfile.ProfileName = name; }

    // Tells the session's windows of changes other workstations make to the site. Made with its
    // first use, on the window's thread; it lives as long as the session.
    TChangeWatch& Changes();
    // Connects again, on a worker, once a statement found the connection to the server lost: the
    // session starts it by itself then (its statements fail meanwhile, and do not connect on the
    // window thread). A window that wants to read again connects to its Finished, and may Start it
    // itself. Made with its first use, on the window's thread.
    TReconnect& Reconnection();
    // Runs the windows' changes of the site on a worker with a connection of its own, so that the
    // window thread never waits for the server. The marks a change stored reach the records here,
    // on the window thread, whether or not the window that asked for it is still open. Made with
    // its first use, on the window's thread; it connects from then on.
    TSiteWriter& Writes();

    TControllerRecords& Controllers() { return FControllers; }
    const TControllerRecords& Controllers() const { return FControllers; }

    // Reads the records again, with their card counts and the database's marks, and those of
    // `alsoMarked` added. False when the database could not be read (the reason in its last
    // error): the records stay as they were, with the marks of `alsoMarked` added, so the list
    // goes on showing what it knew rather than nothing.
    bool LoadControllers(const QSet<int32_t>& alsoMarked = {});
    // Counts every record's cards again; false, and the counts as they were, when that failed.
    bool CountCards();
    // Drops the records (their marks stay in the database).
    void FreeControllers();
    // The number of marks in the database; nothing when they cannot be read (the reason in its
    // last error). The records' own marks are no answer then: they are as old as the last read,
    // and none at all when the profile was opened without the server.
    std::optional<int> ChangedControllerCount() const;
    // The record at a position of the list, or nullptr.
    TStandController* Controller(int index) const;

    // The controller's key now holds the image built when its mark was `built`: the mark goes, in
    // the database and on the record, unless a change reached the controller since, and the
    // journal gets `written` (KeyWrittenEntry) with it. Should the database refuse, the mark
    // stays: one key write too many, never one too few.
    TMarkClear KeyWritten(TStandController& controller, const TMarkState& built,
                          const TJournalEntry& written);

private:
    TVYRStandProfile FProfile;
    TJournalAuthor FAuthor;
    std::unique_ptr<TMyDBConnector> FDatabase;
    // Declared after the connector, so it ends before it: a watch may look through it.
    std::unique_ptr<TChangeWatch> FChanges;
    std::unique_ptr<TReconnect> FReconnect;
    std::unique_ptr<TSiteWriter> FWrites;
    TControllerRecords FControllers;
};
