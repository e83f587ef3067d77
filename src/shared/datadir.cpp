#include "shared/datadir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

QString DataDirectory() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir::cleanPath(base + "/Tessaloom/VYR/Standalone");
}

QString ProgramDirectory() {
    return QCoreApplication::applicationDirPath();
}

QString SettingsFileName() {
    return DataDirectory() + "/vyrstandalone.ini";
}

void CreateDataFolders() {
    const QString dataDir = DataDirectory();
    const bool existed = QDir(dataDir).exists();
    QDir().mkpath(dataDir + "/data");
    QDir().mkpath(dataDir + "/profiles");
    if (!existed)
        QFile::setPermissions(dataDir, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                           QFileDevice::ExeOwner);
}
