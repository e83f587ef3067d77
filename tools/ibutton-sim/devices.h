// Virtual 1-Wire slaves, modelled time slot by time slot: what each device puts on the bus and
// what it makes of the level it sees. Working in slots rather than bytes lets any master drive
// them, whether it sends bytes, single bits or accelerated search passes.
#pragma once

#include "statefolder.h"

#include <functional>
#include <memory>
#include <vector>

namespace ibsim {

class OneWireSlave {
public:
    explicit OneWireSlave(const Rom& rom) : rom_(rom) {}
    virtual ~OneWireSlave() = default;

    const Rom& rom() const { return rom_; }

    // A reset pulse: whatever was going on ends, the device answers with presence and waits for
    // a ROM command.
    void resetPulse();
    // What the device does in the next time slot: false pulls the bus low.
    bool releasesBus() const;
    // The level of the time slot just made (the master's bit AND every device's).
    void slot(bool level);

protected:
    // The ROM layer has selected this device (Match, Skip or Read ROM, or a search ending on it).
    virtual void selected() { idle(); }
    // Family-specific extra Read ROM command (the DS1990A also takes 0x0F).
    virtual bool isReadRomCommand(uint8_t command) const { return command == 0x33; }

    void idle();
    void receiveBytes(std::function<void(uint8_t)> onByte);
    void receiveBits(std::function<void(bool)> onBit);
    // Sends the bytes; then calls `then`, or without one keeps sending `filler`.
    void transmit(std::vector<uint8_t> bytes, uint8_t filler, std::function<void()> then = {});

private:
    enum class Io { Idle, ReceiveBytes, ReceiveBits, Transmit, Search };

    void romCommand(uint8_t command);
    bool transmitBit() const;

    Rom rom_;
    Io io_ = Io::Idle;
    std::function<void(uint8_t)> onByte_;
    std::function<void(bool)> onBit_;
    uint8_t receivedByte_ = 0;
    int receivedBits_ = 0;
    std::vector<uint8_t> sending_;
    size_t sendingIndex_ = 0;
    int sendingBit_ = 0;
    uint8_t filler_ = 0xFF;
    std::function<void()> afterSending_;
    int searchPosition_ = 0;
    int searchStep_ = 0; // 0: send the bit, 1: send its complement, 2: follow the master
};

// A device that only has its ROM: the DS1990A, and any family the simulator does not model.
class RomOnlyDevice final : public OneWireSlave {
public:
    using OneWireSlave::OneWireSlave;

protected:
    bool isReadRomCommand(uint8_t command) const override;
};

// The DS1993 4-Kbit memory iButton: 16 pages of 32 bytes written through a 32-byte scratchpad.
class Ds1993 final : public OneWireSlave {
public:
    Ds1993(const Rom& rom, MemoryStore& memory) : OneWireSlave(rom), memory_(memory) {}

    // E/S: authorization accepted, overflow, partial byte, ending offset.
    uint8_t endingStatus() const;

protected:
    void selected() override;

private:
    void memoryCommand(uint8_t command);
    void receiveTargetAddress(std::function<void()> then);
    void writeScratchpadBit(bool bit);
    void copyScratchpad(const std::vector<uint8_t>& authorization);

    MemoryStore& memory_;
    std::array<uint8_t, 32> scratchpad_{};
    uint16_t targetAddress_ = 0;
    uint8_t endingOffset_ = 0;
    bool authorizationAccepted_ = false;
    bool overflow_ = false;
    bool partialByte_ = false;
    int writeOffset_ = 0;
    int writeBit_ = 0;
    std::vector<uint8_t> received_;
};

} // namespace ibsim
