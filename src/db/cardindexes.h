#pragma once

#include <QString>
#include <QStringList>

class TMyDBConnector;

// The database keeps one CardHolders row per card number and one CardZones row per controller
// and card by itself, through two unique indexes. The template has them; a database made before
// them gets them here, all at once or not at all.
struct TCardIndexUpgrade {
    // Both indexes are in place afterwards.
    bool Ok = false;
    // The numbers that stand in the way (more than one cardholder row, or more than one zone row
    // at one controller), upper case and sorted; the database was left as it was. The operator has
    // to clean these up in the cardholder list before the database can hold the rules itself.
    QStringList DuplicateCardNumbers;
    // What the engine said when the indexes could not be made for another reason (a read-only
    // file, for one).
    QString Error;
};

// Cheap when the indexes exist already: one look at the schema.
TCardIndexUpgrade AddUniqueCardIndexes(TMyDBConnector& database);

// Index names, for the tests that look at the schema.
inline constexpr char CardHoldersUniqueIndex[] = "CardHoldersOneRowPerCard";
inline constexpr char CardZonesUniqueIndex[] = "CardZonesOneRowPerControllerAndCard";
