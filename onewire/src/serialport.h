// A serial port opened for one adapter: exclusive, raw 8N1, and never blocking without a deadline.
#pragma once

#include "link.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <termios.h>

namespace onewire {

// Why a port could not be opened, so that the API can tell "busy" from "missing".
class PortOpenError : public LinkError {
public:
    enum class Reason { Unavailable, Busy };
    PortOpenError(Reason reason, const std::string& what) : LinkError(what), reason_(reason) {}
    Reason reason() const { return reason_; }

private:
    Reason reason_;
};

// What an adapter driver needs of the line to its adapter. The driver talks to this rather than
// to a device, so that it can be fed any answer at all without one.
class SerialLine {
public:
    virtual ~SerialLine() = default;

    // Both throw LinkError when the deadline passes or the other end goes away.
    virtual void write(std::span<const uint8_t> bytes, std::chrono::milliseconds timeout) = 0;
    virtual void read(std::span<uint8_t> bytes, std::chrono::milliseconds timeout) = 0;

    virtual void discardInput() = 0;
    // Holds the line low for a few milliseconds; ignored where the device cannot.
    virtual void sendBreak() = 0;
    // Waits, at most `timeout`, until what was written has left the port.
    virtual void drain(std::chrono::milliseconds timeout) = 0;
    // True when the port now runs at `baud`; otherwise it keeps its previous rate.
    virtual bool setBaudRate(int baud) = 0;
    virtual int baudRate() const = 0;
    // Gives the adapter time to act on what it was sent without answering (a reset after a
    // break, a rate change).
    virtual void settle(std::chrono::milliseconds time) = 0;
};

// The serial driver's low-latency flag, asked for while a session lasts and put back as it was.
// Drivers without the flag (pseudo-terminals, most on-board ports) are left alone.
class LowLatencyRequest {
public:
    // Reads the driver's flags; nothing when it has none.
    using ReadFlags = std::function<std::optional<int>()>;
    using WriteFlags = std::function<bool(int flags)>;

    LowLatencyRequest(ReadFlags read, WriteFlags write);
    ~LowLatencyRequest();
    LowLatencyRequest(const LowLatencyRequest&) = delete;
    LowLatencyRequest& operator=(const LowLatencyRequest&) = delete;

    bool active() const { return restoreTo_.has_value(); }

private:
    WriteFlags write_;
    std::optional<int> restoreTo_; // set only when we changed the flags
};

class SerialPort final : public SerialLine {
public:
    // Opens and locks the device, sets 9600 baud, 8N1, raw, and asks for low latency. Throws
    // PortOpenError.
    explicit SerialPort(const std::string& path);
    ~SerialPort() override;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    void write(std::span<const uint8_t> bytes, std::chrono::milliseconds timeout) override;
    void read(std::span<uint8_t> bytes, std::chrono::milliseconds timeout) override;
    void discardInput() override;
    void sendBreak() override;
    void drain(std::chrono::milliseconds timeout) override;
    bool setBaudRate(int baud) override;
    int baudRate() const override { return baud_; }
    void settle(std::chrono::milliseconds time) override;

    bool lowLatency() const { return lowLatency_ && lowLatency_->active(); }

private:
    int fd_ = -1;
    std::string path_;
    int baud_ = 9600;
    std::optional<termios> previousSettings_;
    std::optional<LowLatencyRequest> lowLatency_;
};

} // namespace onewire
