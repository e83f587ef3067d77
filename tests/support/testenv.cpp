#include "testenv.h"

#include "shared/datadir.h"
#include "shared/messagebox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdlib>

TempHome::TempHome() : FOldData(qgetenv("XDG_DATA_HOME")), FOldConfig(qgetenv("XDG_CONFIG_HOME")) {
    QDir().mkpath(FDir.path() + "/data");
    QDir().mkpath(FDir.path() + "/config");
    qputenv("XDG_DATA_HOME", (FDir.path() + "/data").toUtf8());
    qputenv("XDG_CONFIG_HOME", (FDir.path() + "/config").toUtf8());
}

TempHome::~TempHome() {
    qputenv("XDG_DATA_HOME", FOldData);
    qputenv("XDG_CONFIG_HOME", FOldConfig);
}

QString TempHome::DataDir() const {
    return DataDirectory();
}

QString TempHome::ConfigDir() const {
    return FDir.path() + "/config";
}

void HomeTest::SetUp() {
    Home = std::make_unique<TempHome>();
    MessageBoxes::ClearShown();
}

void HomeTest::TearDown() {
    MessageBoxes::ClearShown();
    Home.reset();
}

bool WriteTextFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(content) == content.size();
}

QByteArray ReadWholeFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}
