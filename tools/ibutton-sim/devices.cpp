#include "devices.h"

namespace ibsim {

namespace {
constexpr uint8_t readRom = 0x33;
constexpr uint8_t matchRom = 0x55;
constexpr uint8_t skipRom = 0xCC;
constexpr uint8_t searchRom = 0xF0;

constexpr uint8_t writeScratchpad = 0x0F;
constexpr uint8_t readScratchpad = 0xAA;
constexpr uint8_t copyScratchpadCommand = 0x55;
constexpr uint8_t readMemory = 0xF0;
} // namespace

// ---- ROM layer and slot mechanics ----

void OneWireSlave::resetPulse() {
    afterSending_ = {};
    receiveBytes([this](uint8_t command) { romCommand(command); });
}

void OneWireSlave::idle() {
    io_ = Io::Idle;
}

void OneWireSlave::receiveBytes(std::function<void(uint8_t)> onByte) {
    io_ = Io::ReceiveBytes;
    onByte_ = std::move(onByte);
    receivedByte_ = 0;
    receivedBits_ = 0;
}

void OneWireSlave::receiveBits(std::function<void(bool)> onBit) {
    io_ = Io::ReceiveBits;
    onBit_ = std::move(onBit);
}

void OneWireSlave::transmit(std::vector<uint8_t> bytes, uint8_t filler,
                            std::function<void()> then) {
    io_ = Io::Transmit;
    sending_ = std::move(bytes);
    sendingIndex_ = 0;
    sendingBit_ = 0;
    filler_ = filler;
    afterSending_ = std::move(then);
    if (sending_.empty() && afterSending_) {
        auto next = std::move(afterSending_);
        afterSending_ = {};
        next();
    }
}

bool OneWireSlave::transmitBit() const {
    uint8_t byte = sendingIndex_ < sending_.size() ? sending_[sendingIndex_] : filler_;
    return (byte >> sendingBit_) & 1;
}

bool OneWireSlave::releasesBus() const {
    switch (io_) {
    case Io::Transmit:
        return transmitBit();
    case Io::Search:
        if (searchStep_ == 0)
            return onewire::romBit(rom_, searchPosition_);
        if (searchStep_ == 1)
            return !onewire::romBit(rom_, searchPosition_);
        return true;
    default:
        return true;
    }
}

void OneWireSlave::slot(bool level) {
    switch (io_) {
    case Io::Idle:
        return;
    case Io::ReceiveBytes:
        if (level)
            receivedByte_ |= static_cast<uint8_t>(1 << receivedBits_);
        if (++receivedBits_ == 8) {
            uint8_t byte = receivedByte_;
            receivedByte_ = 0;
            receivedBits_ = 0;
            auto handler = onByte_; // the handler may install the next one
            handler(byte);
        }
        return;
    case Io::ReceiveBits: {
        auto handler = onBit_;
        handler(level);
        return;
    }
    case Io::Transmit:
        if (++sendingBit_ == 8) {
            sendingBit_ = 0;
            ++sendingIndex_;
            if (sendingIndex_ == sending_.size() && afterSending_) {
                auto next = std::move(afterSending_);
                afterSending_ = {};
                next();
            }
        }
        return;
    case Io::Search:
        if (searchStep_ < 2) {
            ++searchStep_;
            return;
        }
        if (level != onewire::romBit(rom_, searchPosition_)) {
            idle(); // the master went the other way
            return;
        }
        searchStep_ = 0;
        if (++searchPosition_ == 64)
            selected();
        return;
    }
}

void OneWireSlave::romCommand(uint8_t command) {
    if (isReadRomCommand(command)) {
        transmit(std::vector<uint8_t>(rom_.begin(), rom_.end()), 0xFF, [this] { selected(); });
    } else if (command == matchRom) {
        auto matched = std::make_shared<size_t>(0);
        receiveBytes([this, matched](uint8_t byte) {
            if (byte != rom_[*matched]) {
                idle();
                return;
            }
            if (++*matched == rom_.size())
                selected();
        });
    } else if (command == skipRom) {
        selected();
    } else if (command == searchRom) {
        io_ = Io::Search;
        searchPosition_ = 0;
        searchStep_ = 0;
    } else {
        idle(); // overdrive and unknown ROM commands: this device stays out until the next reset
    }
}

bool RomOnlyDevice::isReadRomCommand(uint8_t command) const {
    constexpr uint8_t ds1990Family = 0x01;
    constexpr uint8_t ds1990AlternativeReadRom = 0x0F;
    return command == readRom || (rom()[0] == ds1990Family && command == ds1990AlternativeReadRom);
}

// ---- DS1993 memory functions ----

uint8_t Ds1993::endingStatus() const {
    return static_cast<uint8_t>((authorizationAccepted_ ? 0x80 : 0) | (overflow_ ? 0x40 : 0) |
                                (partialByte_ ? 0x20 : 0) | (endingOffset_ & 0x1F));
}

void Ds1993::selected() {
    receiveBytes([this](uint8_t command) { memoryCommand(command); });
}

void Ds1993::receiveTargetAddress(std::function<void()> then) {
    received_.clear();
    receiveBytes([this, then = std::move(then)](uint8_t byte) {
        received_.push_back(byte);
        if (received_.size() < 2)
            return;
        targetAddress_ = static_cast<uint16_t>(received_[0] | received_[1] << 8);
        then();
    });
}

void Ds1993::memoryCommand(uint8_t command) {
    switch (command) {
    case writeScratchpad:
        receiveTargetAddress([this] {
            authorizationAccepted_ = false;
            overflow_ = false;
            partialByte_ = false;
            writeOffset_ = targetAddress_ & 0x1F;
            writeBit_ = 0;
            endingOffset_ = static_cast<uint8_t>(writeOffset_);
            receiveBits([this](bool bit) { writeScratchpadBit(bit); });
        });
        break;
    case readScratchpad: {
        std::vector<uint8_t> answer = {static_cast<uint8_t>(targetAddress_ & 0xFF),
                                       static_cast<uint8_t>(targetAddress_ >> 8), endingStatus()};
        answer.insert(answer.end(), scratchpad_.begin() + (targetAddress_ & 0x1F),
                      scratchpad_.end());
        transmit(std::move(answer), 0xFF);
        break;
    }
    case copyScratchpadCommand:
        received_.clear();
        receiveBytes([this](uint8_t byte) {
            received_.push_back(byte);
            if (received_.size() == 3)
                copyScratchpad(received_);
        });
        break;
    case readMemory:
        receiveTargetAddress([this] {
            std::vector<uint8_t> data;
            if (targetAddress_ < ds1993MemorySize) {
                Ds1993Memory memory = memory_.readMemory(rom());
                data.assign(memory.begin() + targetAddress_, memory.end());
            }
            transmit(std::move(data), 0xFF); // past the end of memory the bus reads ones
        });
        break;
    default:
        idle();
        break;
    }
}

void Ds1993::writeScratchpadBit(bool bit) {
    if (writeOffset_ > 31) {
        // Past the end of the scratchpad the data is dropped.
        overflow_ = true;
        partialByte_ = false;
        return;
    }
    auto mask = static_cast<uint8_t>(1 << writeBit_);
    scratchpad_[writeOffset_] = static_cast<uint8_t>(bit ? scratchpad_[writeOffset_] | mask
                                                         : scratchpad_[writeOffset_] & ~mask);
    endingOffset_ = static_cast<uint8_t>(writeOffset_);
    if (++writeBit_ == 8) {
        writeBit_ = 0;
        ++writeOffset_;
    }
    partialByte_ = writeBit_ != 0;
}

void Ds1993::copyScratchpad(const std::vector<uint8_t>& authorization) {
    bool authorized = authorization[0] == (targetAddress_ & 0xFF) &&
                      authorization[1] == (targetAddress_ >> 8) &&
                      authorization[2] == endingStatus();
    if (!authorized) {
        idle(); // nothing is copied; the master reads ones
        return;
    }
    authorizationAccepted_ = true;
    int beginning = targetAddress_ & 0x1F;
    if (endingOffset_ >= beginning) {
        // Nine address bits reach the 512 bytes; the page base keeps the bytes within one page.
        auto address = static_cast<uint16_t>((targetAddress_ & 0x1FF & ~0x1F) + beginning);
        memory_.writeMemory(
            rom(), address,
            std::span<const uint8_t>(scratchpad_.data() + beginning,
                                     static_cast<size_t>(endingOffset_ - beginning + 1)));
    }
    transmit({}, 0x00); // the copy is done: zeros until the next reset
}

} // namespace ibsim
