#include "serialport.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace onewire {

namespace {

using Clock = std::chrono::steady_clock;

std::string describe(const std::string& path, const char* what, int error) {
    return path + ": " + what + ": " + std::strerror(error);
}

// Milliseconds left until the deadline, for poll(); 0 once it has passed.
int remainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

std::optional<speed_t> speedFor(int baud) {
    switch (baud) {
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return std::nullopt;
    }
}

} // namespace

LowLatencyRequest::LowLatencyRequest(ReadFlags read, WriteFlags write) : write_(std::move(write)) {
    std::optional<int> flags = read();
    if (!flags || (*flags & ASYNC_LOW_LATENCY))
        return; // nothing to ask for, and so nothing to put back
    if (write_(*flags | ASYNC_LOW_LATENCY))
        restoreTo_ = *flags;
}

LowLatencyRequest::~LowLatencyRequest() {
    if (restoreTo_)
        write_(*restoreTo_);
}

SerialPort::SerialPort(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        int error = errno;
        throw PortOpenError(error == EBUSY ? PortOpenError::Reason::Busy
                                           : PortOpenError::Reason::Unavailable,
                            describe(path, "open", error));
    }
    auto fail = [this](PortOpenError::Reason reason, const char* what, int error) {
        ::close(fd_);
        fd_ = -1;
        throw PortOpenError(reason, describe(path_, what, error));
    };
    if (!isatty(fd_))
        fail(PortOpenError::Reason::Unavailable, "not a serial device", ENOTTY);
    // TIOCEXCL alone does not keep out a second opener with CAP_SYS_ADMIN, nor this same process;
    // the lock does.
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        int error = errno;
        fail(error == EWOULDBLOCK ? PortOpenError::Reason::Busy
                                  : PortOpenError::Reason::Unavailable,
             "lock", error);
    }
    ioctl(fd_, TIOCEXCL);
    termios settings{};
    if (tcgetattr(fd_, &settings) != 0)
        fail(PortOpenError::Reason::Unavailable, "tcgetattr", errno);
    previousSettings_ = settings;
    cfmakeraw(&settings);
    settings.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS | CSIZE);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~(IXON | IXOFF | IXANY);
    // With VMIN 0 a read without data returns 0 even on a non-blocking descriptor, which looks
    // like a hang-up; VMIN 1 makes it EAGAIN, so 0 keeps meaning "the other end is gone".
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    cfsetispeed(&settings, B9600);
    cfsetospeed(&settings, B9600);
    if (tcsetattr(fd_, TCSANOW, &settings) != 0)
        fail(PortOpenError::Reason::Unavailable, "tcsetattr", errno);
    tcflush(fd_, TCIOFLUSH);
    // A USB serial bridge otherwise holds every answer back for its latency timer (16 ms by
    // default), which costs more than the bytes themselves on every round trip.
    int fd = fd_;
    lowLatency_.emplace(
        [fd]() -> std::optional<int> {
            serial_struct serial{};
            if (ioctl(fd, TIOCGSERIAL, &serial) != 0)
                return std::nullopt;
            return serial.flags;
        },
        [fd](int flags) {
            serial_struct serial{};
            if (ioctl(fd, TIOCGSERIAL, &serial) != 0)
                return false;
            serial.flags = flags;
            return ioctl(fd, TIOCSSERIAL, &serial) == 0;
        });
}

SerialPort::~SerialPort() {
    if (fd_ < 0)
        return;
    lowLatency_.reset();
    // The next program on the port finds it as it was before us.
    if (previousSettings_)
        tcsetattr(fd_, TCSANOW, &*previousSettings_);
    // A pseudo-terminal keeps the exclusive flag after the last close; leaving it set would lock
    // out the next session on the same device.
    ioctl(fd_, TIOCNXCL);
    ::close(fd_);
}

void SerialPort::write(std::span<const uint8_t> bytes, std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (!bytes.empty()) {
        ssize_t written = ::write(fd_, bytes.data(), bytes.size());
        if (written > 0) {
            bytes = bytes.subspan(static_cast<size_t>(written));
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && errno != EAGAIN)
            throw LinkError(describe(path_, "write", errno));
        pollfd waiting{fd_, POLLOUT, 0};
        int ready = ::poll(&waiting, 1, remainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            throw LinkError(path_ + ": write timed out");
        if (waiting.revents & (POLLERR | POLLHUP | POLLNVAL))
            throw LinkError(path_ + ": the device went away");
    }
}

void SerialPort::read(std::span<uint8_t> bytes, std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    while (!bytes.empty()) {
        ssize_t count = ::read(fd_, bytes.data(), bytes.size());
        if (count > 0) {
            bytes = bytes.subspan(static_cast<size_t>(count));
            continue;
        }
        if (count == 0)
            throw LinkError(path_ + ": the device went away");
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            throw LinkError(describe(path_, "read", errno));
        pollfd waiting{fd_, POLLIN, 0};
        int ready = ::poll(&waiting, 1, remainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            throw LinkError(describe(path_, "poll", errno));
        if (ready == 0)
            throw LinkError(path_ + ": no answer in time");
        if ((waiting.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(waiting.revents & POLLIN))
            throw LinkError(path_ + ": the device went away");
    }
}

void SerialPort::discardInput() {
    tcflush(fd_, TCIFLUSH);
}

void SerialPort::drain(std::chrono::milliseconds timeout) {
    // tcdrain() has no deadline, and a bridge that went away can keep it waiting for good.
    auto deadline = Clock::now() + timeout;
    int pending = 0;
    while (ioctl(fd_, TIOCOUTQ, &pending) == 0 && pending > 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // The last byte still leaves the UART's shift register after the queue is empty.
    std::this_thread::sleep_for(std::chrono::microseconds(1 + 10'000'000 / baud_));
}

bool SerialPort::setBaudRate(int baud) {
    auto speed = speedFor(baud);
    termios settings{};
    if (!speed || tcgetattr(fd_, &settings) != 0)
        return false;
    termios before = settings;
    cfsetispeed(&settings, *speed);
    cfsetospeed(&settings, *speed);
    // tcsetattr() reports success when any part of the change took; only a read-back tells.
    termios now{};
    if (tcsetattr(fd_, TCSANOW, &settings) != 0 || tcgetattr(fd_, &now) != 0 ||
        cfgetospeed(&now) != *speed || cfgetispeed(&now) != *speed) {
        tcsetattr(fd_, TCSANOW, &before);
        return false;
    }
    baud_ = baud;
    return true;
}

void SerialPort::settle(std::chrono::milliseconds time) {
    std::this_thread::sleep_for(time);
}

void SerialPort::sendBreak() {
    // tcsendbreak() holds the line for a quarter second or more; a few milliseconds reset the
    // adapter just as well.
    if (ioctl(fd_, TIOCSBRK) != 0)
        return;
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    ioctl(fd_, TIOCCBRK);
}

} // namespace onewire
