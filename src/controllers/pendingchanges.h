#pragma once

#include <QSet>

#include <cstdint>
#include <optional>

class TMyDBConnector;

// A controller's pending-change mark lives in the profile's database, so that it outlives the
// program and every workstation of a site sees the same marks: a key that must be written again is
// still marked the next time the profile is opened, wherever it is opened. Every change that marks
// a controller stores the mark inside its own transaction, so the database never keeps a change
// without its mark; only a verified key write takes a mark away (and the controller's deletion,
// with everything else of it).
//
// Each marking change gives the mark a new random stamp. A key write reads the stamp before the
// key's contents and takes the mark away only while it still carries that stamp: a change that
// reached the controller after the contents were read leaves the mark where it is. A counter
// would do the same until a cleared mark is stored again and counts from the start once more; a
// fresh random stamp cannot come back that way.

// Stores the marks of these controllers, or renews their stamps. False on an engine error, with
// the reason in the connector's last error.
bool StoreMarks(TMyDBConnector& database, const QSet<int32_t>& conIds);

// Takes the controller's stored mark away, whatever its stamp; no mark to take is no failure.
bool DropStoredMark(TMyDBConnector& database, int32_t conId);

// The ConIDs with a stored mark; none when there is no database or the query fails.
QSet<int32_t> StoredMarks(TMyDBConnector* database);
// The same, with nothing when the query failed.
std::optional<QSet<int32_t>> ReadStoredMarks(TMyDBConnector& database);

// A controller's mark as read before a key image is built from the database.
struct TMarkState {
    bool Marked = false;
    qint64 Stamp = 0;
};
// Nothing when the query failed.
std::optional<TMarkState> ReadMarkState(TMyDBConnector& database, int32_t conId);

enum class TMarkClear {
    Cleared,      // no mark is left
    ChangedSince, // a change reached the controller after `built` was read: the mark stays
    Failed,       // the database refused; the mark stays, the reason is in the last error
};
// After a verified key write of an image built when the mark was `built`: takes the mark away
// only if no marking change came since.
TMarkClear ClearMarkAfterWrite(TMyDBConnector& database, int32_t conId, const TMarkState& built);

// Gives a database made before stored marks its table, and one made before stamps their column.
// False, with the engine's reason in the connector's last error, when either is still missing
// afterwards (a read-only file).
bool AddPendingChangesTable(TMyDBConnector& database);
