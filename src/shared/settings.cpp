#include "shared/settings.h"

#include "shared/datadir.h"
#include "shared/ini.h"

namespace Settings {

namespace {

IniFile File() {
    return IniFile(SettingsFileName());
}

QString CustomKey(int field) {
    return "custom" + QString::number(field);
}

} // namespace

QString Language() {
    const QString language = File().ReadString("settings", "language", "en");
    return language.isEmpty() ? QStringLiteral("en") : language;
}

void SetLanguage(const QString& language) {
    File().WriteString("settings", "language", language);
}

QString Reader() {
    return File().ReadString("settings", "reader", "MaximReader");
}

TAppSettings Driver() {
    const IniFile file = File();
    TAppSettings driver;
    driver.DriverArc = file.ReadString("driver", "arc", driver.DriverArc);
    driver.DriverAdapter = file.ReadInteger("driver", "adapter", driver.DriverAdapter);
    driver.DriverPort = file.ReadInteger("driver", "port", driver.DriverPort);
    return driver;
}

void SetDriver(const TAppSettings& driver) {
    File().WriteStrings({{"driver", "arc", driver.DriverArc},
                         {"driver", "adapter", QString::number(driver.DriverAdapter)},
                         {"driver", "port", QString::number(driver.DriverPort)}});
}

QString LastProfile() {
    return File().ReadString("profiles", "lastprofile", QString());
}

void SetLastProfile(const QString& profileFileName) {
    File().WriteString("profiles", "lastprofile", profileFileName);
}

QString CustomCaption(int field) {
    return File().ReadString("settings", CustomKey(field), "Custom " + QString::number(field));
}

TCustomCaptions CustomCaptions() {
    TCustomCaptions captions;
    for (int field = 1; field <= CustomFieldCount; ++field)
        captions[size_t(field - 1)] = CustomCaption(field);
    return captions;
}

void SetCustomCaptions(const TCustomCaptions& captions) {
    QList<TIniEntry> entries;
    for (int field = 1; field <= CustomFieldCount; ++field)
        entries.append({"settings", CustomKey(field), captions[size_t(field - 1)]});
    File().WriteStrings(entries);
}

bool ReverseUserInput() {
    return File().ReadBool("cardnumbers", "reverseuserinput", false);
}

void SetReverseUserInput(bool reverse) {
    File().WriteBool("cardnumbers", "reverseuserinput", reverse);
}

} // namespace Settings
