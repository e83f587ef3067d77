#pragma once

#include <QDateTime>
#include <QString>

// The program's statements are written in the Access dialect: text in double quotes,
// "DELETE * FROM", NOW(), "SELECT @@Identity", a Yes/No column tested with NOT. SQLite reads
// double quotes as identifiers, so every statement is rewritten before the engine sees it:
//
//   "..." text          -> '...' text (a doubled "" inside is one ", a ' inside is doubled)
//   DELETE * FROM       -> DELETE FROM
//   NOW()               -> the local date and time as 'yyyy-MM-dd HH:mm:ss'
//   @@Identity          -> last_insert_rowid()
//
// A `?` outside them marks where a bound value goes; they are counted, so that the connector can
// tell a statement given too few or too many values. SQLite takes them as they are.
//
// Single-quoted text, [bracketed] and `backticked` names pass unchanged, and nothing inside any
// of them is ever rewritten. The Yes/No column is an integer 0/1 in our schema, so "NOT Deleted"
// and "Deleted = 1" need no rewriting.
//
// One statement per call: a `;` followed by anything but blanks is refused, and so is a comment
// (Access has none, and in SQLite one could hide the rest of the statement).
// The engine a statement is translated for. PostgreSQL needs more than SQLite:
//
//   ?                   -> $1, $2, ... in order (its only form of bound value)
//   @@Identity          -> lastval(): the identity the last INSERT on this connection drew
//   LIKE                -> COLLATE "und-x-icu" ILIKE: Access (and our SQLite matcher) ignore case
//                          there, and the server cannot match under the columns' own collation
//   Deleted = 1 / 0     -> Deleted = TRUE / FALSE: the Yes/No column is a real boolean there
//   [Name], `Name`      -> "name", as PostgreSQL folds the unquoted names of the schema
//
// and it refuses a `$` outside literals (a numbered place or a dollar-quoted text would slip past
// the scanner) and keeps an emitted literal apart from a word before it, so that E"..." can never
// turn into an escape string.
enum class TSqlTarget { SQLite, PostgreSQL };

struct TDialectTranslation {
    bool Ok = false;
    QString Sql;          // the statement for SQLite, when Ok
    QString Error;        // why the statement was refused, when not Ok
    int Placeholders = 0; // the `?`s outside literals and names, when Ok
};

// `now` is the moment NOW() stands for; when it is invalid, the current local time is read once,
// and only when the statement uses NOW().
TDialectTranslation TranslateAccessDialect(const QString& statement, const QDateTime& now = {},
                                           TSqlTarget target = TSqlTarget::SQLite);

// The text form of date-times in the database ('yyyy-MM-dd HH:mm:ss', local time).
QString DatabaseDateTimeText(const QDateTime& moment);
