#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

// A controller's two option bytes as the controller dialog shows them.
//
// ConByte1: bit 1 always set; bit 2 set when the relay time is NOT enabled; bit 3 external LED;
// bit 4 invert. Bits 0 and 5 to 7 mean nothing to the controller and are never written.
// ConByte2: the relay time as a count n of quarter seconds, 1 to 255; 0 means none was chosen.
struct TControllerOptions {
    bool EnableRelais = true;
    bool LEDExtern = false;
    bool Invert = false;
    // Position in the relay-time list, counted from 0 (n - 1); -1 when no item is selected.
    int RelaisTimeIndex = DefaultRelaisTimeIndex;

    static constexpr int RelaisTimeCount = 255;
    static constexpr int DefaultRelaisTimeIndex = 3; // n = 4, one second

    static TControllerOptions FromBytes(uint8_t conByte1, uint8_t conByte2);
    uint8_t ConByte1() const;
    uint8_t ConByte2() const;
};

// The relay-time list items, n / 4 seconds with two decimals for n = 1 to 255, written with the
// given decimal separator ("0.25" ... "63.75" with ".").
QString RelaisTimeText(int n, const QString& decimalSeparator);
QStringList RelaisTimeItems(const QString& decimalSeparator);
