#include "controllers/controllerstatements.h"

TMyStatement SelectControllersStatement() {
    return {"SELECT * FROM Controllers ORDER BY ConName ASC"};
}

TMyStatement KeyOfControllerStatement(int32_t conId) {
    return {"SELECT ConCode, ConByte1, ConByte2 FROM Controllers WHERE ConID = ?", {conId}};
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
    return QStringLiteral("SELECT ConID FROM PendingChanges WHERE Stamp >= 0");
}

TMyStatement InsertPendingChangeStatement(int32_t conId, qint64 stamp) {
    // One statement that inserts or renews: two workstations marking the same controller at once
    // must both succeed, which a look-then-insert cannot promise on a server. The stamp is cast:
    // a server cannot tell the type of a bare value in a select list.
    return {"INSERT INTO PendingChanges (ConID, Stamp) SELECT ConID, CAST(? AS bigint) FROM "
            "Controllers WHERE ConID = ? ON CONFLICT (ConID) DO UPDATE SET Stamp = excluded.Stamp",
            {stamp, conId}};
}

TMyStatement PendingChangeStampStatement(int32_t conId) {
    return {"SELECT Stamp FROM PendingChanges WHERE ConID = ?", {conId}};
}

TMyStatement ClearPendingChangeStatement(int32_t conId, qint64 stamp, qint64 clearedStamp) {
    return {"UPDATE PendingChanges SET Stamp = ? WHERE (ConID = ?) AND (Stamp = ?)",
            {clearedStamp, conId, stamp}};
}

TMyStatement PendingChangeStampColumnStatement() {
    return QStringLiteral("SELECT COUNT(*) FROM pragma_table_info(\"PendingChanges\") WHERE "
                          "(name = \"Stamp\")");
}

TMyStatement AddPendingChangeStampStatement() {
    return QStringLiteral("ALTER TABLE PendingChanges ADD COLUMN Stamp INTEGER NOT NULL DEFAULT 0");
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
    return QStringLiteral("CREATE TABLE IF NOT EXISTS PendingChanges (ConID INTEGER PRIMARY KEY, "
                          "Stamp INTEGER NOT NULL "
                          "DEFAULT 0)");
}

TMyStatement ClaimControllerStatement(int32_t conId) {
    return {"UPDATE Controllers SET ConName = ConName WHERE ConID = ?", {conId}};
}

TMyStatement EditedControllerStatement(int32_t conId) {
    return {"SELECT ConName, ConCode, ConByte1, ConByte2 FROM Controllers WHERE ConID = ?",
            {conId}};
}

TMyStatement ClaimLiveCardHoldersStatement() {
    return {"UPDATE CardHolders SET CardLastEdit = CardLastEdit WHERE (NOT Deleted)"};
}
