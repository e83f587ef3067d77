#pragma once

#include "shared/publictypes.h"

#include <QSet>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class TMyDBConnector;

// Saving a cardholder without a window. Each save is one transaction: it happens whole or not at
// all. The controllers whose keys still admit a card that lost its zones get their marks stored in
// that transaction, and their records are marked once the database has kept the change.
//
// A card number belongs to at most one cardholder. Reusing the number of a deleted cardholder
// takes it over cleanly: the deleted row and its zones go. A live cardholder's number is never
// taken silently.

struct TCardHolderSave {
    enum TOutcome {
        Saved,
        // Another live cardholder has the number (TakenBy names them); nothing was changed.
        NumberTaken,
        // The database refused; the connector's words are in Error. Nothing was changed.
        Failed,
        // The number is no card number to save under (SavableCardNumber); nothing was changed.
        NotACardNumber,
    };
    TOutcome Outcome = Failed;
    QString TakenBy;
    QString Error;
};

// The live cardholder with this number as the cardholder dialog edits it: the number as stored and
// the texts as kept (CardText). Nothing when the lookup failed or not exactly one row answered.
std::optional<TCardHolder> LoadCardHolder(TMyDBConnector& database, const QString& cardNumber);

// The name of the live cardholder with this number; a null string when there is none or the
// lookup failed.
QString LiveCardHolderOf(TMyDBConnector& database, const QString& cardNumber);

// A new cardholder. A live cardholder of the same number is replaced only when
// `replaceLiveHolder` says the operator agreed; otherwise the outcome is NumberTaken.
TCardHolderSave SaveNewCardHolder(TMyDBConnector& database, const TCardHolder& record,
                                  bool replaceLiveHolder,
                                  std::vector<std::unique_ptr<TStandController>>& controllers);

// An existing cardholder, loaded under `loadedNumber`. A replaced card loses its zones; a number
// that another live cardholder has is refused (NumberTaken). The loaded number itself is kept
// whatever its length; a replacement needs a card number of ten characters.
TCardHolderSave SaveEditedCardHolder(TMyDBConnector& database, const TCardHolder& record,
                                     const QString& loadedNumber,
                                     std::vector<std::unique_ptr<TStandController>>& controllers);

// Soft-deletes the live cardholder of this number and drops every zone row of the number; marks
// the controllers where it had a zone above 0. False, with nothing changed or marked, when the
// database refused or there was no live cardholder.
bool DeleteCardHolderAndZones(TMyDBConnector& database, const QString& cardNumber,
                              std::vector<std::unique_ptr<TStandController>>& controllers);

// Two texts are the same card number when the database would find one by the other.
bool SameCardNumber(const QString& a, const QString& b);
