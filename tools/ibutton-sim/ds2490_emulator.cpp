#include "ds2490_emulator.h"

#include <algorithm>

namespace ibsim {

using namespace ds2490;

namespace {
constexpr uint16_t commandCodeMask = 0x00F0;
constexpr uint8_t searchRomCommand = 0xF0;

bool bitOf(std::span<const uint8_t> bytes, int n) {
    return (bytes[n / 8] >> (n % 8)) & 1;
}

void setBit(std::array<uint8_t, 8>& bytes, int n) {
    bytes[n / 8] |= static_cast<uint8_t>(1 << (n % 8));
}
} // namespace

void Ds2490Emulator::powerOn() {
    dataOut_.clear();
    dataIn_.clear();
    results_.clear();
    queued_.clear();
    modes_ = {};
    modes_[modeStrongPullupDuration] = 0x00;
    modes_[modeProgramPulseDuration] = 0x00;
    lastCommand_ = 0;
    halted_ = false;
}

bool Ds2490Emulator::control(uint8_t request, uint16_t value, uint16_t index) {
    switch (request) {
    case controlRequest:
        switch (value) {
        case resetDevice:
            powerOn();
            return true;
        case startExecution:
        case resumeExecution: {
            halted_ = false;
            auto commands = std::move(queued_);
            queued_.clear();
            for (const auto& command : commands)
                execute(command);
            return true;
        }
        case haltExecutionIdle:
        case haltExecutionDone:
            halted_ = true;
            return true;
        case flushCommands:
            queued_.clear();
            return true;
        case flushReceiveBuffer:
            dataIn_.clear();
            return true;
        case flushTransmitBuffer:
            dataOut_.clear();
            return true;
        default:
            return value <= 0x000A; // the remaining codes exist and need nothing here
        }
    case communicationRequest:
        communication(value, index);
        return true;
    case modeRequest:
        if (value >= modes_.size())
            return false;
        modes_[value] = static_cast<uint8_t>(index);
        return true;
    default:
        return false;
    }
}

bool Ds2490Emulator::dataOut(std::span<const uint8_t> bytes) {
    if (dataOut_.size() + bytes.size() > fifoSize)
        return false;
    dataOut_.insert(dataOut_.end(), bytes.begin(), bytes.end());
    return true;
}

std::vector<uint8_t> Ds2490Emulator::dataIn(size_t maximum) {
    size_t count = std::min(maximum, dataIn_.size());
    std::vector<uint8_t> bytes(dataIn_.begin(), dataIn_.begin() + static_cast<long>(count));
    dataIn_.erase(dataIn_.begin(), dataIn_.begin() + static_cast<long>(count));
    return bytes;
}

std::vector<uint8_t> Ds2490Emulator::status() {
    std::vector<uint8_t> packet(statusSize, 0);
    packet[0] = modes_[modePulseEnable];
    packet[1] = modes_[modeSpeed];
    packet[2] = modes_[modeStrongPullupDuration];
    packet[3] = modes_[modeProgramPulseDuration];
    packet[4] = modes_[modePulldownSlewRate];
    packet[5] = modes_[modeWrite1LowTime];
    packet[6] = modes_[modeSampleOffset];
    packet[statusFlagsIndex] = queued_.empty() ? statusIdle : 0;
    if (halted_)
        packet[statusFlagsIndex] |= statusHalted;
    packet[9] = static_cast<uint8_t>(lastCommand_ & 0xFF);
    packet[10] = static_cast<uint8_t>(lastCommand_ >> 8);
    packet[commandBufferIndex] = static_cast<uint8_t>(std::min<size_t>(queued_.size() * 2, 255));
    packet[dataOutBufferIndex] = static_cast<uint8_t>(std::min<size_t>(dataOut_.size(), 255));
    packet[dataInBufferIndex] = static_cast<uint8_t>(std::min<size_t>(dataIn_.size(), 255));
    for (uint8_t result : results_)
        packet.push_back(result);
    results_.clear();
    return packet;
}

void Ds2490Emulator::communication(uint16_t value, uint16_t index) {
    Command command{value, index};
    if ((value & flagImmediate) && !halted_)
        execute(command);
    else
        queued_.push_back(command);
}

void Ds2490Emulator::execute(const Command& command) {
    lastCommand_ = command.value;
    commandFailed_ = false;
    uint16_t value = command.value;
    switch (value & commandCodeMask) {
    case commBitIo& commandCodeMask: {
        bool level = bus_.touch((value & flagBit3) != 0);
        uint8_t read = level ? 1 : 0;
        produce(value, std::span<const uint8_t>(&read, 1));
        break;
    }
    case commReset& commandCodeMask:
        resetBus(value);
        break;
    case commByteIo& commandCodeMask: {
        uint8_t read = touchByte(static_cast<uint8_t>(command.index & 0xFF));
        produce(value, std::span<const uint8_t>(&read, 1));
        break;
    }
    case commMatchAccess& commandCodeMask: {
        auto rom = takeDataOut(8);
        if (rom.size() < 8) {
            fail(value, resultCompare);
            break;
        }
        if ((value & flagResetFirst) && !resetBus(value))
            break;
        touchByte(static_cast<uint8_t>(command.index & 0xFF));
        for (uint8_t byte : rom)
            touchByte(byte);
        break;
    }
    case commBlockIo& commandCodeMask: {
        auto bytes = takeDataOut(command.index);
        if ((value & flagResetFirst) && !resetBus(value) && commandFailed_)
            break;
        for (uint8_t& byte : bytes)
            byte = touchByte(byte);
        produce(value, bytes);
        break;
    }
    case commSearchAccess& commandCodeMask:
        search(value, command.index);
        break;
    default:
        // Durations, pulses and the EPROM and path commands: nothing on this bus needs them.
        break;
    }
    if (value & flagNotify)
        results_.push_back(0);
}

bool Ds2490Emulator::resetBus(uint16_t value) {
    ++resets_;
    if (bus_.reset())
        return true;
    fail(value, resultNoPresence);
    return false;
}

uint8_t Ds2490Emulator::touchByte(uint8_t byte) {
    uint8_t read = 0;
    for (int bit = 0; bit < 8; ++bit)
        if (bus_.touch((byte >> bit) & 1))
            read |= static_cast<uint8_t>(1 << bit);
    return read;
}

std::vector<uint8_t> Ds2490Emulator::takeDataOut(size_t count) {
    count = std::min(count, dataOut_.size());
    std::vector<uint8_t> bytes(dataOut_.begin(), dataOut_.begin() + static_cast<long>(count));
    dataOut_.erase(dataOut_.begin(), dataOut_.begin() + static_cast<long>(count));
    return bytes;
}

void Ds2490Emulator::produce(uint16_t value, std::span<const uint8_t> bytes) {
    if (value & flagInhibitData)
        return;
    dataIn_.insert(dataIn_.end(), bytes.begin(), bytes.end());
}

void Ds2490Emulator::fail(uint16_t value, uint8_t result) {
    results_.push_back(result);
    if (value & flagClearOnError) {
        commandFailed_ = true;
        dataOut_.clear();
        queued_.clear();
    }
}

// Search Access: EP2 holds the path to take at the bit positions where devices disagree; the chip
// runs up to `index >> 8` passes, each steered past the previous one's last zero branch, and puts
// every ROM found into EP3. When it stops with branches left (and RTS), an eighth byte group
// follows: the positions where the last pass met disagreement, which tells the host where to go on.
void Ds2490Emulator::search(uint16_t value, uint16_t index) {
    auto start = takeDataOut(8);
    if (start.size() < 8) {
        fail(value, resultCompare);
        return;
    }
    std::array<uint8_t, 8> path{};
    std::copy(start.begin(), start.end(), path.begin());
    int wanted = index >> 8;
    if (wanted == 0)
        wanted = 1;
    uint8_t romCommand = static_cast<uint8_t>(index & 0xFF);
    if (romCommand == 0)
        romCommand = searchRomCommand;

    bool resetFirst = (value & flagResetFirst) != 0;
    std::array<uint8_t, 8> discrepancies{};
    bool branchesLeft = false;
    for (int found = 0; found < wanted; ++found) {
        if ((resetFirst || found > 0) && !resetBus(value))
            return;
        touchByte(romCommand);
        std::array<uint8_t, 8> rom{};
        discrepancies = {};
        int lastZero = -1;
        bool lost = false;
        for (int n = 0; n < 64; ++n) {
            bool idBit = bus_.touch(true);
            bool complement = bus_.touch(true);
            bool direction = idBit;
            if (idBit && complement) {
                lost = true;
                break;
            }
            if (!idBit && !complement) {
                setBit(discrepancies, n);
                direction = bitOf(path, n);
                if (!direction)
                    lastZero = n;
            }
            bus_.touch(direction);
            if (direction)
                setBit(rom, n);
        }
        if (lost)
            return; // nobody left on the path: this pass found no device
        if (!(value & flagInhibitData))
            dataIn_.insert(dataIn_.end(), rom.begin(), rom.end());
        branchesLeft = lastZero >= 0;
        if (!branchesLeft)
            break;
        path = {};
        for (int n = 0; n < lastZero; ++n)
            if (bitOf(rom, n))
                setBit(path, n);
        setBit(path, lastZero);
    }
    if (branchesLeft && (value & flagReturnDiscrepancy) && !(value & flagInhibitData))
        dataIn_.insert(dataIn_.end(), discrepancies.begin(), discrepancies.end());
}

} // namespace ibsim
