// The 64-bit 1-Wire ROM and its CRC-8, shared by the library and the virtual adapter.
#pragma once

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

namespace detail {
constexpr std::array<uint8_t, 256> makeCrc8Table() {
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
} // namespace detail

// Polynomial x^8 + x^5 + x^4 + 1 in its bit-reflected form, no final XOR.
inline constexpr std::array<uint8_t, 256> crc8Table = detail::makeCrc8Table();
static_assert(crc8Table[1] == 0x5E && crc8Table[2] == 0xBC && crc8Table[3] == 0xE2);

constexpr uint8_t crc8(std::span<const uint8_t> bytes, uint8_t crc = 0) {
    for (uint8_t byte : bytes)
        crc = crc8Table[byte ^ crc];
    return crc;
}

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
