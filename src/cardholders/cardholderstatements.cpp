#include "cardholders/cardholderstatements.h"

#include "db/sqlquote.h"
#include "shared/publictypes.h"

QString LoadCardHolderStatement(const QString& cardNumber) {
    return "SELECT CardNumber, CardHolder, CardCustom1, CardCustom2, CardCustom3, CardCustom4 "
           "FROM CardHolders WHERE (CardNumber = " +
           SqlQuoted(cardNumber) + ") AND (NOT Deleted)";
}

QString DeleteCardHolderStatement(const QString& cardNumber) {
    return "DELETE * FROM CardHolders WHERE CardNumber = " + SqlQuoted(cardNumber);
}

QString DeleteCardZonesStatement(const QString& cardNumber) {
    return "DELETE * FROM CardZones WHERE CardNumber = " + SqlQuoted(cardNumber);
}

QString CardZonesOfCardStatement(const QString& cardNumber) {
    return "SELECT ConID, ZoneID FROM CardZones WHERE CardNumber = " + SqlQuoted(cardNumber);
}

QString InsertCardHolderStatement(const TCardHolder& record) {
    return "INSERT INTO CardHolders (CardNumber, CardHolder, CardCustom1, CardCustom2, "
           "CardCustom3, CardCustom4, CardAdded, CardLastEdit) VALUES(" +
           SqlQuoted(record.CardNumber) + ", " + SqlQuoted(record.CardHolder) + ", " +
           SqlQuoted(record.CardCustom1) + ", " + SqlQuoted(record.CardCustom2) + ", " +
           SqlQuoted(record.CardCustom3) + ", " + SqlQuoted(record.CardCustom4) + ", NOW(), NOW())";
}

QString UpdateCardHolderStatement(const TCardHolder& record, const QString& oldCardNumber) {
    return "UPDATE CardHolders SET CardNumber = " + SqlQuoted(record.CardNumber) +
           ", CardHolder = " + SqlQuoted(record.CardHolder) +
           ", CardCustom1 = " + SqlQuoted(record.CardCustom1) +
           ", CardCustom2 = " + SqlQuoted(record.CardCustom2) +
           ", CardCustom3 = " + SqlQuoted(record.CardCustom3) +
           ", CardCustom4 = " + SqlQuoted(record.CardCustom4) +
           ", CardLastEdit = NOW() WHERE (CardNumber = " + SqlQuoted(oldCardNumber) +
           ") AND (NOT Deleted)";
}

QString CardHolderListStatement(const QString& nameFilter, const QString& custom1Filter,
                                const QString& custom2Filter) {
    QString filter;
    if (!nameFilter.isEmpty())
        filter += " AND (CardHolder LIKE " + SqlLikeContains(nameFilter) + ")";
    if (!custom1Filter.isEmpty())
        filter += " AND (CardCustom1 LIKE " + SqlLikeContains(custom1Filter) + ")";
    if (!custom2Filter.isEmpty())
        filter += " AND (CardCustom2 LIKE " + SqlLikeContains(custom2Filter) + ")";
    return "SELECT CardNumber, CardHolder, CardCustom1, CardCustom2, CardCustom3, CardCustom4, "
           "CardInactive, CardAdded, CardLastEdit FROM CardHolders WHERE (NOT Deleted) " +
           filter + " ORDER BY CardHolder ASC";
}

QString AllCardZonesStatement() {
    return "SELECT CardNumber, ConID, ZoneID FROM CardZones ORDER BY CardNumber ASC, ConID ASC, "
           "ZoneID ASC";
}

QString DeleteCardZoneStatement(int conID, const QString& cardNumber) {
    return "DELETE * FROM CardZones WHERE (ConID = " + QString::number(conID) +
           ") AND (CardNumber = " + SqlQuoted(cardNumber) + ")";
}

QString MarkCardHolderDeletedStatement(const QString& cardNumber) {
    return "UPDATE CardHolders SET Deleted = 1 WHERE (CardNumber = " + SqlQuoted(cardNumber) +
           ") AND (NOT Deleted)";
}

QString DeleteZonesOfDeletedCardStatement(const QString& cardNumber) {
    return "DELETE * FROM CardZones WHERE (CardNumber = " + SqlQuoted(cardNumber) + ")";
}

QString DeleteDeletedCardHoldersStatement(const QString& cardNumber) {
    return "DELETE * FROM CardHolders WHERE (CardNumber = " + SqlQuoted(cardNumber) +
           ") AND (Deleted = 1)";
}
