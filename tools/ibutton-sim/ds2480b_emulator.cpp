#include "ds2480b_emulator.h"

namespace ibsim {

namespace {
constexpr uint8_t dataModeCommand = 0xE1;
constexpr uint8_t commandModeCommand = 0xE3;
constexpr uint8_t pulseTermination = 0xF1;

// Reset answer: 11 0 rrr pp with chip revision 011 and the 1-Wire outcome in pp.
constexpr uint8_t resetAnswerBase = 0xCC;
constexpr uint8_t presence = 0x01;
constexpr uint8_t noPresence = 0x03;

// Parameter codes and their power-on value codes.
constexpr int pulldownSlewRate = 1;
constexpr int programmingPulse = 2;
constexpr int strongPullup = 3;
constexpr int write1LowTime = 4;
constexpr int sampleOffset = 5;
constexpr int loadSensor = 6;
constexpr int baudRateParameter = 7;

constexpr int ratesByCode[] = {9600, 19200, 57600, 115200};

// What a receiver makes of a byte sent at another rate; a host that waits for any answer at all
// gets this one.
constexpr uint8_t garbled = 0xFF;
} // namespace

void Ds2480bEmulator::powerOn() {
    mode_ = Mode::AwaitingTimingByte;
    searchAccelerator_ = false;
    searchLost_ = false;
    parameters_ = {};
    parameters_[pulldownSlewRate] = 0; // 15 V/us
    parameters_[programmingPulse] = 4; // 512 us
    parameters_[strongPullup] = 4;     // 524 ms
    parameters_[write1LowTime] = 0;    // 8 us
    parameters_[sampleOffset] = 0;     // 3 us
    parameters_[loadSensor] = 0;
    parameters_[baudRateParameter] = 0; // 9600
    baudRate_ = 9600;
}

void Ds2480bEmulator::send(std::vector<uint8_t>& answer, uint8_t byte) {
    ++sentByRate_[baudRate_];
    answer.push_back(baudRate_ == hostBaud_ ? byte : garbled);
}

void Ds2480bEmulator::receive(std::span<const uint8_t> bytes, std::vector<uint8_t>& answer,
                              int hostBaud) {
    hostBaud_ = hostBaud;
    for (uint8_t byte : bytes) {
        ++receivedByRate_[hostBaud];
        // Checked for every byte: a rate change takes effect in the middle of a burst.
        if (hostBaud != baudRate_)
            continue;
        switch (mode_) {
        case Mode::AwaitingTimingByte:
            // The adapter measures the baud rate on this byte and does not act on it.
            mode_ = Mode::Command;
            break;
        case Mode::Command:
            command(byte, answer);
            break;
        case Mode::Data:
            if (byte == commandModeCommand)
                mode_ = Mode::DataAfterEscape;
            else
                data(byte, answer);
            break;
        case Mode::DataAfterEscape:
            if (byte == commandModeCommand) {
                mode_ = Mode::Data; // a doubled 0xE3 is data
                data(byte, answer);
            } else {
                mode_ = Mode::Command;
                command(byte, answer);
            }
            break;
        }
    }
}

void Ds2480bEmulator::clientDiscardedOutput() {
    // A client sends nothing without waiting for its answer except the end of an accelerated
    // search pass (escape to command mode, accelerator off): a flush right after the pass drops
    // those two bytes on a pseudo-terminal, never on a real line. Anything else in flight would
    // have been answered, and the client reads its answers before it flushes.
    if (searchAccelerator_ && (mode_ == Mode::Data || mode_ == Mode::DataAfterEscape)) {
        searchAccelerator_ = false;
        searchLost_ = false;
        mode_ = Mode::Command;
    }
}

void Ds2480bEmulator::command(uint8_t byte, std::vector<uint8_t>& answer) {
    if (byte == dataModeCommand) {
        mode_ = Mode::Data;
        return;
    }
    if (byte == commandModeCommand || byte == pulseTermination)
        return;
    if ((byte & 0x01) == 0)
        return; // not a command code
    if (byte & 0x80) {
        communicationCommand(byte, answer);
        return;
    }
    int parameter = (byte >> 4) & 0x07;
    if (parameter == 0) {
        // Read: the parameter code sits where the value would go; the answer carries the value.
        int code = (byte >> 1) & 0x07;
        send(answer, static_cast<uint8_t>((byte & 0xF0) | parameters_[code] << 1));
        return;
    }
    auto value = static_cast<uint8_t>((byte >> 1) & 0x07);
    if (parameter == baudRateParameter) {
        // The acknowledgement already goes out at the new rate.
        if (!refuseFastRates_)
            baudRate_ = ratesByCode[value & 0x03];
        value = baudRate_ == 9600 ? 0 : value;
    }
    parameters_[parameter] = value;
    send(answer, static_cast<uint8_t>(byte & 0xFE));
}

void Ds2480bEmulator::communicationCommand(uint8_t byte, std::vector<uint8_t>& answer) {
    switch ((byte >> 5) & 0x03) {
    case 0: { // single bit; bit 1 asks for a strong pullup afterwards
        bool level = bus_.touch((byte >> 4) & 1);
        send(answer, static_cast<uint8_t>((byte & 0xFC) | (level ? 0x03 : 0x00)));
        if (byte & 0x02)
            send(answer, 0xEC); // the pulse answer once the pullup ends
        break;
    }
    case 1: // search accelerator on/off, no answer
        searchAccelerator_ = (byte & 0x10) != 0;
        searchLost_ = false;
        break;
    case 2: // 1-Wire reset
        ++resets_;
        searchLost_ = false;
        send(answer, resetAnswerBase | (bus_.reset() ? presence : noPresence));
        break;
    case 3: // pulse (programming or strong pullup): nothing to power here
        send(answer, static_cast<uint8_t>(byte & 0xFC));
        break;
    }
}

void Ds2480bEmulator::data(uint8_t byte, std::vector<uint8_t>& answer) {
    if (searchAccelerator_) {
        send(answer, acceleratedSearch(byte));
        return;
    }
    uint8_t read = 0;
    for (int bit = 0; bit < 8; ++bit)
        if (bus_.touch((byte >> bit) & 1))
            read |= static_cast<uint8_t>(1 << bit);
    send(answer, read);
}

// Each byte carries four search positions: the preferred direction in the odd bits. The answer
// has the direction taken in the odd bits and the disagreement flag in the even bits.
uint8_t Ds2480bEmulator::acceleratedSearch(uint8_t byte) {
    uint8_t result = 0;
    for (int position = 0; position < 4; ++position) {
        bool preferred = (byte >> (2 * position + 1)) & 1;
        bool taken = true;
        bool disagreement = true;
        if (!searchLost_) {
            bool idBit = bus_.touch(true);
            bool complement = bus_.touch(true);
            if (idBit && complement) {
                searchLost_ = true; // nobody answered: ones from here to the end of the pass
            } else {
                disagreement = !idBit && !complement;
                taken = disagreement ? preferred : idBit;
            }
            bus_.touch(taken);
        }
        if (disagreement)
            result |= static_cast<uint8_t>(1 << (2 * position));
        if (taken)
            result |= static_cast<uint8_t>(1 << (2 * position + 1));
    }
    return result;
}

} // namespace ibsim
