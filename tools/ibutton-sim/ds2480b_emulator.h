// The DS2480B as its host sees it: bytes in, answer bytes out, with command and data mode, the
// configuration parameters and the search accelerator. Timing is not modelled: every answer is
// ready at once.
#pragma once

#include "bus.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace ibsim {

class Ds2480bEmulator {
public:
    explicit Ds2480bEmulator(OneWireBus& bus) : bus_(bus) { powerOn(); }

    // As after power-up or a master reset: the next byte is the timing byte.
    void powerOn();
    void receive(std::span<const uint8_t> bytes, std::vector<uint8_t>& answer);
    // The client flushed bytes it had written before they reached the adapter. On a serial line
    // they would have gone out already, so the adapter acts as if it had seen them; see the
    // definition for the one case that matters.
    void clientDiscardedOutput();

    uint8_t parameter(int code) const { return parameters_[code & 7]; }
    unsigned resets() const { return resets_; }

private:
    enum class Mode { AwaitingTimingByte, Command, Data, DataAfterEscape };

    void command(uint8_t byte, std::vector<uint8_t>& answer);
    void communicationCommand(uint8_t byte, std::vector<uint8_t>& answer);
    void data(uint8_t byte, std::vector<uint8_t>& answer);
    uint8_t acceleratedSearch(uint8_t byte);

    OneWireBus& bus_;
    Mode mode_ = Mode::AwaitingTimingByte;
    bool searchAccelerator_ = false;
    bool searchLost_ = false; // nobody answered at some position of this pass
    std::array<uint8_t, 8> parameters_{};
    unsigned resets_ = 0;
};

} // namespace ibsim
