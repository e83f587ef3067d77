#pragma once

#include "db/sitewriter.h"
#include "journal/journal.h"
#include "shared/publictypes.h"

#include <QSet>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class TMyDBConnector;

// Saving a cardholder without a window. Each save is one transaction: it happens whole or not at
// all, its journal entries (made by `author`) included. The controllers whose keys still admit a
// card that lost its zones get their marks stored in that transaction, and their records are marked
// once the database has kept the change.
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
        // Another workstation changed the cardholder after it was loaded; nothing was changed.
        ChangedElsewhere,
        // Another workstation deleted the cardholder, or gave it another card, after it was
        // loaded; nothing was changed.
        Gone,
        // The cardholder the operator agreed to replace no longer has the card as they were shown
        // it (another workstation replaced or changed them meanwhile); TakenBy names who has it
        // now. Nothing was changed.
        HolderChanged,
        // The connection broke after the change was sent to be committed: it may be stored or
        // not (the connector's words in Error). The records must be read again before another
        // try, which could otherwise store it twice or be refused for the record itself.
        Unknown,
    };
    TOutcome Outcome = Failed;
    QString TakenBy;
    // With NumberTaken: the live cardholder as the question shows them, to be handed back as the
    // one to replace.
    TCardHolder Taken;
    QString Error;
};

// The live cardholder with this number as the cardholder dialog edits it: the number as stored and
// the texts as kept (CardText). Nothing when the lookup failed or not exactly one row answered.
std::optional<TCardHolder> LoadCardHolder(TMyDBConnector& database, const QString& cardNumber);

// After a save whose outcome is unknown: whether the database holds the live cardholder just as
// `record` says (Saved), or not (NotSaved: the card is free, or the record is another); Failed when
// the read failed, which tells nothing.
enum class TStoredCheck { Saved, NotSaved, Failed };
TStoredCheck StoredAsSaved(TMyDBConnector& database, const TCardHolder& record);

// The name of the live cardholder with this number; a null string when there is none or the
// lookup failed.
QString LiveCardHolderOf(TMyDBConnector& database, const QString& cardNumber);

// A new cardholder. A live cardholder of the same number is replaced only when it is still
// `replacing`, the one the operator agreed to replace (as a NumberTaken outcome gave it); without
// one the outcome is NumberTaken, and when it has changed since, HolderChanged.
TCardHolderSave SaveNewCardHolder(TMyDBConnector& database, const TCardHolder& record,
                                  const std::optional<TCardHolder>& replacing,
                                  std::vector<std::unique_ptr<TStandController>>& controllers,
                                  const TJournalAuthor& author);

// An existing cardholder, as LoadCardHolder gave it (`loaded`). A replaced card loses its zones; a
// number that another live cardholder has is refused (NumberTaken). The loaded number itself is
// kept whatever its length; a replacement needs a card number of ten characters.
//
// Several workstations may edit one site: the save goes through only while the database still
// holds what was loaded (ChangedElsewhere, Gone), so nobody overwrites a change unseen. The row is
// claimed before it is compared, which makes a concurrent save or deletion of it wait.
TCardHolderSave SaveEditedCardHolder(TMyDBConnector& database, const TCardHolder& record,
                                     const TCardHolder& loaded,
                                     std::vector<std::unique_ptr<TStandController>>& controllers,
                                     const TJournalAuthor& author);

enum class TCardHolderDelete {
    Deleted,
    AlreadyGone,      // no live cardholder has the number (deleted elsewhere); nothing was changed
    ChangedElsewhere, // the number's holder is not the one chosen (changed or replaced on another
                      // workstation since it was listed); nothing was changed
    Failed,           // the database refused; nothing was changed
};

// Soft-deletes the live cardholder chosen in a list, found by its number and texts as listed, and
// drops every zone row of the number; marks the controllers where it had a zone above 0. Nothing is
// changed or marked unless it is Deleted. An older database may hold two live cardholders of one
// number: then only the chosen one goes, and the card keeps its zones for the other.
TCardHolderDelete
DeleteCardHolderAndZones(TMyDBConnector& database, const TCardHolder& chosen,
                         std::vector<std::unique_ptr<TStandController>>& controllers,
                         const TJournalAuthor& author);

// A zone click as the database has it: the card's zone at the controller moves on from the
// stored one (0, 1, 2, 0), whatever a list showed, and the controller's mark is stored with it.
// The new zone; ZoneCardGone when the card has no live holder or the controller is gone (another
// workstation), ZoneFailed when the database refused (the reason in its last error). Nothing
// changes unless a zone comes back; except with ZoneUnknown: the connection broke after the
// change went to be committed, and the zone may have moved on or not.
inline constexpr int ZoneFailed = -1;
inline constexpr int ZoneCardGone = -2;
inline constexpr int ZoneUnknown = -3;
int CycleCardZone(TMyDBConnector& database, const QString& cardNumber, int32_t conId,
                  const TJournalAuthor& author);

// Two texts are the same card number when the database would find one by the other.
bool SameCardNumber(const QString& a, const QString& b);

// The cardholder changes as the windows hand them to the open profile's writer (TSiteWriter): each
// carries what the change needs and, once Written named it, its outcome. The controllers a change
// marks come back in Marked.

// Saves a new cardholder (Loaded empty; replacing the holder in Replacing, when the operator
// agreed to) or an edited one (Loaded: the cardholder as the dialog loaded them).
class TCardHolderSaveWrite : public TSiteWrite {
public:
    TCardHolder Record;
    std::optional<TCardHolder> Loaded;
    std::optional<TCardHolder> Replacing;
    TJournalAuthor Author;
    TCardHolderSave Saved;
    void Run(TMyDBConnector& database) override;
};

// Reads back whether a save of Record whose outcome was unknown was stored (StoredAsSaved).
class TCardHolderReadBackWrite : public TSiteWrite {
public:
    TCardHolder Record;
    TStoredCheck Stored = TStoredCheck::Failed;
    void Run(TMyDBConnector& database) override;
};

// Deletes the cardholder chosen in a list (DeleteCardHolderAndZones).
class TCardHolderDeleteWrite : public TSiteWrite {
public:
    TCardHolder Chosen;
    TJournalAuthor Author;
    TCardHolderDelete Deleted = TCardHolderDelete::Failed;
    void Run(TMyDBConnector& database) override;
};

// A zone click (CycleCardZone): Zone is the new zone, or ZoneFailed, ZoneCardGone, ZoneUnknown.
class TZoneClickWrite : public TSiteWrite {
public:
    QString CardNumber;
    int32_t ConID = 0;
    TJournalAuthor Author;
    int Zone = ZoneFailed;
    void Run(TMyDBConnector& database) override;
};
