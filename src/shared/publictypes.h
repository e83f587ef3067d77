#pragma once

#include <QDateTime>
#include <QString>
#include <QVector>

#include <cstdint>
#include <memory>
#include <vector>

// Adapter settings handed to every reader interface created during the run.
struct TAppSettings {
    QString DriverArc = "32";
    int32_t DriverAdapter = 0;
    int32_t DriverPort = 0;
};

// The run's reader settings: read from the settings file at start-up, changed by the adapter
// dialog. One object lives for the run; the windows that make readers are handed it.
struct TRunSettings {
    QString ReaderName = "MaximReader";
    TAppSettings Driver;
};

// One controller as the main window lists it.
class TStandController {
public:
    int32_t ConID = 0;
    QString ConType;
    QString ConName;
    QString ConCode;
    uint8_t ConByte1 = 0;
    uint8_t ConByte2 = 0;
    int32_t ListNum = 0;
    int32_t CardCount = 0;
    bool ChangesMade = false;
};
using PStandController = TStandController*;

// One cardholder as the cardholder windows hold it.
class TCardHolder {
public:
    QString CardNumber;
    QString CardHolder;
    QString CardCustom1;
    QString CardCustom2;
    QString CardCustom3;
    QString CardCustom4;
    QDateTime CardInactive;
    QDateTime CardAdded;
    QDateTime CardLastEdit;
    QVector<int32_t>
        CardZones; // one zone per controller, in the order of the session's controller records
};
