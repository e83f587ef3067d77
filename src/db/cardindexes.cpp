#include "db/cardindexes.h"

#include "db/MyDBConnector.h"

#include <algorithm>

namespace {

int UniqueIndexCount(TMyDBConnector& database, bool& ok) {
    // The server keeps the names as it folded them, in lower case.
    const bool server = database.GetDBTypeName() == QLatin1String("postgresql");
    const QString catalog =
        server ? QStringLiteral("SELECT COUNT(*) FROM pg_indexes WHERE (schemaname = "
                                "current_schema()) AND (indexname IN (?, ?))")
               : QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE (type = \"index\") "
                                "AND (name IN (?, ?))");
    const QString holders = QString::fromLatin1(CardHoldersUniqueIndex);
    const QString zones = QString::fromLatin1(CardZonesUniqueIndex);
    const std::unique_ptr<TMyResultSet> rows = database.Query(
        {catalog, {server ? holders.toLower() : holders, server ? zones.toLower() : zones}});
    ok = rows && rows->RecordCount() == 1;
    return ok ? rows->Fields(0).AsInteger() : 0;
}

bool AppendFirstColumn(TMyDBConnector& database, const QString& sql, QStringList& values) {
    const std::unique_ptr<TMyResultSet> rows = database.Query(sql);
    if (!rows)
        return false;
    for (rows->First(); !rows->Eof(); rows->Next())
        values << rows->Fields(0).AsString().toUpper();
    return true;
}

} // namespace

TCardIndexUpgrade AddUniqueCardIndexes(TMyDBConnector& database) {
    TCardIndexUpgrade result;
    bool ok = false;
    if (UniqueIndexCount(database, ok) == 2) {
        result.Ok = true;
        return result;
    }
    if (!ok) {
        result.Error = database.GetLastError();
        return result;
    }

    TTransaction transaction(database);
    if (!transaction.Started()) {
        result.Error = database.GetLastError();
        return result;
    }
    // GROUP BY compares as the columns do (NOCASE), so these are exactly the rows that the
    // indexes would refuse.
    QStringList duplicates;
    if (!AppendFirstColumn(database,
                           "SELECT CardNumber FROM CardHolders GROUP BY CardNumber HAVING "
                           "COUNT(*) > 1",
                           duplicates) ||
        !AppendFirstColumn(database,
                           "SELECT CardNumber FROM CardZones GROUP BY ConID, CardNumber HAVING "
                           "COUNT(*) > 1",
                           duplicates)) {
        result.Error = database.GetLastError();
        return result;
    }
    if (!duplicates.isEmpty()) {
        std::sort(duplicates.begin(), duplicates.end());
        duplicates.erase(std::unique(duplicates.begin(), duplicates.end()), duplicates.end());
        result.DuplicateCardNumbers = duplicates;
        return result;
    }
    // Statements that change no row: ExecuteQuery's answer says nothing, the schema does.
    database.ExecuteQuery(QStringLiteral("CREATE UNIQUE INDEX IF NOT EXISTS ") +
                          CardHoldersUniqueIndex + " ON CardHolders (CardNumber)");
    database.ExecuteQuery(QStringLiteral("CREATE UNIQUE INDEX IF NOT EXISTS ") +
                          CardZonesUniqueIndex + " ON CardZones (ConID, CardNumber)");
    // The unique index serves every lookup the old one did.
    database.ExecuteQuery(QStringLiteral("DROP INDEX IF EXISTS CardHoldersByCardNumber"));
    if (UniqueIndexCount(database, ok) != 2) {
        result.Error = database.GetLastError();
        return result;
    }
    if (!transaction.Commit()) {
        result.Error = database.GetLastError();
        return result;
    }
    result.Ok = true;
    return result;
}
