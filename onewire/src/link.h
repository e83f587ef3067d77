// The bus-master operations every adapter driver offers, in the manner of the kernel's w1 masters:
// a driver implements the few primitives its hardware has, and gets the rest from the generic
// versions here, built from single time slots. Drivers for adapters that can batch (the DS2480B
// sends a whole select or search pass in one serial exchange) override the composite operations.
#pragma once

#include "rom.h"

#include <cstdint>
#include <span>
#include <stdexcept>

namespace onewire {

// The adapter stopped answering as it should (timeout, closed port, nonsense). The session that
// met it is not used again.
class LinkError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class ResetResult { Presence, NoPresence, Shorted };

// One Search ROM pass: what the devices answered and where they disagreed.
struct SearchPass {
    ResetResult reset = ResetResult::NoPresence;
    Rom rom{};               // the path taken, i.e. the ROM of the device addressed at the end
    Rom discrepancies{};     // bit n set: the devices disagreed (or nobody answered) at bit n
    bool noResponse = false; // at some bit nobody answered: the pass found no device
};

class LinkMaster {
public:
    virtual ~LinkMaster() = default;

    virtual ResetResult reset() = 0;
    // Writes one time slot (true = write-1/read slot) and returns the level read back.
    virtual bool touchBit(bool bit) = 0;

    virtual uint8_t touchByte(uint8_t byte);
    // Sends the bytes, replacing each with what was read back in its time slots.
    virtual void touchBlock(std::span<uint8_t> bytes);
    // Reset followed by a block, for ROM selection sequences.
    virtual ResetResult resetThenTouch(std::span<uint8_t> bytes);
    // Reset, Search ROM (F0) and 64 bit positions; at a position where devices disagree the pass
    // follows the corresponding bit of `steering`.
    virtual SearchPass searchPass(const Rom& steering);
};

} // namespace onewire
