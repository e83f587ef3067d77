// The ROM search walk: which path to steer the next pass along, and when the bus is exhausted.
#pragma once

#include "link.h"

namespace onewire {

class RomSearch {
public:
    enum class Outcome { Found, NoDevice, BusError };

    // Forget the walk; the next call to next() starts at the first device.
    void restart();
    // One pass on the bus (none at all when the previous pass found the last device). After
    // NoDevice or BusError the walk starts over. Throws LinkError.
    Outcome next(LinkMaster& link, Rom& found);

private:
    Rom lastRom_{};
    int lastZeroTaken_ = -1; // highest disagreement where the last pass took the 0 branch
    bool started_ = false;
    bool exhausted_ = false;
};

} // namespace onewire
