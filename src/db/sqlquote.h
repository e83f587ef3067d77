#pragma once

#include <QString>

// Every text value that goes into a statement goes through SqlQuoted, and no statement is built
// any other way. Statements stay in the Access dialect (double-quoted text); doubling each `"`
// inside the value keeps the value from ending the literal early, so whatever an operator types
// is stored exactly as typed and can never change the statement around it.
//
//   "SELECT CardHolder FROM CardHolders WHERE (CardNumber = " + SqlQuoted(number) +
//   ") AND (NOT Deleted)"
QString SqlQuoted(const QString& value);

// The right-hand side of a LIKE that finds `value` as a plain substring: the value is wrapped in
// "%...%" and quoted. A typed `%`, `_` or `\` would otherwise act as a wildcard, so when the value
// holds one of them it is escaped with `\` and an ESCAPE clause follows; without them the operand
// is just the quoted "%value%".
//
//   " AND (CardHolder LIKE " + SqlLikeContains(text) + ")"
QString SqlLikeContains(const QString& value);
