#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

struct TJournalEntry;

// An entry as a history shows it, in the operator's language: what happened, with the names and
// values the entry kept.
QString DescribeJournalEntry(const TJournalEntry& entry);

// The entry's moment in local time, as the histories and their export show it.
QString JournalTimeText(const TJournalEntry& entry);

// The columns of a history: their titles as message ids (for windows, which translate them
// themselves), translated, then one row per entry. A server site's history shows the database role
// the server vouches for beside what the workstation said (who was signed in there, and where); a
// file site's has no server to vouch, and shows what the workstation said alone.
QList<const char*> JournalColumns(bool server);
QStringList JournalColumnTitles(bool server);
QStringList JournalRow(const TJournalEntry& entry, bool server);

// Rows as a CSV document for a spreadsheet: UTF-8 with a byte-order mark (without it some
// spreadsheets take the file for a legacy code page), fields separated by commas, quoted where
// RFC 4180 asks for it, lines ended by CR LF. A field that a spreadsheet would run as a formula
// (beginning with =, +, -, @ or a control character) is opened with an apostrophe, so that a
// name typed into a cardholder can never become a formula in the reviewer's spreadsheet.
QByteArray CsvDocument(const QList<QStringList>& rows);
