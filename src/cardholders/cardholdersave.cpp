#include "cardholders/cardholdersave.h"

#include "cardholders/cardholderstatements.h"
#include "cardholders/cardnumber.h"
#include "controllers/pendingchanges.h"
#include "db/MyDBConnector.h"

namespace {

using TControllers = std::vector<std::unique_ptr<TStandController>>;

// Runs a statement whose count of changed rows does not matter: only an engine error fails it,
// and the connector then holds a new last error.
bool RunAnyCount(TMyDBConnector& database, const TMyStatement& statement) {
    const QString errorBefore = database.GetLastError();
    return database.ExecuteQuery(statement) || database.GetLastError() == errorBefore;
}

// The controllers at which the card has a zone above 0.
bool ControllersWithCard(TMyDBConnector& database, const QString& cardNumber,
                         QSet<int32_t>& conIds) {
    const std::unique_ptr<TMyResultSet> rows = database.Query(CardZonesOfCardStatement(cardNumber));
    if (!rows)
        return false;
    for (rows->First(); !rows->Eof(); rows->Next())
        if (rows->Fields(1).AsInteger() > 0)
            conIds.insert(rows->Fields(0).AsInteger());
    return true;
}

// Drops every zone row of the card, after noting where it had access.
bool DropZones(TMyDBConnector& database, const QString& cardNumber, QSet<int32_t>& marks) {
    return ControllersWithCard(database, cardNumber, marks) &&
           RunAnyCount(database, DeleteCardZonesStatement(cardNumber));
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
    result.Outcome = TCardHolderSave::Failed;
    result.Error = database.GetLastError();
    return result;
}

// The first live holder's name (null when there is none) and how many live rows have the number;
// an older database may still hold two.
bool LookUpLiveHolder(TMyDBConnector& database, const QString& cardNumber, QString& holder,
                      int* liveRows = nullptr) {
    holder = QString();
    const std::unique_ptr<TMyResultSet> rows =
        database.Query(CardHolderByNumberStatement(cardNumber));
    if (rows && rows->RecordCount() > 0)
        holder = rows->Fields(0).AsString();
    if (liveRows)
        *liveRows = rows ? rows->RecordCount() : 0;
    return rows != nullptr;
}

bool SameTexts(const TCardHolder& a, const TCardHolder& b) {
    return a.CardNumber == b.CardNumber && a.CardHolder == b.CardHolder &&
           a.CardCustom1 == b.CardCustom1 && a.CardCustom2 == b.CardCustom2 &&
           a.CardCustom3 == b.CardCustom3 && a.CardCustom4 == b.CardCustom4;
}

} // namespace

std::optional<TCardHolder> LoadCardHolder(TMyDBConnector& database, const QString& cardNumber) {
    const std::unique_ptr<TMyResultSet> rows = database.Query(LoadCardHolderStatement(cardNumber));
    if (!rows || rows->RecordCount() != 1)
        return std::nullopt;
    TCardHolder record;
    record.CardNumber = rows->FieldByName("CardNumber").AsString();
    record.CardHolder = CardText(rows->FieldByName("CardHolder").AsString());
    record.CardCustom1 = CardText(rows->FieldByName("CardCustom1").AsString());
    record.CardCustom2 = CardText(rows->FieldByName("CardCustom2").AsString());
    record.CardCustom3 = CardText(rows->FieldByName("CardCustom3").AsString());
    record.CardCustom4 = CardText(rows->FieldByName("CardCustom4").AsString());
    return record;
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
    QString holder;
    if (!LookUpLiveHolder(database, cardNumber, holder) || holder.isNull())
        return saved;
    TCardHolderSave taken;
    taken.Outcome = TCardHolderSave::NumberTaken;
    taken.TakenBy = holder;
    return taken;
}

TCardHolderSave SaveNew(TMyDBConnector& database, const TCardHolder& record, bool replaceLiveHolder,
                        TControllers& controllers);
TCardHolderSave SaveEdited(TMyDBConnector& database, const TCardHolder& record,
                           const TCardHolder& loaded, TControllers& controllers);

} // namespace

TCardHolderSave SaveNewCardHolder(TMyDBConnector& database, const TCardHolder& record,
                                  bool replaceLiveHolder, TControllers& controllers) {
    return TakenMeanwhile(database, SaveNew(database, record, replaceLiveHolder, controllers),
                          record.CardNumber, QString());
}

TCardHolderSave SaveEditedCardHolder(TMyDBConnector& database, const TCardHolder& record,
                                     const TCardHolder& loaded, TControllers& controllers) {
    return TakenMeanwhile(database, SaveEdited(database, record, loaded, controllers),
                          record.CardNumber, loaded.CardNumber);
}

namespace {

TCardHolderSave SaveNew(TMyDBConnector& database, const TCardHolder& record, bool replaceLiveHolder,
                        TControllers& controllers) {
    if (!SavableCardNumber(record.CardNumber, QString()))
        return NoCardNumber();
    TTransaction transaction(database);
    if (!transaction.Started())
        return Failure(database);
    // Looked up inside the transaction: another copy of the program cannot slip a holder in
    // between the question and the save.
    QString holder;
    if (!LookUpLiveHolder(database, record.CardNumber, holder))
        return Failure(database);
    if (!holder.isNull() && !replaceLiveHolder) {
        TCardHolderSave taken;
        taken.Outcome = TCardHolderSave::NumberTaken;
        taken.TakenBy = holder;
        return taken;
    }
    QSet<int32_t> marks;
    if (!DropZones(database, record.CardNumber, marks) ||
        !RunAnyCount(database, DeleteCardHolderStatement(record.CardNumber)) ||
        !database.ExecuteQuery(InsertCardHolderStatement(record)) || !StoreMarks(database, marks) ||
        !transaction.Commit())
        return Failure(database);
    Mark(controllers, marks);
    TCardHolderSave saved;
    saved.Outcome = TCardHolderSave::Saved;
    return saved;
}

TCardHolderSave SaveEdited(TMyDBConnector& database, const TCardHolder& record,
                           const TCardHolder& loaded, TControllers& controllers) {
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
    if (!SameCardNumber(record.CardNumber, loadedNumber)) {
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
        if (!DropZones(database, record.CardNumber, marks) ||
            !RunAnyCount(database, DeleteDeletedCardHoldersStatement(record.CardNumber)) ||
            !DropZones(database, loadedNumber, marks))
            return Failure(database);
    }
    if (!database.ExecuteQuery(UpdateCardHolderStatement(record, loadedNumber)) ||
        !StoreMarks(database, marks) || !transaction.Commit())
        return Failure(database);
    Mark(controllers, marks);
    TCardHolderSave saved;
    saved.Outcome = TCardHolderSave::Saved;
    return saved;
}

} // namespace

TCardHolderDelete DeleteCardHolderAndZones(TMyDBConnector& database, const QString& cardNumber,
                                           TControllers& controllers) {
    TTransaction transaction(database);
    if (!transaction.Started())
        return TCardHolderDelete::Failed;
    QString holder;
    int liveRows = 0;
    if (!LookUpLiveHolder(database, cardNumber, holder, &liveRows))
        return TCardHolderDelete::Failed;
    if (liveRows == 0)
        return TCardHolderDelete::AlreadyGone;
    // Rows deleted earlier under the same number (an older database can hold them) go, so the
    // number is left with one row. Two live rows of an older database are one card: both go.
    QSet<int32_t> marks;
    if (!RunAnyCount(database, DeleteDeletedCardHoldersStatement(cardNumber)))
        return TCardHolderDelete::Failed;
    // Counted: another workstation's deletion may have come first and made this one wait.
    const qint64 deleted = database.ExecuteCounted(MarkCardHolderDeletedStatement(cardNumber));
    if (deleted < 0)
        return TCardHolderDelete::Failed;
    if (deleted == 0)
        return TCardHolderDelete::AlreadyGone;
    if (!DropZones(database, cardNumber, marks) || !StoreMarks(database, marks) ||
        !transaction.Commit())
        return TCardHolderDelete::Failed;
    Mark(controllers, marks);
    return TCardHolderDelete::Deleted;
}

int CycleCardZone(TMyDBConnector& database, const QString& cardNumber, int32_t conId) {
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
    const std::unique_ptr<TMyResultSet> rows =
        database.Query(ZoneOfCardStatement(conId, cardNumber));
    if (!rows)
        return ZoneFailed;
    int32_t current = 0;
    for (rows->First(); !rows->Eof(); rows->Next())
        current = rows->Fields(0).AsInteger(); // the last one counts, as in the list
    const int32_t next = current >= 2 ? 0 : current + 1;
    if (!RunAnyCount(database, DeleteCardZoneStatement(conId, cardNumber)) ||
        !database.ExecuteQuery(InsertCardZoneStatement(conId, cardNumber, next)) ||
        !StoreMarks(database, {conId}) || !transaction.Commit())
        return ZoneFailed;
    return next;
}
