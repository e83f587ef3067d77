#include "session.h"

#include "config.h"
#include "ds2480b.h"
#include "ds2490.h"

#include <ibfs32.h>

namespace onewire {

int fastestSerialBaud(const PortConfig& config) {
    if (config.serialBaudLimit <= 0)
        return 115200;
    // A limit between the adapter's rates means the next one below it.
    for (int baud : {115200, 57600, 19200})
        if (config.serialBaudLimit >= baud)
            return baud;
    return Ds2480bMaster::baseBaud;
}

std::unique_ptr<LinkMaster> openAdapter(int16_t portNumber, int16_t portType) {
    switch (portType) {
    case IBFS32_PORT_TYPE_SERIAL: {
        PortConfig config;
        try {
            config = loadPortConfig();
        } catch (const PortConfigError& error) {
            // Guessing a device without the file that names it could open somebody else's port.
            throw PortOpenError(PortOpenError::Reason::Unavailable, error.what());
        }
        auto device = serialDevicePath(config, portNumber);
        if (!device)
            throw PortOpenError(PortOpenError::Reason::Unavailable,
                                "serial port " + std::to_string(portNumber) + " has no device");
        return std::make_unique<Ds2480bMaster>(*device, fastestSerialBaud(config),
                                               config.serialAnswerAllowance);
    }
    case IBFS32_PORT_TYPE_USB:
        return std::make_unique<Ds2490Master>(portNumber);
    default:
        throw UnsupportedPortType("unknown port type " + std::to_string(portType));
    }
}

} // namespace onewire
