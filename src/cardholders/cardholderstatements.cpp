#include "cardholders/cardholderstatements.h"

#include "shared/publictypes.h"

TMyStatement LoadCardHolderStatement(const QString& cardNumber) {
    return {"SELECT CardNumber, CardHolder, CardCustom1, CardCustom2, CardCustom3, CardCustom4 "
            "FROM CardHolders WHERE (CardNumber = ?) AND (NOT Deleted)",
            {cardNumber}};
}

TMyStatement DeleteCardHolderStatement(const QString& cardNumber) {
    return {"DELETE * FROM CardHolders WHERE CardNumber = ?", {cardNumber}};
}

TMyStatement DeleteCardZonesStatement(const QString& cardNumber) {
    return {"DELETE * FROM CardZones WHERE CardNumber = ?", {cardNumber}};
}

TMyStatement CardZonesOfCardStatement(const QString& cardNumber) {
    return {"SELECT ConID, ZoneID FROM CardZones WHERE CardNumber = ?", {cardNumber}};
}

TMyStatement NamedCardZonesOfCardStatement(const QString& cardNumber) {
    return {"SELECT CardZones.ConID, CardZones.ZoneID, Controllers.ConName FROM CardZones LEFT "
            "JOIN Controllers ON Controllers.ConID = CardZones.ConID WHERE CardZones.CardNumber = "
            "? ORDER BY CardZones.ConID",
            {cardNumber}};
}

TMyStatement InsertCardHolderStatement(const TCardHolder& record) {
    return {"INSERT INTO CardHolders (CardNumber, CardHolder, CardCustom1, CardCustom2, "
            "CardCustom3, CardCustom4, CardAdded, CardLastEdit) VALUES(?, ?, ?, ?, ?, ?, NOW(), "
            "NOW())",
            {record.CardNumber, record.CardHolder, record.CardCustom1, record.CardCustom2,
             record.CardCustom3, record.CardCustom4}};
}

TMyStatement UpdateCardHolderStatement(const TCardHolder& record, const QString& oldCardNumber) {
    return {"UPDATE CardHolders SET CardNumber = ?, CardHolder = ?, CardCustom1 = ?, "
            "CardCustom2 = ?, CardCustom3 = ?, CardCustom4 = ?, CardLastEdit = NOW() WHERE "
            "(CardNumber = ?) AND (NOT Deleted)",
            {record.CardNumber, record.CardHolder, record.CardCustom1, record.CardCustom2,
             record.CardCustom3, record.CardCustom4, oldCardNumber}};
}

namespace {

// " AND (CardNumber IN (?, ?))" with the numbers as its values.
void LimitToCards(TMyStatement& statement, const QString& prefix, const QStringList& cardNumbers) {
    QStringList marks;
    for (const QString& number : cardNumbers) {
        marks << QStringLiteral("?");
        statement.Values << number;
    }
    statement.Sql += prefix + QStringLiteral("(CardNumber IN (%1))").arg(marks.join(", "));
}

} // namespace

TMyStatement CardHolderListStatement(const QString& nameFilter, const QString& custom1Filter,
                                     const QString& custom2Filter) {
    return CardHolderListStatement(nameFilter, custom1Filter, custom2Filter, {});
}

TMyStatement CardHolderListStatement(const QString& nameFilter, const QString& custom1Filter,
                                     const QString& custom2Filter, const QStringList& cardNumbers) {
    TMyStatement statement(
        "SELECT CardNumber, CardHolder, CardCustom1, CardCustom2, CardCustom3, CardCustom4, "
        "CardInactive, CardAdded, CardLastEdit FROM CardHolders WHERE (NOT Deleted) ");
    for (const auto& [column, filter] : {std::pair{"CardHolder", &nameFilter},
                                         {"CardCustom1", &custom1Filter},
                                         {"CardCustom2", &custom2Filter}}) {
        if (filter->isEmpty())
            continue;
        const TLikeOperand like = LikeContains(*filter);
        statement.Sql += QStringLiteral(" AND (%1 LIKE %2)").arg(QLatin1String(column), like.Sql);
        statement.Values << like.Pattern;
    }
    if (!cardNumbers.isEmpty())
        LimitToCards(statement, QStringLiteral(" AND "), cardNumbers);
    statement.Sql += QStringLiteral(" ORDER BY CardHolder ASC");
    return statement;
}

TMyStatement AllCardZonesStatement() {
    return {"SELECT CardNumber, ConID, ZoneID FROM CardZones ORDER BY CardNumber ASC, ConID ASC, "
            "ZoneID ASC"};
}

TMyStatement CardZonesOfCardsStatement(const QStringList& cardNumbers) {
    TMyStatement statement("SELECT CardNumber, ConID, ZoneID FROM CardZones");
    LimitToCards(statement, QStringLiteral(" WHERE "), cardNumbers);
    statement.Sql += QStringLiteral(" ORDER BY CardNumber ASC, ConID ASC, ZoneID ASC");
    return statement;
}

TMyStatement DeleteCardZoneStatement(int conID, const QString& cardNumber) {
    return {"DELETE * FROM CardZones WHERE (ConID = ?) AND (CardNumber = ?)", {conID, cardNumber}};
}

TMyStatement MarkCardHolderDeletedStatement(const QString& cardNumber) {
    return {"UPDATE CardHolders SET Deleted = 1 WHERE (CardNumber = ?) AND (NOT Deleted)",
            {cardNumber}};
}

TMyStatement DeleteZonesOfDeletedCardStatement(const QString& cardNumber) {
    return {"DELETE * FROM CardZones WHERE (CardNumber = ?)", {cardNumber}};
}

TMyStatement DeleteDeletedCardHoldersStatement(const QString& cardNumber) {
    return {"DELETE * FROM CardHolders WHERE (CardNumber = ?) AND (Deleted = 1)", {cardNumber}};
}

TMyStatement ClaimCardHolderStatement(const QString& cardNumber) {
    return {"UPDATE CardHolders SET CardLastEdit = CardLastEdit WHERE (CardNumber = ?) AND "
            "(NOT Deleted)",
            {cardNumber}};
}

TMyStatement ZoneClickStatement(int32_t conId, const QString& cardNumber) {
    return {"SELECT (SELECT ConName FROM Controllers WHERE ConID = ?) AS ConName, (SELECT "
            "MIN(CardHolder) FROM CardHolders WHERE (CardNumber = ?) AND (NOT Deleted)) AS "
            "CardHolder, (SELECT MAX(ZoneID) FROM CardZones WHERE (ConID = ?) AND (CardNumber = "
            "?)) AS ZoneID",
            {conId, cardNumber, conId, cardNumber}};
}

TMyStatement ZoneControllersOfCardStatement(const QString& cardNumber) {
    return {"SELECT DISTINCT ConID FROM CardZones WHERE CardNumber = ? ORDER BY ConID",
            {cardNumber}};
}

TMyStatement LiveCardHolderRowsStatement(const QString& cardNumber, bool onServer) {
    return {QStringLiteral("SELECT %1, CardHolder, CardCustom1, CardCustom2, CardCustom3, "
                           "CardCustom4 FROM CardHolders WHERE (CardNumber = ?) AND (NOT Deleted)")
                .arg(onServer ? QLatin1String("CAST(ctid AS text)") : QLatin1String("rowid")),
            {cardNumber}};
}

TMyStatement MarkCardHolderRowDeletedStatement(const QString& row, bool onServer) {
    if (onServer)
        return {"UPDATE CardHolders SET Deleted = 1 WHERE ctid = CAST(? AS tid)", {row}};
    return {"UPDATE CardHolders SET Deleted = 1 WHERE rowid = ?", {row.toLongLong()}};
}
