#include "search.h"

#include <string>

namespace onewire {

namespace {

// A step of a walk on a real bus takes one pass, and one more for each branch that emptied since
// the previous step; there are at most 64 branch points. More passes than that (and the one
// repeat of a garbled pass) mean the adapter is not answering as any bus would.
constexpr int passLimit = 64 + 1;

} // namespace

bool plausibleRom(const Rom& rom) {
    // All zeros passes the CRC: it is what a bus held low reads.
    return rom[0] != 0 && romCrcValid(rom);
}

void RomSearch::restart() {
    lastRom_ = {};
    lastZeroTaken_ = -1;
    started_ = false;
    exhausted_ = false;
}

RomSearch::Outcome RomSearch::next(LinkMaster& link, Rom& found) {
    if (exhausted_) {
        restart();
        return Outcome::NoDevice;
    }
    bool repeated = false;
    for (int passes = 1;; ++passes) {
        if (passes > passLimit) {
            restart();
            throw LinkError("the ROM search did not settle in " + std::to_string(passLimit) +
                            " passes");
        }
        // Follow the previous path up to its last unexplored branch, take the 1 branch there,
        // and prefer 0 beyond it.
        Rom steering{};
        if (started_) {
            for (int n = 0; n <= lastZeroTaken_; ++n) {
                bool bit = n == lastZeroTaken_ ? true : romBit(lastRom_, n);
                if (bit)
                    steering[n / 8] |= static_cast<uint8_t>(1 << (n % 8));
            }
        }
        SearchPass pass = link.searchPass(steering);
        if (pass.reset != ResetResult::Presence) {
            restart();
            return Outcome::NoDevice;
        }
        if (pass.noResponse) {
            // The bus changed in the middle of the pass, or is disturbed.
            restart();
            return Outcome::BusError;
        }
        if (!plausibleRom(pass.rom)) {
            // Misread bits on a disturbed bus, or an adapter making answers up: never reported.
            // One more pass along the same path tells a passing disturbance from a lasting one.
            if (!repeated) {
                repeated = true;
                continue;
            }
            restart();
            return Outcome::NoDevice;
        }
        // Where the devices disagreed there was only a choice if they still do: the devices of
        // a branch that was aimed at may have left meanwhile, and the pass then ends on a device
        // reported before.
        bool aimedBranchGone = started_ && !romBit(pass.rom, lastZeroTaken_);
        int zeroTaken = -1;
        for (int n = 63; n >= 0; --n) {
            if (romBit(pass.discrepancies, n) && !romBit(pass.rom, n)) {
                zeroTaken = n;
                break;
            }
        }
        lastRom_ = pass.rom;
        lastZeroTaken_ = zeroTaken;
        started_ = true;
        exhausted_ = zeroTaken < 0;
        if (!aimedBranchGone) {
            found = pass.rom;
            return Outcome::Found;
        }
        if (exhausted_) {
            restart();
            return Outcome::NoDevice;
        }
    }
}

} // namespace onewire
