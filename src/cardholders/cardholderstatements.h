#pragma once

#include "controllers/controllerstatements.h"

#include <QString>

class TCardHolder;

// The statements of the cardholder windows, with their values bound (db/statement.h), so whatever
// an operator typed is stored as typed and never changes a statement.

// One cardholder's texts, for the cardholder dialog.
TMyStatement LoadCardHolderStatement(const QString& cardNumber);
// Saving a new cardholder: whoever had the number before, deleted or not, goes with its zones.
TMyStatement DeleteCardHolderStatement(const QString& cardNumber);
TMyStatement DeleteCardZonesStatement(const QString& cardNumber);
// Where one card has access, read before its zones go.
TMyStatement CardZonesOfCardStatement(const QString& cardNumber);
// The same with each controller's name (empty when the controller is gone), for the journal.
TMyStatement NamedCardZonesOfCardStatement(const QString& cardNumber);
TMyStatement InsertCardHolderStatement(const TCardHolder& record);
// Saving an existing cardholder, found by the number it was loaded with; a deleted row that an
// older database may still hold under that number is left alone.
TMyStatement UpdateCardHolderStatement(const TCardHolder& record, const QString& oldCardNumber);

// The cardholder list: every cardholder that is not deleted, ordered by name; an empty filter
// adds nothing, any other finds its text as a plain substring (a typed % or _ matches itself).
TMyStatement CardHolderListStatement(const QString& nameFilter, const QString& custom1Filter,
                                     const QString& custom2Filter);
// The same for the cards of `cardNumbers` only (compared ignoring letter case, as the column does).
TMyStatement CardHolderListStatement(const QString& nameFilter, const QString& custom1Filter,
                                     const QString& custom2Filter, const QStringList& cardNumbers);
// The zones of all cards at once, which the list joins in memory: one statement per card is what
// makes a large list slow to open. The order is the one in which the index hands out the rows of a
// single card (by number, controller, zone), so where a card has two rows for one controller the
// same row is read last either way.
TMyStatement AllCardZonesStatement();
// The zones of the cards of `cardNumbers` (compared ignoring letter case), ordered as above.
TMyStatement CardZonesOfCardsStatement(const QStringList& cardNumbers);
// A zone change: the card's row for the controller is replaced.
TMyStatement DeleteCardZoneStatement(int conID, const QString& cardNumber);
// The CardZones insert is shared with the controller dialog: controllers/controllerstatements.h.
// A card taken over from a deleted cardholder: the deleted row goes.
TMyStatement DeleteDeletedCardHoldersStatement(const QString& cardNumber);
// Deleting from the list: the cardholder stays, marked deleted, and loses its zones. Only the live
// row is marked; a deleted one under the same number is no part of it.
TMyStatement MarkCardHolderDeletedStatement(const QString& cardNumber);
TMyStatement DeleteZonesOfDeletedCardStatement(const QString& cardNumber);
// The controllers where a card has a zone row, in ConID order.
TMyStatement ZoneControllersOfCardStatement(const QString& cardNumber);
// The live rows of a card with a handle on each row (the first field) and their texts, for the
// older databases that hold two; and the marking of one of them, by its handle, as deleted. The
// handle is the engine's own (a file's rowid, a server's ctid): two rows may hold the same texts.
TMyStatement LiveCardHolderRowsStatement(const QString& cardNumber, bool onServer);
TMyStatement MarkCardHolderRowDeletedStatement(const QString& row, bool onServer);
// Claims the live cardholder's row for the rest of the transaction, changing nothing: a
// concurrent change of it on a server waits until this transaction ends. Counts 0 rows when there
// is no live cardholder of the number.
TMyStatement ClaimCardHolderStatement(const QString& cardNumber);
// What a zone click needs, in one row: the controller's name and the card's live holder for its
// journal entry (either empty when gone), and the card's zone at the controller (NULL without a
// row; of two rows, which an older database may hold, the higher, which the list shows).
TMyStatement ZoneClickStatement(int32_t conId, const QString& cardNumber);
