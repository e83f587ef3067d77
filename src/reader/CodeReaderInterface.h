#pragma once

#include "reader/MaximReader.h"
#include "reader/sessionrecovery.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

// The reader object the windows use: reads the device lying on the adapter as a family name and
// a card number, writes and reads 32-byte memory pages, and offers the 1-Wire CRC-8 step.
// Each window that waits for a device has one, used by its card poller; only one may be in use at
// a time, because the binding's session is process-wide.
class TReaderInterface;
struct TRunSettings;

// Whether the constructor opens the session, or leaves that to OpenSession: a window makes its
// reader on its own thread, where nothing may wait on the adapter, and has the session opened
// on the adapter thread.
enum class TSessionStart { Now, Later };

// The reader a window waits with: the run's reader type and adapter settings, so an adapter
// chosen in the adapter dialog applies to every window opened afterwards. Throws as the
// constructor does.
std::unique_ptr<TReaderInterface> CreateConfiguredReader(const TRunSettings& settings,
                                                         TSessionStart start = TSessionStart::Now);

class TReaderInterface {
public:
    static constexpr const char* MaximReaderName = "MaximReader";

    // Throws VyrError "No valid reader" for any reader name but "MaximReader" (case matters), and
    // "Unable not load TMEX library" when the library cannot be loaded. A session whose setup
    // fails is no error: the object exists with ReaderLoaded false. With TSessionStart::Later
    // only the library is loaded; the session waits for OpenSession.
    TReaderInterface(const QString& ReaderIdent, const QString& Arc, int32_t Adapter, int32_t Port,
                     TSessionStart start = TSessionStart::Now);
    // Ends the session and unloads the library.
    ~TReaderInterface();
    TReaderInterface(const TReaderInterface&) = delete;
    TReaderInterface& operator=(const TReaderInterface&) = delete;

    // True when a device was read. RomString is emptied first and receives the card number only
    // when the device is accepted; with ValidateCRC a ROM whose CRC byte does not match is
    // refused. A failed read leaves FamilyCode, RomCRC, CRCCalculated and FamilyType as they were;
    // a CRC refusal updates the first three but not FamilyType.
    //
    // A session the library reports broken is closed and a new one opened on a later call (see
    // TSessionRecovery); until then ReadRom answers false without touching the adapter.
    bool ReadRom(QString& RomString, bool ValidateCRC);
    // What a polling window should tell the operator about the adapter since it last asked.
    TAdapterNews TakeAdapterNews();
    // Opens the session of a reader made with TSessionStart::Later; returns ReaderLoaded.
    bool OpenSession();
    // Ends the session and opens a new one on the same port; returns ReaderLoaded.
    bool RestartSession();
    // Writes 32 bytes at a memory address (0 to 511 on a DS1993). `data` is the transfer buffer
    // and holds the last bytes read afterwards; refill it for every page.
    bool WritePage(int32_t address, std::vector<uint8_t>& data);
    // Reads 32 bytes from a memory address into `data`.
    void ReadPage(int32_t address, std::vector<uint8_t>& data);
    // One step of the 1-Wire CRC-8: thecrc = table[checkbyte XOR thecrc].
    static void CalcCRC(uint8_t checkbyte, uint8_t& thecrc);

    QString ReaderIdent;
    std::unique_ptr<TMaximReader> MaximReader; // exists only for the reader "MaximReader"
    QString Arc;
    int32_t Adapter = 0;
    int32_t Port = 0;
    uint8_t FamilyCode = 0;    // ROM byte 0 of the last device read
    uint8_t RomCRC = 0;        // ROM byte 7 of the last device read
    uint8_t CRCCalculated = 0; // CRC-8 over ROM bytes 0 to 6 of the last device read
    QString FamilyType;        // family name of the last device read
    bool ReaderLoaded = false; // the session's setup succeeded at creation

private:
    bool IsMaximReader() const;
    std::unique_ptr<TSessionRecovery> FRecovery;
    void Release();
};
