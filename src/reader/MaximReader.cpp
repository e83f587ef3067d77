#include "reader/MaximReader.h"

#include "shared/datadir.h"

#include <dlfcn.h>

#include <algorithm>
#include <array>

namespace {

// What a wrapper answers when it could not call anything. Negative is an error for every TMEX
// function; callers only ever look for their success values.
constexpr int16_t NotCalled = -1;

// DS1993 memory commands.
constexpr int16_t WriteScratchpad = 0x0F;
constexpr uint8_t ReadScratchpad = 0xAA;
constexpr uint8_t CopyScratchpad = 0x55;
constexpr int16_t ReadMemory = 0xF0;
constexpr int PageSize = 32;

std::string& LibraryNameOverride() {
    static std::string name;
    return name;
}

int16_t LowAddressByte(uint16_t address) {
    return static_cast<int16_t>(address & 0xFF);
}

int16_t HighAddressByte(uint16_t address) {
    return static_cast<int16_t>((address >> 8) & 0xFF);
}

} // namespace

int32_t TMaximReader::SessionHandle = 0;
alignas(16) uint8_t TMaximReader::StateBuffer[TMaximReader::StateBufferSize] = {};

void TMaximReader::SetLibraryName(const std::string& fileName) {
    LibraryNameOverride() = fileName;
}

std::string TMaximReader::LibraryName() {
    const std::string& name = LibraryNameOverride();
    return name.empty() ? std::string(TmexLibraryFileName) : name;
}

std::string TMaximReader::LibraryPath() {
    const std::string name = LibraryName();
    if (name.find('/') != std::string::npos)
        return name;
    return ProgramDirectory().toStdString() + "/" + name;
}

TMaximReader::TMaximReader(const QString& Arc, int16_t Adapter, int16_t Port)
    : Arc(Arc), Adapter(Adapter), Port(Port) {}

template <typename Result, typename... Args>
Result TMaximReader::CallExport(const char* name, Args... args) const {
    if (LibHandle == 0)
        return NotCalled;
    void* symbol = dlsym(reinterpret_cast<void*>(LibHandle), name);
    if (symbol == nullptr)
        return NotCalled;
    using Function = Result (*)(Args...);
    return reinterpret_cast<Function>(symbol)(args...);
}

int16_t TMaximReader::TMReadDefaultPort(int16_t* portNum, int16_t* portType) const {
    return CallExport<int16_t>("TMReadDefaultPort", portNum, portType);
}

int32_t TMaximReader::TMExtendedStartSession(int16_t portNum, int16_t portType,
                                             void* options) const {
    return CallExport<int32_t>("TMExtendedStartSession", portNum, portType, options);
}

int16_t TMaximReader::TMSetup(int32_t session) const {
    return CallExport<int16_t>("TMSetup", session);
}

int16_t TMaximReader::TMEndSession(int32_t session) const {
    return CallExport<int16_t>("TMEndSession", session);
}

int16_t TMaximReader::TMFirst(int32_t session, void* state) const {
    return CallExport<int16_t>("TMFirst", session, state);
}

int16_t TMaximReader::TMNext(int32_t session, void* state) const {
    return CallExport<int16_t>("TMNext", session, state);
}

int16_t TMaximReader::TMRom(int32_t session, void* state, int16_t* rom) const {
    return CallExport<int16_t>("TMRom", session, state, rom);
}

int16_t TMaximReader::TMAccess(int32_t session, void* state) const {
    return CallExport<int16_t>("TMAccess", session, state);
}

int16_t TMaximReader::TMTouchByte(int32_t session, int16_t byte) const {
    return CallExport<int16_t>("TMTouchByte", session, byte);
}

int16_t TMaximReader::TMBlockStream(int32_t session, uint8_t* buffer, int16_t count) const {
    return CallExport<int16_t>("TMBlockStream", session, buffer, count);
}

bool TMaximReader::LoadDLL() {
    LibHandle = 0;
    void* handle = dlopen(LibraryPath().c_str(), RTLD_NOW);
    LibHandle = reinterpret_cast<uintptr_t>(handle);
    return handle != nullptr;
}

bool TMaximReader::StartSession() {
    PortType = 0;
    SetupDone = false;
    if (Adapter > 0) {
        PortType = Adapter;
        PortNum = Port;
    } else {
        TMReadDefaultPort(&PortNum, &PortType);
    }
    if (PortType <= 0)
        return false;

    // A failed start is not told apart here: its result becomes the handle, setup then never
    // answers ready and SetupDone stays false.
    SessionHandle = TMExtendedStartSession(PortNum, PortType, nullptr);
    for (int attempt = 0; attempt < MaxSetupAttempts; ++attempt) {
        const int16_t setup = TMSetup(SessionHandle);
        if (setup == 1 || setup == 2) {
            SetupDone = true;
            break;
        }
    }
    return SetupDone;
}

bool TMaximReader::ReadRom(std::vector<uint8_t>& Rom) {
    AdapterFault = false;
    if (!SetupDone)
        return false;

    bool taken = false;
    int examined = 0;
    int16_t found = TMFirst(SessionHandle, StateBuffer);
    // A bus full of devices must not keep the 100 ms poll busy for long, hence the limit.
    while (found == 1 && examined < MaxDevicesExamined && !taken) {
        TRomAddress rom{};
        if (TMRom(SessionHandle, StateBuffer, rom.data()) < 0) {
            found = -1;
            break;
        }
        if (rom[0] != AdapterIdFamily) {
            Rom.resize(8);
            for (size_t i = 0; i < 8; ++i) {
                Rom[i] = static_cast<uint8_t>(rom[i] & 0xFF);
                UID[i] = rom[i];
            }
            taken = true;
        }
        ++examined;
        found = TMNext(SessionHandle, StateBuffer);
    }
    AdapterFault = found < 0;
    return taken;
}

bool TMaximReader::Access() {
    TMRom(SessionHandle, StateBuffer, UID.data());
    return TMAccess(SessionHandle, StateBuffer) > 0;
}

bool TMaximReader::WritePage(uint16_t address, std::vector<uint8_t>& Data) {
    const auto dataCount = static_cast<int16_t>(Data.size());
    if (!Access())
        return false;
    TMTouchByte(SessionHandle, WriteScratchpad);
    TMTouchByte(SessionHandle, LowAddressByte(address));
    TMTouchByte(SessionHandle, HighAddressByte(address));
    TMBlockStream(SessionHandle, Data.data(), dataCount);

    // Read the scratchpad's TA1, TA2 and E/S back: the copy command needs them as authorisation.
    if (!Access())
        return false;
    std::array<uint8_t, 4> buffer{ReadScratchpad, 0xFF, 0xFF, 0xFF};
    TMBlockStream(SessionHandle, buffer.data(), static_cast<int16_t>(buffer.size()));

    if (!Access())
        return false;
    buffer[0] = CopyScratchpad;
    TMBlockStream(SessionHandle, buffer.data(), static_cast<int16_t>(buffer.size()));
    // Read slots while the device copies; what comes back is not examined.
    std::fill(Data.begin(), Data.end(), uint8_t{0xFF});
    TMBlockStream(SessionHandle, Data.data(), dataCount);
    return true;
}

int16_t TMaximReader::ReadPage(uint16_t address, std::vector<uint8_t>& Data) {
    TMAccess(SessionHandle, StateBuffer);
    Data.assign(PageSize, 0xFF);
    TMTouchByte(SessionHandle, ReadMemory);
    TMTouchByte(SessionHandle, LowAddressByte(address));
    TMTouchByte(SessionHandle, HighAddressByte(address));
    return TMBlockStream(SessionHandle, Data.data(), PageSize);
}

void TMaximReader::EndSession() {
    TMEndSession(SessionHandle);
}

bool TMaximReader::FreeDLL() {
    if (LibHandle == 0)
        return false;
    return dlclose(reinterpret_cast<void*>(LibHandle)) == 0;
}
