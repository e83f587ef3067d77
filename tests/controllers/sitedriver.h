#pragma once

#include "controllers/keyimage.h"

#include <QString>
#include <QStringList>

#include <algorithm>
#include <array>

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
// entry of its own kind in the journal; as one line of text and back. The same counts the
// operations whose outcome is unknown (the connection broke, perhaps after the commit was sent):
// each left its entry or none.
struct TSiteDriverTally {
    int Added = 0;              // cardholders added ("cardholder-added")
    int Edited = 0;             // names changed ("cardholder-edited")
    int Replaced = 0;           // cards replaced ("card-replaced")
    int Deleted = 0;            // cardholders deleted from the list (and more "cardholder-deleted":
                                // an added cardholder may replace a live one)
    int ZoneClicks = 0;         // zone clicks (and more "zone-changed": lost zones, grants)
    int ControllerEdits = 0;    // controller saves that changed something ("controller-edited")
    int KeyWrites = 0;          // verified key writes ("key-written")
    int ControllersAdded = 0;   // "controller-added"
    int ControllersDeleted = 0; // "controller-deleted"

    QString Text(const char* name = "tally") const {
        QStringList parts{QString::fromLatin1(name)};
        TSiteDriverTally read = *this;
        for (const int* field : read.Fields())
            parts << QString::number(*field);
        return parts.join(u' ');
    }
    static TSiteDriverTally FromText(const QString& text, const char* name = "tally") {
        TSiteDriverTally tally;
        const QStringList parts = text.split(u' ');
        const auto fields = tally.Fields();
        if (parts.size() != qsizetype(fields.size()) + 1 || parts[0] != QLatin1String(name))
            return tally;
        for (size_t i = 0; i < fields.size(); ++i)
            *fields[i] = parts[qsizetype(i) + 1].toInt();
        return tally;
    }
    TSiteDriverTally& operator+=(const TSiteDriverTally& other) {
        TSiteDriverTally added = other;
        const auto fields = Fields();
        const auto others = added.Fields();
        for (size_t i = 0; i < fields.size(); ++i)
            *fields[i] += *others[i];
        return *this;
    }

private:
    std::array<int*, 9> Fields() {
        return {&Added,           &Edited,    &Replaced,         &Deleted,           &ZoneClicks,
                &ControllerEdits, &KeyWrites, &ControllersAdded, &ControllersDeleted};
    }
};
