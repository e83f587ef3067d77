#include "session.h"

#include "config.h"
#include "ds2480b.h"
#include "ds2490.h"

#include <ibfs32.h>

namespace onewire {

std::unique_ptr<LinkMaster> openAdapter(int16_t portNumber, int16_t portType) {
    switch (portType) {
    case IBFS32_PORT_TYPE_SERIAL: {
        auto device = serialDevicePath(loadPortConfig(), portNumber);
        if (!device)
            throw PortOpenError(PortOpenError::Reason::Unavailable,
                                "serial port " + std::to_string(portNumber) + " has no device");
        return std::make_unique<Ds2480bMaster>(*device);
    }
    case IBFS32_PORT_TYPE_USB:
        return std::make_unique<Ds2490Master>(portNumber);
    default:
        throw UnsupportedPortType("unknown port type " + std::to_string(portType));
    }
}

} // namespace onewire
