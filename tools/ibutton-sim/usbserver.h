// Serves emulated DS9490 USB adapters to one program run under umockdev: the adapters appear in a
// mock sysfs and /dev/bus/usb, and the usbdevfs requests libusb sends for them (URBs, claims,
// kernel driver detach) are answered here, in this process, by the DS2490 emulation.
//
// Adapter N (1-based) sits on bus 1 at address N+1, each with its own state folder. The kernel's
// ds2490 driver counts as bound to every adapter until a client detaches it.
//
// Per adapter, `<state>/stats` holds the traffic counters (rewritten after every transfer):
// control, bulk_out, bulk_in and interrupt_in transfers, bytes each way, and whether the kernel
// driver is bound. Creating `<state>/unplugged` pulls the adapter out, at the next URB submitted
// (which is then in flight as it goes) or within a moment when none is: it leaves sysfs and /dev,
// what was in flight comes back killed (-ESHUTDOWN), and every other request on an open handle
// fails with ENODEV once nothing is left to reap, as with the kernel.
// Writing an endpoint number in hex (00 for control) to a file asks for a fault at that
// endpoint's next transfer: `<state>/stall` halts the endpoint until the host clears the halt;
// `<state>/lose` takes the URB and never gives it back, and discarding it fails as for one
// already done, so a host that waits for it waits for good.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace ibsim {

struct UsbTrafficCounters {
    unsigned long long controlTransfers = 0;
    unsigned long long bulkOutTransfers = 0;
    unsigned long long bulkInTransfers = 0;
    unsigned long long interruptInTransfers = 0;
    unsigned long long bytesOut = 0; // host to adapter: control setup and data, bulk out
    unsigned long long bytesIn = 0;  // adapter to host: bulk in, status packets
    unsigned long long resets = 0;   // 1-Wire resets
    bool kernelDriverBound = true;

    unsigned long long transfers() const {
        return controlTransfers + bulkOutTransfers + bulkInTransfers + interruptInTransfers;
    }
};

// Reads `<state>/stats` as written by the server; zeros when there is none.
UsbTrafficCounters readUsbCounters(const std::filesystem::path& stateFolder);

class UsbServer {
public:
    UsbServer(std::vector<std::filesystem::path> stateFolders, bool trace);
    ~UsbServer();
    UsbServer(const UsbServer&) = delete;
    UsbServer& operator=(const UsbServer&) = delete;

    // Runs the command with the adapters present (libumockdev-preload, UMOCKDEV_DIR, and
    // IBUTTON_SIM_USB_STATE = the state folders joined with ':') until it ends. SIGTERM and
    // SIGINT are passed on to it. Returns its exit status (128 + signal when it was killed).
    int run(const std::vector<std::string>& command);

private:
    struct Adapter;
    struct Implementation;
    std::unique_ptr<Implementation> implementation_;
};

} // namespace ibsim
