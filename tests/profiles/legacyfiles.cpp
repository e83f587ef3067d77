#include "legacyfiles.h"

#include <QFile>

#include <cstring>
#include <random>

namespace {

void Place(QByteArray& record, qsizetype offset, qsizetype size, const QByteArray& value) {
    Q_ASSERT(value.size() <= size);
    std::copy(value.begin(), value.end(), record.begin() + offset);
}

} // namespace

QByteArray ControllerRecord(const QByteArray& code, const QByteArray& name, quint8 byte1,
                            quint8 byte2) {
    QByteArray record(128, '\0');
    Place(record, 0, 10, code); // up to 10: a test may spill a code into the bytes after it
    record[10] = char(byte1);
    record[12] = char(byte2);
    Place(record, 34, 20, name);
    return record;
}

QByteArray CardRecord(const QByteArray& number, const QByteArray& holder, const QByteArray& custom1,
                      const QByteArray& custom2, const TZoneFlags& zones) {
    QByteArray zone1(16, '\0');
    QByteArray zone2(16, '\0');
    for (const auto& [position, zone] : zones) {
        const int byte = (position - 1) / 8;
        const char bit = char(1 << ((position - 1) % 8));
        if (zone & 1)
            zone1[byte] = char(zone1[byte] | bit);
        if (zone & 2)
            zone2[byte] = char(zone2[byte] | bit);
    }
    QByteArray record = CardFlagsRecord(number, zone1, zone2);
    Place(record, 14, 30, holder);
    Place(record, 44, 30, custom1);
    Place(record, 147, 10, custom2);
    return record;
}

QByteArray CardFlagsRecord(const QByteArray& number, const QByteArray& zone1Flags,
                           const QByteArray& zone2Flags) {
    QByteArray record(512, '\0');
    Place(record, 157, 10, number);
    Place(record, 291, 16, zone1Flags);
    Place(record, 307, 16, zone2Flags);
    return record;
}

bool WriteLegacyFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

bool WriteRandomFile(const QString& path, qint64 bytes, quint64 seed) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    std::mt19937_64 random(seed);
    QByteArray piece(1 << 20, '\0');
    while (bytes > 0) {
        const qint64 size = std::min<qint64>(bytes, piece.size());
        for (qsizetype i = 0; i + 8 <= size; i += 8) {
            const quint64 value = random();
            std::memcpy(piece.data() + i, &value, 8);
        }
        if (file.write(piece.constData(), size) != size)
            return false;
        bytes -= size;
    }
    return true;
}

QString WriteSampleLegacySite(const QString& folder, int cards, double flagChance) {
    QByteArray controllers;
    for (int i = 1; i <= 128; ++i)
        controllers += ControllerRecord(QByteArray::number(0xA00000 + i, 16).toUpper(),
                                        "Door " + QByteArray::number(i), 2, 4);
    std::mt19937 random(42);
    std::uniform_real_distribution<double> chance(0, 1);
    QByteArray cardBytes;
    cardBytes.reserve(qsizetype(cards) * 512);
    for (int c = 0; c < cards; ++c) {
        QByteArray zone1(16, '\0'), zone2(16, '\0');
        for (int p = 0; p < 128; ++p) {
            if (chance(random) >= flagChance)
                continue;
            QByteArray& flags = chance(random) < 1.0 / 3 ? zone2 : zone1;
            flags[p / 8] = char(flags[p / 8] | (1 << (p % 8)));
        }
        QByteArray record = CardFlagsRecord(
            QByteArray::number(0x100000000LL + c, 16).toUpper().rightJustified(10, '0'), zone1,
            zone2);
        const QByteArray holder = "Holder O'Neil " + QByteArray::number(c);
        std::copy(holder.begin(), holder.end(), record.begin() + 14);
        cardBytes += record;
    }
    const QString autonoom = folder + "/autonoom.bst";
    if (!WriteLegacyFile(autonoom, controllers) ||
        !WriteLegacyFile(folder + "/asleutel.bst", cardBytes))
        qFatal("cannot write the legacy files");
    return autonoom;
}
