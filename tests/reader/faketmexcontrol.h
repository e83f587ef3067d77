#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

using RomBytes = std::array<uint8_t, 8>;

// A card (DS1990A) with a valid CRC, as the fake adapter's tests lay it on.
inline const RomBytes Ds1990{0x01, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x8F};

// The test's handle on the fake TMEX library: the same loaded copy the binding opens by name, so
// the bus it scripts is the one the binding sees. Holding the handle keeps the fake (and its
// record) loaded after the binding unloads it.
class FakeTmex {
public:
    static constexpr const char* FileName = "libfaketmex.so";
    // The same fake without the TMAccess export.
    static constexpr const char* WithoutAccessFileName = "libfaketmex-noaccess.so";
    // No such file anywhere.
    static constexpr const char* MissingFileName = "libfaketmex-missing.so";

    // The fake's file beside the test programs, where the binding looks for a bare name; the
    // test opens that very file, never through the dynamic linker's search.
    static std::string PathOf(const char* fileName);

    explicit FakeTmex(const char* fileName = FileName);
    ~FakeTmex();
    FakeTmex(const FakeTmex&) = delete;
    FakeTmex& operator=(const FakeTmex&) = delete;

    bool Loaded() const { return FHandle != nullptr; }
    // Lets go of the test's own handle.
    void Close();

    void Reset();
    void SetDefaultPort(int16_t portNum, int16_t portType);
    void SetNextSessionHandle(int32_t handle);
    void ScriptSetup(int notReadyCalls, int16_t notReadyResult, int16_t readyResult);
    void SetAdapterAnswering(bool answering);
    int AddDevice(const RomBytes& rom);
    // See FakeTmex_HoldSearch: TMFirst waits while held, as in a hanging adapter.
    void HoldSearch(bool hold);
    int SearchesHeld() const;
    void ClearBus();
    void ClearBusAfterAccesses(int accesses);
    void SetMemory(int device, int address, const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> Memory(int device, int address, int count);

    std::vector<std::string> Calls() const;
    // How many recorded calls read exactly `text` ("TMFirst", "TMEndSession", ...).
    int CallsOf(const std::string& text) const;
    std::vector<int32_t> CallSessions() const;
    std::vector<const void*> CallStateBuffers() const;
    void ClearCalls();

private:
    template <typename Function> Function* Resolve(const char* name) const;
    void* FHandle = nullptr;
};

// Points the binding at a fake library for one test and back at the real one afterwards (and
// the language back at English).
class FakeTmexTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    FakeTmex Fake;
};

// Log lines the binding's calls produce.
std::string RomLine(const RomBytes& rom);
std::string BlockLine(const std::vector<uint8_t>& bytes);
std::string TouchLine(uint8_t byte);
