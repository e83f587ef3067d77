#include "usbserver.h"

#include "bus.h"
#include "ds2490_emulator.h"
#include "statefolder.h"

#include <umockdev.h>

#include <glib-unix.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <linux/usbdevice_fs.h>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ibsim {

namespace {

constexpr uint32_t capabilities = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                  USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                  USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
constexpr const char* kernelDriverName = "ds2490";
constexpr guint unplugCheckMs = 50;

// Adapters are pulled out of the testbed from the main loop and from umockdev's handler thread.
std::mutex testbedLock;

// The device and configuration descriptors of a DS9490: vendor class, one configuration, one
// interface with four alternate settings (bulk packets of 16 or 64 bytes, status polled every
// 10 ms or 1 ms), each with the status interrupt endpoint and the two bulk data endpoints.
std::vector<uint8_t> descriptors() {
    std::vector<uint8_t> bytes = {
        0x12, 0x01, 0x10, 0x01, 0xFF, 0x00, 0x00, 0x08, 0xFA,
        0x04, 0x90, 0x24, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, // device
        0x09, 0x02, 0x81, 0x00, 0x01, 0x01, 0x00, 0x80,
        0x32, // configuration, 129 bytes in all
    };
    for (uint8_t alternate = 0; alternate < 4; ++alternate) {
        uint8_t bulkPacket = (alternate & 1) ? 0x40 : 0x10;
        uint8_t interval = alternate < 2 ? 0x0A : 0x01;
        std::vector<uint8_t> setting = {
            0x09, 0x04, 0x00, alternate, 0x03,       0xFF, 0x00, 0x00,
            0x00, 0x07, 0x05, 0x81,      0x03,       0x20, 0x00, interval, // status
            0x07, 0x05, 0x02, 0x02,      bulkPacket, 0x00, 0x00,           // data out
            0x07, 0x05, 0x83, 0x02,      bulkPacket, 0x00, 0x00,           // data in
        };
        bytes.insert(bytes.end(), setting.begin(), setting.end());
    }
    return bytes;
}

std::string hex(std::span<const uint8_t> bytes) {
    std::string text;
    char buffer[4];
    for (uint8_t byte : bytes) {
        std::snprintf(buffer, sizeof buffer, "%02X", byte);
        text += buffer;
    }
    return text;
}

size_t ioctlSize(gulong request) {
    return (request >> _IOC_SIZESHIFT) & ((1u << _IOC_SIZEBITS) - 1);
}

void writeFileAtomically(const std::filesystem::path& path, const std::string& content) {
    auto temporary = path;
    temporary += ".tmp";
    {
        std::ofstream file(temporary, std::ios::trunc);
        file << content;
    }
    std::error_code ignored;
    std::filesystem::rename(temporary, path, ignored);
}

// Owns one reference to a GObject.
template <typename T> struct Ref {
    T* object = nullptr;
    Ref() = default;
    explicit Ref(T* owned) : object(owned) {}
    Ref(const Ref& other) : object(other.object) {
        if (object)
            g_object_ref(object);
    }
    Ref& operator=(const Ref& other) {
        Ref copy(other);
        std::swap(object, copy.object);
        return *this;
    }
    ~Ref() {
        if (object)
            g_object_unref(object);
    }
    T* operator->() const { return object; }
    explicit operator bool() const { return object != nullptr; }
};

using Data = Ref<UMockdevIoctlData>;

} // namespace

UsbTrafficCounters readUsbCounters(const std::filesystem::path& stateFolder) {
    UsbTrafficCounters counters;
    std::ifstream file(stateFolder / "stats");
    std::string line;
    while (std::getline(file, line)) {
        auto equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        auto key = line.substr(0, equals);
        unsigned long long value = 0;
        try {
            value = std::stoull(line.substr(equals + 1));
        } catch (...) {
            continue;
        }
        if (key == "control")
            counters.controlTransfers = value;
        else if (key == "bulk_out")
            counters.bulkOutTransfers = value;
        else if (key == "bulk_in")
            counters.bulkInTransfers = value;
        else if (key == "interrupt_in")
            counters.interruptInTransfers = value;
        else if (key == "bytes_out")
            counters.bytesOut = value;
        else if (key == "bytes_in")
            counters.bytesIn = value;
        else if (key == "resets")
            counters.resets = value;
        else if (key == "kernel_driver_bound")
            counters.kernelDriverBound = value != 0;
    }
    return counters;
}

struct UsbServer::Adapter {
    Adapter(std::filesystem::path folder, int number, UMockdevTestbed* testbed, bool trace)
        : state(std::move(folder)), folder(state, std::cerr), source(this->folder), bus(source),
          chip(bus), busNumber(1), address(number + 1), trace(trace), testbed(testbed) {
        char name[64];
        std::snprintf(name, sizeof name, "bus/usb/%03d/%03d", busNumber, address);
        devnode = name;
        sysfsName = "1-" + std::to_string(number);
        sysfsPath = "/sys/devices/pci0000:00/0000:00:14.0/usb1/" + sysfsName;
    }

    // One URB from submission to reaping.
    struct Urb {
        Data urb;
        Data buffer;
        uint8_t type = 0;
        uint8_t endpoint = 0;
        int length = 0;
    };
    struct Client {
        std::deque<Urb> pending; // bulk reads waiting for data, in order
        std::deque<Urb> done;
        std::deque<Urb> lost; // taken through `<state>/lose`, never given back
        bool claimed = false;
    };

    std::string description() const {
        std::ostringstream text;
        text << "P: " << sysfsPath.substr(4) << "\nN: " << devnode << "\nE: SUBSYSTEM=usb"
             << "\nE: DEVTYPE=usb_device\nE: DEVNAME=/dev/" << devnode << "\nE: BUSNUM=00"
             << busNumber << "\nE: DEVNUM=" << (address < 10 ? "00" : "0") << address
             << "\nE: PRODUCT=4fa/2490/100\nE: DRIVER=usb\nA: busnum=" << busNumber
             << "\nA: devnum=" << address
             << "\nA: idVendor=04fa\nA: idProduct=2490\nA: bConfigurationValue=1"
             << "\nA: bNumConfigurations=1\nA: bNumInterfaces= 1\nA: speed=12\nA: devpath="
             << sysfsName.substr(2) << "\nH: descriptors=" << hex(descriptors()) << '\n';
        return text.str();
    }

    std::string statsText() const {
        std::ostringstream text;
        text << "control=" << counters.controlTransfers
             << "\nbulk_out=" << counters.bulkOutTransfers
             << "\nbulk_in=" << counters.bulkInTransfers
             << "\ninterrupt_in=" << counters.interruptInTransfers
             << "\nbytes_out=" << counters.bytesOut << "\nbytes_in=" << counters.bytesIn
             << "\nresets=" << chip.resets()
             << "\nkernel_driver_bound=" << (kernelDriverBound ? 1 : 0) << '\n';
        return text.str();
    }
    void writeStats() const { writeFileAtomically(state / "stats", statsText()); }

    bool claimedByOther(UMockdevIoctlClient* client) const {
        for (const auto& [other, state] : clients)
            if (other != client && state.claimed)
                return true;
        return false;
    }

    // Bulk reads that were waiting get what the last command produced.
    void servePending(Client& client) {
        while (!client.pending.empty() && chip.dataInAvailable() > 0) {
            Urb urb = client.pending.front();
            client.pending.pop_front();
            finishDataIn(urb);
            client.done.push_back(urb);
        }
    }

    void finishDataIn(Urb& urb) {
        auto bytes = chip.dataIn(static_cast<size_t>(urb.length));
        if (urb.buffer)
            std::memcpy(urb.buffer->data, bytes.data(), bytes.size());
        setResult(urb, 0, static_cast<int>(bytes.size()));
        counters.bytesIn += bytes.size();
        if (trace)
            std::cerr << "ibutton-sim: " << devnode << " EP3 <- " << hex(bytes) << std::endl;
    }

    static void setResult(Urb& urb, int status, int actual) {
        auto* raw = reinterpret_cast<usbdevfs_urb*>(urb.urb->data);
        raw->status = status;
        raw->actual_length = actual;
    }

    // A fault asked for through `<state>/<name>` holding an endpoint in hex: true, and the
    // request gone, when it names `endpoint`.
    bool faultRequested(const char* name, uint8_t endpoint) {
        std::error_code ignored;
        auto request = state / name;
        if (!std::filesystem::exists(request, ignored))
            return false;
        std::ifstream file(request);
        unsigned wanted = 0;
        if (!(file >> std::hex >> wanted) || wanted != endpoint)
            return false;
        file.close();
        std::filesystem::remove(request, ignored);
        return true;
    }

    // The endpoint halts at its next transfer and stays halted until the host clears it.
    bool stalled(uint8_t endpoint) {
        if (faultRequested("stall", endpoint))
            halted.insert(endpoint);
        return halted.count(endpoint) > 0;
    }

    bool unplugRequested() const {
        std::error_code ignored;
        return std::filesystem::exists(state / "unplugged", ignored);
    }

    // Pulls the adapter out, as the kernel handles a disconnect: every URB still in flight comes
    // back killed, ready to be reaped, and from now on every other request fails with ENODEV.
    // A client waiting for a URB must get it back, or it waits for good. Called with `lock`
    // held, from the main loop's check or from the handler's thread.
    void unplugLocked() {
        if (unplugged)
            return;
        unplugged = true;
        for (auto& [client, waiting] : clients) {
            for (Urb& urb : waiting.pending) {
                setResult(urb, -ESHUTDOWN, 0);
                waiting.done.push_back(urb);
            }
            waiting.pending.clear();
        }
        if (trace)
            std::cerr << "ibutton-sim: " << devnode << " unplugged" << std::endl;
        std::lock_guard testbedGuard(testbedLock);
        umockdev_testbed_remove_device(testbed, sysfsPath.c_str());
    }

    // Runs one URB on the chip; false when it has to wait for data.
    bool process(Urb& urb) {
        uint8_t* bytes = urb.buffer ? urb.buffer->data : nullptr;
        if (urb.type != USBDEVFS_URB_TYPE_CONTROL && stalled(urb.endpoint)) {
            setResult(urb, -EPIPE, 0);
            return true;
        }
        switch (urb.type) {
        case USBDEVFS_URB_TYPE_CONTROL: {
            ++counters.controlTransfers;
            counters.bytesOut += static_cast<unsigned>(urb.length);
            if (urb.length < 8) {
                setResult(urb, -EINVAL, 0);
                return true;
            }
            uint8_t requestType = bytes[0];
            uint8_t request = bytes[1];
            uint16_t value = static_cast<uint16_t>(bytes[2] | bytes[3] << 8);
            uint16_t index = static_cast<uint16_t>(bytes[4] | bytes[5] << 8);
            if (trace)
                std::cerr << "ibutton-sim: " << devnode << " control " << hex({bytes, 8})
                          << std::endl;
            bool accepted = requestType == 0x40 && chip.control(request, value, index);
            setResult(urb, accepted ? 0 : -EPIPE, accepted ? 8 : 0);
            return true;
        }
        case USBDEVFS_URB_TYPE_BULK:
            if (urb.endpoint == ds2490::dataOutEndpoint) {
                ++counters.bulkOutTransfers;
                counters.bytesOut += static_cast<unsigned>(urb.length);
                if (trace)
                    std::cerr << "ibutton-sim: " << devnode << " EP2 -> "
                              << hex({bytes, static_cast<size_t>(urb.length)}) << std::endl;
                bool accepted =
                    chip.dataOut(std::span<const uint8_t>(bytes, static_cast<size_t>(urb.length)));
                setResult(urb, accepted ? 0 : -EPIPE, accepted ? urb.length : 0);
                return true;
            }
            if (urb.endpoint == ds2490::dataInEndpoint) {
                ++counters.bulkInTransfers;
                if (chip.dataInAvailable() == 0)
                    return false;
                finishDataIn(urb);
                return true;
            }
            break;
        case USBDEVFS_URB_TYPE_INTERRUPT:
            if (urb.endpoint == ds2490::statusEndpoint) {
                ++counters.interruptInTransfers;
                auto packet = chip.status();
                size_t count = std::min(packet.size(), static_cast<size_t>(urb.length));
                if (bytes)
                    std::memcpy(bytes, packet.data(), count);
                counters.bytesIn += count;
                if (trace)
                    std::cerr << "ibutton-sim: " << devnode << " EP1 <- "
                              << hex({packet.data(), count}) << std::endl;
                setResult(urb, 0, static_cast<int>(count));
                return true;
            }
            break;
        default:
            break;
        }
        setResult(urb, -EPIPE, 0);
        return true;
    }

    void submit(UMockdevIoctlClient* client, Client& state, UMockdevIoctlData* argument) {
        Data data(umockdev_ioctl_data_resolve(argument, 0, sizeof(usbdevfs_urb), nullptr));
        if (!data) {
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
        }
        auto* raw = reinterpret_cast<usbdevfs_urb*>(data->data);
        Urb urb;
        urb.urb = data;
        urb.type = raw->type;
        urb.endpoint = raw->endpoint;
        urb.length = raw->buffer_length;
        if (raw->buffer_length > 0)
            urb.buffer =
                Data(umockdev_ioctl_data_resolve(data.object, offsetof(usbdevfs_urb, buffer),
                                                 static_cast<gsize>(raw->buffer_length), nullptr));
        if (unplugRequested()) {
            // Pulled out while this URB is on its way: the worst moment for the host.
            state.pending.push_back(urb);
            unplugLocked();
        } else if (faultRequested("lose", urb.endpoint)) {
            state.lost.push_back(urb);
        } else if (process(urb)) {
            state.done.push_back(urb);
        } else {
            state.pending.push_back(urb);
        }
        writeStats();
        umockdev_ioctl_client_complete(client, 0, 0);
    }

    void reap(UMockdevIoctlClient* client, Client& state, UMockdevIoctlData* argument) {
        if (!unplugged)
            servePending(state);
        if (state.done.empty()) {
            umockdev_ioctl_client_complete(client, -1, unplugged ? ENODEV : EAGAIN);
            return;
        }
        Data pointer(umockdev_ioctl_data_resolve(argument, 0, sizeof(void*), nullptr));
        Urb urb = state.done.front();
        state.done.pop_front();
        // The URB's fields were changed here; pointing the client's pointer at it makes them go
        // back with this answer.
        umockdev_ioctl_data_set_ptr(pointer.object, 0, urb.urb.object);
        umockdev_ioctl_client_complete(client, 0, 0);
    }

    void discard(UMockdevIoctlClient* client, Client& state, UMockdevIoctlData* argument) {
        gulong address = *reinterpret_cast<gulong*>(argument->data);
        for (auto it = state.pending.begin(); it != state.pending.end(); ++it) {
            if (it->urb->client_addr == address) {
                Urb urb = *it;
                state.pending.erase(it);
                setResult(urb, -ENOENT, 0);
                state.done.push_back(urb);
                umockdev_ioctl_client_complete(client, 0, 0);
                return;
            }
        }
        umockdev_ioctl_client_complete(client, -1, EINVAL);
    }

    // The claim, driver and reset requests; the answer as (result, errno).
    std::pair<long, int> manage(UMockdevIoctlClient* client, Client& state, gulong request,
                                UMockdevIoctlData* argument) {
        size_t size = ioctlSize(request);
        Data data;
        if (size > 0) {
            data = Data(umockdev_ioctl_data_resolve(argument, 0, size, nullptr));
            if (!data)
                return {-1, EFAULT};
        }
        switch (request) {
        case USBDEVFS_GET_CAPABILITIES:
            *reinterpret_cast<uint32_t*>(data->data) = capabilities;
            return {0, 0};
        case USBDEVFS_CLAIMINTERFACE:
            if (*reinterpret_cast<unsigned*>(data->data) != 0)
                return {-1, EINVAL};
            if (kernelDriverBound || claimedByOther(client))
                return {-1, EBUSY};
            state.claimed = true;
            return {0, 0};
        case USBDEVFS_RELEASEINTERFACE:
            state.claimed = false;
            return {0, 0};
        case USBDEVFS_DISCONNECT_CLAIM: {
            auto* claim = reinterpret_cast<usbdevfs_disconnect_claim*>(data->data);
            if (claim->interface != 0)
                return {-1, EINVAL};
            if (claimedByOther(client))
                return {-1, EBUSY};
            kernelDriverBound = false;
            state.claimed = true;
            writeStats();
            return {0, 0};
        }
        case USBDEVFS_GETDRIVER: {
            auto* driver = reinterpret_cast<usbdevfs_getdriver*>(data->data);
            const char* name = kernelDriverBound                           ? kernelDriverName
                               : (state.claimed || claimedByOther(client)) ? "usbfs"
                                                                           : nullptr;
            if (!name)
                return {-1, ENODATA};
            std::snprintf(driver->driver, sizeof driver->driver, "%s", name);
            return {0, 0};
        }
        case USBDEVFS_IOCTL: {
            auto* command = reinterpret_cast<usbdevfs_ioctl*>(data->data);
            if (command->ioctl_code == static_cast<int>(USBDEVFS_DISCONNECT)) {
                if (!kernelDriverBound)
                    return {-1, ENODATA};
                kernelDriverBound = false;
            } else if (command->ioctl_code == static_cast<int>(USBDEVFS_CONNECT)) {
                if (state.claimed || claimedByOther(client))
                    return {-1, EBUSY};
                kernelDriverBound = true;
            } else {
                return {-1, ENOTTY};
            }
            writeStats();
            return {0, 0};
        }
        case USBDEVFS_CONNECTINFO: {
            auto* info = reinterpret_cast<usbdevfs_connectinfo*>(data->data);
            info->devnum = static_cast<unsigned>(address);
            info->slow = 0;
            return {0, 0};
        }
        case USBDEVFS_SETINTERFACE:
        case USBDEVFS_SETCONFIGURATION:
        case USBDEVFS_RESETEP:
        case USBDEVFS_RESET:
            if (request == USBDEVFS_RESET)
                chip.powerOn();
            return {0, 0};
        case USBDEVFS_CLEAR_HALT:
            halted.erase(static_cast<uint8_t>(*reinterpret_cast<unsigned*>(data->data)));
            return {0, 0};
        case USBDEVFS_CONTROL: {
            // Synchronous control requests: libusb asks for the configuration this way.
            auto* transfer = reinterpret_cast<usbdevfs_ctrltransfer*>(data->data);
            if (transfer->bRequestType == 0x80 && transfer->bRequest == 0x08 &&
                transfer->wLength >= 1) {
                Data buffer(umockdev_ioctl_data_resolve(
                    data.object, offsetof(usbdevfs_ctrltransfer, data), 1, nullptr));
                if (buffer)
                    buffer->data[0] = 1;
                return {1, 0};
            }
            if (transfer->bRequestType == 0x40) {
                ++counters.controlTransfers;
                counters.bytesOut += 8;
                bool accepted =
                    chip.control(transfer->bRequest, transfer->wValue, transfer->wIndex);
                writeStats();
                return accepted ? std::pair<long, int>{0, 0} : std::pair<long, int>{-1, EPIPE};
            }
            return {-1, EPIPE};
        }
        default:
            return {-1, ENOTTY};
        }
    }

    gboolean handle(UMockdevIoctlClient* client) {
        std::lock_guard guard(lock);
        gulong request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
        Client& state = clients[client];
        if (unplugged) {
            // What was in flight can still be reaped, as the kernel allows after a disconnect.
            if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY)
                reap(client, state, argument);
            else
                umockdev_ioctl_client_complete(client, -1, ENODEV);
            return TRUE;
        }
        switch (request) {
        case USBDEVFS_SUBMITURB:
            submit(client, state, argument);
            return TRUE;
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY:
            reap(client, state, argument);
            return TRUE;
        case USBDEVFS_DISCARDURB:
            discard(client, state, argument);
            return TRUE;
        default: {
            auto [result, error] = manage(client, state, request, argument);
            umockdev_ioctl_client_complete(client, result, error);
            return TRUE;
        }
        }
    }

    void vanished(UMockdevIoctlClient* client) {
        std::lock_guard guard(lock);
        clients.erase(client);
    }

    std::filesystem::path state;
    StateFolder folder;
    StateFolderSource source;
    OneWireBus bus;
    Ds2490Emulator chip;
    int busNumber;
    int address;
    bool trace;
    std::string devnode;
    std::string sysfsName;
    std::string sysfsPath;
    UMockdevTestbed* testbed;
    UMockdevIoctlBase* handler = nullptr;
    std::mutex lock;
    std::map<UMockdevIoctlClient*, Client> clients;
    std::set<uint8_t> halted;
    UsbTrafficCounters counters;
    bool kernelDriverBound = true;
    bool unplugged = false;
};

struct UsbServer::Implementation {
    UMockdevTestbed* testbed = nullptr;
    std::vector<std::unique_ptr<Adapter>> adapters;
    GMainLoop* loop = nullptr;
    GPid child = 0;
    int childStatus = -1;
};

UsbServer::UsbServer(std::vector<std::filesystem::path> stateFolders, bool trace)
    : implementation_(std::make_unique<Implementation>()) {
    auto& self = *implementation_;
    self.testbed = umockdev_testbed_new();
    int number = 0;
    for (auto& folder : stateFolders) {
        std::filesystem::create_directories(folder);
        auto adapter = std::make_unique<Adapter>(folder, ++number, self.testbed, trace);
        GError* error = nullptr;
        if (!umockdev_testbed_add_from_string(self.testbed, adapter->description().c_str(),
                                              &error)) {
            std::string message = error ? error->message : "unknown error";
            g_clear_error(&error);
            throw std::runtime_error("cannot create the USB device: " + message);
        }
        gboolean (*onIoctl)(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer) =
            [](UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) -> gboolean {
            return static_cast<Adapter*>(data)->handle(client);
        };
        void (*onClientVanished)(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer) =
            [](UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
                static_cast<Adapter*>(data)->vanished(client);
            };
        adapter->handler = umockdev_ioctl_base_new();
        g_signal_connect(adapter->handler, "handle-ioctl", G_CALLBACK(onIoctl), adapter.get());
        g_signal_connect(adapter->handler, "client-vanished", G_CALLBACK(onClientVanished),
                         adapter.get());
        if (!umockdev_testbed_attach_ioctl(self.testbed, ("/dev/" + adapter->devnode).c_str(),
                                           adapter->handler, &error)) {
            std::string message = error ? error->message : "unknown error";
            g_clear_error(&error);
            throw std::runtime_error("cannot serve the USB device: " + message);
        }
        std::error_code ignored;
        std::filesystem::remove(folder / "unplugged", ignored);
        adapter->writeStats();
        self.adapters.push_back(std::move(adapter));
    }
}

UsbServer::~UsbServer() {
    auto& self = *implementation_;
    if (self.testbed)
        g_object_unref(self.testbed);
    for (auto& adapter : self.adapters)
        if (adapter->handler)
            g_object_unref(adapter->handler);
    if (self.loop)
        g_main_loop_unref(self.loop);
}

namespace {

void childSetup(gpointer) {
    // The program under test must not outlive the adapters it talks to.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
}

} // namespace

int UsbServer::run(const std::vector<std::string>& command) {
    auto& self = *implementation_;
    if (command.empty())
        throw std::runtime_error("no command to run");
    self.loop = g_main_loop_new(nullptr, FALSE);

    std::string preload = "libumockdev-preload.so.0";
    if (const char* existing = g_getenv("LD_PRELOAD"); existing && *existing)
        preload = std::string(existing) + ":" + preload;
    std::string folders;
    for (const auto& adapter : self.adapters)
        folders += (folders.empty() ? "" : ":") + adapter->state.string();
    gchar** environment = g_get_environ();
    environment = g_environ_setenv(environment, "LD_PRELOAD", preload.c_str(), TRUE);
    environment = g_environ_setenv(environment, "IBUTTON_SIM_USB_STATE", folders.c_str(), TRUE);

    std::vector<gchar*> argv;
    for (const auto& word : command)
        argv.push_back(const_cast<gchar*>(word.c_str()));
    argv.push_back(nullptr);
    GError* error = nullptr;
    gboolean started =
        g_spawn_async(nullptr, argv.data(), environment,
                      static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD),
                      childSetup, nullptr, &self.child, &error);
    g_strfreev(environment);
    if (!started) {
        std::string message = error ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("cannot run " + command.front() + ": " + message);
    }

    g_child_watch_add(
        self.child,
        [](GPid, gint status, gpointer data) {
            auto* implementation = static_cast<Implementation*>(data);
            implementation->childStatus = status;
            g_main_loop_quit(implementation->loop);
        },
        &self);
    auto forward = [](gpointer data) -> gboolean {
        auto* implementation = static_cast<Implementation*>(data);
        if (implementation->child > 0)
            kill(implementation->child, SIGTERM);
        return G_SOURCE_CONTINUE;
    };
    g_unix_signal_add(SIGTERM, forward, &self);
    g_unix_signal_add(SIGINT, forward, &self);
    g_timeout_add(
        unplugCheckMs,
        [](gpointer data) -> gboolean {
            auto* implementation = static_cast<Implementation*>(data);
            // A pulled adapter that no URB comes to notice leaves all the same.
            for (auto& adapter : implementation->adapters) {
                std::lock_guard guard(adapter->lock);
                if (!adapter->unplugged && adapter->unplugRequested())
                    adapter->unplugLocked();
            }
            return G_SOURCE_CONTINUE;
        },
        &self);

    g_main_loop_run(self.loop);
    g_spawn_close_pid(self.child);
    int status = self.childStatus;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return 1;
}

} // namespace ibsim
