#include "controllers/pendingchanges.h"

#include "controllers/controllerstatements.h"
#include "db/MyDBConnector.h"

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

bool SchemaAnswersOne(TMyDBConnector& database, const TMyStatement& statement) {
    const std::unique_ptr<TMyResultSet> rows = database.Query(statement);
    return rows && rows->RecordCount() == 1 && rows->Fields(0).AsInteger() == 1;
}

// Never 0, the stamp of the marks stored before there were stamps.
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
    state.Marked = rows->RecordCount() > 0;
    // Read as text: the field's integer is 32 bits wide, a stamp is not.
    if (state.Marked)
        state.Stamp = rows->Fields(0).AsString().toLongLong();
    return state;
}

TMarkClear ClearMarkAfterWrite(TMyDBConnector& database, int32_t conId, const TMarkState& built) {
    TTransaction transaction(database);
    if (!transaction.Started())
        return TMarkClear::Failed;
    // Without a mark when the image was built, any mark there is now came later and stays.
    if (built.Marked &&
        database.ExecuteCounted(DeletePendingChangeWithStampStatement(conId, built.Stamp)) < 0)
        return TMarkClear::Failed;
    const std::optional<TMarkState> now = ReadMarkState(database, conId);
    if (!now || !transaction.Commit())
        return TMarkClear::Failed;
    return now->Marked ? TMarkClear::ChangedSince : TMarkClear::Cleared;
}

bool AddPendingChangesTable(TMyDBConnector& database) {
    // Creating a table or a column changes no row: ExecuteQuery's answer says nothing, the schema
    // does.
    if (!SchemaAnswersOne(database, PendingChangesTableStatement()))
        database.ExecuteQuery(CreatePendingChangesTableStatement());
    if (!SchemaAnswersOne(database, PendingChangesTableStatement()))
        return false;
    if (!SchemaAnswersOne(database, PendingChangeStampColumnStatement()))
        database.ExecuteQuery(AddPendingChangeStampStatement());
    return SchemaAnswersOne(database, PendingChangeStampColumnStatement());
}
