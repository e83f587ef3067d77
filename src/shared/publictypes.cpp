#include "shared/publictypes.h"

#include "db/MyDBConnector.h"
#include "profiles/VYRStandProfile.h"

TAppSettings AppSettings;
QString ReaderName = "MaximReader";
std::vector<std::unique_ptr<TVYRStandProfile>> ProfileList;
int32_t SelectedProfileIndex = -1;
std::unique_ptr<TMyDBConnector> DBConnection;
std::vector<std::unique_ptr<TStandController>> ControllerList;

void ReleaseDBConnection() {
    if (DBConnection) {
        DBConnection->Disconnect();
        DBConnection.reset();
    }
}
