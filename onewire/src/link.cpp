#include "link.h"

namespace onewire {

uint8_t LinkMaster::touchByte(uint8_t byte) {
    uint8_t result = 0;
    for (int bit = 0; bit < 8; ++bit)
        if (touchBit((byte >> bit) & 1))
            result |= static_cast<uint8_t>(1 << bit);
    return result;
}

void LinkMaster::touchBlock(std::span<uint8_t> bytes) {
    for (uint8_t& byte : bytes)
        byte = touchByte(byte);
}

ResetResult LinkMaster::resetThenTouch(std::span<uint8_t> bytes) {
    ResetResult result = reset();
    touchBlock(bytes);
    return result;
}

SearchPass LinkMaster::searchPass(const Rom& steering) {
    constexpr uint8_t searchRomCommand = 0xF0;
    SearchPass pass;
    pass.reset = reset();
    touchByte(searchRomCommand);
    for (int n = 0; n < 64; ++n) {
        bool idBit = touchBit(true);
        bool complementBit = touchBit(true);
        bool direction;
        bool disagreement = false;
        if (idBit && complementBit) {
            // Nobody is left on the path: what follows is meaningless, mark it as the
            // accelerating adapters do (all ones, every position flagged).
            pass.noResponse = true;
            for (int rest = n; rest < 64; ++rest) {
                pass.rom[rest / 8] |= static_cast<uint8_t>(1 << (rest % 8));
                pass.discrepancies[rest / 8] |= static_cast<uint8_t>(1 << (rest % 8));
            }
            break;
        }
        if (!idBit && !complementBit) {
            direction = romBit(steering, n);
            disagreement = true;
        } else {
            direction = idBit;
        }
        touchBit(direction);
        if (direction)
            pass.rom[n / 8] |= static_cast<uint8_t>(1 << (n % 8));
        if (disagreement)
            pass.discrepancies[n / 8] |= static_cast<uint8_t>(1 << (n % 8));
    }
    return pass;
}

} // namespace onewire
