#include "controllers/pendingchanges.h"

#include "controllers/controllerstatements.h"
#include "db/MyDBConnector.h"
#include "journal/journal.h"

#include <QRandomGenerator>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

// A statement that may change no row: only an engine error fails it, and the connector then holds
// a new last error.
bool RunAnyCount(TMyDBConnector& database, const TMyStatement& statement) {
    const QString errorBefore = database.GetLastError();
    return database.ExecuteQuery(statement) || database.GetLastError() == errorBefore;
}

bool OnServer(TMyDBConnector& database) {
    return database.GetDBTypeName() == QLatin1String("postgresql");
}

// A server has its own catalogue, and keeps the names as it folded them, in lower case.
TMyStatement TableCheck(TMyDBConnector& database) {
    return OnServer(database)
               ? TMyStatement{QStringLiteral("SELECT COUNT(*) FROM pg_tables WHERE (schemaname = "
                                             "current_schema()) AND (tablename = ?)"),
                              {QStringLiteral("pendingchanges")}}
               : PendingChangesTableStatement();
}

TMyStatement StampColumnCheck(TMyDBConnector& database) {
    return OnServer(database)
               ? TMyStatement{QStringLiteral("SELECT COUNT(*) FROM information_schema.columns "
                                             "WHERE (table_schema = current_schema()) AND "
                                             "(table_name = ?) AND (column_name = ?)"),
                              {QStringLiteral("pendingchanges"), QStringLiteral("stamp")}}
               : PendingChangeStampColumnStatement();
}

bool SchemaAnswersOne(TMyDBConnector& database, const TMyStatement& statement) {
    const std::unique_ptr<TMyResultSet> rows = database.Query(statement);
    return rows && rows->RecordCount() == 1 && rows->Fields(0).AsInteger() == 1;
}

// Above 0: 0 is the stamp of the marks stored before there were stamps.
qint64 NewStamp() {
    qint64 stamp = 0;
    while (stamp == 0)
        stamp = qint64(QRandomGenerator::global()->generate64() >> 2);
    return stamp;
}

} // namespace

bool StoreMarks(TMyDBConnector& database, const QSet<int32_t>& conIds) {
    // Always in the same order: two workstations marking the same controllers then wait for each
    // other on a server instead of locking each other out.
    std::vector<int32_t> ordered(conIds.begin(), conIds.end());
    std::sort(ordered.begin(), ordered.end());
    for (int32_t conId : ordered)
        if (database.ExecuteCounted(InsertPendingChangeStatement(conId, NewStamp())) < 0)
            return false;
    return true;
}

bool DropStoredMark(TMyDBConnector& database, int32_t conId) {
    return RunAnyCount(database, DeletePendingChangeStatement(conId));
}

std::optional<QSet<int32_t>> ReadStoredMarks(TMyDBConnector& database) {
    const std::unique_ptr<TMyResultSet> rows = database.Query(SelectPendingChangesStatement());
    if (!rows)
        return std::nullopt;
    QSet<int32_t> marks;
    for (rows->First(); !rows->Eof(); rows->Next())
        marks.insert(rows->Fields(0).AsInteger());
    return marks;
}

QSet<int32_t> StoredMarks(TMyDBConnector* database) {
    if (!database)
        return {};
    return ReadStoredMarks(*database).value_or(QSet<int32_t>{});
}

std::optional<TMarkState> ReadMarkState(TMyDBConnector& database, int32_t conId) {
    const std::unique_ptr<TMyResultSet> rows = database.Query(PendingChangeStampStatement(conId));
    if (!rows)
        return std::nullopt;
    TMarkState state;
    state.Exists = rows->RecordCount() > 0;
    // Read as text: the field's integer is 32 bits wide, a stamp is not.
    if (state.Exists)
        state.Stamp = rows->Fields(0).AsString().toLongLong();
    state.Marked = state.Exists && state.Stamp >= 0;
    return state;
}

namespace {

TMarkClear Committed(TMyDBConnector& database, TTransaction& transaction, TMarkClear outcome) {
    if (transaction.Commit())
        return outcome;
    return CommitOutcomeUnknown(database) ? TMarkClear::Unknown : TMarkClear::Failed;
}

} // namespace

TMarkClear ClearMarkAfterWrite(TMyDBConnector& database, int32_t conId, const TMarkState& built,
                               const TJournalEntry& written, const TJournalAuthor& author) {
    TTransaction transaction(database);
    if (!transaction.Started())
        return TMarkClear::Failed;
    const auto recorded = [&](bool outOfDate) {
        TJournalEntry entry = written;
        if (outOfDate)
            entry.Changes.append({QStringLiteral("OutOfDate"), QString(), QStringLiteral("1")});
        return AppendJournal(database, entry, author);
    };
    // The controller before its mark, in the order every change takes them.
    const qint64 claimed = database.ExecuteCounted(ClaimControllerStatement(conId));
    if (claimed < 0)
        return TMarkClear::Failed;
    // Gone: only the write's entry is stored, and its commit can lose its answer like any other.
    if (claimed == 0)
        return recorded(false) ? Committed(database, transaction, TMarkClear::Gone)
                               : TMarkClear::Failed;
    // The cleared stamp follows from the one cleared, so a writer that comes second can tell that
    // the other cleared the very contents it wrote.
    const qint64 clearedStamp = -built.Stamp - 1;
    if (built.Marked) {
        const qint64 cleared =
            database.ExecuteCounted(ClearPendingChangeStatement(conId, built.Stamp, clearedStamp));
        if (cleared < 0)
            return TMarkClear::Failed;
        if (cleared == 1)
            return recorded(false) ? Committed(database, transaction, TMarkClear::Cleared)
                                   : TMarkClear::Failed;
    }
    const std::optional<TMarkState> now = ReadMarkState(database, conId);
    if (!now)
        return TMarkClear::Failed;
    if ((!built.Marked && *now == built) || (built.Marked && now->Stamp == clearedStamp))
        return recorded(false) ? Committed(database, transaction, TMarkClear::Cleared)
                               : TMarkClear::Failed;
    // The key is older than the database: a change came since, or another workstation wrote and
    // cleared a newer image. It must be written again. The write is still journaled, since the
    // key holds it now, but as out of date: the history must not suggest that the key admits the
    // change that came meanwhile.
    if (!now->Marked && !StoreMarks(database, {conId}))
        return TMarkClear::Failed;
    return recorded(true) ? Committed(database, transaction, TMarkClear::ChangedSince)
                          : TMarkClear::Failed;
}

bool AddPendingChangesTable(TMyDBConnector& database) {
    // Creating a table or a column changes no row: ExecuteQuery's answer says nothing, the schema
    // does.
    if (!SchemaAnswersOne(database, TableCheck(database)))
        database.ExecuteQuery(CreatePendingChangesTableStatement());
    if (!SchemaAnswersOne(database, TableCheck(database)))
        return false;
    if (!SchemaAnswersOne(database, StampColumnCheck(database)))
        database.ExecuteQuery(AddPendingChangeStampStatement());
    return SchemaAnswersOne(database, StampColumnCheck(database));
}
