#pragma once

#include "controllers/accidentaladmits.h"

#include <cstdint>

class QTreeWidget;
class QWidget;

// The list of cards a controller admits without being granted there, as the read-back window and
// the controller dialog show it: one row of texts per card, which assistive tools read as they
// are. `withThrough` adds the column of granted cards that bring each card in.
QTreeWidget* NewAdmitsList(const char* objectName, bool withThrough, QWidget* parent);
void ShowAdmits(QTreeWidget* list, const QList<TAccidentalAdmit>& admits);

// "1", "2" or "1, 2".
QString ZonesText(const QList<int>& zones);
// The holder's name, marked when the holder was deleted.
QString HolderText(const TSiteCard& card);

class TMyDBConnector;

// The controller dialog's part: a label naming the list and the count, and the list with the
// granted cards that bring each card in. Hidden until ShowControllerAdmits fills it.
QWidget* NewControllerAdmitsPart(QWidget* parent);
// Fills the part for a controller from the database; a database that does not answer leaves it
// hidden.
void ShowControllerAdmits(QWidget* part, TMyDBConnector* database, int32_t conId);

class QStatusBar;
class TStandController;

// After a zone click changed a card at a controller: a note in the status line when the
// controller now admits cards through it without access there, or still admits the card itself;
// otherwise an earlier note goes.
void ShowAdmitNote(QStatusBar* status, TMyDBConnector& database, const TStandController& controller,
                   const QString& cardNumber);
