// ibfs32.ini: the default port and the serial devices behind port numbers.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace onewire {

struct PortConfig {
    int16_t defaultPortType = 0;
    int16_t defaultPortNumber = 0;
    std::map<int, std::string> serialDevices; // [serial] port<N>=<device path>
};

// Sections and keys are case-insensitive; lines starting with ';' or '#' are comments; the first
// occurrence of a key wins. Values that are not numbers read as 0.
PortConfig parsePortConfig(std::string_view text);

// $XDG_CONFIG_HOME/ibfs32.ini, else ~/.config/ibfs32.ini.
std::string portConfigPath();

// A missing or unreadable file gives the defaults (no default port, no serial entries).
PortConfig loadPortConfig();

// Port 1 is the first serial port: without an entry, port N is /dev/ttyS<N-1>. Port 0 and
// negative numbers have no device.
std::optional<std::string> serialDevicePath(const PortConfig& config, int portNumber);

} // namespace onewire
