#pragma once

#include "fakedesktop.h"

#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// A private home for one test: fresh XDG data and config folders, so nothing a test writes can
// reach another test or the developer's own data. The process-wide home set up by the test main
// stays behind it.
class TempHome {
public:
    TempHome();
    ~TempHome();
    QString Path() const { return FDir.path(); }
    QString DataDir() const;   // the program's data directory inside this home
    QString ConfigDir() const; // $XDG_CONFIG_HOME

private:
    QTemporaryDir FDir;
    QByteArray FOldData;
    QByteArray FOldConfig;
};

// Fixture base: every test gets a TempHome, a clean message-box record and a desktop of its own
// (which outlives the windows a derived fixture holds).
class HomeTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::unique_ptr<TempHome> Home;
    TFakeDesktop Desktop;
};

// Writes a whole text file (parents created); returns false on failure.
bool WriteTextFile(const QString& path, const QByteArray& content);
QByteArray ReadWholeFile(const QString& path);
