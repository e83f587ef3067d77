#include "reader/onewirerom.h"
#include "onewire/crc8.h"
#include "reader/CodeReaderInterface.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(OneWireCrc, TableMatchesThePublishedDallasTable) {
    const uint8_t firstRow[16] = {0x00, 0x5E, 0xBC, 0xE2, 0x61, 0x3F, 0xDD, 0x83,
                                  0xC2, 0x9C, 0x7E, 0x20, 0xA3, 0xFD, 0x1F, 0x41};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(onewire::crc8Table[i], firstRow[i]) << "entry " << i;
    EXPECT_EQ(onewire::crc8Table[0x80], 0x8C) << "the reflected polynomial itself";
    EXPECT_EQ(onewire::crc8Table[0xFF], 0x35);
}

TEST(OneWireCrc, EveryEntryIsTheCrcOfItsIndex) {
    // Bit by bit, the way the 1-Wire devices shift it: LSB first through x^8 + x^5 + x^4 + 1.
    for (int value = 0; value < 256; ++value) {
        uint8_t crc = 0;
        uint8_t byte = static_cast<uint8_t>(value);
        for (int bit = 0; bit < 8; ++bit) {
            const bool mix = (crc ^ byte) & 1;
            crc >>= 1;
            if (mix)
                crc ^= 0x8C;
            byte >>= 1;
        }
        EXPECT_EQ(onewire::crc8Table[value], crc) << "entry " << value;
    }
}

TEST(OneWireCrc, CalcCRCStepsOverRomBytes) {
    const std::vector<uint8_t> bytes{0x02, 0x1C, 0xB8, 0x01, 0x00, 0x00, 0x00};
    uint8_t crc = 0;
    for (const uint8_t byte : bytes)
        TReaderInterface::CalcCRC(byte, crc);
    EXPECT_EQ(crc, 0xA2);
    EXPECT_EQ(onewire::crc8(bytes), 0xA2);

    // A ROM that carries its own CRC runs to zero: how a 1-Wire master checks a ROM.
    const std::vector<uint8_t> rom{0x01, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x8F};
    EXPECT_EQ(onewire::crc8(rom), 0x00);
    // Continuing a run gives the same as one run over everything.
    EXPECT_EQ(onewire::crc8(std::span(rom).subspan(4), onewire::crc8(std::span(rom).first(4))),
              0x00);
}

TEST(OneWireRom, CardNumberIsRomBytesOneToFiveInHex) {
    struct Case {
        std::vector<uint8_t> rom;
        QString number;
    };
    const Case cases[] = {
        {{0x01, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x8F}, "A1B2C3D4E5"},
        {{0x01, 0x0A, 0x00, 0x01, 0xFF, 0x10, 0x00, 0x00}, "0A0001FF10"},
        {{0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF}, "0000000000"},
        {{0x01, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F}, "1A2B3C4D5E"},
        {{0x01, 0x1A, 0x2B, 0x3C, 0x4D}, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CardNumberFromRom(c.rom), c.number) << c.number.toStdString();
}

TEST(OneWireRom, FamilyNames) {
    const std::pair<uint8_t, const char*> cases[] = {
        {0x01, "DS1990"},  {0x02, "DS1991"},        {0x04, "DS1994"},  {0x06, "DS1993"},
        {0x08, "DS1992"},  {0x18, "DS1963"},        {0x21, "DS1921"},  {0x33, "DS1961"},
        {0x37, "DS1977"},  {0x41, "DS1922/DS1923"}, {0x81, "DS9490"},  {0x00, "UNKNOWN"},
        {0x10, "UNKNOWN"}, {0x0C, "UNKNOWN"},       {0xFF, "UNKNOWN"},
    };
    for (const auto& [code, name] : cases)
        EXPECT_EQ(FamilyName(code), QString(name)) << int(code);
}

} // namespace
