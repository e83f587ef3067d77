#include "shared/datadir.h"
#include "shared/ini.h"
#include "shared/settings.h"

#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

class SettingsTest : public HomeTest {
protected:
    IniFile File() const { return IniFile(SettingsFileName()); }
};

TEST_F(SettingsTest, AnEmptyFileGivesTheDefaults) {
    EXPECT_EQ(Settings::Language(), "en");
    EXPECT_EQ(Settings::Reader(), "MaximReader");
    const TAppSettings driver = Settings::Driver();
    EXPECT_EQ(driver.DriverArc, "32");
    EXPECT_EQ(driver.DriverAdapter, 0);
    EXPECT_EQ(driver.DriverPort, 0);
    EXPECT_EQ(Settings::LastProfile(), "");
    EXPECT_EQ(Settings::CustomCaptions(),
              Settings::TCustomCaptions({"Custom 1", "Custom 2", "Custom 3", "Custom 4"}));
    EXPECT_FALSE(Settings::ReverseUserInput());
    EXPECT_FALSE(QFile::exists(SettingsFileName()));
}

// The names in the file are what other copies and older files use: each setter must land on
// exactly its section and key, and each getter must read them back from a file written by hand.
TEST_F(SettingsTest, EveryKeyHasItsSectionAndName) {
    ASSERT_TRUE(WriteTextFile(SettingsFileName(), "[SETTINGS]\nLanguage=\nreader=Other\n"
                                                  "custom1=Badge\ncustom4=Car\n[driver]\narc=16\n"
                                                  "adapter=6\nport=3\n[profiles]\n"
                                                  "lastprofile=b.ini\n[cardnumbers]\n"
                                                  "reverseuserinput=1\n"));
    EXPECT_EQ(Settings::Language(), "en") << "an empty language counts as English";
    EXPECT_EQ(Settings::Reader(), "Other");
    EXPECT_EQ(Settings::Driver().DriverArc, "16");
    EXPECT_EQ(Settings::Driver().DriverAdapter, 6);
    EXPECT_EQ(Settings::Driver().DriverPort, 3);
    EXPECT_EQ(Settings::LastProfile(), "b.ini");
    EXPECT_EQ(Settings::CustomCaption(1), "Badge");
    EXPECT_EQ(Settings::CustomCaption(2), "Custom 2");
    EXPECT_EQ(Settings::CustomCaption(4), "Car");
    EXPECT_TRUE(Settings::ReverseUserInput());

    ASSERT_TRUE(QFile::remove(SettingsFileName()));
    Settings::SetLanguage("nl");
    Settings::SetDriver({"32", 5, 2});
    Settings::SetLastProfile("a.ini");
    Settings::SetCustomCaptions({"One", "Two", "Three", "Four"});
    Settings::SetReverseUserInput(true);
    const IniFile file = File();
    const struct {
        const char* section;
        const char* key;
        const char* value;
    } stored[] = {
        {"settings", "language", "nl"},       {"driver", "arc", "32"},
        {"driver", "adapter", "5"},           {"driver", "port", "2"},
        {"profiles", "lastprofile", "a.ini"}, {"settings", "custom1", "One"},
        {"settings", "custom2", "Two"},       {"settings", "custom3", "Three"},
        {"settings", "custom4", "Four"},      {"cardnumbers", "reverseuserinput", "1"},
    };
    for (const auto& entry : stored)
        EXPECT_EQ(file.ReadString(entry.section, entry.key, "-"), entry.value)
            << entry.section << "/" << entry.key;
}

// Cardholder names live under the data directory: whatever the umask, nobody else may enter it.
TEST_F(SettingsTest, DataFoldersArePrivateWhateverTheUmask) {
    const QString base = Home->Path() + "/data";
    const mode_t old = ::umask(0);
    CreateDataFolders();
    ::umask(old);
    for (const QString& folder : {base + "/Tessaloom", base + "/Tessaloom/VYR", DataDirectory(),
                                  DataDirectory() + "/data", DataDirectory() + "/profiles"}) {
        SCOPED_TRACE(folder.toStdString());
        struct stat status {};
        ASSERT_EQ(::stat(QFile::encodeName(folder).constData(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0700u);
    }
}

TEST_F(SettingsTest, AnOpenDataDirectoryIsTightened) {
    ASSERT_TRUE(QDir().mkpath(DataDirectory()));
    ASSERT_EQ(::chmod(QFile::encodeName(DataDirectory()).constData(), 0755), 0);
    CreateDataFolders();
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(DataDirectory()).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
}

} // namespace
