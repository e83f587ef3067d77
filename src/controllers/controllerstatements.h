#pragma once

#include "db/statement.h"

#include <QString>

#include <cstdint>

// The statements of the controller list, the controller dialog and the key programming, with
// their values bound (db/statement.h), so a name or code with quotes is stored exactly as typed.

// Every controller this program adds is of this type.
inline constexpr char NewControllerType[] = "VYR292";

TMyStatement SelectControllersStatement();
// What of one controller goes into its key: ConCode, ConByte1, ConByte2.
TMyStatement KeyOfControllerStatement(int32_t conId);
TMyStatement CountCardsStatement(int32_t conId);
// The card counts of all controllers in one statement: rows of (ConID, count) for controllers that
// have at least one card with a zone.
TMyStatement CountAllCardsStatement();
TMyStatement DeleteControllerStatement(int32_t conId);
TMyStatement DeleteControllerZonesStatement(int32_t conId);

TMyStatement InsertControllerStatement(const QString& conName, const QString& conCode,
                                       uint8_t conByte1, uint8_t conByte2);
TMyStatement UpdateControllerStatement(int32_t conId, const QString& conName,
                                       const QString& conCode, uint8_t conByte1, uint8_t conByte2);
TMyStatement LastIdentityStatement();
// Claims the controller's row for the rest of the transaction, changing nothing: a concurrent
// change or deletion of it on a server waits until this transaction ends. 0 rows: it is gone.
TMyStatement ClaimControllerStatement(int32_t conId);
// The values the controller dialog edits: ConName, ConCode, ConByte1, ConByte2.
TMyStatement EditedControllerStatement(int32_t conId);
TMyStatement SelectActiveCardNumbersStatement();
// Claims every live cardholder's row for the rest of the transaction, changing nothing.
TMyStatement ClaimLiveCardHoldersStatement();
TMyStatement InsertCardZoneStatement(int32_t conId, const QString& cardNumber, int zone);

// The card numbers of a controller in one zone (1 or 2), in the database's order.
TMyStatement SelectZoneCardsStatement(int32_t conId, int zone);

// The stored pending-change marks (pendingchanges.h): a row with a stamp of 0 or more per
// controller whose key must be written again; a negative stamp is a mark cleared.
TMyStatement SelectPendingChangesStatement();
// A mark's stamp is renewed by every change that marks its controller. Only a controller that
// exists gets a mark (0 rows otherwise); a change claims it first (ClaimControllerStatement) so
// that it cannot go before the commit.
TMyStatement InsertPendingChangeStatement(int32_t conId, qint64 stamp);
TMyStatement DeletePendingChangeStatement(int32_t conId);
TMyStatement PendingChangeStampStatement(int32_t conId);
// Clears the mark, giving it `clearedStamp` (negative), only while it still carries `stamp`.
TMyStatement ClearPendingChangeStatement(int32_t conId, qint64 stamp, qint64 clearedStamp);
// One row whose one field is 1 when the table has its Stamp column; and the column's addition.
TMyStatement PendingChangeStampColumnStatement();
TMyStatement AddPendingChangeStampStatement();
// One row whose one field is 1 when the table exists, 0 when not.
TMyStatement PendingChangesTableStatement();
TMyStatement CreatePendingChangesTableStatement();
