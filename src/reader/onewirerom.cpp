#include "reader/onewirerom.h"

namespace {

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
