// Driver for the DS2480B serial 1-Wire line driver (DS9097U adapters), standard speed.
//
// Every operation is one serial exchange: all bytes of the step go out in one write, and the
// answer is read back in one read, because each turnaround costs more than the bytes themselves.
// For the same reason the host link leaves 9600 baud for the fastest rate that the adapter and
// the port both manage.
#pragma once

#include "config.h"
#include "link.h"
#include "serialport.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace onewire {

class Ds2480bMaster final : public LinkMaster {
public:
    // Every DS2480B wakes at this rate and returns to it after a break.
    static constexpr int baseBaud = 9600;

    // Opens the port, resets the adapter, sets the timing parameters, checks the answers and
    // raises the host link to the fastest rate up to `fastestBaud` that works. Throws
    // PortOpenError when the port cannot be opened, LinkError when no DS2480B answers.
    //
    // `answerAllowance` is how long the adapter may take to answer beyond the time the bytes of
    // the exchange need on the line; an answer later than that breaks the session.
    explicit Ds2480bMaster(
        const std::string& devicePath, int fastestBaud = 115200,
        std::chrono::milliseconds answerAllowance = PortConfig::defaultSerialAnswerAllowance);
    Ds2480bMaster(
        std::unique_ptr<SerialLine> line, int fastestBaud,
        std::chrono::milliseconds answerAllowance = PortConfig::defaultSerialAnswerAllowance);
    // Puts the adapter back to 9600 baud, where the next program will look for it.
    ~Ds2480bMaster() override;

    int baudRate() const { return line_->baudRate(); }

    ResetResult reset() override;
    bool touchBit(bool bit) override;
    uint8_t touchByte(uint8_t byte) override;
    void touchBlock(std::span<uint8_t> bytes) override;
    ResetResult resetThenTouch(std::span<uint8_t> bytes) override;
    SearchPass searchPass(const Rom& steering) override;

private:
    enum class Mode { Command, Data };

    void detect();
    bool detectAtBaseRate();
    // Sends `opening`, then the timing parameters; true when they are answered as they should
    // be by an adapter running at the line's present rate.
    bool configure(const std::vector<uint8_t>& opening);
    void speedUp(int fastestBaud);
    bool switchTo(int baud);
    // Asks the adapter to run at `baud` and changes the port to it once the request is out.
    void requestRate(int baud);
    void toCommandMode(std::vector<uint8_t>& out);
    void toDataMode(std::vector<uint8_t>& out);
    void appendData(std::vector<uint8_t>& out, std::span<const uint8_t> bytes);
    // The time an exchange of these sizes may take: generous for 9600 baud, about a millisecond
    // a byte each way, plus the allowance.
    std::chrono::milliseconds answerTimeout(size_t bytesOut, size_t bytesIn) const;
    // Without a timeout, answerTimeout's.
    std::vector<uint8_t> exchange(const std::vector<uint8_t>& out, size_t answerSize,
                                  std::optional<std::chrono::milliseconds> timeout = {});
    static ResetResult decodeReset(uint8_t answer);

    std::unique_ptr<SerialLine> line_;
    std::chrono::milliseconds answerAllowance_;
    Mode mode_ = Mode::Command;
};

// The DS2480B's code for a host link rate (0 = 9600 ... 3 = 115200); nothing for other rates.
std::optional<uint8_t> ds2480bBaudCode(int baud);

} // namespace onewire
