#pragma once

#include "controllers/keyimage.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>

// What a memory key says, read back from its 512 bytes: the inverse of BuildKeyImage.
//
// An entry is shown as the four hexadecimal characters (upper case) a card number must begin
// with to be admitted. Zone 1 has exactly as many entries as byte 5 says; zone 2 runs from there
// to the last entry that is not 0000, because the zeros after the list cannot be told from such an
// entry. A card beginning with 0000 at the very end of zone 2 is therefore not seen; the
// comparison decodes the database's image the same way, so it never shows as a difference.

enum class TKeyImageState {
    Valid,
    Blank,        // every byte 0x00 or every byte 0xFF: nothing was ever written
    BadCrc,       // the last byte is not the CRC-8 of the others
    NoAccessList, // the CRC holds, but the layout is not one a controller's list has
};

struct TDecodedKey {
    TKeyImageState State = TKeyImageState::Blank;
    QString ConCode; // six upper-case hexadecimal characters
    uint8_t ConByte1 = 0;
    uint8_t ConByte2 = 0;
    QStringList Zone1;
    QStringList Zone2;

    const QStringList& Zone(int zone) const { return zone == 1 ? Zone1 : Zone2; }
};

TDecodedKey DecodeKeyImage(const TKeyImage& image);

// The entry a card number gives on a key, upper case; empty when its first four characters are
// not hexadecimal (such a card can never be on a key).
QString KeyEntryOf(const QString& cardNumber);

// One entry that is on one side only, or in another zone. Zones: 0 = not there.
struct TKeyEntryChange {
    QString Entry;
    int OnKey = 0;      // its zone on the key
    int InDatabase = 0; // its zone in the image the database gives now
    friend bool operator==(const TKeyEntryChange&, const TKeyEntryChange&) = default;
};

// How a key read back differs from the image the database would write now. Only what changes
// whom the controller admits counts: the same entries in another order match.
struct TKeyComparison {
    bool CodeDiffers = false;
    bool ConByte1Differs = false;
    bool ConByte2Differs = false;
    // Entries added in the database (OnKey 0), removed (InDatabase 0) and moved to the other zone,
    // in the order of the key's entries, then the database's.
    QList<TKeyEntryChange> Changes;

    bool Matches() const {
        return !CodeDiffers && !ConByte1Differs && !ConByte2Differs && Changes.isEmpty();
    }
};

TKeyComparison CompareKeys(const TDecodedKey& onKey, const TDecodedKey& fromDatabase);
