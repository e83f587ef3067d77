// The ROM search walk: which path to steer the next pass along, and when the bus is exhausted.
#pragma once

#include "link.h"

namespace onewire {

// A ROM worth reporting: its CRC-8 holds and its family is not 0.
bool plausibleRom(const Rom& rom);

// The walk reports only plausible ROMs: a pass that ends on another is made once more, and when
// that fails too the walk ends with NoDevice. It is the same for every adapter driver.
class RomSearch {
public:
    enum class Outcome { Found, NoDevice, BusError };

    // Forget the walk; the next call to next() starts at the first device.
    void restart();
    // One pass on the bus (none at all when the previous pass found the last device). After
    // NoDevice or BusError the walk starts over. Throws LinkError, also when the passes do not
    // settle as they would on any real bus (an adapter fault).
    Outcome next(LinkMaster& link, Rom& found);

private:
    Rom lastRom_{};
    int lastZeroTaken_ = -1; // highest disagreement where the last pass took the 0 branch
    bool started_ = false;
    bool exhausted_ = false;
};

} // namespace onewire
