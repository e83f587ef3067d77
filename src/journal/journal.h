#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <optional>

class TMyDBConnector;
struct TMyStatement;

// The site's change journal: one entry per change of the records, written by the change's own
// statements inside the change's own transaction, so that a change and its entry are never apart
// and a change rolled back leaves no entry. Entries are only ever added: nothing here updates or
// deletes one.
//
// An entry keeps the names as they were (the controller's and the holder's), because the journal
// must still read sensibly after a controller is renamed or deleted.

enum class TJournalAction {
    CardHolderAdded,
    CardHolderEdited,
    CardReplaced,
    CardHolderDeleted,
    ZoneChanged,
    ControllerAdded,
    ControllerEdited,
    ControllerDeleted,
    KeyWritten,
    LegacyImport,
};

// One thing that changed: a column (or another stable name, such as "CRC8" or "Zone1Cards") with
// its value before and after. A value that did not exist before or after is empty.
struct TJournalChange {
    QString Field;
    QString Old;
    QString New;
    friend bool operator==(const TJournalChange&, const TJournalChange&) = default;
};

// Who makes the changes of a session: the desktop user's login name and this machine's name.
struct TJournalAuthor {
    QString Operator;
    QString Workstation;
};
TJournalAuthor CurrentJournalAuthor();

struct TJournalEntry {
    int64_t Id = 0; // given by the database; 0 before the entry is written
    QDateTime Time; // UTC; on a server site the server's clock
    // What the workstation says: who was signed in there, and the workstation's name.
    QString Operator;
    QString Workstation;
    // The database role that wrote the entry, as the server authenticated it; empty on a file
    // site, which has no server to vouch for anything.
    QString DatabaseRole;
    TJournalAction Action = TJournalAction::CardHolderEdited;
    int32_t ConID = 0; // 0: no controller concerned
    QString ConName;
    QString CardNumber;    // the card concerned; after a replacement, the new one
    QString OldCardNumber; // a replacement's old card
    QString CardHolder;
    QList<TJournalChange> Changes;
};

// The stored name of an action, and back; nothing for a name this version does not know.
QString JournalActionCode(TJournalAction action);
std::optional<TJournalAction> JournalActionFromCode(const QString& code);

// The statement that appends `entry` as made by `author` at `now` (UTC). To be sent inside the
// transaction of the change it records. On a server site the server puts its own number, time and
// database role in place of what the statement says.
TMyStatement AppendJournalStatement(const TJournalEntry& entry, const TJournalAuthor& author,
                                    const QDateTime& now);
// Sends it; false with the connector's reason on failure, and then the change must roll back.
bool AppendJournal(TMyDBConnector& database, const TJournalEntry& entry,
                   const TJournalAuthor& author);
// The entries of one change, in their order, all with the same time.
bool AppendJournal(TMyDBConnector& database, const QList<TJournalEntry>& entries,
                   const TJournalAuthor& author);

// One zone entry for every live cardholder that has `zone` at the controller (0 before): what a
// new controller granted to all cardholders gives, in one statement however many cards there are.
TMyStatement AppendGrantedZonesStatement(int32_t conId, const QString& conName, int zone,
                                         const TJournalAuthor& author, const QDateTime& now);

// Which entries a history shows. Empty fields filter nothing.
struct TJournalFilter {
    QDateTime From;  // inclusive
    QDateTime Until; // exclusive
    QString Operator;
    int32_t ConID = 0;
    // The card's entries, and those of the cards it replaced before (a holder keeps the history
    // of the cards they had).
    QString CardNumber;
    // With CardNumber: only what happened while the card's present holder had each of these
    // cards, from when they were given one, so that a card handed out again brings neither its
    // earlier nor its later holders' changes into a holder's history.
    bool HolderOnly = false;
};

// One page of a history, newest first: at most `limit` entries older than the entry `before`
// (all when 0). Nothing when the database did not answer.
std::optional<QList<TJournalEntry>>
ReadJournal(TMyDBConnector& database, const TJournalFilter& filter, int limit, int64_t before = 0);

// Each controller's last verified key write, by ConID; nothing when the database did not answer.
std::optional<QHash<int32_t, TJournalEntry>> LastKeyWrites(TMyDBConnector& database);

// The operators named in the journal, for a history's filter.
QStringList JournalOperators(TMyDBConnector& database);

// A database made before the journal gets its table and indexes. False, with the engine's reason
// in the connector's last error, when the table is still missing afterwards.
bool AddJournalTable(TMyDBConnector& database);
