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
