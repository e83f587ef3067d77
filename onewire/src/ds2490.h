// Driver for the DS2490 USB 1-Wire bridge (DS9490 adapters) through libusb, flexible speed.
//
// Port N is the N-th DS2490 on the machine, in bus/address order. The kernel's own ds2490 driver,
// when it holds the adapter, is detached for the session and given back when it ends.
//
// Every USB transfer costs at least a frame (1 ms) on a real adapter, far more than the 1-Wire
// time of a byte, so each operation is the fewest transfers that tell its outcome: the data goes
// out in one bulk transfer, the chip runs the whole sequence (reset included) on one command, the
// status packet is read only where it carries the answer (presence, search results), and the data
// comes back in one bulk transfer.
#pragma once

#include "link.h"

#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

struct libusb_context;
struct libusb_device_handle;

namespace onewire {

class Ds2490Master final : public LinkMaster {
public:
    // Finds, opens and claims the adapter and sets it up. Throws PortOpenError when there is no
    // such adapter or it cannot be had, LinkError when it does not answer like a DS2490.
    explicit Ds2490Master(int portNumber);
    ~Ds2490Master() override;
    Ds2490Master(const Ds2490Master&) = delete;
    Ds2490Master& operator=(const Ds2490Master&) = delete;

    ResetResult reset() override;
    bool touchBit(bool bit) override;
    uint8_t touchByte(uint8_t byte) override;
    void touchBlock(std::span<uint8_t> bytes) override;
    ResetResult resetThenTouch(std::span<uint8_t> bytes) override;
    SearchPass searchPass(const Rom& steering) override;

private:
    struct Status {
        uint8_t flags = 0;
        size_t dataIn = 0;            // bytes waiting in EP3
        std::vector<uint8_t> results; // error (or notify) codes of the commands since the last
    };

    void open(int portNumber);
    void setUp();
    void close();

    // One transfer, never waited for longer than the transfer timeout, whatever became of the
    // adapter: its libusb error (0 once it completed), and in `moved` the bytes it moved. `bytes`
    // go out, or are filled in for an IN endpoint; for a control transfer they are the setup
    // packet. Throws LinkError when the host never gives the transfer back.
    int transfer(unsigned char type, unsigned char endpoint, std::span<uint8_t> bytes, int& moved);
    void communication(uint16_t value, uint16_t index);
    void control(uint8_t request, uint16_t value, uint16_t index);
    void sendData(std::span<const uint8_t> bytes);
    void receiveData(std::span<uint8_t> bytes);
    // Status packets until the chip is idle; the result codes of all of them.
    Status waitUntilIdle();
    static ResetResult resetOutcome(const Status& status);
    // One block of at most a FIFO's size, optionally after a 1-Wire reset.
    ResetResult block(std::span<uint8_t> bytes, bool resetFirst);
    // Runs an operation that starts with a 1-Wire reset; after a stalled endpoint the adapter is
    // brought back and the operation runs once more, which is safe because the reset starts the
    // bus transaction afresh.
    template <typename Operation> auto restartable(Operation operation);
    void recoverFromStall();

    libusb_context* context_ = nullptr;
    libusb_device_handle* handle_ = nullptr;
    bool interfaceClaimed_ = false;
    bool kernelDriverDetached_ = false;
};

} // namespace onewire
