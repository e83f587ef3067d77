// The main window's dealings with the 1-Wire reader: the adapter test and the adapter dialog.
#include "app/main.h"

#include "reader/CodeReaderInterface.h"
#include "reader/pickadapter.h"
#include "shared/errors.h"
#include "shared/publictypes.h"

bool TfrmMain::TestAdapter(QWidget* owner) const {
    Q_UNUSED(owner);
    try {
        // Always the one valid reader type: the test is about the adapter, not the setting.
        TReaderInterface reader("MaximReader", FSettings.Driver.DriverArc,
                                FSettings.Driver.DriverAdapter, FSettings.Driver.DriverPort);
        return reader.ReaderLoaded;
    } catch (const VyrError&) {
        return false; // no 1-Wire library: the same news for the operator
    }
}

void TfrmMain::mnuFileAdapterClick() {
    TfrmPickAdapter dialog(FSettings, this);
    dialog.exec();
}
