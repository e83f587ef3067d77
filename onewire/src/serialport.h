// A serial port opened for one adapter: exclusive, raw 8N1, and never blocking without a deadline.
#pragma once

#include "link.h"

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

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

class SerialPort {
public:
    // Opens and locks the device and sets 9600 baud, 8N1, raw. Throws PortOpenError.
    explicit SerialPort(const std::string& path);
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Both throw LinkError when the deadline passes or the other end goes away.
    void write(std::span<const uint8_t> bytes, std::chrono::milliseconds timeout);
    void read(std::span<uint8_t> bytes, std::chrono::milliseconds timeout);

    void discardInput();
    // Holds the line low for a few milliseconds; ignored where the device cannot.
    void sendBreak();

private:
    int fd_ = -1;
    std::string path_;
};

} // namespace onewire
