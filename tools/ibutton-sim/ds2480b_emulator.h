// The DS2480B as its host sees it: bytes in, answer bytes out, with command and data mode, the
// configuration parameters and the search accelerator. Timing is not modelled: every answer is
// ready at once. The host link rate is: the adapter changes it on request, and bytes that travel
// while host and adapter run at different rates are lost to the receiver.
#pragma once

#include "bus.h"

#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <utility>
#include <vector>

namespace ibsim {

// Bytes that travelled at each host link rate, by rate in baud.
using BytesByRate = std::map<int, unsigned long long>;

class Ds2480bEmulator {
public:
    // With `refuseFastRates` the adapter acknowledges a change of its rate but stays at 9600,
    // like one that cannot keep up, so that a host has to find its way back.
    explicit Ds2480bEmulator(OneWireBus& bus, bool refuseFastRates = false)
        : bus_(bus), refuseFastRates_(refuseFastRates) {
        powerOn();
    }

    // As after power-up or a master reset: 9600 baud, and the next byte is the timing byte.
    void powerOn();
    // `hostBaud`: the rate the host's port runs at while these bytes travel.
    void receive(std::span<const uint8_t> bytes, std::vector<uint8_t>& answer, int hostBaud = 9600);
    // The client flushed bytes it had written before they reached the adapter. On a serial line
    // they would have gone out already, so the adapter acts as if it had seen them; see the
    // definition for the one case that matters.
    void clientDiscardedOutput();

    uint8_t parameter(int code) const { return parameters_[code & 7]; }
    unsigned resets() const { return resets_; }
    int baudRate() const { return baudRate_; }
    // What travelled since the last call, each way; received counts what the host sent (heard
    // or not), sent what the adapter answered.
    BytesByRate takeReceivedByRate() { return std::exchange(receivedByRate_, {}); }
    BytesByRate takeSentByRate() { return std::exchange(sentByRate_, {}); }

private:
    enum class Mode { AwaitingTimingByte, Command, Data, DataAfterEscape };

    void command(uint8_t byte, std::vector<uint8_t>& answer);
    void communicationCommand(uint8_t byte, std::vector<uint8_t>& answer);
    void data(uint8_t byte, std::vector<uint8_t>& answer);
    uint8_t acceleratedSearch(uint8_t byte);
    void send(std::vector<uint8_t>& answer, uint8_t byte);

    OneWireBus& bus_;
    Mode mode_ = Mode::AwaitingTimingByte;
    bool searchAccelerator_ = false;
    bool searchLost_ = false; // nobody answered at some position of this pass
    std::array<uint8_t, 8> parameters_{};
    unsigned resets_ = 0;
    bool refuseFastRates_;
    int baudRate_ = 9600;
    int hostBaud_ = 9600;
    BytesByRate receivedByRate_;
    BytesByRate sentByRate_;
};

} // namespace ibsim
