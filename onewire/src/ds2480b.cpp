#include "ds2480b.h"

#include <algorithm>
#include <thread>

namespace onewire {

namespace {

// Mode switches (command mode only; in data mode 0xE3 is the escape and is doubled as data).
constexpr uint8_t switchToDataMode = 0xE1;
constexpr uint8_t switchToCommandMode = 0xE3;

// Communication commands at standard speed: 1 ff p ss 0 1 (function, polarity, speed).
constexpr uint8_t resetCommand = 0xC1;
constexpr uint8_t searchAcceleratorOn = 0xB1;
constexpr uint8_t searchAcceleratorOff = 0xA1;
constexpr uint8_t singleBitWrite0 = 0x81;
constexpr uint8_t singleBitWrite1 = 0x91;

// Configuration: 0 ppp vvv 1 writes parameter ppp; 0 000 ppp 1 reads it. Slew rate 1.37 V/us,
// write-1 low time 10 us, data sample offset 8 us: the values recommended for most buses.
constexpr uint8_t setPulldownSlewRate = 0x17;
constexpr uint8_t setWrite1LowTime = 0x45;
constexpr uint8_t setSampleOffset = 0x5B;
constexpr uint8_t readBaudRate = 0x0F;
constexpr uint8_t setBaudRate = 0x71; // the rate's code goes into bits 1-3

constexpr uint8_t searchRomCommand = 0xF0;

// Long blocks go in pieces so neither side's buffer can fill while the other waits.
constexpr size_t largestBlock = 512;

// Faster rates first: the first that the port and the adapter both manage is taken.
constexpr int fasterRates[] = {115200, 57600, 19200};

// The adapter answers a rate change at its new rate, which the host cannot read until it has
// changed its own; waiting for that answer (or for the time it takes) keeps the change of the
// port's rate from cutting the request off. Both waits are parts of the answer allowance, so an
// adapter that is given longer to answer is also given longer here.
constexpr int rateChangeAnswerWaitShare = 4; // a quarter
constexpr int readBackTimeoutShare = 2;      // a half

} // namespace

std::optional<uint8_t> ds2480bBaudCode(int baud) {
    switch (baud) {
    case 9600:
        return 0;
    case 19200:
        return 1;
    case 57600:
        return 2;
    case 115200:
        return 3;
    default:
        return std::nullopt;
    }
}

Ds2480bMaster::Ds2480bMaster(const std::string& devicePath, int fastestBaud,
                             std::chrono::milliseconds answerAllowance)
    : Ds2480bMaster(std::make_unique<SerialPort>(devicePath), fastestBaud, answerAllowance) {}

Ds2480bMaster::Ds2480bMaster(std::unique_ptr<SerialLine> line, int fastestBaud,
                             std::chrono::milliseconds answerAllowance)
    : line_(std::move(line)), answerAllowance_(answerAllowance) {
    detect();
    speedUp(fastestBaud);
}

Ds2480bMaster::~Ds2480bMaster() {
    if (line_->baudRate() == baseBaud)
        return;
    try {
        requestRate(baseBaud);
    } catch (...) {
        // A line that failed has nobody left to tell.
    }
}

void Ds2480bMaster::detect() {
    if (detectAtBaseRate())
        return;
    // A program that ended without putting the adapter back (killed, or its port could not send
    // the break that resets it) may have left it at a faster rate. Found there, it is brought
    // back to 9600 so that every session starts from the same point.
    for (int baud : fasterRates) {
        if (!line_->setBaudRate(baud))
            continue;
        if (configure({switchToCommandMode, resetCommand})) {
            requestRate(baseBaud);
            if (detectAtBaseRate())
                return;
            break;
        }
    }
    line_->setBaudRate(baseBaud);
    throw LinkError("the device on the port does not answer like a DS2480B");
}

bool Ds2480bMaster::detectAtBaseRate() {
    if (line_->baudRate() != baseBaud && !line_->setBaudRate(baseBaud))
        return false;
    // A break puts the adapter through a master reset; it then takes the first byte at 9600 baud
    // as its timing byte and does not answer it.
    line_->sendBreak();
    line_->settle(std::chrono::milliseconds(2));
    if (configure({resetCommand}))
        return true;
    // Not every serial port can send a break, and an adapter that missed it may still be in
    // data mode from an earlier program: escape to command mode, then the same again.
    return configure({switchToCommandMode, resetCommand});
}

bool Ds2480bMaster::configure(const std::vector<uint8_t>& opening) {
    try {
        // An adapter that is calibrated already runs the opening reset and answers it; that
        // answer is dropped, whether it comes before the flush or after it.
        line_->write(opening, answerTimeout(opening.size(), 0));
        line_->settle(std::chrono::milliseconds(5));
        line_->discardInput();
        const std::vector<uint8_t> setup = {setPulldownSlewRate, setWrite1LowTime, setSampleOffset,
                                            readBaudRate, singleBitWrite1};
        auto answer = exchange(setup, setup.size());
        if ((answer[0] & 0xC0) == 0xC0) {
            // A late reset answer (11 x rrr pp), which no setup answer can look like.
            answer.erase(answer.begin());
            answer.push_back(0);
            line_->read(std::span<uint8_t>(&answer.back(), 1), answerTimeout(1, 1));
        }
        // Parameter writes echo the command with bit 0 cleared; the rate reads back as the code
        // of the rate this line runs at; the single bit answers with its read level in the low
        // two bits.
        mode_ = Mode::Command;
        auto code = ds2480bBaudCode(line_->baudRate());
        return code && answer[0] == (setPulldownSlewRate & 0xFE) &&
               answer[1] == (setWrite1LowTime & 0xFE) && answer[2] == (setSampleOffset & 0xFE) &&
               answer[3] == (*code << 1) && (answer[4] & 0xFC) == (singleBitWrite1 & 0xFC);
    } catch (const LinkError&) {
        return false;
    }
}

void Ds2480bMaster::speedUp(int fastestBaud) {
    for (int baud : fasterRates) {
        if (baud > fastestBaud)
            continue;
        // Only a rate the port itself can run at is worth asking the adapter for.
        bool portCan = line_->setBaudRate(baud);
        line_->setBaudRate(baseBaud);
        if (!portCan)
            continue;
        if (switchTo(baud))
            return;
        // The adapter may be at the new rate without our read-back getting through, or may never
        // have left 9600: ask it back in the rate it may be at, then find it afresh at 9600.
        try {
            requestRate(baseBaud);
        } catch (const LinkError&) {
        }
        if (!detectAtBaseRate())
            throw LinkError("the adapter stopped answering after a change of its rate");
        return;
    }
}

bool Ds2480bMaster::switchTo(int baud) {
    auto code = ds2480bBaudCode(baud);
    try {
        requestRate(baud);
        if (line_->baudRate() != baud)
            return false;
        auto answer = exchange({readBaudRate}, 1, answerAllowance_ / readBackTimeoutShare);
        return answer[0] == (*code << 1);
    } catch (const LinkError&) {
        return false;
    }
}

void Ds2480bMaster::requestRate(int baud) {
    std::vector<uint8_t> out;
    toCommandMode(out);
    out.push_back(static_cast<uint8_t>(setBaudRate | *ds2480bBaudCode(baud) << 1));
    line_->write(out, answerTimeout(out.size(), 0));
    line_->drain(answerTimeout(out.size(), 0));
    try {
        uint8_t unreadable = 0;
        line_->read(std::span<uint8_t>(&unreadable, 1),
                    answerAllowance_ / rateChangeAnswerWaitShare);
    } catch (const LinkError&) {
        // No answer that this side could read; its time has passed all the same.
    }
    line_->setBaudRate(baud);
    line_->settle(std::chrono::milliseconds(2));
    line_->discardInput();
}

void Ds2480bMaster::toCommandMode(std::vector<uint8_t>& out) {
    if (mode_ == Mode::Data)
        out.push_back(switchToCommandMode);
    mode_ = Mode::Command;
}

void Ds2480bMaster::toDataMode(std::vector<uint8_t>& out) {
    if (mode_ == Mode::Command)
        out.push_back(switchToDataMode);
    mode_ = Mode::Data;
}

void Ds2480bMaster::appendData(std::vector<uint8_t>& out, std::span<const uint8_t> bytes) {
    for (uint8_t byte : bytes) {
        out.push_back(byte);
        if (byte == switchToCommandMode)
            out.push_back(byte);
    }
}

std::chrono::milliseconds Ds2480bMaster::answerTimeout(size_t bytesOut, size_t bytesIn) const {
    return answerAllowance_ + std::chrono::milliseconds(2 * (bytesOut + bytesIn));
}

std::vector<uint8_t> Ds2480bMaster::exchange(const std::vector<uint8_t>& out, size_t answerSize,
                                             std::optional<std::chrono::milliseconds> timeout) {
    if (!timeout)
        timeout = answerTimeout(out.size(), answerSize);
    line_->write(out, *timeout);
    std::vector<uint8_t> answer(answerSize);
    if (answerSize > 0)
        line_->read(answer, *timeout);
    return answer;
}

ResetResult Ds2480bMaster::decodeReset(uint8_t answer) {
    // 11 x rrr pp: the chip revision in the middle, the 1-Wire outcome in the low two bits.
    if ((answer & 0xC0) != 0xC0)
        throw LinkError("the adapter gave no reset answer");
    switch (answer & 0x03) {
    case 0x00:
        return ResetResult::Shorted;
    case 0x01:
    case 0x02: // presence from a device signalling an alarm
        return ResetResult::Presence;
    default:
        return ResetResult::NoPresence;
    }
}

ResetResult Ds2480bMaster::reset() {
    std::vector<uint8_t> out;
    toCommandMode(out);
    out.push_back(resetCommand);
    return decodeReset(exchange(out, 1)[0]);
}

bool Ds2480bMaster::touchBit(bool bit) {
    std::vector<uint8_t> out;
    toCommandMode(out);
    uint8_t command = bit ? singleBitWrite1 : singleBitWrite0;
    out.push_back(command);
    uint8_t answer = exchange(out, 1)[0];
    if ((answer & 0xFC) != (command & 0xFC))
        throw LinkError("the adapter gave no bit answer");
    return (answer & 0x03) == 0x03;
}

uint8_t Ds2480bMaster::touchByte(uint8_t byte) {
    touchBlock(std::span<uint8_t>(&byte, 1));
    return byte;
}

void Ds2480bMaster::touchBlock(std::span<uint8_t> bytes) {
    while (!bytes.empty()) {
        auto piece = bytes.first(std::min(bytes.size(), largestBlock));
        std::vector<uint8_t> out;
        toDataMode(out);
        appendData(out, piece);
        auto answer = exchange(out, piece.size());
        std::copy(answer.begin(), answer.end(), piece.begin());
        bytes = bytes.subspan(piece.size());
    }
}

ResetResult Ds2480bMaster::resetThenTouch(std::span<uint8_t> bytes) {
    if (bytes.size() > largestBlock) {
        ResetResult result = reset();
        touchBlock(bytes);
        return result;
    }
    std::vector<uint8_t> out;
    toCommandMode(out);
    out.push_back(resetCommand);
    toDataMode(out);
    appendData(out, bytes);
    auto answer = exchange(out, 1 + bytes.size());
    std::copy(answer.begin() + 1, answer.end(), bytes.begin());
    return decodeReset(answer[0]);
}

SearchPass Ds2480bMaster::searchPass(const Rom& steering) {
    // The accelerator takes the path as 64 pairs of bits (position n in bit 2n+1, bit 2n unused)
    // and answers each pair with the chosen bit (2n+1) and a disagreement flag (2n).
    std::array<uint8_t, 16> path{};
    for (int n = 0; n < 64; ++n)
        if (romBit(steering, n))
            path[n / 4] |= static_cast<uint8_t>(1 << (2 * (n % 4) + 1));

    std::vector<uint8_t> out;
    toCommandMode(out);
    out.push_back(resetCommand);
    toDataMode(out);
    out.push_back(searchRomCommand);
    toCommandMode(out);
    out.push_back(searchAcceleratorOn);
    toDataMode(out);
    appendData(out, path);
    toCommandMode(out);
    out.push_back(searchAcceleratorOff);
    auto answer = exchange(out, 2 + path.size());

    SearchPass pass;
    pass.reset = decodeReset(answer[0]);
    if (answer[1] != searchRomCommand)
        throw LinkError("the adapter garbled the search command");
    for (int n = 0; n < 64; ++n) {
        uint8_t pair = static_cast<uint8_t>(answer[2 + n / 4] >> (2 * (n % 4)));
        if (pair & 0x02)
            pass.rom[n / 8] |= static_cast<uint8_t>(1 << (n % 8));
        if (pair & 0x01)
            pass.discrepancies[n / 8] |= static_cast<uint8_t>(1 << (n % 8));
    }
    // After a position where nobody answered, the accelerator reports ones with the flag set
    // up to the end. A real disagreement at the last bit reads the same, but only when the
    // pass was steered to 1 there.
    pass.noResponse =
        romBit(pass.rom, 63) && romBit(pass.discrepancies, 63) && !romBit(steering, 63);
    return pass;
}

} // namespace onewire
