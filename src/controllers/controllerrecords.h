#pragma once

#include "db/sitewriter.h"
#include "journal/journal.h"
#include "shared/publictypes.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

class TMyDBConnector;

// What the controller list and the controller dialog do to the database, without a window.
//
// A controller's pending-change mark says that its memory key no longer matches the database. It
// is stored in the database (pendingchanges.h), which every workstation of the site reads it from;
// only a verified key write takes it away.

using TControllerRecords = std::vector<std::unique_ptr<TStandController>>;

// The controllers in the database's order by name. Those whose ConID is in `marked` or who have a
// stored mark start marked.
// Nothing when a query failed (the reason in the connector's last error) or there is no database:
// a site without controllers gives an empty list, a site that could not be read none.
std::optional<TControllerRecords> ReadControllers(TMyDBConnector* database,
                                                  const QSet<int32_t>& marked);

int ChangedControllerCount(const TControllerRecords& controllers);

// Sets CardCount of every record (the cards with a zone above 0). False when the count failed (the
// reason in the connector's last error): the records keep the counts they had.
bool CountControllerCards(TMyDBConnector* database, TControllerRecords& controllers);

// The card numbers of a controller in one zone (1 or 2), in the database's order, for its key.
// Nothing when the database did not answer; the reason is in the connector's last error.
std::optional<QStringList> ReadZoneCards(TMyDBConnector& database, int32_t conId, int zone);

enum class TControllerDelete {
    Deleted,
    AlreadyGone, // no such controller (deleted elsewhere); nothing was changed
    Failed,      // the database refused, the reason in its last error; nothing was changed
};
// Deletes a controller, its zones and its stored mark, all or none, with its journal entry (made by
// `author`). The entry stands for the zones too: they went with the door.
TControllerDelete DeleteController(TMyDBConnector& database, int32_t conId,
                                   const TJournalAuthor& author);

// Reads the controller's name, code and option bytes into `record` again; false (and `record` as
// it was) when the controller is gone or the database did not answer.
bool ReloadController(TMyDBConnector& database, TStandController& record);

// What the controller dialog saves.
struct TControllerInput {
    QString ConName;
    QString ConCode;
    uint8_t ConByte1 = 0;
    uint8_t ConByte2 = 0;
};

// Whether the controller's key, as last written, still says what the database does: its code and
// option bytes are written into the key, its name is not. Letter case in the code does not change
// the key's bytes.
bool KeyStillMatches(const TStandController& stored, const TControllerInput& input);

struct TControllerSaved {
    bool Saved = false;
    // Why an edit was not saved although the database answered: another workstation changed the
    // controller after the dialog loaded it, or deleted it.
    enum TConflict { None, ChangedElsewhere, Gone };
    TConflict Conflict = None;
    int32_t ConID = 0;
    // The key of this controller must be written (again) before it admits what the database says.
    bool KeyOutdated = false;
    // Not Saved, but not failed either: the connection broke after the change went to be
    // committed, and it may be stored. The records are read again before another try.
    bool OutcomeUnknown = false;

    // A new controller was stored, but the grants asked for with it were refused (none is kept);
    // the reason is in the connector's last error.
    bool GrantsRefused = false;
};

// Saves an existing controller. Marks `record` when its key no longer matches, and stores the
// mark with the change. `record` holds what the dialog loaded: the save goes through only while the
// database still holds that (Conflict says why not), so nobody overwrites a change unseen.
//
// The journal gets an entry with the fields that changed (none when nothing did), in the same
// transaction.
TControllerSaved UpdateController(TMyDBConnector& database, TStandController& record,
                                  const TControllerInput& input, const TJournalAuthor& author);

// Adds a controller and, for grantZone 1 or 2, gives every cardholder that is not deleted access
// in that zone. A controller granted at least one card has a key to write, and its mark is stored
// with the grants. The controller comes with its journal entry, and each grant with a zone entry.
// The grants are all kept or, when the database refuses any part of them, none (GrantsRefused).
TControllerSaved AddController(TMyDBConnector& database, const TControllerInput& input,
                               int grantZone, const TJournalAuthor& author);

// The controller changes as the windows hand them to the open profile's writer (TSiteWriter); each
// carries its outcome once Written named it.

// Saves the controller dialog: an edit of Loaded (UpdateController) or, without it, a new
// controller granted to every cardholder in GrantZone (AddController).
class TControllerSaveWrite : public TSiteWrite {
public:
    std::optional<TStandController> Loaded;
    TControllerInput Input;
    int GrantZone = 0;
    TJournalAuthor Author;
    TControllerSaved Saved;
    void Run(TMyDBConnector& database) override;
};

// Deletes a controller of the list (DeleteController).
class TControllerDeleteWrite : public TSiteWrite {
public:
    int32_t ConID = 0;
    TJournalAuthor Author;
    TControllerDelete Deleted = TControllerDelete::Failed;
    void Run(TMyDBConnector& database) override;
};
