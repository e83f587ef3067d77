#include "shared/datadir.h"

#include "shared/safefile.h"

#include <QCoreApplication>
#include <QDir>
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
    // A folder that exists already is someone's choice, except our own data directory: it holds
    // cardholder names, so group and other rights on it are taken away.
    MakeFolderPrivate(dataDir);
    MakePrivateFolders(dataDir + "/data");
    MakePrivateFolders(dataDir + "/profiles");
}
