#pragma once

#include <QString>

#include <cstdint>
#include <span>

// What a 1-Wire ROM means to this program, free of any adapter or window: the card number printed
// on cardholder records and the family name shown to the operator. The CRC-8 that checks ROMs and
// key images is the 1-Wire library's own (onewire/crc8.h).

// Ten upper-case hexadecimal characters from ROM bytes 1 to 5 in that order, so the number
// begins with the serial number's least significant byte. Needs at least six bytes; fewer give
// an empty text.
QString CardNumberFromRom(std::span<const uint8_t> rom);

// The device name for a family code, "UNKNOWN" for a family this program does not know.
QString FamilyName(uint8_t familyCode);
