#include "app/application.h"

#include "shared/errors.h"
#include "shared/messagebox.h"

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        MessageBoxes::ShowApplicationError(activeWindow(), ErrorText(error));
    }
    return false;
}
