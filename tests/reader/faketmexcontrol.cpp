#include "faketmexcontrol.h"

#include "faketmex/faketmex.h"
#include "reader/MaximReader.h"
#include "shared/translation.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>

std::string FakeTmex::PathOf(const char* fileName) {
    return std::string(VYR_BIN_DIR) + "/" + fileName;
}

FakeTmex::FakeTmex(const char* fileName) : FHandle(dlopen(PathOf(fileName).c_str(), RTLD_NOW)) {
    if (!FHandle)
        ADD_FAILURE() << "cannot load " << fileName << ": " << dlerror();
}

FakeTmex::~FakeTmex() {
    Close();
}

void FakeTmex::Close() {
    if (FHandle)
        dlclose(FHandle);
    FHandle = nullptr;
}

template <typename Function> Function* FakeTmex::Resolve(const char* name) const {
    void* symbol = FHandle ? dlsym(FHandle, name) : nullptr;
    if (!symbol)
        throw std::runtime_error(std::string("fake TMEX control missing: ") + name);
    return reinterpret_cast<Function*>(symbol);
}

void FakeTmex::Reset() {
    Resolve<decltype(FakeTmex_Reset)>("FakeTmex_Reset")();
}

void FakeTmex::SetDefaultPort(int16_t portNum, int16_t portType) {
    Resolve<decltype(FakeTmex_SetDefaultPort)>("FakeTmex_SetDefaultPort")(portNum, portType);
}

void FakeTmex::SetNextSessionHandle(int32_t handle) {
    Resolve<decltype(FakeTmex_SetNextSessionHandle)>("FakeTmex_SetNextSessionHandle")(handle);
}

void FakeTmex::ScriptSetup(int notReadyCalls, int16_t notReadyResult, int16_t readyResult) {
    Resolve<decltype(FakeTmex_ScriptSetup)>("FakeTmex_ScriptSetup")(notReadyCalls, notReadyResult,
                                                                    readyResult);
}

void FakeTmex::SetAdapterAnswering(bool answering) {
    Resolve<decltype(FakeTmex_SetAdapterAnswering)>("FakeTmex_SetAdapterAnswering")(answering ? 1
                                                                                              : 0);
}

int FakeTmex::AddDevice(const RomBytes& rom) {
    return Resolve<decltype(FakeTmex_AddDevice)>("FakeTmex_AddDevice")(rom.data());
}

void FakeTmex::HoldSearch(bool hold) {
    Resolve<decltype(FakeTmex_HoldSearch)>("FakeTmex_HoldSearch")(hold ? 1 : 0);
}

int FakeTmex::SearchesHeld() const {
    return Resolve<decltype(FakeTmex_SearchesHeld)>("FakeTmex_SearchesHeld")();
}

int FakeTmex::CallsOf(const std::string& text) const {
    const std::vector<std::string> calls = Calls();
    return static_cast<int>(std::count(calls.begin(), calls.end(), text));
}

void FakeTmex::ClearBus() {
    Resolve<decltype(FakeTmex_ClearBus)>("FakeTmex_ClearBus")();
}

void FakeTmex::ClearBusAfterAccesses(int accesses) {
    Resolve<decltype(FakeTmex_ClearBusAfterAccesses)>("FakeTmex_ClearBusAfterAccesses")(accesses);
}

void FakeTmex::SetMemory(int device, int address, const std::vector<uint8_t>& bytes) {
    Resolve<decltype(FakeTmex_SetMemory)>("FakeTmex_SetMemory")(device, address, bytes.data(),
                                                                static_cast<int>(bytes.size()));
}

std::vector<uint8_t> FakeTmex::Memory(int device, int address, int count) {
    std::vector<uint8_t> bytes(count);
    Resolve<decltype(FakeTmex_GetMemory)>("FakeTmex_GetMemory")(device, address, bytes.data(),
                                                                count);
    return bytes;
}

std::vector<std::string> FakeTmex::Calls() const {
    const int count = Resolve<decltype(FakeTmex_CallCount)>("FakeTmex_CallCount")();
    auto* text = Resolve<decltype(FakeTmex_CallText)>("FakeTmex_CallText");
    std::vector<std::string> calls;
    for (int i = 0; i < count; ++i)
        calls.emplace_back(text(i));
    return calls;
}

std::vector<int32_t> FakeTmex::CallSessions() const {
    const int count = Resolve<decltype(FakeTmex_CallCount)>("FakeTmex_CallCount")();
    auto* session = Resolve<decltype(FakeTmex_CallSession)>("FakeTmex_CallSession");
    std::vector<int32_t> sessions;
    for (int i = 0; i < count; ++i)
        sessions.push_back(session(i));
    return sessions;
}

std::vector<const void*> FakeTmex::CallStateBuffers() const {
    const int count = Resolve<decltype(FakeTmex_CallCount)>("FakeTmex_CallCount")();
    auto* buffer = Resolve<decltype(FakeTmex_CallStateBuffer)>("FakeTmex_CallStateBuffer");
    std::vector<const void*> buffers;
    for (int i = 0; i < count; ++i)
        buffers.push_back(buffer(i));
    return buffers;
}

void FakeTmex::ClearCalls() {
    Resolve<decltype(FakeTmex_ClearCalls)>("FakeTmex_ClearCalls")();
}

void FakeTmexTest::SetUp() {
    ASSERT_TRUE(Fake.Loaded());
    TMaximReader::SetLibraryName(FakeTmex::FileName);
    Fake.Reset();
}

void FakeTmexTest::TearDown() {
    TMaximReader::SetLibraryName({});
    UseLanguage("en");
}

namespace {

std::string HexList(const uint8_t* bytes, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", bytes[i]);
        text += hex;
    }
    return text;
}

} // namespace

std::string RomLine(const RomBytes& rom) {
    return "TMRom" + HexList(rom.data(), rom.size());
}

std::string BlockLine(const std::vector<uint8_t>& bytes) {
    return "TMBlockStream" + HexList(bytes.data(), bytes.size());
}

std::string TouchLine(uint8_t byte) {
    return "TMTouchByte" + HexList(&byte, 1);
}
