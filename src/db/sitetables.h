#pragma once

#include <QStringList>

// The tables and columns the program's statements name, on every engine; a database with more
// columns is still a site. Engines that fold unquoted names compare them lower-cased.
struct TSiteTable {
    const char* Name;
    QStringList Columns;
};

inline const TSiteTable SiteTables[] = {
    {"Controllers", {"ConID", "ConType", "ConName", "ConCode", "ConByte1", "ConByte2"}},
    {"CardHolders",
     {"CardNumber", "CardHolder", "CardCustom1", "CardCustom2", "CardCustom3", "CardCustom4",
      "CardInactive", "CardAdded", "CardLastEdit", "Deleted"}},
    {"CardZones", {"ConID", "CardNumber", "ZoneID"}},
};
