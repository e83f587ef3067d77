// The Dallas/Maxim 1-Wire CRC-8, the one table that the 1-Wire library, the virtual adapter and the
// program all use. Header-only and constexpr, so sharing it adds no symbol to the library's
// exports and no link dependency to the program, which loads the library at run time.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace onewire {

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

// Polynomial x^8 + x^5 + x^4 + 1 in its bit-reflected form (0x8C), no final XOR: entry i is the
// CRC of the single byte i from a start of 0. Constant-initialised, so code that runs during
// static initialisation may use it too.
inline constexpr std::array<uint8_t, 256> crc8Table = detail::makeCrc8Table();
static_assert(crc8Table[1] == 0x5E && crc8Table[2] == 0xBC && crc8Table[3] == 0xE2);

// One table step: the CRC after feeding `byte` into `crc`.
constexpr uint8_t crc8Step(uint8_t crc, uint8_t byte) {
    return crc8Table[static_cast<uint8_t>(byte ^ crc)];
}

// The CRC of `bytes` from `crc` onward (a run starts at 0). A run over data followed by its own
// CRC ends at 0, which is how a 1-Wire master checks a ROM or a page.
constexpr uint8_t crc8(std::span<const uint8_t> bytes, uint8_t crc = 0) {
    for (uint8_t byte : bytes)
        crc = crc8Step(crc, byte);
    return crc;
}

} // namespace onewire
