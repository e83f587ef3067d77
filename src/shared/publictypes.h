#pragma once

#include <QDateTime>
#include <QString>
#include <QVector>

#include <cstdint>
#include <memory>
#include <vector>

class QPushButton;
class TMyDBConnector;
class TVYRStandProfile;

// Adapter settings handed to every reader interface created during the run.
struct TAppSettings {
    QString DriverArc = "32";
    int32_t DriverAdapter = 0;
    int32_t DriverPort = 0;
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
    QPushButton* Button1 = nullptr; // owned by the list view
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
    QVector<int32_t> CardZones; // one zone per controller, in ControllerList order
};

// Run-wide objects. The main window creates and releases them; windows use them by reference.
extern TAppSettings AppSettings;
extern QString ReaderName;
extern std::vector<std::unique_ptr<TVYRStandProfile>> ProfileList;
extern int32_t SelectedProfileIndex;
extern std::unique_ptr<TMyDBConnector> DBConnection;
extern std::vector<std::unique_ptr<TStandController>> ControllerList;

// Disconnects and releases the run's database connector, when there is one.
void ReleaseDBConnection();
