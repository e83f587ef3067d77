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
    return true;
}

void TVYRStandProfile::SaveToINI(const QString& FileName) const {
    // One replacement: a crash must never pair the new name with the old database or the reverse.
    IniFile(FileName).WriteStrings(
        {{"profile", "name", ProfileName}, {"database", "filename", DBFileName}});
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
