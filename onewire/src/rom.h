// The 64-bit 1-Wire ROM, shared by the library and the virtual adapter.
#pragma once

#include "onewire/crc8.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace onewire {

// Eight bytes in bus order: family code, 48-bit serial number (least significant byte first),
// CRC-8 over the first seven.
using Rom = std::array<uint8_t, 8>;

constexpr bool romCrcValid(const Rom& rom) {
    return crc8(std::span<const uint8_t>(rom.data(), 7)) == rom[7];
}

// Bit n of the ROM as the search sees it: bit 0 is the least significant bit of the family code.
constexpr bool romBit(const Rom& rom, int n) {
    return (rom[n / 8] >> (n % 8)) & 1;
}

inline std::string romToHex(const Rom& rom) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t byte : rom) {
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

// Accepts exactly 16 hexadecimal digits, either case, family code first.
inline std::optional<Rom> romFromHex(std::string_view text) {
    if (text.size() != 16)
        return std::nullopt;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    Rom rom{};
    for (size_t i = 0; i < 8; ++i) {
        int high = nibble(text[2 * i]);
        int low = nibble(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        rom[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return rom;
}

} // namespace onewire
