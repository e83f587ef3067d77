#include "profiles/VYRStandProfile.h"

#include "shared/datadir.h"
#include "shared/errors.h"
#include "shared/ini.h"
#include "shared/translation.h"

#include <QDir>
#include <QFileInfo>

TVYRStandProfile::TVYRStandProfile(const QString& FileName)
    : ProfileName(_("New profile")), ProfileFileName(FileName) {}

bool TVYRStandProfile::LoadINI() {
    const IniFile ini(ProfileFileName);
    ProfileName = ini.ReadString("profile", "name", QString());
    if (ProfileName.isEmpty())
        return false;
    DBFileName = ini.ReadString("database", "filename", QString());
    ServerConnection = ini.ReadString("database", "connection", QString());
    return true;
}

void TVYRStandProfile::SaveToINI(const QString& FileName) const {
    // One replacement: a crash must never pair the new name with the old database or the reverse.
    // A profile on a file keeps the files of older versions, which know no connection key.
    const IniFile ini(FileName);
    QList<TIniEntry> entries{{"profile", "name", ProfileName},
                             {"database", "filename", DBFileName}};
    if (!ServerConnection.isEmpty() || ini.ValueExists("database", "connection"))
        entries.append({"database", "connection", ServerConnection});
    ini.WriteStrings(entries);
}

QString ProfileFileStem(const QString& name) {
    QString stem;
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (u >= 'A' && u <= 'Z')
            stem += QChar(u - 'A' + 'a');
        else if ((u >= 'a' && u <= 'z') || (u >= '0' && u <= '9'))
            stem += c;
    }
    return stem;
}

QString ResolveDatabasePath(const QString& dbFileName) {
    QString path = dbFileName;
    path.replace('\\', '/');
    if (path.isEmpty())
        return path;
    if (QFileInfo(path).isRelative())
        path = DataDirectory() + "/" + path;
    return QDir::cleanPath(path);
}

QStringList LoadProfiles(TProfileList& profiles) {
    QStringList problems;
    profiles.clear();
    const QString folder = DataDirectory() + "/profiles";
    const QStringList entries = QDir(folder).entryList(
        {"*.ini"}, QDir::AllEntries | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString& entry : entries) {
        auto profile = std::make_unique<TVYRStandProfile>(folder + "/" + entry);
        try {
            if (profile->LoadINI())
                profiles.push_back(std::move(profile));
        } catch (const VyrError& error) {
            // One unreadable file (a FIFO, a huge file) must not keep the other sites closed.
            problems << error.Message();
        }
    }
    return problems;
}
