#pragma once

#include <QSet>

#include <cstdint>
#include <optional>

class TMyDBConnector;
struct TJournalAuthor;
struct TJournalEntry;

// A controller's pending-change mark lives in the profile's database, so that it outlives the
// program and every workstation of a site sees the same marks: a key that must be written again is
// still marked the next time the profile is opened, wherever it is opened. Every change that marks
// a controller stores the mark inside its own transaction, so the database never keeps a change
// without its mark; only a verified key write takes a mark away (and the controller's deletion,
// with everything else of it).
//
// Each marking change gives the mark a new random stamp (0 or more); a verified write clears it by
// making the stamp negative (-stamp - 1), and the row stays. A key write reads the stamp before the
// key's contents and clears only while the stamp is still the one it read: a change that reached
// the controller after the contents were read leaves the mark where it is, and a key whose contents
// another workstation's newer verified write has overtaken marks the controller again. A counter
// in a row that goes with the mark would count from the start once more after a clear; fresh
// random stamps in a row that stays cannot come back that way.

// Stores the marks of these controllers, or renews their stamps; a controller that no longer
// exists gets none. The change that marks them has claimed them, so that none goes before it
// commits. False on an engine error, with the reason in the connector's last error.
bool StoreMarks(TMyDBConnector& database, const QSet<int32_t>& conIds);

// Takes the controller's row away, whatever its stamp; no row to take is no failure.
bool DropStoredMark(TMyDBConnector& database, int32_t conId);

// The ConIDs with a stored mark; none when there is no database or the query fails.
QSet<int32_t> StoredMarks(TMyDBConnector* database);
// The same, with nothing when the query failed.
std::optional<QSet<int32_t>> ReadStoredMarks(TMyDBConnector& database);

// A controller's mark as read before a key image is built from the database. Without a row, both
// are false and 0.
struct TMarkState {
    bool Exists = false;
    bool Marked = false;
    qint64 Stamp = 0;
    friend bool operator==(const TMarkState&, const TMarkState&) = default;
};
// Nothing when the query failed.
std::optional<TMarkState> ReadMarkState(TMyDBConnector& database, int32_t conId);

enum class TMarkClear {
    Cleared,      // no mark is left
    ChangedSince, // the key is out of date (a change came since `built` was read): marked
    Gone,         // the controller was deleted meanwhile (another workstation): nothing to mark
    Failed,       // the database refused; the mark stays, the reason is in the last error
    // The connection broke after the clearing (or, for a controller gone meanwhile, the write's
    // entry) went to be committed: it may be stored or not. The record keeps its mark until the
    // marks are read again.
    Unknown,
};
// After a verified key write of an image built when the mark was `built`: clears the mark only if
// no marking change came since; otherwise the controller is (still, or again) marked. Either way
// the write's journal entry (`written`, see KeyWrittenEntry) goes in the same transaction, and
// without it nothing changes; a write that is out of date already says so in its entry
// ("OutOfDate" is "1"). The controller is claimed first, so a deletion of it on another
// workstation either comes before (Gone: the write is journaled, no mark is stored) or waits.
TMarkClear ClearMarkAfterWrite(TMyDBConnector& database, int32_t conId, const TMarkState& built,
                               const TJournalEntry& written, const TJournalAuthor& author);

// Gives a database made before stored marks its table, and one made before stamps their column.
// False, with the engine's reason in the connector's last error, when either is still missing
// afterwards (a read-only file).
bool AddPendingChangesTable(TMyDBConnector& database);
