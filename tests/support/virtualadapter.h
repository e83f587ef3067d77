#pragma once

#include "shared/publictypes.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>

// The virtual 1-Wire adapter for end-to-end tests: `ibutton-sim serve` (from beside the test
// executable) on a pseudo-terminal in a temporary folder, with its own state folder; or the USB
// one the test runs under. Creating it
// also points the program at it: $XDG_CONFIG_HOME/ibfs32.ini maps port 1 to the terminal, and
// Settings, the run settings to hand the windows, select adapter 5, port 1. So create it after the
// test's private home is set up. The simulator is stopped when the object goes.
//
// Devices are given as 16 hexadecimal digits (family code first, CRC last); RomOf builds one.
class VirtualAdapter {
public:
    VirtualAdapter();
    // The virtual USB adapter (a DS9490) of a test that runs under `ibutton-sim serve-usb` (see
    // RunsUnderVirtualUsb): its state folder, and Settings selecting adapter 6, port 1.
    struct Usb {};
    explicit VirtualAdapter(Usb);
    // libusb only sees the virtual USB adapter in a process started under the simulator. Under
    // it this is true. Otherwise it runs the current test again under it, fails the test here
    // when it failed there, and is false: the caller returns.
    static bool RunsUnderVirtualUsb();
    ~VirtualAdapter();
    VirtualAdapter(const VirtualAdapter&) = delete;
    VirtualAdapter& operator=(const VirtualAdapter&) = delete;

    // False when the simulator did not come up; Problem() says why.
    bool Ready() const { return FReady; }
    QString Problem() const { return FProblem; }
    QString Link() const;
    QString StateDir() const;

    TRunSettings Settings;

    // Lays a device on the adapter (a DS1993 gets a zero-filled memory file unless it has one).
    bool Put(const QString& rom);
    // Takes it away again; its memory file stays.
    bool Remove(const QString& rom);
    // The ROMs lying on the adapter.
    QStringList List() const;
    // The 512 bytes of a DS1993's memory file; empty when there is none.
    QByteArray Memory(const QString& rom) const;
    // Replaces a DS1993's memory file (for instance with a pattern a test can recognise).
    bool SetMemory(const QString& rom, const QByteArray& bytes);

    // Stalls the serial adapter (the simulator stops answering, as a paused adapter does) or lets
    // it go on; what the program sent meanwhile is answered afterwards, as on a real line.
    bool Stall(bool stalled);

    // How long the library waits for the serial adapter's answer (ibfs32.ini's timeout), from the
    // next session on. The simulator is a process of its own on a machine that may be busy with
    // anything else, so it is given all the time it may need; only a test that waits for a stalled
    // adapter to be given up sets a shorter limit, and only for the session that meets the stall:
    // still long beside any pause of a busy host, short enough to be waited out.
    static constexpr int PatientTimeout = 30000;
    static constexpr int StallTimeout = 1000;
    bool SetAnswerTimeout(int milliseconds);

    // The simulator's traffic counters so far.
    struct Traffic {
        quint64 BytesIn = 0;
        quint64 BytesOut = 0;
        quint64 RoundTrips = 0;
        quint64 Resets = 0;
    };
    Traffic Counters() const;

    // The ROM text of a device: family code, six serial bytes (least significant first, as on
    // the bus) and the CRC-8 of those seven.
    static QString RomOf(uint8_t family, const QByteArray& serialLeastSignificantFirst);
    // The card number the program reads from a ROM (ROM bytes 1 to 5).
    static QString CardNumberOf(const QString& rom) { return rom.mid(2, 10); }

private:
    static QString Simulator();
    bool RunTool(const QStringList& arguments, QByteArray* output = nullptr) const;

    QTemporaryDir FFolder;
    QString FStateDir;
    QProcess FServer;
    bool FReady = false;
    QString FProblem;
};
