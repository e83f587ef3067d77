// The reader's 1-Wire call sequences, call for call, for the benchmarks that count what they cost
// on the virtual adapters (serial and USB alike).
#pragma once

#include "bus.h"

#include <ibfs32.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace readercalls {

using ibsim::Rom;

inline std::array<uint8_t, IBFS32_STATE_BUFFER_SIZE> stateBuffer{};

// The reader's device lookup: the first device that is not the USB adapter's own, at most 32.
inline bool readRom(int32_t session) {
    int16_t result = TMFirst(session, stateBuffer.data());
    int examined = 0;
    bool taken = false;
    while (result == 1 && examined < 32 && !taken) {
        std::array<int16_t, 9> rom{};
        TMRom(session, stateBuffer.data(), rom.data());
        taken = rom[0] != 0x81;
        ++examined;
        result = TMNext(session, stateBuffer.data());
    }
    return taken;
}

inline bool access(int32_t session, const Rom& device) {
    std::array<int16_t, 9> rom{};
    std::copy(device.begin(), device.end(), rom.begin());
    TMRom(session, stateBuffer.data(), rom.data());
    return TMAccess(session, stateBuffer.data()) > 0;
}

// The reader's page write, call for call.
inline bool writePage(int32_t session, const Rom& device, uint16_t address,
                      std::vector<uint8_t> data) {
    if (!access(session, device))
        return false;
    TMTouchByte(session, 0x0F);
    TMTouchByte(session, static_cast<int16_t>(address & 0xFF));
    TMTouchByte(session, static_cast<int16_t>(address >> 8));
    TMBlockStream(session, data.data(), static_cast<int16_t>(data.size()));
    if (!access(session, device))
        return false;
    uint8_t buffer[4] = {0xAA, 0xFF, 0xFF, 0xFF};
    TMBlockStream(session, buffer, 4);
    if (!access(session, device))
        return false;
    buffer[0] = 0x55;
    TMBlockStream(session, buffer, 4);
    std::fill(data.begin(), data.end(), 0xFF);
    TMBlockStream(session, data.data(), static_cast<int16_t>(data.size()));
    return true;
}

} // namespace readercalls
