#include "shared/datadir.h"
#include "shared/messagebox.h"
#include "shared/translation.h"

#include "app/application.h"

#include <QApplication>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    // Never touch the developer's own data, whatever a test forgets to set up.
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    qputenv("HOME", home.path().toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleMock(&argc, argv);
    TApplication app(argc, argv); // the real error report, so tests see what the operator sees
    QApplication::setApplicationName("VYR Standalone");
    InitTranslation(ProgramDirectory() + "/locale");
    UseLanguage("en");
    MessageBoxes::SetAnsweringMode(true);
    return RUN_ALL_TESTS();
}
