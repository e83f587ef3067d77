// The DS2490 USB 1-Wire bridge (DS9490 adapters) as its host sees it: vendor control requests on
// endpoint 0, 1-Wire data out on EP2, 1-Wire data in on EP3 and the status packet on EP1. Timing is
// not modelled: every command has finished by the time the next request arrives.
#pragma once

#include "bus.h"

#include <array>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

namespace ibsim {

// The request types and command codes of the chip, shared by the emulation and its tests.
namespace ds2490 {
constexpr uint16_t vendorId = 0x04FA;
constexpr uint16_t productId = 0x2490;

constexpr uint8_t statusEndpoint = 0x81;
constexpr uint8_t dataOutEndpoint = 0x02;
constexpr uint8_t dataInEndpoint = 0x83;

constexpr uint8_t controlRequest = 0x00;
constexpr uint8_t communicationRequest = 0x01;
constexpr uint8_t modeRequest = 0x02;

// Control commands (wValue of a control request).
constexpr uint16_t resetDevice = 0x0000;
constexpr uint16_t startExecution = 0x0001;
constexpr uint16_t resumeExecution = 0x0002;
constexpr uint16_t haltExecutionIdle = 0x0003;
constexpr uint16_t haltExecutionDone = 0x0004;
constexpr uint16_t flushCommands = 0x0007;
constexpr uint16_t flushReceiveBuffer = 0x0008;
constexpr uint16_t flushTransmitBuffer = 0x0009;

// Mode commands (wValue of a mode request; the value goes in wIndex).
constexpr uint16_t modePulseEnable = 0x0000;
constexpr uint16_t modeSpeedChangeEnable = 0x0001;
constexpr uint16_t modeSpeed = 0x0002;
constexpr uint16_t modeStrongPullupDuration = 0x0003;
constexpr uint16_t modePulldownSlewRate = 0x0004;
constexpr uint16_t modeProgramPulseDuration = 0x0005;
constexpr uint16_t modeWrite1LowTime = 0x0006;
constexpr uint16_t modeSampleOffset = 0x0007;

// Communication commands: the code sits in bits 4-7 of wValue, the flags around it.
constexpr uint16_t commSetDuration = 0x0012;
constexpr uint16_t commBitIo = 0x0020;
constexpr uint16_t commPulse = 0x0030;
constexpr uint16_t commReset = 0x0042;
constexpr uint16_t commByteIo = 0x0052;
constexpr uint16_t commMatchAccess = 0x0064;
constexpr uint16_t commBlockIo = 0x0074;
constexpr uint16_t commSearchAccess = 0x00F4;

constexpr uint16_t flagImmediate = 0x0001;
constexpr uint16_t flagBit3 = 0x0008; // D, SE, SM, TYPE: meaning depends on the command
constexpr uint16_t flagResetFirst = 0x0100;
constexpr uint16_t flagInhibitData = 0x0200; // ICP: no data back to EP3
constexpr uint16_t flagNotify = 0x0400;
constexpr uint16_t flagClearOnError = 0x0800;
constexpr uint16_t flagStrongPullup = 0x1000;
constexpr uint16_t flagReturnDiscrepancy = 0x4000; // RTS for the search

// Status packet: 16 register bytes, then one result byte per error (or per notified command).
constexpr size_t statusSize = 16;
constexpr int statusFlagsIndex = 8;
constexpr int commandBufferIndex = 11;
constexpr int dataOutBufferIndex = 12;
constexpr int dataInBufferIndex = 13;
constexpr uint8_t statusIdle = 0x20;
constexpr uint8_t statusHalted = 0x10;
constexpr uint8_t statusStrongPullup = 0x01;

constexpr uint8_t resultNoPresence = 0x01;
constexpr uint8_t resultShort = 0x02;
constexpr uint8_t resultCompare = 0x10;

constexpr size_t fifoSize = 128;
} // namespace ds2490

class Ds2490Emulator {
public:
    explicit Ds2490Emulator(OneWireBus& bus) : bus_(bus) { powerOn(); }

    // As after plugging in or a device reset command.
    void powerOn();

    // A vendor request without data stage (request type 0x40). False: the chip stalls it.
    bool control(uint8_t request, uint16_t value, uint16_t index);
    // Bytes for the 1-Wire from the host. False: more than the FIFO holds (stall).
    bool dataOut(std::span<const uint8_t> bytes);
    // Up to `maximum` bytes the 1-Wire produced; empty when there are none (the chip NAKs).
    std::vector<uint8_t> dataIn(size_t maximum);
    size_t dataInAvailable() const { return dataIn_.size(); }
    // The status packet, with the result bytes gathered since the last one (then forgotten).
    std::vector<uint8_t> status();

    unsigned resets() const { return resets_; }

private:
    struct Command {
        uint16_t value;
        uint16_t index;
    };

    void communication(uint16_t value, uint16_t index);
    void execute(const Command& command);
    // A 1-Wire reset as part of a command; false (and the error noted) without presence.
    bool resetBus(uint16_t value);
    uint8_t touchByte(uint8_t byte);
    std::vector<uint8_t> takeDataOut(size_t count);
    void produce(uint16_t value, std::span<const uint8_t> bytes);
    void fail(uint16_t value, uint8_t result);
    void search(uint16_t value, uint16_t index);

    OneWireBus& bus_;
    std::deque<uint8_t> dataOut_;
    std::deque<uint8_t> dataIn_;
    std::vector<uint8_t> results_;
    std::vector<Command> queued_;
    std::array<uint8_t, 8> modes_{};
    uint16_t lastCommand_ = 0;
    bool halted_ = false;
    bool commandFailed_ = false; // with "clear on error" the rest of a command is dropped
    unsigned resets_ = 0;
};

} // namespace ibsim
