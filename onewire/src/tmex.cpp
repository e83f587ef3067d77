// The exported TMEX functions. Nothing may leave them as an exception: every failure becomes a
// negative result, and a session whose adapter misbehaved answers errors from then on.
#include "config.h"
#include "serialport.h"
#include "session.h"

#include <ibfs32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

using namespace onewire;

namespace {

std::mutex sessionsLock;
std::map<int32_t, std::unique_ptr<Session>> sessions;
int32_t lastHandle = 0;

constexpr uint8_t matchRomCommand = 0x55;

void report(const char* what) {
    if (std::getenv("IBFS32_DEBUG"))
        std::fprintf(stderr, "ibfs32: %s\n", what);
}

// Runs one operation on a live session under the lock, turning failures into error results.
template <typename Operation> int16_t withSession(int32_t handle, Operation operation) {
    std::lock_guard guard(sessionsLock);
    auto found = sessions.find(handle);
    if (found == sessions.end())
        return IBFS32_ERROR_INVALID_SESSION;
    Session& session = *found->second;
    if (session.broken)
        return IBFS32_ERROR_COMMUNICATION;
    try {
        return operation(session);
    } catch (const LinkError& error) {
        report(error.what());
        session.broken = true;
        return IBFS32_ERROR_COMMUNICATION;
    } catch (...) {
        session.broken = true;
        return IBFS32_ERROR_COMMUNICATION;
    }
}

int16_t searchStep(Session& session, bool fromStart) {
    if (fromStart)
        session.search.restart();
    Rom found;
    switch (session.search.next(*session.link, found)) {
    case RomSearch::Outcome::Found:
        session.currentDevice = found;
        return 1;
    case RomSearch::Outcome::NoDevice:
        return 0;
    case RomSearch::Outcome::BusError:
        break;
    }
    return IBFS32_ERROR_COMMUNICATION;
}

} // namespace

extern "C" {

int16_t TMReadDefaultPort(int16_t* portNum, int16_t* portType) {
    if (!portNum || !portType)
        return IBFS32_ERROR_INVALID_SESSION;
    PortConfig config;
    try {
        config = loadPortConfig();
    } catch (const PortConfigError& error) {
        // Not only under IBFS32_DEBUG: the operator put something odd there and only sees
        // "Adapter not loaded" otherwise.
        std::fprintf(stderr, "ibfs32: %s\n", error.what());
    } catch (...) {
    }
    *portNum = config.defaultPortType > 0 ? config.defaultPortNumber : 0;
    *portType = config.defaultPortType > 0 ? config.defaultPortType : 0;
    return *portType > 0 ? 1 : 0;
}

int32_t TMExtendedStartSession(int16_t portNum, int16_t portType, void* /*enhancedOptions*/) {
    std::unique_ptr<LinkMaster> adapter;
    try {
        adapter = openAdapter(portNum, portType);
    } catch (const UnsupportedPortType& error) {
        report(error.what());
        return IBFS32_ERROR_PORT_TYPE;
    } catch (const PortOpenError& error) {
        report(error.what());
        return error.reason() == PortOpenError::Reason::Busy ? IBFS32_ERROR_PORT_BUSY
                                                             : IBFS32_ERROR_PORT_OPEN;
    } catch (const LinkError& error) {
        report(error.what());
        return IBFS32_ERROR_NO_ADAPTER;
    } catch (...) {
        return IBFS32_ERROR_NO_ADAPTER;
    }
    std::lock_guard guard(sessionsLock);
    do {
        lastHandle = lastHandle == INT32_MAX ? 1 : lastHandle + 1;
    } while (sessions.count(lastHandle));
    sessions.emplace(lastHandle, std::make_unique<Session>(std::move(adapter)));
    return lastHandle;
}

int16_t TMSetup(int32_t session) {
    return withSession(session, [](Session& s) -> int16_t {
        // A reset shows that the adapter still answers; a shorted bus is ready but useless.
        return s.link->reset() == ResetResult::Shorted ? 2 : 1;
    });
}

int16_t TMEndSession(int32_t session) {
    std::unique_ptr<Session> ending;
    {
        std::lock_guard guard(sessionsLock);
        auto found = sessions.find(session);
        if (found == sessions.end())
            return IBFS32_ERROR_INVALID_SESSION;
        ending = std::move(found->second);
        sessions.erase(found);
    }
    return 1; // the port closes as `ending` goes
}

int16_t TMFirst(int32_t session, void* /*stateBuffer*/) {
    return withSession(session, [](Session& s) { return searchStep(s, true); });
}

int16_t TMNext(int32_t session, void* /*stateBuffer*/) {
    return withSession(session, [](Session& s) { return searchStep(s, false); });
}

int16_t TMRom(int32_t session, void* /*stateBuffer*/, int16_t* rom) {
    if (!rom)
        return IBFS32_ERROR_INVALID_SESSION;
    return withSession(session, [rom](Session& s) -> int16_t {
        if (rom[0] != 0) {
            Rom chosen;
            for (size_t i = 0; i < chosen.size(); ++i)
                chosen[i] = static_cast<uint8_t>(rom[i] & 0xFF);
            s.currentDevice = chosen;
            return 1;
        }
        if (!s.currentDevice)
            return 0;
        for (size_t i = 0; i < s.currentDevice->size(); ++i)
            rom[i] = (*s.currentDevice)[i];
        return 1;
    });
}

int16_t TMAccess(int32_t session, void* /*stateBuffer*/) {
    return withSession(session, [](Session& s) -> int16_t {
        if (!s.currentDevice)
            return 0;
        std::array<uint8_t, 9> select{matchRomCommand};
        std::copy(s.currentDevice->begin(), s.currentDevice->end(), select.begin() + 1);
        auto sent = select;
        if (s.link->resetThenTouch(select) != ResetResult::Presence)
            return 0;
        // Devices only listen during Match ROM, so anything but the echo is a disturbed bus.
        return select == sent ? 1 : 0;
    });
}

int16_t TMTouchByte(int32_t session, int16_t byte) {
    return withSession(session, [byte](Session& s) -> int16_t {
        return s.link->touchByte(static_cast<uint8_t>(byte & 0xFF));
    });
}

int16_t TMBlockStream(int32_t session, uint8_t* buffer, int16_t count) {
    if (count < 0 || (!buffer && count > 0))
        return IBFS32_ERROR_INVALID_SESSION;
    return withSession(session, [buffer, count](Session& s) -> int16_t {
        if (count > 0)
            s.link->touchBlock(std::span<uint8_t>(buffer, static_cast<size_t>(count)));
        return count;
    });
}

} // extern "C"
