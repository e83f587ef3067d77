#include "cardholders/cardholdersave.h"

#include "cardholders/cardholderstatements.h"
#include "cardholders/cardnumber.h"
#include "controllers/pendingchanges.h"
#include "db/MyDBConnector.h"
#include "journal/journal.h"

#include <set>
#include <utility>

namespace {

using TControllers = std::vector<std::unique_ptr<TStandController>>;

// Runs a statement whose count of changed rows does not matter: only an engine error fails it,
// and the connector then holds a new last error.
bool RunAnyCount(TMyDBConnector& database, const TMyStatement& statement) {
    const QString errorBefore = database.GetLastError();
    return database.ExecuteQuery(statement) || database.GetLastError() == errorBefore;
}

TJournalEntry HolderEntry(TJournalAction action, const QString& cardNumber, const QString& holder) {
    TJournalEntry entry;
    entry.Action = action;
    entry.CardNumber = cardNumber;
    entry.CardHolder = holder;
    return entry;
}

TJournalEntry ZoneEntry(int32_t conId, const QString& conName, const QString& cardNumber,
                        const QString& holder, int32_t before, int32_t after) {
    TJournalEntry entry = HolderEntry(TJournalAction::ZoneChanged, cardNumber, holder);
    entry.ConID = conId;
    entry.ConName = conName;
    entry.Changes = {{"ZoneID", QString::number(before), QString::number(after)}};
    return entry;
}

// The texts a cardholder's entry names, with their stored field names.
QList<std::pair<const char*, QString>> HolderFields(const TCardHolder& record) {
    return {{"CardHolder", record.CardHolder},
            {"CardCustom1", record.CardCustom1},
            {"CardCustom2", record.CardCustom2},
            {"CardCustom3", record.CardCustom3},
            {"CardCustom4", record.CardCustom4}};
}

// What a new cardholder was given: the texts that are not empty.
QList<TJournalChange> AddedFields(const TCardHolder& record) {
    QList<TJournalChange> changes;
    for (const auto& [field, value] : HolderFields(record))
        if (!value.isEmpty())
            changes.append({QString::fromLatin1(field), QString(), value});
    return changes;
}

QList<TJournalChange> ChangedFields(const TCardHolder& before, const TCardHolder& after) {
    QList<TJournalChange> changes;
    const auto old = HolderFields(before);
    const auto now = HolderFields(after);
    for (qsizetype i = 0; i < old.size(); ++i)
        if (old[i].second != now[i].second)
            changes.append({QString::fromLatin1(old[i].first), old[i].second, now[i].second});
    return changes;
}

// Drops every zone row of the card, after noting where it had access: those controllers get
// marks, and each access lost gets its entry, so a controller's history tells who took it away.
bool DropZones(TMyDBConnector& database, const QString& cardNumber, const QString& holder,
               QSet<int32_t>& marks, QList<TJournalEntry>& entries) {
    const std::unique_ptr<TMyResultSet> rows =
        database.Query(NamedCardZonesOfCardStatement(cardNumber));
    if (!rows)
        return false;
    for (rows->First(); !rows->Eof(); rows->Next()) {
        const int32_t conId = rows->Fields(0).AsInteger();
        const int32_t zone = rows->Fields(1).AsInteger();
        if (zone <= 0)
            continue;
        marks.insert(conId);
        entries << ZoneEntry(conId, rows->Fields(2).AsString(), cardNumber, holder, zone, 0);
    }
    return RunAnyCount(database, DeleteCardZonesStatement(cardNumber));
}

// Claims the controllers where these cards have zones, in ConID order, once the cards' rows are
// claimed and before anything of their zones is touched, the order every change takes them in. A
// controller that another workstation is deleting meanwhile is then either gone, zones and all,
// before the zones are read, or waits for this change: no mark, zone or zone entry of this change
// outlives it.
bool ClaimZoneControllers(TMyDBConnector& database, const QStringList& cardNumbers) {
    std::set<int32_t> conIds;
    for (const QString& cardNumber : cardNumbers) {
        const std::unique_ptr<TMyResultSet> rows =
            database.Query(ZoneControllersOfCardStatement(cardNumber));
        if (!rows)
            return false;
        for (rows->First(); !rows->Eof(); rows->Next())
            conIds.insert(rows->Fields(0).AsInteger());
    }
    for (int32_t conId : conIds)
        if (database.ExecuteCounted(ClaimControllerStatement(conId)) < 0)
            return false;
    return true;
}

bool OnServer(TMyDBConnector& database) {
    return database.GetDBTypeName() == QLatin1String("postgresql");
}

// A live row of a card: the engine's handle on it and its texts as kept.
struct TLiveRow {
    QString Handle;
    TCardHolder Texts;
};

// Every live row of the number (an older database may hold two); nothing when the lookup failed.
std::optional<std::vector<TLiveRow>> LiveRows(TMyDBConnector& database, const QString& cardNumber) {
    const std::unique_ptr<TMyResultSet> rows =
        database.Query(LiveCardHolderRowsStatement(cardNumber, OnServer(database)));
    if (!rows)
        return std::nullopt;
    std::vector<TLiveRow> live;
    for (rows->First(); !rows->Eof(); rows->Next()) {
        TLiveRow row;
        row.Handle = rows->Fields(0).AsString();
        row.Texts.CardNumber = cardNumber;
        row.Texts.CardHolder = CardText(rows->Fields(1).AsString());
        row.Texts.CardCustom1 = CardText(rows->Fields(2).AsString());
        row.Texts.CardCustom2 = CardText(rows->Fields(3).AsString());
        row.Texts.CardCustom3 = CardText(rows->Fields(4).AsString());
        row.Texts.CardCustom4 = CardText(rows->Fields(5).AsString());
        live.push_back(row);
    }
    return live;
}

void Mark(TControllers& controllers, const QSet<int32_t>& conIds) {
    for (const auto& controller : controllers)
        if (conIds.contains(controller->ConID))
            controller->ChangesMade = true;
}

TCardHolderSave NoCardNumber() {
    TCardHolderSave refused;
    refused.Outcome = TCardHolderSave::NotACardNumber;
    return refused;
}

TCardHolderSave Failure(TMyDBConnector& database) {
    TCardHolderSave result;
    result.Outcome =
        CommitOutcomeUnknown(database) ? TCardHolderSave::Unknown : TCardHolderSave::Failed;
    result.Error = database.GetLastError();
    return result;
}

// The first live holder's name; null when there is none.
bool LookUpLiveHolder(TMyDBConnector& database, const QString& cardNumber, QString& holder) {
    holder = QString();
    const std::unique_ptr<TMyResultSet> rows =
        database.Query(CardHolderByNumberStatement(cardNumber));
    if (rows && rows->RecordCount() > 0)
        holder = rows->Fields(0).AsString();
    return rows != nullptr;
}

bool SameTexts(const TCardHolder& a, const TCardHolder& b) {
    return a.CardNumber == b.CardNumber && a.CardHolder == b.CardHolder &&
           a.CardCustom1 == b.CardCustom1 && a.CardCustom2 == b.CardCustom2 &&
           a.CardCustom3 == b.CardCustom3 && a.CardCustom4 == b.CardCustom4;
}

} // namespace

namespace {

TCardHolder StoredRecord(const TMyResultSet& rows) {
    TCardHolder record;
    record.CardNumber = rows.FieldByName("CardNumber").AsString();
    record.CardHolder = CardText(rows.FieldByName("CardHolder").AsString());
    record.CardCustom1 = CardText(rows.FieldByName("CardCustom1").AsString());
    record.CardCustom2 = CardText(rows.FieldByName("CardCustom2").AsString());
    record.CardCustom3 = CardText(rows.FieldByName("CardCustom3").AsString());
    record.CardCustom4 = CardText(rows.FieldByName("CardCustom4").AsString());
    return record;
}

} // namespace

std::optional<TCardHolder> LoadCardHolder(TMyDBConnector& database, const QString& cardNumber) {
    const std::unique_ptr<TMyResultSet> rows = database.Query(LoadCardHolderStatement(cardNumber));
    if (!rows || rows->RecordCount() != 1)
        return std::nullopt;
    return StoredRecord(*rows);
}

TStoredCheck StoredAsSaved(TMyDBConnector& database, const TCardHolder& record) {
    const std::unique_ptr<TMyResultSet> rows =
        database.Query(LoadCardHolderStatement(record.CardNumber));
    if (!rows)
        return TStoredCheck::Failed;
    return rows->RecordCount() == 1 && SameTexts(StoredRecord(*rows), record)
               ? TStoredCheck::Saved
               : TStoredCheck::NotSaved;
}

bool SameCardNumber(const QString& a, const QString& b) {
    // The column compares A-Z without case, and nothing else.
    if (a.size() != b.size())
        return false;
    auto folded = [](QChar c) {
        return c >= u'a' && c <= u'z' ? QChar(c.unicode() - u'a' + u'A') : c;
    };
    for (qsizetype i = 0; i < a.size(); ++i)
        if (folded(a[i]) != folded(b[i]))
            return false;
    return true;
}

QString LiveCardHolderOf(TMyDBConnector& database, const QString& cardNumber) {
    QString holder;
    LookUpLiveHolder(database, cardNumber, holder);
    return holder;
}

namespace {

// Two workstations giving one number at the same moment both find it free, and on a server the
// unique index refuses the second. Once that transaction is over, the number shows its new live
// holder: the operator hears that it is taken, as if the other had been a moment quicker.
TCardHolderSave TakenMeanwhile(TMyDBConnector& database, TCardHolderSave saved,
                               const QString& cardNumber, const QString& ownNumber) {
    if (saved.Outcome != TCardHolderSave::Failed || SameCardNumber(cardNumber, ownNumber))
        return saved;
    // The whole record, as when the number was found taken before the save: it is what the
    // operator agrees to replace, and the replacing save takes only that holder.
    const std::optional<TCardHolder> holder = LoadCardHolder(database, cardNumber);
    if (!holder)
        return saved;
    TCardHolderSave taken;
    taken.Outcome = TCardHolderSave::NumberTaken;
    taken.TakenBy = holder->CardHolder;
    taken.Taken = *holder;
    return taken;
}

TCardHolderSave SaveNew(TMyDBConnector& database, const TCardHolder& record,
                        const std::optional<TCardHolder>& replacing, QSet<int32_t>& marked,
                        const TJournalAuthor& author);
TCardHolderSave SaveEdited(TMyDBConnector& database, const TCardHolder& record,
                           const TCardHolder& loaded, QSet<int32_t>& marked,
                           const TJournalAuthor& author);
TCardHolderDelete DeleteChosen(TMyDBConnector& database, const TCardHolder& chosen,
                               QSet<int32_t>& marked, const TJournalAuthor& author);

} // namespace

TCardHolderSave SaveNewCardHolder(TMyDBConnector& database, const TCardHolder& record,
                                  const std::optional<TCardHolder>& replacing,
                                  TControllers& controllers, const TJournalAuthor& author) {
    QSet<int32_t> marked;
    const TCardHolderSave saved =
        TakenMeanwhile(database, SaveNew(database, record, replacing, marked, author),
                       record.CardNumber, QString());
    Mark(controllers, marked);
    return saved;
}

TCardHolderSave SaveEditedCardHolder(TMyDBConnector& database, const TCardHolder& record,
                                     const TCardHolder& loaded, TControllers& controllers,
                                     const TJournalAuthor& author) {
    QSet<int32_t> marked;
    const TCardHolderSave saved =
        TakenMeanwhile(database, SaveEdited(database, record, loaded, marked, author),
                       record.CardNumber, loaded.CardNumber);
    Mark(controllers, marked);
    return saved;
}

namespace {

TCardHolderSave SaveNew(TMyDBConnector& database, const TCardHolder& record,
                        const std::optional<TCardHolder>& replacing, QSet<int32_t>& marked,
                        const TJournalAuthor& author) {
    if (!SavableCardNumber(record.CardNumber, QString()))
        return NoCardNumber();
    TTransaction transaction(database);
    if (!transaction.Started())
        return Failure(database);
    // The live holder's row before anything else of the card, as every change of a card takes it:
    // two changes of one card then queue at that row instead of each holding what the other needs
    // next (its zones, its deleted rows) on a server.
    if (database.ExecuteCounted(ClaimCardHolderStatement(record.CardNumber)) < 0)
        return Failure(database);
    // Looked up inside the transaction: another copy of the program cannot slip a holder in
    // between the question and the save.
    const std::optional<std::vector<TLiveRow>> live = LiveRows(database, record.CardNumber);
    if (!live)
        return Failure(database);
    const QString holder = live->empty() ? QString() : live->front().Texts.CardHolder;
    if (!live->empty() && !replacing) {
        TCardHolderSave taken;
        taken.Outcome = TCardHolderSave::NumberTaken;
        taken.TakenBy = holder;
        taken.Taken = live->front().Texts;
        return taken;
    }
    // The operator agreed to replace one cardholder: whoever else has the card now (another
    // workstation replaced or changed them after the question) is not theirs to delete. Of two
    // live rows, which an older database may hold, the question named one only.
    if (!live->empty() && (live->size() > 1 || !SameTexts(live->front().Texts, *replacing))) {
        TCardHolderSave changed;
        changed.Outcome = TCardHolderSave::HolderChanged;
        changed.TakenBy = holder;
        return changed;
    }
    // The live holder replaced is deleted as the list would delete them; a deleted row taken over
    // was journaled when it was deleted.
    QList<TJournalEntry> entries;
    if (!holder.isNull())
        entries << HolderEntry(TJournalAction::CardHolderDeleted, record.CardNumber, holder);
    TJournalEntry added =
        HolderEntry(TJournalAction::CardHolderAdded, record.CardNumber, record.CardHolder);
    added.Changes = AddedFields(record);
    QList<TJournalEntry> zoneEntries;
    QSet<int32_t> marks;
    if (!ClaimZoneControllers(database, {record.CardNumber}) ||
        !DropZones(database, record.CardNumber, holder, marks, zoneEntries) ||
        !RunAnyCount(database, DeleteCardHolderStatement(record.CardNumber)) ||
        !database.ExecuteQuery(InsertCardHolderStatement(record)) ||
        !AppendJournal(database, entries + zoneEntries + QList<TJournalEntry>{added}, author) ||
        !StoreMarks(database, marks) || !transaction.Commit())
        return Failure(database);
    marked = marks;
    TCardHolderSave saved;
    saved.Outcome = TCardHolderSave::Saved;
    return saved;
}

TCardHolderSave SaveEdited(TMyDBConnector& database, const TCardHolder& record,
                           const TCardHolder& loaded, QSet<int32_t>& marked,
                           const TJournalAuthor& author) {
    const QString& loadedNumber = loaded.CardNumber;
    if (!SavableCardNumber(record.CardNumber, loadedNumber))
        return NoCardNumber();
    TTransaction transaction(database);
    if (!transaction.Started())
        return Failure(database);
    const qint64 claimed = database.ExecuteCounted(ClaimCardHolderStatement(loadedNumber));
    if (claimed < 0)
        return Failure(database);
    const std::optional<TCardHolder> current =
        claimed == 0 ? std::nullopt : LoadCardHolder(database, loadedNumber);
    if (!current || !SameTexts(*current, loaded)) {
        TCardHolderSave refused;
        refused.Outcome = current ? TCardHolderSave::ChangedElsewhere : TCardHolderSave::Gone;
        return refused;
    }
    QSet<int32_t> marks;
    QList<TJournalEntry> entries;
    QList<TJournalChange> changes = ChangedFields(loaded, record);
    const bool replaced = !SameCardNumber(record.CardNumber, loadedNumber);
    if (replaced) {
        TJournalEntry replacement =
            HolderEntry(TJournalAction::CardReplaced, record.CardNumber, record.CardHolder);
        replacement.OldCardNumber = loadedNumber;
        entries << replacement;
    } else if (record.CardNumber != loadedNumber) {
        // Only the letter case: the same card, written differently.
        changes.prepend({"CardNumber", loadedNumber, record.CardNumber});
    }
    if (!changes.isEmpty()) {
        TJournalEntry edited =
            HolderEntry(TJournalAction::CardHolderEdited, record.CardNumber, record.CardHolder);
        edited.Changes = changes;
        entries << edited;
    }
    if (replaced) {
        QString holder;
        if (!LookUpLiveHolder(database, record.CardNumber, holder))
            return Failure(database);
        if (!holder.isNull()) {
            TCardHolderSave taken;
            taken.Outcome = TCardHolderSave::NumberTaken;
            taken.TakenBy = holder;
            return taken;
        }
        // The number of a deleted cardholder is taken over with nothing of theirs left behind;
        // the card loses the zones it had under this holder too, and every key that still
        // admits either is marked.
        if (!ClaimZoneControllers(database, {record.CardNumber, loadedNumber}) ||
            !DropZones(database, record.CardNumber, QString(), marks, entries) ||
            !RunAnyCount(database, DeleteDeletedCardHoldersStatement(record.CardNumber)) ||
            !DropZones(database, loadedNumber, loaded.CardHolder, marks, entries))
            return Failure(database);
    }
    if (!database.ExecuteQuery(UpdateCardHolderStatement(record, loadedNumber)) ||
        !AppendJournal(database, entries, author) || !StoreMarks(database, marks) ||
        !transaction.Commit())
        return Failure(database);
    marked = marks;
    TCardHolderSave saved;
    saved.Outcome = TCardHolderSave::Saved;
    return saved;
}

} // namespace

TCardHolderDelete DeleteCardHolderAndZones(TMyDBConnector& database, const TCardHolder& chosen,
                                           TControllers& controllers,
                                           const TJournalAuthor& author) {
    QSet<int32_t> marked;
    const TCardHolderDelete deleted = DeleteChosen(database, chosen, marked, author);
    Mark(controllers, marked);
    return deleted;
}

namespace {

TCardHolderDelete DeleteChosen(TMyDBConnector& database, const TCardHolder& chosen,
                               QSet<int32_t>& marked, const TJournalAuthor& author) {
    const QString& cardNumber = chosen.CardNumber;
    TTransaction transaction(database);
    if (!transaction.Started())
        return TCardHolderDelete::Failed;
    // The live row first, as every change of a card takes it (see SaveNew).
    const qint64 claimed = database.ExecuteCounted(ClaimCardHolderStatement(cardNumber));
    if (claimed < 0)
        return TCardHolderDelete::Failed;
    if (claimed == 0)
        return TCardHolderDelete::AlreadyGone;
    const std::optional<std::vector<TLiveRow>> live = LiveRows(database, cardNumber);
    if (!live)
        return TCardHolderDelete::Failed;
    if (live->empty())
        return TCardHolderDelete::AlreadyGone;
    // The cardholder the operator chose, not whoever has the card now: another workstation may
    // have replaced or changed them since the list showed them. Of two live rows (an older
    // database), the one chosen; of two alike, either.
    const TLiveRow* gone = nullptr;
    for (const TLiveRow& row : *live)
        if (SameTexts(row.Texts, chosen)) {
            gone = &row;
            break;
        }
    if (!gone)
        return TCardHolderDelete::ChangedElsewhere;
    const bool lastHolder = live->size() == 1;
    // Rows deleted earlier under the same number (an older database can hold them) go, so the
    // number is left with one row.
    QSet<int32_t> marks;
    if ((lastHolder && !ClaimZoneControllers(database, {cardNumber})) ||
        !RunAnyCount(database, DeleteDeletedCardHoldersStatement(cardNumber)))
        return TCardHolderDelete::Failed;
    // Counted: another workstation's deletion may have come first and made this one wait.
    const qint64 deleted = database.ExecuteCounted(
        lastHolder ? MarkCardHolderDeletedStatement(cardNumber)
                   : MarkCardHolderRowDeletedStatement(gone->Handle, OnServer(database)));
    if (deleted < 0)
        return TCardHolderDelete::Failed;
    if (deleted == 0)
        return TCardHolderDelete::AlreadyGone;
    QList<TJournalEntry> entries{
        HolderEntry(TJournalAction::CardHolderDeleted, cardNumber, gone->Texts.CardHolder)};
    // The card itself goes with its last holder only: while another holds it, every key that
    // admits it is right to.
    if ((lastHolder && !DropZones(database, cardNumber, gone->Texts.CardHolder, marks, entries)) ||
        !AppendJournal(database, entries, author) || !StoreMarks(database, marks) ||
        !transaction.Commit())
        return TCardHolderDelete::Failed;
    marked = marks;
    return TCardHolderDelete::Deleted;
}

} // namespace

int CycleCardZone(TMyDBConnector& database, const QString& cardNumber, int32_t conId,
                  const TJournalAuthor& author) {
    // The zone statements and the mark, or none: a half-done change would leave the card without
    // a row, showing a zone that the key will not get, or a key that no mark asks to write.
    TTransaction transaction(database);
    if (!transaction.Started())
        return ZoneFailed;
    // Claiming the card and the controller first makes a deletion of either on another
    // workstation wait for this click, or this click find them gone: no zone outlives its card or
    // its controller.
    for (const TMyStatement& claim :
         {ClaimCardHolderStatement(cardNumber), ClaimControllerStatement(conId)}) {
        const qint64 claimed = database.ExecuteCounted(claim);
        if (claimed < 0)
            return ZoneFailed;
        if (claimed == 0)
            return ZoneCardGone;
    }
    const std::unique_ptr<TMyResultSet> stored =
        database.Query(ZoneClickStatement(conId, cardNumber));
    if (!stored || stored->RecordCount() != 1)
        return ZoneFailed;
    const int32_t current = stored->Fields(2).AsInteger();
    const int32_t next = current >= 2 ? 0 : current + 1;
    if (!RunAnyCount(database, DeleteCardZoneStatement(conId, cardNumber)) ||
        !database.ExecuteQuery(InsertCardZoneStatement(conId, cardNumber, next)) ||
        !AppendJournal(database,
                       ZoneEntry(conId, stored->Fields(0).AsString(), cardNumber,
                                 stored->Fields(1).AsString(), current, next),
                       author) ||
        !StoreMarks(database, {conId}) || !transaction.Commit())
        return CommitOutcomeUnknown(database) ? ZoneUnknown : ZoneFailed;
    return next;
}

void TCardHolderSaveWrite::Run(TMyDBConnector& database) {
    Saved = Loaded ? TakenMeanwhile(database, SaveEdited(database, Record, *Loaded, Marked, Author),
                                    Record.CardNumber, Loaded->CardNumber)
                   : TakenMeanwhile(database, SaveNew(database, Record, Replacing, Marked, Author),
                                    Record.CardNumber, QString());
}

void TCardHolderReadBackWrite::Run(TMyDBConnector& database) {
    Stored = StoredAsSaved(database, Record);
}

void TCardHolderDeleteWrite::Run(TMyDBConnector& database) {
    Deleted = DeleteChosen(database, Chosen, Marked, Author);
}

void TZoneClickWrite::Run(TMyDBConnector& database) {
    Zone = CycleCardZone(database, CardNumber, ConID, Author);
    if (Zone >= 0)
        Marked.insert(ConID);
}
