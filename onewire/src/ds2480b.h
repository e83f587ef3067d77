// Driver for the DS2480B serial 1-Wire line driver (DS9097U adapters), standard speed.
//
// Every operation is one serial exchange: all bytes of the step go out in one write, and the
// answer is read back in one read, because each turnaround costs more than the bytes themselves.
#pragma once

#include "link.h"
#include "serialport.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace onewire {

class Ds2480bMaster final : public LinkMaster {
public:
    // Resets the adapter, sets the timing parameters and checks the answers. Throws
    // PortOpenError when the port cannot be opened, LinkError when no DS2480B answers.
    explicit Ds2480bMaster(const std::string& devicePath);

    ResetResult reset() override;
    bool touchBit(bool bit) override;
    uint8_t touchByte(uint8_t byte) override;
    void touchBlock(std::span<uint8_t> bytes) override;
    ResetResult resetThenTouch(std::span<uint8_t> bytes) override;
    SearchPass searchPass(const Rom& steering) override;

private:
    enum class Mode { Command, Data };

    void detect();
    // Sends `opening`, then the timing parameters; true when they are answered as they should.
    bool configure(const std::vector<uint8_t>& opening);
    void toCommandMode(std::vector<uint8_t>& out);
    void toDataMode(std::vector<uint8_t>& out);
    void appendData(std::vector<uint8_t>& out, std::span<const uint8_t> bytes);
    std::vector<uint8_t> exchange(const std::vector<uint8_t>& out, size_t answerSize);
    static ResetResult decodeReset(uint8_t answer);

    SerialPort port_;
    Mode mode_ = Mode::Command;
};

} // namespace onewire
