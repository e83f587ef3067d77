#include "ds2490.h"

#include "serialport.h" // PortOpenError

#include <libusb.h>

#include <algorithm>
#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>

namespace onewire {

namespace {

constexpr uint16_t vendorId = 0x04FA;
constexpr uint16_t productId = 0x2490;
constexpr int interfaceNumber = 0;
// Bulk packets of 64 bytes and the status polled every millisecond.
constexpr int alternateSetting = 3;

constexpr unsigned char statusEndpoint = 0x81;
constexpr unsigned char dataOutEndpoint = 0x02;
constexpr unsigned char dataInEndpoint = 0x83;

constexpr uint8_t vendorOut = 0x40; // vendor request, host to device, to the device
constexpr uint8_t controlRequest = 0x00;
constexpr uint8_t communicationRequest = 0x01;
constexpr uint8_t modeRequest = 0x02;

constexpr uint16_t resetDevice = 0x0000;
constexpr uint16_t flushCommands = 0x0007;
constexpr uint16_t flushReceiveBuffer = 0x0008;
constexpr uint16_t flushTransmitBuffer = 0x0009;

constexpr uint16_t modePulseEnable = 0x0000;
constexpr uint16_t modeSpeed = 0x0002;
constexpr uint16_t modePulldownSlewRate = 0x0004;
constexpr uint16_t modeWrite1LowTime = 0x0006;
constexpr uint16_t modeSampleOffset = 0x0007;
// Flexible speed with a 1.37 V/us slew rate, 10 us write-1 low time and 8 us sample offset: the
// timing recommended for longer and loaded buses, the same the serial driver uses.
constexpr uint16_t flexibleSpeed = 1;
constexpr uint16_t slewRate1p37 = 3;
constexpr uint16_t write1Low10us = 2;
constexpr uint16_t sampleOffset8us = 5;

constexpr uint16_t commBitIo = 0x0020;
constexpr uint16_t commReset = 0x0042;
constexpr uint16_t commByteIo = 0x0052;
constexpr uint16_t commBlockIo = 0x0074;
constexpr uint16_t commSearchAccess = 0x00F4;

constexpr uint16_t immediate = 0x0001;
constexpr uint16_t bitD = 0x0008;           // Bit I/O: the bit to write
constexpr uint16_t speedFromIndex = 0x0008; // Reset: take the speed from wIndex
constexpr uint16_t searchReturnsRoms = 0x0008;
constexpr uint16_t resetFirst = 0x0100;
constexpr uint16_t clearOnError = 0x0800;
constexpr uint16_t returnDiscrepancies = 0x4000;

constexpr uint8_t statusIdle = 0x20;
constexpr size_t statusRegisters = 16;
constexpr int dataInIndex = 13;
constexpr uint8_t resultNoPresence = 0x01;
constexpr uint8_t resultShort = 0x02;
constexpr uint8_t deviceDetected = 0xA5; // a device arrived on the bus: not an error

// Both data FIFOs hold 128 bytes; half of that keeps a block clear of either end.
constexpr size_t largestBlock = 64;

constexpr uint8_t searchRomCommand = 0xF0;

// A transfer is answered within a frame or two when the adapter is there; the 1-Wire itself is
// at most a few tens of milliseconds behind it. No transfer is waited for longer than
// transferTimeout: libusb cancels one that has no answer after answerTimeoutMs, and the rest is
// for the cancelled transfer to come back.
constexpr auto transferTimeout = std::chrono::milliseconds(1000);
constexpr unsigned answerTimeoutMs = 900;
constexpr auto idleDeadline = std::chrono::milliseconds(1000);

// An endpoint answered with a stall: the adapter can be brought back.
class StallError : public LinkError {
public:
    using LinkError::LinkError;
};

[[noreturn]] void fail(int error, const std::string& what) {
    switch (error) {
    case LIBUSB_ERROR_PIPE:
        throw StallError("the USB adapter stalled " + what);
    case LIBUSB_ERROR_NO_DEVICE:
        throw LinkError("the USB adapter was unplugged (" + what + ")");
    case LIBUSB_ERROR_TIMEOUT:
        throw LinkError("the USB adapter did not answer in time (" + what + ")");
    default:
        throw LinkError(std::string("USB error ") + libusb_error_name(error) + " (" + what + ")");
    }
}

// A transfer and the memory it moves.
struct InFlight {
    libusb_transfer* transfer = libusb_alloc_transfer(0);
    std::vector<unsigned char> buffer;
    int completed = 0;
    InFlight* nextKept = nullptr;

    InFlight() = default;
    InFlight(const InFlight&) = delete;
    InFlight& operator=(const InFlight&) = delete;
    ~InFlight() { libusb_free_transfer(transfer); }
};

// Transfers that never came back, not even when cancelled. The host side may still write into
// them, so they are never freed or reused; they stay reachable from here for the rest of the
// process. Only a host that lost track of a vanished adapter ever adds one.
std::mutex keptLock;
InFlight* kept = nullptr;

void keepForGood(std::unique_ptr<InFlight> transfer) {
    std::lock_guard guard(keptLock);
    transfer->nextKept = kept;
    kept = transfer.release();
}

void LIBUSB_CALL transferDone(libusb_transfer* transfer) {
    static_cast<InFlight*>(transfer->user_data)->completed = 1;
}

// The error a finished transfer stands for, as libusb's own synchronous calls report it.
int transferError(const libusb_transfer& transfer) {
    switch (transfer.status) {
    case LIBUSB_TRANSFER_COMPLETED:
        return 0;
    case LIBUSB_TRANSFER_TIMED_OUT:
        return LIBUSB_ERROR_TIMEOUT;
    case LIBUSB_TRANSFER_STALL:
        return LIBUSB_ERROR_PIPE;
    case LIBUSB_TRANSFER_NO_DEVICE:
        return LIBUSB_ERROR_NO_DEVICE;
    case LIBUSB_TRANSFER_OVERFLOW:
        return LIBUSB_ERROR_OVERFLOW;
    default:
        return LIBUSB_ERROR_IO;
    }
}

} // namespace

Ds2490Master::Ds2490Master(int portNumber) {
    try {
        open(portNumber);
        setUp();
    } catch (...) {
        close();
        throw;
    }
}

Ds2490Master::~Ds2490Master() {
    close();
}

void Ds2490Master::open(int portNumber) {
    if (int error = libusb_init(&context_); error != 0) {
        context_ = nullptr;
        throw PortOpenError(PortOpenError::Reason::Unavailable,
                            std::string("USB is not available: ") + libusb_error_name(error));
    }
    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(context_, &list);
    if (count < 0)
        throw PortOpenError(PortOpenError::Reason::Unavailable,
                            std::string("cannot list USB devices: ") +
                                libusb_error_name(static_cast<int>(count)));
    std::vector<std::tuple<int, int, libusb_device*>> adapters;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(list[i], &descriptor) == 0 &&
            descriptor.idVendor == vendorId && descriptor.idProduct == productId)
            adapters.emplace_back(libusb_get_bus_number(list[i]),
                                  libusb_get_device_address(list[i]), list[i]);
    }
    std::sort(adapters.begin(), adapters.end());
    int error = 0;
    bool found = portNumber >= 1 && static_cast<size_t>(portNumber) <= adapters.size();
    if (found)
        error = libusb_open(std::get<2>(adapters[static_cast<size_t>(portNumber - 1)]), &handle_);
    libusb_free_device_list(list, 1);
    if (!found)
        throw PortOpenError(PortOpenError::Reason::Unavailable,
                            "no DS2490 USB adapter at port " + std::to_string(portNumber) + " (" +
                                std::to_string(adapters.size()) + " found)");
    if (error != 0) {
        handle_ = nullptr;
        throw PortOpenError(
            error == LIBUSB_ERROR_BUSY ? PortOpenError::Reason::Busy
                                       : PortOpenError::Reason::Unavailable,
            std::string("cannot open the USB adapter: ") + libusb_error_name(error) +
                (error == LIBUSB_ERROR_ACCESS ? " (no permission on the device)" : ""));
    }

    // The kernel's ds2490 driver takes the adapter when it is plugged in; the session borrows it.
    if (libusb_kernel_driver_active(handle_, interfaceNumber) == 1) {
        error = libusb_detach_kernel_driver(handle_, interfaceNumber);
        if (error != 0 && error != LIBUSB_ERROR_NOT_FOUND)
            throw PortOpenError(PortOpenError::Reason::Busy,
                                std::string("cannot detach the kernel's driver: ") +
                                    libusb_error_name(error));
        kernelDriverDetached_ = error == 0;
    }
    error = libusb_claim_interface(handle_, interfaceNumber);
    if (error != 0)
        throw PortOpenError(error == LIBUSB_ERROR_BUSY ? PortOpenError::Reason::Busy
                                                       : PortOpenError::Reason::Unavailable,
                            std::string("cannot claim the USB adapter: ") +
                                libusb_error_name(error));
    interfaceClaimed_ = true;
    error = libusb_set_interface_alt_setting(handle_, interfaceNumber, alternateSetting);
    if (error != 0)
        fail(error, "choosing the interface setting");
}

void Ds2490Master::setUp() {
    control(controlRequest, resetDevice, 0);
    control(modeRequest, modePulseEnable, 0); // no strong pullup or programming pulses
    control(modeRequest, modeSpeed, flexibleSpeed);
    control(modeRequest, modePulldownSlewRate, slewRate1p37);
    control(modeRequest, modeWrite1LowTime, write1Low10us);
    control(modeRequest, modeSampleOffset, sampleOffset8us);
    // The status packet is the chip's own answer: without it this is no DS2490.
    std::array<uint8_t, 32> packet{};
    int received = 0;
    int error = transfer(LIBUSB_TRANSFER_TYPE_INTERRUPT, statusEndpoint, packet, received);
    if (error != 0 || static_cast<size_t>(received) < statusRegisters)
        throw LinkError("the USB device does not answer like a DS2490");
}

void Ds2490Master::close() {
    if (handle_) {
        if (interfaceClaimed_)
            libusb_release_interface(handle_, interfaceNumber);
        if (kernelDriverDetached_)
            libusb_attach_kernel_driver(handle_, interfaceNumber);
        libusb_close(handle_);
        handle_ = nullptr;
    }
    interfaceClaimed_ = false;
    kernelDriverDetached_ = false;
    if (context_) {
        libusb_exit(context_);
        context_ = nullptr;
    }
}

int Ds2490Master::transfer(unsigned char type, unsigned char endpoint, std::span<uint8_t> bytes,
                           int& moved) {
    // libusb's synchronous calls wait until the host hands the transfer back, even after its
    // timeout has cancelled it; a host that lost track of a vanished adapter never does, so the
    // waiting is done here, with a limit of its own.
    moved = 0;
    auto inFlight = std::make_unique<InFlight>();
    if (!inFlight->transfer)
        return LIBUSB_ERROR_NO_MEM;
    inFlight->buffer.assign(bytes.begin(), bytes.end());
    libusb_transfer* usb = inFlight->transfer;
    usb->dev_handle = handle_;
    usb->endpoint = endpoint;
    usb->type = type;
    usb->timeout = answerTimeoutMs;
    usb->buffer = inFlight->buffer.data();
    usb->length = static_cast<int>(inFlight->buffer.size());
    usb->callback = transferDone;
    usb->user_data = inFlight.get();
    if (int error = libusb_submit_transfer(usb); error != 0)
        return error;

    auto deadline = std::chrono::steady_clock::now() + transferTimeout;
    bool cancelled = false;
    while (!inFlight->completed) {
        auto left = std::chrono::duration_cast<std::chrono::microseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        timeval wait{static_cast<time_t>(left.count() / 1000000),
                     static_cast<suseconds_t>(left.count() % 1000000)};
        int error = libusb_handle_events_timeout_completed(context_, &wait, &inFlight->completed);
        if (error < 0 && error != LIBUSB_ERROR_INTERRUPTED && !cancelled) {
            libusb_cancel_transfer(usb);
            cancelled = true;
        }
    }
    if (!inFlight->completed) {
        libusb_cancel_transfer(usb);
        keepForGood(std::move(inFlight));
        throw LinkError("the USB adapter never gave a transfer back");
    }

    moved = std::clamp(usb->actual_length, 0, static_cast<int>(bytes.size()));
    if (type != LIBUSB_TRANSFER_TYPE_CONTROL && (endpoint & LIBUSB_ENDPOINT_IN))
        std::copy_n(inFlight->buffer.begin(), moved, bytes.begin());
    return transferError(*usb);
}

void Ds2490Master::control(uint8_t request, uint16_t value, uint16_t index) {
    std::array<uint8_t, LIBUSB_CONTROL_SETUP_SIZE> setup{};
    libusb_fill_control_setup(setup.data(), vendorOut, request, value, index, 0);
    int moved = 0;
    if (int error = transfer(LIBUSB_TRANSFER_TYPE_CONTROL, 0, setup, moved); error != 0)
        fail(error, "a command");
}

void Ds2490Master::communication(uint16_t value, uint16_t index) {
    control(communicationRequest, value, index);
}

void Ds2490Master::sendData(std::span<const uint8_t> bytes) {
    int sent = 0;
    // Only read: the transfer sends a copy.
    std::span<uint8_t> out(const_cast<uint8_t*>(bytes.data()), bytes.size());
    int error = transfer(LIBUSB_TRANSFER_TYPE_BULK, dataOutEndpoint, out, sent);
    if (error != 0)
        fail(error, "data for the 1-Wire");
    if (static_cast<size_t>(sent) != bytes.size())
        throw LinkError("the USB adapter took only part of the data");
}

void Ds2490Master::receiveData(std::span<uint8_t> bytes) {
    // The chip hands out what the 1-Wire has produced so far; the rest follows.
    size_t have = 0;
    auto deadline = std::chrono::steady_clock::now() + idleDeadline;
    while (have < bytes.size()) {
        int received = 0;
        int error =
            transfer(LIBUSB_TRANSFER_TYPE_BULK, dataInEndpoint, bytes.subspan(have), received);
        if (error != 0)
            fail(error, "data from the 1-Wire");
        have += static_cast<size_t>(received);
        if (have < bytes.size() && std::chrono::steady_clock::now() > deadline)
            throw LinkError("the USB adapter did not deliver the 1-Wire data in time");
    }
}

Ds2490Master::Status Ds2490Master::waitUntilIdle() {
    Status status;
    auto deadline = std::chrono::steady_clock::now() + idleDeadline;
    for (;;) {
        std::array<uint8_t, 32> packet{};
        int received = 0;
        int error = transfer(LIBUSB_TRANSFER_TYPE_INTERRUPT, statusEndpoint, packet, received);
        if (error != 0)
            fail(error, "the status");
        if (static_cast<size_t>(received) < statusRegisters)
            throw LinkError("the USB adapter sent a short status packet");
        for (int i = statusRegisters; i < received; ++i)
            if (packet[i] != deviceDetected)
                status.results.push_back(packet[i]);
        status.flags = packet[8];
        status.dataIn = packet[dataInIndex];
        if (status.flags & statusIdle)
            return status;
        if (std::chrono::steady_clock::now() > deadline)
            throw LinkError("the USB adapter stayed busy");
    }
}

ResetResult Ds2490Master::resetOutcome(const Status& status) {
    bool noPresence = false;
    for (uint8_t result : status.results) {
        if (result & resultShort)
            return ResetResult::Shorted;
        if (result & resultNoPresence)
            noPresence = true;
    }
    return noPresence ? ResetResult::NoPresence : ResetResult::Presence;
}

void Ds2490Master::recoverFromStall() {
    // Clear the halted endpoints and whatever was left in the chip's buffers, so that the next
    // command starts from nothing. Failing here means the adapter is gone for good.
    for (unsigned char endpoint : {statusEndpoint, dataOutEndpoint, dataInEndpoint})
        if (int error = libusb_clear_halt(handle_, endpoint); error != 0)
            fail(error, "while recovering");
    control(controlRequest, flushCommands, 0);
    control(controlRequest, flushTransmitBuffer, 0);
    control(controlRequest, flushReceiveBuffer, 0);
}

template <typename Operation> auto Ds2490Master::restartable(Operation operation) {
    try {
        return operation();
    } catch (const StallError&) {
        recoverFromStall();
    }
    return operation();
}

ResetResult Ds2490Master::reset() {
    return restartable([this] {
        communication(commReset | immediate | speedFromIndex | clearOnError, flexibleSpeed);
        return resetOutcome(waitUntilIdle());
    });
}

bool Ds2490Master::touchBit(bool bit) {
    communication(commBitIo | immediate | (bit ? bitD : 0), 0);
    uint8_t level = 0;
    receiveData(std::span<uint8_t>(&level, 1));
    return (level & 1) != 0;
}

uint8_t Ds2490Master::touchByte(uint8_t byte) {
    communication(commByteIo | immediate, byte);
    uint8_t read = 0;
    receiveData(std::span<uint8_t>(&read, 1));
    return read;
}

ResetResult Ds2490Master::block(std::span<uint8_t> bytes, bool withReset) {
    sendData(bytes);
    communication(commBlockIo | immediate | (withReset ? resetFirst : 0),
                  static_cast<uint16_t>(bytes.size()));
    ResetResult outcome = ResetResult::Presence;
    if (withReset) {
        // Only here is the status worth a transfer: it tells presence.
        Status status = waitUntilIdle();
        outcome = resetOutcome(status);
        if (status.dataIn < bytes.size()) {
            // The chip gave up on the block after the reset: an empty or shorted bus.
            std::vector<uint8_t> partial(status.dataIn);
            if (!partial.empty())
                receiveData(partial);
            std::fill(bytes.begin(), bytes.end(), 0xFF);
            if (outcome == ResetResult::Presence)
                throw LinkError("the USB adapter dropped a block");
            return outcome;
        }
    }
    receiveData(bytes);
    return outcome;
}

void Ds2490Master::touchBlock(std::span<uint8_t> bytes) {
    for (size_t at = 0; at < bytes.size(); at += largestBlock)
        block(bytes.subspan(at, std::min(largestBlock, bytes.size() - at)), false);
}

ResetResult Ds2490Master::resetThenTouch(std::span<uint8_t> bytes) {
    if (bytes.empty())
        return reset();
    size_t first = std::min(largestBlock, bytes.size());
    auto original = std::vector<uint8_t>(bytes.begin(), bytes.begin() + first);
    ResetResult outcome = restartable([&] {
        std::copy(original.begin(), original.end(), bytes.begin());
        return block(bytes.first(first), true);
    });
    if (first < bytes.size())
        touchBlock(bytes.subspan(first));
    return outcome;
}

SearchPass Ds2490Master::searchPass(const Rom& steering) {
    return restartable([&] {
        SearchPass pass;
        // The chip takes the path where devices disagree from what it is given: the same
        // steering as a generic pass. One device per command keeps the walk in the search layer.
        sendData(steering);
        communication(commSearchAccess | immediate | resetFirst | searchReturnsRoms |
                          returnDiscrepancies,
                      static_cast<uint16_t>(0x0100 | searchRomCommand));
        Status status = waitUntilIdle();
        pass.reset = resetOutcome(status);
        if (status.dataIn > 16)
            throw LinkError("the USB adapter returned more than one search result");
        std::vector<uint8_t> answer(status.dataIn);
        if (!answer.empty())
            receiveData(answer);
        if (pass.reset != ResetResult::Presence)
            return pass;
        if (answer.size() < 8) {
            // Devices answered the reset, but the pass lost every one of them on the way.
            pass.noResponse = true;
            pass.rom.fill(0xFF);
            pass.discrepancies.fill(0xFF);
            return pass;
        }
        std::copy(answer.begin(), answer.begin() + 8, pass.rom.begin());
        // Without the second group no branch is left: nothing marked means the walk is done.
        // With it, the positions where the pass met disagreement; the search layer looks at
        // those where the zero branch was taken.
        if (answer.size() == 16)
            std::copy(answer.begin() + 8, answer.end(), pass.discrepancies.begin());
        return pass;
    });
}

} // namespace onewire
