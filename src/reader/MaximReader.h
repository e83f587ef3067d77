#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// A 1-Wire ROM the way the TMEX library hands it over: elements 0 to 7 are the ROM bytes in bus
// order (family code, six serial bytes least significant first, CRC-8), one byte per element.
// Element 8 is cleared with the others and never carries anything.
using TRomAddress = std::array<int16_t, 9>;

// The binding to the TMEX 1-Wire library, the only code that talks to the adapter. It opens a
// session on one port, finds the first device on the bus and remembers its ROM, and writes and
// reads 32-byte pages of a DS1993 memory iButton.
//
// The library is loaded at run time and every export is looked up at each call, so a library
// without some export still loads and only that operation fails. A wrapper that finds no library
// or no export calls nothing and yields a negative value, which every caller treats as failure.
//
// The session handle and the state buffer exist once per process: a second reader's StartSession
// replaces the handle an earlier one uses, and any reader's EndSession ends the current handle.
// Readers are therefore used one at a time.
class TMaximReader {
public:
    // The library's file name; it is opened from the program's own folder (see LibraryPath).
    static constexpr const char* TmexLibraryFileName = "libibfs32.so";
    static constexpr int StateBufferSize = 15360;
    static constexpr int16_t AdapterIdFamily = 0x81; // the USB adapter's own ID chip, never a key
    static constexpr int MaxSetupAttempts = 200;
    static constexpr int MaxDevicesExamined = 32;

    // The handle of the last TMExtendedStartSession; every later call passes it.
    static int32_t SessionHandle;
    // The TMEX state buffer; only the library reads or writes it.
    alignas(16) static uint8_t StateBuffer[StateBufferSize];

    // Tests load a fake library instead; an empty name restores TmexLibraryFileName.
    static void SetLibraryName(const std::string& fileName);
    static std::string LibraryName();
    // What LoadDLL hands to dlopen: a bare name as the file of that name beside the program, a
    // name with a slash unchanged. The dynamic linker's own search is never used, because it
    // follows the run path of whoever calls dlopen (under AddressSanitizer that is the sanitizer's
    // runtime, which has none) and would take a stray copy from the system's folders over ours.
    static std::string LibraryPath();

    // Stores the settings; opens nothing.
    TMaximReader(const QString& Arc, int16_t Adapter, int16_t Port);
    // Frees the object only: the owner calls EndSession and FreeDLL first.
    ~TMaximReader() = default;
    TMaximReader(const TMaximReader&) = delete;
    TMaximReader& operator=(const TMaximReader&) = delete;

    // Loads the library from LibraryPath(); true when a handle was obtained.
    bool LoadDLL();
    // Opens the session on the settings' port (or the library's default port when Adapter is 0
    // or less) and runs setup; returns SetupDone.
    bool StartSession();
    // Finds the first device that is not the USB adapter's own ID chip, returns its eight ROM
    // bytes in Rom and remembers them in UID. Without setup it returns false and calls nothing.
    // AdapterFault tells afterwards whether the library answered an error during the search.
    bool ReadRom(std::vector<uint8_t>& Rom);
    // Makes the remembered device current and selects it; true when the library reports it
    // selected.
    bool Access();
    // Writes Data at the address through the DS1993 scratchpad. Data is the transfer buffer: on
    // return it holds the last bytes read, so callers refill it for every page.
    bool WritePage(uint16_t address, std::vector<uint8_t>& Data);
    // Reads 32 bytes from the address into Data; returns what TMBlockStream returned.
    int16_t ReadPage(uint16_t address, std::vector<uint8_t>& Data);
    // Ends the current session; the result is not examined.
    void EndSession();
    // Unloads the library; false when none was loaded or the platform reported a failure.
    // LibHandle keeps its value, the object is freed right after.
    bool FreeDLL();

    QString Arc;         // from [driver] arc; stored, no library call uses it
    int16_t Adapter = 0; // TMEX port type from the settings; 0 or less: the library's default
    int16_t Port = 0;    // TMEX port number from the settings, used when Adapter > 0
    TRomAddress UID{};   // ROM of the device taken by the last successful ReadRom
    int16_t PortNum = 0;
    int16_t PortType = 0;
    bool SetupDone = false;
    // The last ReadRom met a negative library result: the session is broken, not the bus empty.
    bool AdapterFault = false;
    uintptr_t LibHandle = 0; // 0 when no library is loaded

private:
    // Looks the export up and calls it; NotCalled when there is no library or no such export.
    template <typename Result, typename... Args>
    Result CallExport(const char* name, Args... args) const;

    int16_t TMReadDefaultPort(int16_t* portNum, int16_t* portType) const;
    int32_t TMExtendedStartSession(int16_t portNum, int16_t portType, void* options) const;
    int16_t TMSetup(int32_t session) const;
    int16_t TMEndSession(int32_t session) const;
    int16_t TMFirst(int32_t session, void* state) const;
    int16_t TMNext(int32_t session, void* state) const;
    int16_t TMRom(int32_t session, void* state, int16_t* rom) const;
    int16_t TMAccess(int32_t session, void* state) const;
    int16_t TMTouchByte(int32_t session, int16_t byte) const;
    int16_t TMBlockStream(int32_t session, uint8_t* buffer, int16_t count) const;
};
