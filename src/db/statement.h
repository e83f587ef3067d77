#pragma once

#include <QString>
#include <QVariant>
#include <QVariantList>

// A statement as the program sends it: the text in the Access dialect with a `?` wherever a value
// goes, and the values apart, in the order of their `?`s. Values never become part of the text, so
// whatever an operator typed is stored as typed and can never change the statement around it; each
// engine's connector binds them in its own way.
//
//   TMyStatement("SELECT CardHolder FROM CardHolders WHERE (CardNumber = ?) AND (NOT Deleted)",
//                {number})
//
// A value is one of:
//   QString          text (an empty or null string alike is stored as empty text)
//   integers, bool   an integer (a Yes/No column holds 0 or 1)
//   double           a real number
//   QDateTime        the moment as the database keeps dates (local time, as NOW() stores them)
//   QVariant()       NULL
// Any other kind is refused by the connector, with the reason in its last error.
struct TMyStatement {
    TMyStatement() = default;
    // Not explicit: a statement without values is just its text.
    TMyStatement(QString sql, QVariantList values = {})
        : Sql(std::move(sql)), Values(std::move(values)) {}
    TMyStatement(const char* sql) : Sql(QString::fromUtf8(sql)) {}

    QString Sql;
    QVariantList Values;

    friend bool operator==(const TMyStatement& a, const TMyStatement& b) {
        return a.Sql == b.Sql && a.Values == b.Values;
    }
};

// How a LIKE finds a typed value as a plain substring: `Sql` is the right-hand side ("?", followed
// by an ESCAPE clause when needed) and `Pattern` its value, the typed text wrapped in "%...%". A
// typed `%`, `_` or `\` would otherwise act as a wildcard, so when the value holds one of them it
// is escaped with `\`.
//
//   const TLikeOperand like = LikeContains(text);
//   statement.Sql += " AND (CardHolder LIKE " + like.Sql + ")";
//   statement.Values << like.Pattern;
struct TLikeOperand {
    QString Sql;
    QString Pattern;
};
TLikeOperand LikeContains(const QString& value);
