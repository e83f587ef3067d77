// ibfs32.ini: the default port and the serial devices behind port numbers.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace onewire {

struct PortConfig {
    int16_t defaultPortType = 0;
    int16_t defaultPortNumber = 0;
    std::map<int, std::string> serialDevices; // [serial] port<N>=<device path>
    // [serial] baud=: the fastest host link rate to use; 0 when not given (no limit).
    int serialBaudLimit = 0;
    // [serial] timeout=: how long the serial adapter is given to answer, on top of the time its
    // bytes take on the line.
    std::chrono::milliseconds serialAnswerAllowance = defaultSerialAnswerAllowance;

    // A DS2480B on a local port answers within milliseconds; this leaves room for a busy host.
    static constexpr std::chrono::milliseconds defaultSerialAnswerAllowance{200};
    // Beyond this a missing answer is not worth waiting for even over a slow network link.
    static constexpr std::chrono::milliseconds longestSerialAnswerAllowance{60000};
};

// The file exists but is not one to read (a device, a FIFO, a folder, far too large, unreadable).
class PortConfigError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A configuration file is a few lines; anything near this size is not one.
inline constexpr size_t portConfigSizeLimit = 1024 * 1024;

// Sections and keys are case-insensitive; lines starting with ';' or '#' are comments; the first
// occurrence of a key wins. Values that are not numbers read as 0.
PortConfig parsePortConfig(std::string_view text);

// $XDG_CONFIG_HOME/ibfs32.ini, else ~/.config/ibfs32.ini.
std::string portConfigPath();

// A missing file gives the defaults (no default port, no serial entries). Only a regular file
// up to portConfigSizeLimit is read, without waiting on whatever else may stand in its place;
// anything else throws PortConfigError saying what is wrong.
PortConfig loadPortConfig();
PortConfig loadPortConfig(const std::string& path);

// Port 1 is the first serial port: without an entry, port N is /dev/ttyS<N-1>. Port 0 and
// negative numbers have no device.
std::optional<std::string> serialDevicePath(const PortConfig& config, int portNumber);

} // namespace onewire
