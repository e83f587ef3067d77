#include "controllers/keycontents.h"

#include "onewire/crc8.h"

#include <QHash>

#include <algorithm>

namespace {

QString Hex(uint8_t byte) {
    return QString::number(byte, 16).rightJustified(2, u'0').toUpper();
}

QString Entry(const TKeyImage& image, int index) {
    const size_t at = size_t(KeyFirstEntryOffset + 2 * index);
    return Hex(image[at]) + Hex(image[at + 1]);
}

bool Uniform(const TKeyImage& image, uint8_t byte) {
    return std::all_of(image.begin(), image.end(), [byte](uint8_t b) { return b == byte; });
}

} // namespace

QString KeyEntryOf(const QString& cardNumber) {
    return IsCardEntrySource(cardNumber) ? cardNumber.left(4).toUpper() : QString();
}

TDecodedKey DecodeKeyImage(const TKeyImage& image) {
    TDecodedKey key;
    // Checked before the CRC: 511 zeros have the CRC 0, so a zeroed key would pass it.
    if (Uniform(image, 0x00) || Uniform(image, 0xFF)) {
        key.State = TKeyImageState::Blank;
        return key;
    }
    if (onewire::crc8(std::span<const uint8_t>(image.data(), KeyCrcOffset)) !=
        image[KeyCrcOffset]) {
        key.State = TKeyImageState::BadCrc;
        return key;
    }
    const int zone1Count = int(image[5]) - 1;
    if (image[3] != 0x00 || image[4] != 0x01 || zone1Count < 0 || zone1Count > MaxKeyCardEntries ||
        image[KeyCrcOffset - 1] != 0x00) {
        key.State = TKeyImageState::NoAccessList;
        return key;
    }
    key.State = TKeyImageState::Valid;
    key.ConCode = Hex(image[0]) + Hex(image[1]) + Hex(image[2]);
    key.ConByte1 = image[6];
    key.ConByte2 = image[7];
    for (int i = 0; i < zone1Count; ++i)
        key.Zone1 << Entry(image, i);
    int last = MaxKeyCardEntries - 1;
    while (last >= zone1Count && Entry(image, last) == QLatin1String("0000"))
        --last;
    for (int i = zone1Count; i <= last; ++i)
        key.Zone2 << Entry(image, i);
    return key;
}

TKeyComparison CompareKeys(const TDecodedKey& onKey, const TDecodedKey& fromDatabase) {
    TKeyComparison result;
    result.CodeDiffers = onKey.ConCode.compare(fromDatabase.ConCode, Qt::CaseInsensitive) != 0;
    result.ConByte1Differs = onKey.ConByte1 != fromDatabase.ConByte1;
    result.ConByte2Differs = onKey.ConByte2 != fromDatabase.ConByte2;

    // How often each entry stands in each zone: two cards with the same first four characters
    // give the same entry twice, and one of them may go while the other stays.
    struct Counts {
        int key[3] = {0, 0, 0};
        int database[3] = {0, 0, 0};
    };
    QHash<QString, Counts> counts;
    QStringList order; // first appearance: the key's entries, then the database's
    const auto count = [&](const TDecodedKey& side, bool isKey) {
        for (int zone : {1, 2})
            for (const QString& entry : side.Zone(zone)) {
                if (!counts.contains(entry))
                    order << entry;
                Counts& c = counts[entry];
                (isKey ? c.key : c.database)[zone] += 1;
            }
    };
    count(onKey, true);
    count(fromDatabase, false);

    for (const QString& entry : order) {
        const Counts& c = counts[entry];
        int onlyOnKey[3] = {0, std::max(0, c.key[1] - c.database[1]),
                            std::max(0, c.key[2] - c.database[2])};
        int onlyInDatabase[3] = {0, std::max(0, c.database[1] - c.key[1]),
                                 std::max(0, c.database[2] - c.key[2])};
        for (int from : {1, 2}) {
            const int to = 3 - from;
            const int moved = std::min(onlyOnKey[from], onlyInDatabase[to]);
            for (int i = 0; i < moved; ++i)
                result.Changes << TKeyEntryChange{entry, from, to};
            onlyOnKey[from] -= moved;
            onlyInDatabase[to] -= moved;
        }
        for (int zone : {1, 2})
            for (int i = 0; i < onlyOnKey[zone]; ++i)
                result.Changes << TKeyEntryChange{entry, zone, 0};
        for (int zone : {1, 2})
            for (int i = 0; i < onlyInDatabase[zone]; ++i)
                result.Changes << TKeyEntryChange{entry, 0, zone};
    }
    return result;
}
