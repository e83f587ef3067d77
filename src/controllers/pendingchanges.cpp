#include "controllers/pendingchanges.h"

#include "controllers/controllerstatements.h"
#include "db/MyDBConnector.h"

#include <memory>

namespace {

// A statement that may change no row: only an engine error fails it, and the connector then holds
// a new last error.
bool RunAnyCount(TMyDBConnector& database, const TMyStatement& statement) {
    const QString errorBefore = database.GetLastError();
    return database.ExecuteQuery(statement) || database.GetLastError() == errorBefore;
}

bool HasPendingChangesTable(TMyDBConnector& database) {
    // A server has its own catalogue, and keeps the table's name as it folded it, in lower case.
    const TMyStatement statement =
        database.GetDBTypeName() == QLatin1String("postgresql")
            ? TMyStatement{QStringLiteral("SELECT COUNT(*) FROM pg_tables WHERE (schemaname = "
                                          "current_schema()) AND (tablename = ?)"),
                           {QStringLiteral("pendingchanges")}}
            : PendingChangesTableStatement();
    const std::unique_ptr<TMyResultSet> rows = database.Query(statement);
    return rows && rows->RecordCount() == 1 && rows->Fields(0).AsInteger() == 1;
}

} // namespace

bool StoreMarks(TMyDBConnector& database, const QSet<int32_t>& conIds) {
    for (int32_t conId : conIds)
        if (!RunAnyCount(database, DeletePendingChangeStatement(conId)) ||
            !database.ExecuteQuery(InsertPendingChangeStatement(conId)))
            return false;
    return true;
}

bool DropStoredMark(TMyDBConnector& database, int32_t conId) {
    return RunAnyCount(database, DeletePendingChangeStatement(conId));
}

QSet<int32_t> StoredMarks(TMyDBConnector* database) {
    QSet<int32_t> marks;
    if (!database)
        return marks;
    if (const std::unique_ptr<TMyResultSet> rows = database->Query(SelectPendingChangesStatement()))
        for (rows->First(); !rows->Eof(); rows->Next())
            marks.insert(rows->Fields(0).AsInteger());
    return marks;
}

bool AddPendingChangesTable(TMyDBConnector& database) {
    if (HasPendingChangesTable(database))
        return true;
    // Creating a table changes no row: ExecuteQuery's answer says nothing, the schema does.
    database.ExecuteQuery(CreatePendingChangesTableStatement());
    return HasPendingChangesTable(database);
}
