#include "app/application.h"
#include "app/main.h"
#include "shared/datadir.h"
#include "shared/errors.h"
#include "shared/messagebox.h"
#include "shared/publictypes.h"
#include "shared/systemdesktop.h"
#include "shared/translation.h"

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    QApplication::setApplicationName("VYR Standalone");
    QApplication::setApplicationDisplayName("VYR Standalone");
    // Lets the desktop tie the windows to the menu entry and its icon (the Wayland app id).
    QApplication::setDesktopFileName("com.tessaloom.vyrstandalone");
    InitTranslation(ProgramDirectory() + "/locale");

    TSystemDesktop desktop;
    TRunSettings settings;
    TfrmMain frmMain(desktop, settings);
    try {
        if (!frmMain.FormCreate())
            return 0;
    } catch (const VyrError& error) {
        // Start-up could not finish (no data directory, no log): say why instead of leaving a
        // window without a database behind.
        MessageBoxes::ShowApplicationError(nullptr, error.Message());
        return 1;
    }
    frmMain.show();
    return app.exec();
}
