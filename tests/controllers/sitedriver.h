#pragma once

#include "controllers/keyimage.h"

#include <QString>
#include <QStringList>

// What the site driver (sitedriver.cpp) and the tests that run it agree on.

// The driver's card numbers: few, so that two programs keep meeting on the same cards.
inline constexpr int SiteDriverCards = 24;
inline QString SiteDriverCard(int index) {
    return QStringLiteral("%1").arg(0x1A2B000000LL + index, 10, 16, QLatin1Char('0')).toUpper();
}

// What a key holds, as text that does not depend on the order in which the database returned the
// cards: the code (its letter case changes no byte), the option bytes and each zone's cards sorted.
inline QString KeyWriteText(const TKeyImageInput& input) {
    QStringList zone1 = input.Zone1Cards;
    QStringList zone2 = input.Zone2Cards;
    zone1.sort();
    zone2.sort();
    return QStringLiteral("%1 %2 %3 | %4 | %5")
        .arg(input.ConCode.toUpper())
        .arg(input.ConByte1)
        .arg(input.ConByte2)
        .arg(zone1.join(' '), zone2.join(' '));
}

// How many operations of each kind the driver saw go through, each of which leaves exactly one
// entry of its own kind in the journal; as one line of text and back.
struct TSiteDriverTally {
    int Added = 0;           // cardholders added ("cardholder-added")
    int Edited = 0;          // names changed ("cardholder-edited")
    int Replaced = 0;        // cards replaced ("card-replaced")
    int Deleted = 0;         // cardholders deleted from the list (and more "cardholder-deleted": an
                             // added cardholder may replace a live one)
    int ZoneClicks = 0;      // zone clicks (and more "zone-changed": lost zones)
    int ControllerEdits = 0; // controller saves that changed something ("controller-edited")
    int KeyWrites = 0;       // verified key writes ("key-written")

    QString Text() const {
        return QStringLiteral("tally %1 %2 %3 %4 %5 %6 %7")
            .arg(Added)
            .arg(Edited)
            .arg(Replaced)
            .arg(Deleted)
            .arg(ZoneClicks)
            .arg(ControllerEdits)
            .arg(KeyWrites);
    }
    static TSiteDriverTally FromText(const QString& text) {
        TSiteDriverTally tally;
        const QStringList parts = text.split(u' ');
        if (parts.size() != 8 || parts[0] != QLatin1String("tally"))
            return tally;
        int* fields[] = {&tally.Added,      &tally.Edited,          &tally.Replaced, &tally.Deleted,
                         &tally.ZoneClicks, &tally.ControllerEdits, &tally.KeyWrites};
        for (int i = 0; i < 7; ++i)
            *fields[i] = parts[i + 1].toInt();
        return tally;
    }
    TSiteDriverTally& operator+=(const TSiteDriverTally& other) {
        Added += other.Added;
        Edited += other.Edited;
        Replaced += other.Replaced;
        Deleted += other.Deleted;
        ZoneClicks += other.ZoneClicks;
        ControllerEdits += other.ControllerEdits;
        KeyWrites += other.KeyWrites;
        return *this;
    }
};
