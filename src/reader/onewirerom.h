#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <span>

// What a 1-Wire ROM means to this program, free of any adapter or window: the Dallas/Maxim CRC-8,
// the card number printed on cardholder records and the family name shown to the operator.

// The 1-Wire CRC-8 (x^8 + x^5 + x^4 + 1, reflected 0x8C): entry i is the CRC of the single byte i
// from a start of 0.
extern const std::array<uint8_t, 256> Crc8Table;

// One table step: the CRC after feeding `byte` into `crc`.
inline uint8_t Crc8Step(uint8_t crc, uint8_t byte) {
    return Crc8Table[static_cast<uint8_t>(byte ^ crc)];
}

// The CRC of `bytes` from `crc` onward (a run starts at 0; there is no final XOR).
uint8_t Crc8(std::span<const uint8_t> bytes, uint8_t crc = 0);

// Ten upper-case hexadecimal characters from ROM bytes 1 to 5 in that order, so the number
// begins with the serial number's least significant byte. Needs at least six bytes; fewer give
// an empty text.
QString CardNumberFromRom(std::span<const uint8_t> rom);

// The device name for a family code, "UNKNOWN" for a family this program does not know.
QString FamilyName(uint8_t familyCode);
