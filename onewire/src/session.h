// Sessions: one open adapter each, with its search walk and current device.
#pragma once

#include "link.h"
#include "search.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace onewire {

// Opens the adapter behind a TMEX port. Throws PortOpenError / LinkError, or
// UnsupportedPortType.
std::unique_ptr<LinkMaster> openAdapter(int16_t portNumber, int16_t portType);

struct PortConfig;
// The fastest host link rate the configuration allows the serial adapter.
int fastestSerialBaud(const PortConfig& config);

class UnsupportedPortType : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Session {
    explicit Session(std::unique_ptr<LinkMaster> adapter) : link(std::move(adapter)) {}

    std::unique_ptr<LinkMaster> link;
    RomSearch search;
    std::optional<Rom> currentDevice;
    // Set after a LinkError: the adapter's state is unknown, so nothing more is sent to it.
    bool broken = false;
};

} // namespace onewire
