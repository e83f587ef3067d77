#pragma once

#include <QList>

// The tables and columns the program's statements name, with the broad type each column must have,
// on every engine: the one description that an opening compares a site with (databasecheck.h). A
// database with more tables or columns is still a site. Engines that fold unquoted names compare
// them lower-cased.

// Broad types: what the engine stores must read back as the program wrote it.
enum class TSiteColumnKind {
    Integer, // SQLite INTEGER; PostgreSQL smallint, integer or bigint
    Text,    // SQLite TEXT; PostgreSQL text or character varying
    Flag,    // Yes/No: SQLite INTEGER 0/1; PostgreSQL boolean
};

struct TSiteColumn {
    const char* Name;
    TSiteColumnKind Kind;
    // Added by the program to a site made before it (as it opens one), rather than refused.
    bool AddedLater = false;
};

struct TSiteTable {
    const char* Name;
    QList<TSiteColumn> Columns;
    // Made by the program in a site made before it, rather than refused.
    bool AddedLater = false;
};

inline const TSiteTable SiteTables[] = {
    {"Controllers",
     {{"ConID", TSiteColumnKind::Integer},
      {"ConType", TSiteColumnKind::Text},
      {"ConName", TSiteColumnKind::Text},
      {"ConCode", TSiteColumnKind::Text},
      {"ConByte1", TSiteColumnKind::Integer},
      {"ConByte2", TSiteColumnKind::Integer}}},
    {"CardHolders",
     {{"CardNumber", TSiteColumnKind::Text},
      {"CardHolder", TSiteColumnKind::Text},
      {"CardCustom1", TSiteColumnKind::Text},
      {"CardCustom2", TSiteColumnKind::Text},
      {"CardCustom3", TSiteColumnKind::Text},
      {"CardCustom4", TSiteColumnKind::Text},
      {"CardInactive", TSiteColumnKind::Text},
      {"CardAdded", TSiteColumnKind::Text},
      {"CardLastEdit", TSiteColumnKind::Text},
      {"Deleted", TSiteColumnKind::Flag}}},
    {"CardZones",
     {{"ConID", TSiteColumnKind::Integer},
      {"CardNumber", TSiteColumnKind::Text},
      {"ZoneID", TSiteColumnKind::Integer}}},
    {"PendingChanges",
     {{"ConID", TSiteColumnKind::Integer}, {"Stamp", TSiteColumnKind::Integer, true}},
     true},
    {"Journal",
     {{"JournalID", TSiteColumnKind::Integer},
      {"EntryTime", TSiteColumnKind::Text},
      {"Operator", TSiteColumnKind::Text},
      {"Workstation", TSiteColumnKind::Text},
      {"Action", TSiteColumnKind::Text},
      {"ConID", TSiteColumnKind::Integer},
      {"ConName", TSiteColumnKind::Text},
      {"CardNumber", TSiteColumnKind::Text},
      {"OldCardNumber", TSiteColumnKind::Text},
      {"CardHolder", TSiteColumnKind::Text},
      {"Changes", TSiteColumnKind::Text}},
     true},
};
