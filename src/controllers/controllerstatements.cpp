#include "controllers/controllerstatements.h"

TMyStatement SelectControllersStatement() {
    return {"SELECT * FROM Controllers ORDER BY ConName ASC"};
}

TMyStatement CountCardsStatement(int32_t conId) {
    return {"SELECT COUNT(*) FROM CardZones WHERE (ConID = ?) AND (ZoneID > 0)", {conId}};
}

TMyStatement CountAllCardsStatement() {
    return {"SELECT ConID, COUNT(*) FROM CardZones WHERE (ZoneID > 0) GROUP BY ConID"};
}

TMyStatement DeleteControllerStatement(int32_t conId) {
    return {"DELETE * FROM Controllers WHERE ConID = ?", {conId}};
}

TMyStatement DeleteControllerZonesStatement(int32_t conId) {
    return {"DELETE * FROM CardZones WHERE ConID = ?", {conId}};
}

TMyStatement InsertControllerStatement(const QString& conName, const QString& conCode,
                                       uint8_t conByte1, uint8_t conByte2) {
    return {
        "INSERT INTO Controllers (ConType, ConName, ConCode, ConByte1, ConByte2) "
        "VALUES(?, ?, ?, ?, ?)",
        {QString::fromLatin1(NewControllerType), conName, conCode, int(conByte1), int(conByte2)}};
}

TMyStatement UpdateControllerStatement(int32_t conId, const QString& conName,
                                       const QString& conCode, uint8_t conByte1, uint8_t conByte2) {
    return {"UPDATE Controllers SET ConName = ?, ConCode = ?, ConByte1 = ?, ConByte2 = ? WHERE "
            "ConID = ?",
            {conName, conCode, int(conByte1), int(conByte2), conId}};
}

TMyStatement LastIdentityStatement() {
    return {"SELECT @@Identity"};
}

TMyStatement SelectActiveCardNumbersStatement() {
    return {"SELECT CardNumber FROM CardHolders WHERE (NOT Deleted)"};
}

TMyStatement InsertCardZoneStatement(int32_t conId, const QString& cardNumber, int zone) {
    return {"INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES(?, ?, ?)",
            {conId, cardNumber, zone}};
}

TMyStatement SelectZoneCardsStatement(int32_t conId, int zone) {
    return {"SELECT CardNumber FROM CardZones WHERE (ConID = ?) AND (ZoneID = ?)", {conId, zone}};
}

TMyStatement SelectPendingChangesStatement() {
    return QStringLiteral("SELECT ConID FROM PendingChanges");
}

TMyStatement InsertPendingChangeStatement(int32_t conId) {
    return {"INSERT INTO PendingChanges (ConID) VALUES(?)", {conId}};
}

TMyStatement DeletePendingChangeStatement(int32_t conId) {
    return {"DELETE * FROM PendingChanges WHERE ConID = ?", {conId}};
}

TMyStatement PendingChangesTableStatement() {
    return QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE (type = \"table\") AND "
                          "(name = \"PendingChanges\")");
}

TMyStatement CreatePendingChangesTableStatement() {
    // As schema.sql makes it.
    return QStringLiteral("CREATE TABLE IF NOT EXISTS PendingChanges (ConID INTEGER PRIMARY KEY)");
}
