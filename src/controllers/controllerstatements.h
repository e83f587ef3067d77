#pragma once

#include <QString>

#include <cstdint>

// The statements of the controller list, the controller dialog and the key programming. Every
// text value goes through SqlQuoted, so a name or code with quotes is stored exactly as typed.

// Every controller this program adds is of this type.
inline constexpr char NewControllerType[] = "VYR292";

QString SelectControllersStatement();
QString CountCardsStatement(int32_t conId);
// The card counts of all controllers in one statement: rows of (ConID, count) for controllers that
// have at least one card with a zone.
QString CountAllCardsStatement();
QString DeleteControllerStatement(int32_t conId);
QString DeleteControllerZonesStatement(int32_t conId);

QString InsertControllerStatement(const QString& conName, const QString& conCode, uint8_t conByte1,
                                  uint8_t conByte2);
QString UpdateControllerStatement(int32_t conId, const QString& conName, const QString& conCode,
                                  uint8_t conByte1, uint8_t conByte2);
QString LastIdentityStatement();
QString SelectActiveCardNumbersStatement();
QString InsertCardZoneStatement(int32_t conId, const QString& cardNumber, int zone);

// The card numbers of a controller in one zone (1 or 2), in the database's order.
QString SelectZoneCardsStatement(int32_t conId, int zone);

// The stored pending-change marks (pendingchanges.h): one row per controller whose key must be
// written again.
QString SelectPendingChangesStatement();
QString InsertPendingChangeStatement(int32_t conId);
QString DeletePendingChangeStatement(int32_t conId);
// One row whose one field is 1 when the table exists, 0 when not.
QString PendingChangesTableStatement();
QString CreatePendingChangesTableStatement();
