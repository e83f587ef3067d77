#pragma once

#include <QSet>

#include <cstdint>

class TMyDBConnector;

// A controller's pending-change mark lives in the profile's database as well as on its record, so
// that it outlives the program: a key that must be written again is still marked the next time the
// profile is opened. Every change that marks a controller stores the mark inside its own
// transaction, so the database never keeps a change without its mark; only a verified key write
// takes a mark away (and the controller's deletion, with everything else of it).

// Stores the marks of these controllers; one already stored stays stored once. False on an engine
// error, with the reason in the connector's last error.
bool StoreMarks(TMyDBConnector& database, const QSet<int32_t>& conIds);

// Takes the controller's stored mark away; no mark to take is no failure.
bool DropStoredMark(TMyDBConnector& database, int32_t conId);

// The ConIDs with a stored mark; none when there is no database or the query fails.
QSet<int32_t> StoredMarks(TMyDBConnector* database);

// Gives a database made before stored marks its table. False, with the engine's reason in the
// connector's last error, when the table is still missing afterwards (a read-only file).
bool AddPendingChangesTable(TMyDBConnector& database);
