#pragma once

#include <QString>

struct sqlite3;

// How text compares in our databases, registered on every connection that touches them: the
// schema names the collation on the columns that lists are ordered by, and a connection without
// it cannot even prepare those ORDER BYs (which is also why the sqlite3 shell cannot build the
// template).
//
// LOCALE_NOCASE orders text as the user's language does, ignoring case but not accents
// (a < B < c, e < é < f). The C/POSIX locale has no such order, so English stands in for it.
//
// LIKE is replaced by a matcher that ignores case for every letter, not only A-Z as SQLite's own
// does, so a filter for "émile" finds "Émile". `%`, `_` and the ESCAPE clause work as usual.
inline constexpr char LocaleCollationName[] = "LOCALE_NOCASE";

// Returns false with the engine's message in `error` when a registration failed.
bool RegisterTextRules(sqlite3* database, QString* error);

// The LIKE matcher on its own: `pattern` as in `text LIKE pattern ESCAPE escape`, with escape 0
// for none.
bool LikeMatches(QStringView pattern, QStringView text, char16_t escape);
