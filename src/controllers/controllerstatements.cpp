#include "controllers/controllerstatements.h"

#include "db/sqlquote.h"

namespace {
QString Decimal(int64_t value) {
    return QString::number(value);
}
} // namespace

QString SelectControllersStatement() {
    return QStringLiteral("SELECT * FROM Controllers ORDER BY ConName ASC");
}

QString CountCardsStatement(int32_t conId) {
    return "SELECT COUNT(*) FROM CardZones WHERE (ConID = " + Decimal(conId) + ") AND (ZoneID > 0)";
}

QString CountAllCardsStatement() {
    return QStringLiteral(
        "SELECT ConID, COUNT(*) FROM CardZones WHERE (ZoneID > 0) GROUP BY ConID");
}

QString DeleteControllerStatement(int32_t conId) {
    return "DELETE * FROM Controllers WHERE ConID = " + Decimal(conId);
}

QString DeleteControllerZonesStatement(int32_t conId) {
    return "DELETE * FROM CardZones WHERE ConID = " + Decimal(conId);
}

QString InsertControllerStatement(const QString& conName, const QString& conCode, uint8_t conByte1,
                                  uint8_t conByte2) {
    return "INSERT INTO Controllers (ConType, ConName, ConCode, ConByte1, ConByte2) VALUES(" +
           SqlQuoted(NewControllerType) + ", " + SqlQuoted(conName) + ", " + SqlQuoted(conCode) +
           ", " + Decimal(conByte1) + ", " + Decimal(conByte2) + ")";
}

QString UpdateControllerStatement(int32_t conId, const QString& conName, const QString& conCode,
                                  uint8_t conByte1, uint8_t conByte2) {
    return "UPDATE Controllers SET ConName = " + SqlQuoted(conName) +
           ", ConCode = " + SqlQuoted(conCode) + ", ConByte1 = " + Decimal(conByte1) +
           ", ConByte2 = " + Decimal(conByte2) + " WHERE ConID = " + Decimal(conId);
}

QString LastIdentityStatement() {
    return QStringLiteral("SELECT @@Identity");
}

QString SelectActiveCardNumbersStatement() {
    return QStringLiteral("SELECT CardNumber FROM CardHolders WHERE (NOT Deleted)");
}

QString InsertCardZoneStatement(int32_t conId, const QString& cardNumber, int zone) {
    return "INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES(" + Decimal(conId) + ", " +
           SqlQuoted(cardNumber) + ", " + Decimal(zone) + ")";
}

QString SelectZoneCardsStatement(int32_t conId, int zone) {
    return "SELECT CardNumber FROM CardZones WHERE (ConID = " + Decimal(conId) +
           ") AND (ZoneID = " + Decimal(zone) + ")";
}

QString SelectPendingChangesStatement() {
    return QStringLiteral("SELECT ConID FROM PendingChanges");
}

QString InsertPendingChangeStatement(int32_t conId) {
    return "INSERT INTO PendingChanges (ConID) VALUES(" + Decimal(conId) + ")";
}

QString DeletePendingChangeStatement(int32_t conId) {
    return "DELETE * FROM PendingChanges WHERE ConID = " + Decimal(conId);
}

QString PendingChangesTableStatement() {
    return QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE (type = \"table\") AND "
                          "(name = \"PendingChanges\")");
}

QString CreatePendingChangesTableStatement() {
    // As schema.sql makes it.
    return QStringLiteral("CREATE TABLE IF NOT EXISTS PendingChanges (ConID INTEGER PRIMARY KEY)");
}
