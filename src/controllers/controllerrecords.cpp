#include "controllers/controllerrecords.h"

#include "controllers/controllerstatements.h"
#include "controllers/pendingchanges.h"
#include "db/MyDBConnector.h"
#include "journal/journal.h"

#include <QHash>

std::optional<TControllerRecords> ReadControllers(TMyDBConnector* database,
                                                  const QSet<int32_t>& marked) {
    if (!database)
        return std::nullopt;
    const std::optional<QSet<int32_t>> stored = ReadStoredMarks(*database);
    if (!stored)
        return std::nullopt;
    const std::unique_ptr<TMyResultSet> rows = database->Query(SelectControllersStatement());
    if (!rows)
        return std::nullopt;
    TControllerRecords controllers;
    for (rows->First(); !rows->Eof(); rows->Next()) {
        auto controller = std::make_unique<TStandController>();
        controller->ConID = rows->FieldByName("ConID").AsInteger();
        controller->ConType = rows->FieldByName("ConType").AsString();
        controller->ConName = rows->FieldByName("ConName").AsString();
        controller->ConCode = rows->FieldByName("ConCode").AsString();
        controller->ConByte1 = uint8_t(rows->FieldByName("ConByte1").AsInteger());
        controller->ConByte2 = uint8_t(rows->FieldByName("ConByte2").AsInteger());
        controller->ChangesMade =
            marked.contains(controller->ConID) || stored->contains(controller->ConID);
        controllers.push_back(std::move(controller));
    }
    return controllers;
}

int ChangedControllerCount(const TControllerRecords& controllers) {
    int count = 0;
    for (const auto& controller : controllers)
        count += controller->ChangesMade ? 1 : 0;
    return count;
}

bool CountControllerCards(TMyDBConnector* database, TControllerRecords& controllers) {
    // One statement for all controllers instead of one each: with hundreds of controllers the
    // counting was most of a reload's time. A controller without rows is not in the result.
    const std::unique_ptr<TMyResultSet> rows =
        database ? database->Query(CountAllCardsStatement()) : nullptr;
    if (!rows)
        return false;
    QHash<int32_t, int32_t> counts;
    for (rows->First(); !rows->Eof(); rows->Next())
        counts.insert(rows->Fields(0).AsInteger(), rows->Fields(1).AsInteger());
    for (const auto& controller : controllers)
        controller->CardCount = counts.value(controller->ConID, 0);
    return true;
}

std::optional<QStringList> ReadZoneCards(TMyDBConnector& database, int32_t conId, int zone) {
    const std::unique_ptr<TMyResultSet> rows =
        database.Query(SelectZoneCardsStatement(conId, zone));
    if (!rows)
        return std::nullopt;
    QStringList cards;
    cards.reserve(rows->RecordCount());
    for (rows->First(); !rows->Eof(); rows->Next())
        cards << rows->Fields(0).AsString();
    return cards;
}

namespace {

// The fields a controller's entry names, with their stored names.
QList<std::pair<const char*, QString>>
ControllerFields(const QString& conName, const QString& conCode, int conByte1, int conByte2) {
    return {{"ConName", conName},
            {"ConCode", conCode},
            {"ConByte1", QString::number(conByte1)},
            {"ConByte2", QString::number(conByte2)}};
}

TJournalEntry ControllerEntry(TJournalAction action, int32_t conId, const QString& conName) {
    TJournalEntry entry;
    entry.Action = action;
    entry.ConID = conId;
    entry.ConName = conName;
    return entry;
}

} // namespace

TControllerDelete DeleteController(TMyDBConnector& database, int32_t conId,
                                   const TJournalAuthor& author) {
    TTransaction transaction(database);
    if (!transaction.Started())
        return TControllerDelete::Failed;
    // What it was, for its last entry. Finding nothing is no failure: the counted deletion below
    // tells a controller already gone.
    TStandController gone;
    gone.ConID = conId;
    if (!ReloadController(database, gone) && !database.Query(EditedControllerStatement(conId)))
        return TControllerDelete::Failed;
    // Counted: another workstation's deletion may have come first and made this one wait.
    const qint64 deleted = database.ExecuteCounted(DeleteControllerStatement(conId));
    if (deleted < 0)
        return TControllerDelete::Failed;
    if (deleted == 0)
        return TControllerDelete::AlreadyGone;
    // Deleting no row (a controller without zones or mark) is no failure; only an engine error is.
    for (const TMyStatement& statement :
         {DeleteControllerZonesStatement(conId), DeletePendingChangeStatement(conId)})
        if (database.ExecuteCounted(statement) < 0)
            return TControllerDelete::Failed;
    TJournalEntry entry = ControllerEntry(TJournalAction::ControllerDeleted, conId, gone.ConName);
    for (const auto& [field, value] :
         ControllerFields(gone.ConName, gone.ConCode, gone.ConByte1, gone.ConByte2))
        entry.Changes.append({QString::fromLatin1(field), value, QString()});
    if (!AppendJournal(database, entry, author))
        return TControllerDelete::Failed;
    return transaction.Commit() ? TControllerDelete::Deleted : TControllerDelete::Failed;
}

bool ReloadController(TMyDBConnector& database, TStandController& record) {
    const std::unique_ptr<TMyResultSet> rows =
        database.Query(EditedControllerStatement(record.ConID));
    if (!rows || rows->RecordCount() != 1)
        return false;
    record.ConName = rows->Fields(0).AsString();
    record.ConCode = rows->Fields(1).AsString();
    record.ConByte1 = uint8_t(rows->Fields(2).AsInteger());
    record.ConByte2 = uint8_t(rows->Fields(3).AsInteger());
    return true;
}

bool KeyStillMatches(const TStandController& stored, const TControllerInput& input) {
    return stored.ConCode.compare(input.ConCode, Qt::CaseInsensitive) == 0 &&
           stored.ConByte1 == input.ConByte1 && stored.ConByte2 == input.ConByte2;
}

TControllerSaved UpdateController(TMyDBConnector& database, TStandController& record,
                                  const TControllerInput& input, const TJournalAuthor& author) {
    TControllerSaved saved;
    saved.ConID = record.ConID;
    const bool keyOutdated = !KeyStillMatches(record, input);
    TTransaction transaction(database);
    if (!transaction.Started())
        return saved;
    // Claimed before it is compared, so a concurrent save or deletion waits for this one.
    const qint64 claimed = database.ExecuteCounted(ClaimControllerStatement(record.ConID));
    if (claimed < 0)
        return saved;
    TStandController current;
    current.ConID = record.ConID;
    if (claimed == 0 || !ReloadController(database, current)) {
        saved.Conflict = claimed == 0 ? TControllerSaved::Gone : TControllerSaved::None;
        return saved;
    }
    if (current.ConName != record.ConName || current.ConCode != record.ConCode ||
        current.ConByte1 != record.ConByte1 || current.ConByte2 != record.ConByte2) {
        saved.Conflict = TControllerSaved::ChangedElsewhere;
        return saved;
    }
    TJournalEntry entry =
        ControllerEntry(TJournalAction::ControllerEdited, record.ConID, input.ConName);
    const auto before =
        ControllerFields(current.ConName, current.ConCode, current.ConByte1, current.ConByte2);
    const auto after =
        ControllerFields(input.ConName, input.ConCode, input.ConByte1, input.ConByte2);
    for (qsizetype i = 0; i < before.size(); ++i)
        if (before[i].second != after[i].second)
            entry.Changes.append(
                {QString::fromLatin1(before[i].first), before[i].second, after[i].second});
    // Saved unchanged: nothing for a reviewer to read.
    if (!database.ExecuteQuery(UpdateControllerStatement(record.ConID, input.ConName, input.ConCode,
                                                         input.ConByte1, input.ConByte2)) ||
        (!entry.Changes.isEmpty() && !AppendJournal(database, entry, author)) ||
        (keyOutdated && !StoreMarks(database, {record.ConID})) || !transaction.Commit()) {
        saved.OutcomeUnknown = CommitOutcomeUnknown(database);
        return saved;
    }
    saved.Saved = true;
    if (keyOutdated) {
        saved.KeyOutdated = true;
        record.ChangesMade = true;
    }
    return saved;
}

TControllerSaved AddController(TMyDBConnector& database, const TControllerInput& input,
                               int grantZone, const TJournalAuthor& author) {
    TControllerSaved saved;
    {
        TTransaction transaction(database);
        if (!transaction.Started())
            return saved;
        // After a failed insert the last identity belongs to some earlier row, and granting would
        // hand every card to a controller the operator did not choose.
        if (!database.ExecuteQuery(InsertControllerStatement(input.ConName, input.ConCode,
                                                             input.ConByte1, input.ConByte2)))
            return saved;
        if (const std::unique_ptr<TMyResultSet> identity = database.Query(LastIdentityStatement());
            identity && identity->RecordCount() > 0)
            saved.ConID = identity->Fields(0).AsInteger();
        TJournalEntry entry =
            ControllerEntry(TJournalAction::ControllerAdded, saved.ConID, input.ConName);
        for (const auto& [field, value] :
             ControllerFields(input.ConName, input.ConCode, input.ConByte1, input.ConByte2))
            entry.Changes.append({QString::fromLatin1(field), QString(), value});
        if (saved.ConID <= 0 || !AppendJournal(database, entry, author) || !transaction.Commit()) {
            saved.OutcomeUnknown = CommitOutcomeUnknown(database);
            saved.ConID = 0;
            return saved;
        }
        saved.Saved = true;
    }
    if (grantZone <= 0)
        return saved;

    // Thousands of inserts: one transaction instead of one each. The live cardholders are claimed
    // first, so a cardholder another workstation is deleting meanwhile is either gone from the
    // list below or deleted after the grant, zones and all: no grant outlives its card.
    //
    // Each card granted gets its zone entry, as a zone click would: a card's own history then says
    // who gave it access here. The entries are made by one statement from the grants themselves,
    // and the grants, their entries and the mark stay together: should the entries or the mark
    // not be stored, no grant is.
    // The controller is claimed after the cardholders, the order every change takes them in:
    // another workstation may have deleted it since it was added, and then nothing is granted.
    TBulkWork bulk(&database);
    saved.GrantsRefused = true; // until they are all in
    if (database.ExecuteCounted(ClaimLiveCardHoldersStatement()) < 0)
        return saved;
    const qint64 claimed = database.ExecuteCounted(ClaimControllerStatement(saved.ConID));
    if (claimed != 1) {
        // Deleted meanwhile: there is nothing left to grant, which is no refusal.
        saved.GrantsRefused = claimed < 0;
        return saved;
    }
    TTransaction grants(database);
    if (!grants.Started())
        return saved;
    const std::unique_ptr<TMyResultSet> cards = database.Query(SelectActiveCardNumbersStatement());
    if (!cards)
        return saved;
    bool granted = false;
    for (cards->First(); !cards->Eof(); cards->Next()) {
        if (!database.ExecuteQuery(
                InsertCardZoneStatement(saved.ConID, cards->Fields(0).AsString(), grantZone)))
            return saved;
        granted = true;
    }
    if (!granted) {
        saved.GrantsRefused = false; // nobody to grant
        return saved;
    }
    if (database.ExecuteCounted(AppendGrantedZonesStatement(
            saved.ConID, input.ConName, grantZone, author, QDateTime::currentDateTimeUtc())) <= 0 ||
        !StoreMarks(database, {saved.ConID}) || !grants.Commit())
        return saved;
    // Inside the bulk work the grants' own commit only ends their part: they are stored once the
    // bulk work's commit is, and not before they may be reported so.
    if (!bulk.Commit()) {
        saved.OutcomeUnknown = CommitOutcomeUnknown(database);
        return saved;
    }
    saved.GrantsRefused = false;
    saved.KeyOutdated = true;
    return saved;
}

void TControllerSaveWrite::Run(TMyDBConnector& database) {
    if (Loaded) {
        TStandController record = *Loaded;
        Saved = UpdateController(database, record, Input, Author);
    } else {
        Saved = AddController(database, Input, GrantZone, Author);
    }
    if (Saved.KeyOutdated)
        Marked.insert(Saved.ConID);
}

void TControllerDeleteWrite::Run(TMyDBConnector& database) {
    Deleted = DeleteController(database, ConID, Author);
}
