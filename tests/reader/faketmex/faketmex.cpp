#include "faketmex.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr int MemorySize = 512;
constexpr int ScratchpadSize = 32;
constexpr uint8_t Ds1993Family = 0x06;
constexpr uint8_t AuthorizationAccepted = 0x80; // the AA flag of E/S

struct Device {
    std::array<uint8_t, 8> rom{};
    std::array<uint8_t, MemorySize> memory{};
    bool present = true; // lifted devices keep their memory for the test to inspect
};

struct Call {
    std::string text;
    int32_t session = 0;
    const void* stateBuffer = nullptr;
};

// Where the selected DS1993 is in its command: what the next byte on the bus means.
enum class Phase {
    Idle,
    Command,
    WriteTA1,
    WriteTA2,
    WriteData,
    ReadScratchTA1,
    ReadScratchTA2,
    ReadScratchES,
    ReadScratchData,
    CopyTA1,
    CopyTA2,
    CopyES,
    ReadMemoryTA1,
    ReadMemoryTA2,
    ReadMemoryData,
};

struct Bus {
    std::vector<Device> devices;
    int16_t defaultPortNum = 0;
    int16_t defaultPortType = 0;
    int32_t nextSession = 4242;
    int setupNotReadyCalls = 0;
    int16_t setupNotReadyResult = 0;
    int16_t setupReadyResult = 1;
    int setupCalls = 0;
    int accessesBeforeClear = -1; // never
    // An adapter that stopped answering breaks every session open at that moment for good, as the
    // real library does, and refuses new ones until it answers again.
    bool adapterAnswering = true;
    int32_t brokenBelow = 0; // sessions with a smaller handle are broken
    size_t searchPosition = 0;
    bool searchDone = true;
    // The current device: the one the search last found, or the ROM last given to TMRom.
    std::array<uint8_t, 8> currentRom{};
    bool haveCurrent = false;
    int active = -1; // the device a TMAccess selected, -1 for none

    Phase phase = Phase::Idle;
    std::array<uint8_t, ScratchpadSize> scratchpad{};
    uint8_t ta1 = 0, ta2 = 0, es = 0;
    int offset = 0;
    int memoryAddress = 0;
    std::array<uint8_t, 3> authorization{};

    // A deque: a recorded text stays where it is while later calls are added, so the pointer
    // FakeTmex_CallText hands out holds while the card poller goes on calling.
    std::deque<Call> calls;
};

// The binding calls from the adapter thread while the test scripts the bus from its own: every
// export, TMEX side and control side, holds this while it runs.
std::mutex& BusMutex() {
    static std::mutex mutex;
    return mutex;
}

// A held search: TMFirst waits (without the mutex) until the test lets it go, as a call into an
// adapter that hangs does. Kept apart from the bus, which a reset replaces.
struct Hold {
    bool on = false;
    int waiting = 0; // TMFirst calls waiting right now
    std::condition_variable released;
};

Hold& TheHold() {
    static Hold hold;
    return hold;
}

Bus& TheBus() {
    static Bus bus;
    return bus;
}

std::string Hex(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", value & 0xFFFF);
    return text;
}

void Record(std::string text, int32_t session = 0, const void* stateBuffer = nullptr) {
    TheBus().calls.push_back({std::move(text), session, stateBuffer});
}

// What the real library answers on a session whose adapter misbehaved.
constexpr int16_t CommunicationError = -13;

bool Broken(int32_t session) {
    return session < TheBus().brokenBelow;
}

int TargetAddress(const Bus& bus) {
    return (bus.ta1 | (bus.ta2 << 8)) % MemorySize;
}

// One byte through the bus: the selected DS1993 listens to write slots and drives read slots
// (a read slot is a 1 sent by the master, so the master reads the device's bits ANDed with its
// own). With no device selected, every slot reads back what was sent.
uint8_t Touch(uint8_t sent) {
    Bus& bus = TheBus();
    if (bus.active < 0 || bus.devices[bus.active].rom[0] != Ds1993Family)
        return sent;
    Device& device = bus.devices[bus.active];
    switch (bus.phase) {
    case Phase::Idle:
        return sent;
    case Phase::Command:
        switch (sent) {
        case 0x0F:
            bus.phase = Phase::WriteTA1;
            break;
        case 0xAA:
            bus.phase = Phase::ReadScratchTA1;
            break;
        case 0x55:
            bus.phase = Phase::CopyTA1;
            break;
        case 0xF0:
            bus.phase = Phase::ReadMemoryTA1;
            break;
        default:
            bus.phase = Phase::Idle;
        }
        return sent;
    case Phase::WriteTA1:
        bus.ta1 = sent;
        bus.phase = Phase::WriteTA2;
        return sent;
    case Phase::WriteTA2:
        bus.ta2 = sent;
        bus.offset = bus.ta1 & 0x1F;
        bus.es = static_cast<uint8_t>(bus.offset); // AA cleared by a new write
        bus.phase = Phase::WriteData;
        return sent;
    case Phase::WriteData:
        if (bus.offset < ScratchpadSize) {
            bus.scratchpad[bus.offset] = sent;
            bus.es = static_cast<uint8_t>(bus.offset);
            ++bus.offset;
        }
        return sent;
    case Phase::ReadScratchTA1:
        bus.phase = Phase::ReadScratchTA2;
        return bus.ta1 & sent;
    case Phase::ReadScratchTA2:
        bus.phase = Phase::ReadScratchES;
        return bus.ta2 & sent;
    case Phase::ReadScratchES:
        bus.phase = Phase::ReadScratchData;
        bus.offset = bus.ta1 & 0x1F;
        return bus.es & sent;
    case Phase::ReadScratchData:
        return (bus.offset < ScratchpadSize ? bus.scratchpad[bus.offset++] : 0xFF) & sent;
    case Phase::CopyTA1:
        bus.authorization[0] = sent;
        bus.phase = Phase::CopyTA2;
        return sent;
    case Phase::CopyTA2:
        bus.authorization[1] = sent;
        bus.phase = Phase::CopyES;
        return sent;
    case Phase::CopyES: {
        bus.authorization[2] = sent;
        bus.phase = Phase::Idle;
        const std::array<uint8_t, 3> expected{bus.ta1, bus.ta2, bus.es};
        if (bus.authorization != expected)
            return sent;
        const int pageStart = TargetAddress(bus) & ~0x1F;
        for (int offset = bus.ta1 & 0x1F; offset <= (bus.es & 0x1F); ++offset)
            device.memory[pageStart + offset] = bus.scratchpad[offset];
        bus.es |= AuthorizationAccepted;
        return sent;
    }
    case Phase::ReadMemoryTA1:
        bus.ta1 = sent;
        bus.phase = Phase::ReadMemoryTA2;
        return sent;
    case Phase::ReadMemoryTA2:
        bus.ta2 = sent;
        bus.memoryAddress = TargetAddress(bus);
        bus.phase = Phase::ReadMemoryData;
        return sent;
    case Phase::ReadMemoryData: {
        const uint8_t value = device.memory[bus.memoryAddress];
        bus.memoryAddress = (bus.memoryAddress + 1) % MemorySize;
        return value & sent;
    }
    }
    return sent;
}

// Unused in the copy without TMAccess.
[[maybe_unused]] int FindDevice(const std::array<uint8_t, 8>& rom) {
    const auto& devices = TheBus().devices;
    for (size_t i = 0; i < devices.size(); ++i)
        if (devices[i].present && devices[i].rom == rom)
            return static_cast<int>(i);
    return -1;
}

// The search's next present device from `start` on; false when there is none.
bool SearchFrom(size_t start) {
    Bus& bus = TheBus();
    for (size_t i = start; i < bus.devices.size(); ++i) {
        if (bus.devices[i].present) {
            bus.searchPosition = i;
            bus.currentRom = bus.devices[i].rom;
            bus.haveCurrent = true;
            return true;
        }
    }
    return false;
}

void LiftAllDevices() {
    for (Device& device : TheBus().devices)
        device.present = false;
}

bool ValidDevice(int index) {
    return index >= 0 && index < static_cast<int>(TheBus().devices.size());
}

} // namespace

extern "C" {

// The TMEX side. Exported with the names and fixed-width types the binding looks up.

int16_t TMReadDefaultPort(int16_t* portNum, int16_t* portType) {
    const std::lock_guard<std::mutex> lock(BusMutex());
    Record("TMReadDefaultPort");
    *portNum = TheBus().defaultPortNum;
    *portType = TheBus().defaultPortType;
    return 1;
}

int32_t TMExtendedStartSession(int16_t portNum, int16_t portType, void* options) {
    const std::lock_guard<std::mutex> lock(BusMutex());
    // snprintf rather than std::to_string, whose digit table is a GNU unique symbol: that would
    // pin the fake in memory and hide whether the binding unloads it.
    char text[64];
    std::snprintf(text, sizeof text, "TMExtendedStartSession %d %d %s", portNum, portType,
                  options ? "options" : "null");
    Record(text);
    if (!TheBus().adapterAnswering)
        return CommunicationError;
    return TheBus().nextSession++;
}

int16_t TMSetup(int32_t session) {
    const std::lock_guard<std::mutex> lock(BusMutex());
    Bus& bus = TheBus();
    Record("TMSetup", session);
    if (Broken(session))
        return CommunicationError;
    return bus.setupCalls++ < bus.setupNotReadyCalls ? bus.setupNotReadyResult
                                                     : bus.setupReadyResult;
}

int16_t TMEndSession(int32_t session) {
    const std::lock_guard<std::mutex> lock(BusMutex());
    Record("TMEndSession", session);
    return 1;
}

int16_t TMFirst(int32_t session, void* stateBuffer) {
    std::unique_lock<std::mutex> lock(BusMutex());
    Record("TMFirst", session, stateBuffer);
    Hold& hold = TheHold();
    if (hold.on) {
        ++hold.waiting;
        hold.released.wait(lock, [&hold] { return !hold.on; });
        --hold.waiting;
    }
    Bus& bus = TheBus();
    if (Broken(session))
        return CommunicationError;
    bus.searchPosition = 0;
    bus.searchDone = !SearchFrom(0);
    return bus.searchDone ? 0 : 1;
}

int16_t TMNext(int32_t session, void* stateBuffer) {
    const std::lock_guard<std::mutex> lock(BusMutex());
    Bus& bus = TheBus();
    Record("TMNext", session, stateBuffer);
    if (Broken(session))
        return CommunicationError;
    if (!bus.searchDone)
        bus.searchDone = !SearchFrom(bus.searchPosition + 1);
    return bus.searchDone ? 0 : 1;
}

int16_t TMRom(int32_t session, void* stateBuffer, int16_t* rom) {
    const std::lock_guard<std::mutex> lock(BusMutex());
    Bus& bus = TheBus();
    std::string text = "TMRom";
    for (int i = 0; i < 8; ++i)
        text += " " + Hex(rom[i]);
    Record(text, session, stateBuffer);
    if (rom[0] == 0) {
        if (!bus.haveCurrent)
            return 0;
        std::copy(bus.currentRom.begin(), bus.currentRom.end(), rom);
    } else {
        for (int i = 0; i < 8; ++i)
            bus.currentRom[i] = static_cast<uint8_t>(rom[i]);
        bus.haveCurrent = true;
    }
    return 1;
}

#ifndef FAKETMEX_WITHOUT_TMACCESS
int16_t TMAccess(int32_t session, void* stateBuffer) {
    const std::lock_guard<std::mutex> lock(BusMutex());
    Bus& bus = TheBus();
    Record("TMAccess", session, stateBuffer);
    if (bus.accessesBeforeClear == 0)
        LiftAllDevices();
    if (bus.accessesBeforeClear > 0)
        --bus.accessesBeforeClear;
    bus.active = bus.haveCurrent ? FindDevice(bus.currentRom) : -1;
    bus.phase = bus.active >= 0 ? Phase::Command : Phase::Idle;
    return bus.active >= 0 ? 1 : 0;
}
#endif

int16_t TMTouchByte(int32_t session, int16_t byte) {
    const std::lock_guard<std::mutex> lock(BusMutex());
    Record("TMTouchByte " + Hex(byte), session);
    return Touch(static_cast<uint8_t>(byte));
}

int16_t TMBlockStream(int32_t session, uint8_t* buffer, int16_t count) {
    const std::lock_guard<std::mutex> lock(BusMutex());
    std::string text = "TMBlockStream";
    for (int i = 0; i < count; ++i)
        text += " " + Hex(buffer[i]);
    Record(text, session);
    for (int i = 0; i < count; ++i)
        buffer[i] = Touch(buffer[i]);
    return count;
}

// The control side, for the tests.

void FakeTmex_Reset(void) {
    const std::lock_guard<std::mutex> lock(BusMutex());
    TheBus() = Bus{};
}

void FakeTmex_SetAdapterAnswering(int answering) {
    const std::lock_guard<std::mutex> lock(BusMutex());
    Bus& bus = TheBus();
    if (bus.adapterAnswering && !answering)
        bus.brokenBelow = bus.nextSession;
    bus.adapterAnswering = answering != 0;
}

void FakeTmex_SetDefaultPort(int16_t portNum, int16_t portType) {
    const std::lock_guard<std::mutex> lock(BusMutex());
    TheBus().defaultPortNum = portNum;
    TheBus().defaultPortType = portType;
}

void FakeTmex_SetNextSessionHandle(int32_t handle) {
    const std::lock_guard<std::mutex> lock(BusMutex());
    TheBus().nextSession = handle;
}

void FakeTmex_ScriptSetup(int notReadyCalls, int16_t notReadyResult, int16_t readyResult) {
    const std::lock_guard<std::mutex> lock(BusMutex());
    Bus& bus = TheBus();
    bus.setupNotReadyCalls = notReadyCalls;
    bus.setupNotReadyResult = notReadyResult;
    bus.setupReadyResult = readyResult;
    bus.setupCalls = 0;
}

int FakeTmex_AddDevice(const uint8_t rom[8]) {
    const std::lock_guard<std::mutex> lock(BusMutex());
    Device device;
    std::copy(rom, rom + 8, device.rom.begin());
    TheBus().devices.push_back(device);
    return static_cast<int>(TheBus().devices.size()) - 1;
}

void FakeTmex_HoldSearch(int hold) {
    const std::lock_guard<std::mutex> lock(BusMutex());
    TheHold().on = hold != 0;
    if (!hold)
        TheHold().released.notify_all();
}

int FakeTmex_SearchesHeld(void) {
    const std::lock_guard<std::mutex> lock(BusMutex());
    return TheHold().waiting;
}

void FakeTmex_ClearBus(void) {
    const std::lock_guard<std::mutex> lock(BusMutex());
    LiftAllDevices();
}

void FakeTmex_ClearBusAfterAccesses(int accesses) {
    const std::lock_guard<std::mutex> lock(BusMutex());
    TheBus().accessesBeforeClear = accesses;
}

void FakeTmex_SetMemory(int device, int address, const uint8_t* bytes, int count) {
    const std::lock_guard<std::mutex> lock(BusMutex());
    if (!ValidDevice(device))
        return;
    auto& memory = TheBus().devices[device].memory;
    for (int i = 0; i < count; ++i)
        memory[(address + i) % MemorySize] = bytes[i];
}

void FakeTmex_GetMemory(int device, int address, uint8_t* bytes, int count) {
    const std::lock_guard<std::mutex> lock(BusMutex());
    if (!ValidDevice(device))
        return;
    const auto& memory = TheBus().devices[device].memory;
    for (int i = 0; i < count; ++i)
        bytes[i] = memory[(address + i) % MemorySize];
}

int FakeTmex_CallCount(void) {
    const std::lock_guard<std::mutex> lock(BusMutex());
    return static_cast<int>(TheBus().calls.size());
}

const char* FakeTmex_CallText(int index) {
    const std::lock_guard<std::mutex> lock(BusMutex());
    return TheBus().calls.at(index).text.c_str();
}

int32_t FakeTmex_CallSession(int index) {
    const std::lock_guard<std::mutex> lock(BusMutex());
    return TheBus().calls.at(index).session;
}

const void* FakeTmex_CallStateBuffer(int index) {
    const std::lock_guard<std::mutex> lock(BusMutex());
    return TheBus().calls.at(index).stateBuffer;
}

void FakeTmex_ClearCalls(void) {
    const std::lock_guard<std::mutex> lock(BusMutex());
    TheBus().calls.clear();
}

} // extern "C"
