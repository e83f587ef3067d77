#include "reader/onewirerom.h"

namespace {

constexpr std::array<uint8_t, 256> BuildCrc8Table() {
    std::array<uint8_t, 256> table{};
    for (int value = 0; value < 256; ++value) {
        auto crc = static_cast<uint8_t>(value);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint8_t>((crc >> 1) ^ 0x8C)
                            : static_cast<uint8_t>(crc >> 1);
        table[value] = crc;
    }
    return table;
}

struct FamilyEntry {
    uint8_t code;
    const char* name;
};

// Device names, not operator texts: they stay as the maker writes them in every language.
constexpr FamilyEntry Families[] = {
    {0x01, "DS1990"}, {0x02, "DS1991"},        {0x04, "DS1994"}, {0x06, "DS1993"},
    {0x08, "DS1992"}, {0x18, "DS1963"},        {0x21, "DS1921"}, {0x33, "DS1961"},
    {0x37, "DS1977"}, {0x41, "DS1922/DS1923"}, {0x81, "DS9490"},
};

} // namespace

// Constant-initialised, so code running during static initialisation may use it too.
constinit const std::array<uint8_t, 256> Crc8Table = BuildCrc8Table();

uint8_t Crc8(std::span<const uint8_t> bytes, uint8_t crc) {
    for (const uint8_t byte : bytes)
        crc = Crc8Step(crc, byte);
    return crc;
}

QString CardNumberFromRom(std::span<const uint8_t> rom) {
    if (rom.size() < 6)
        return {};
    QString number;
    for (size_t i = 1; i <= 5; ++i)
        number += QStringLiteral("%1").arg(rom[i], 2, 16, QChar('0')).toUpper();
    return number;
}

QString FamilyName(uint8_t familyCode) {
    for (const FamilyEntry& family : Families)
        if (family.code == familyCode)
            return QString::fromLatin1(family.name);
    return QStringLiteral("UNKNOWN");
}
