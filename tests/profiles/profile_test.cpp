#include "profiles/VYRStandProfile.h"
#include "shared/datadir.h"
#include "shared/ini.h"
#include "shared/publictypes.h"

#include "testenv.h"

#include <QDir>

namespace {

TEST(ProfileFileStem, KeepsOnlyLowerCasedAsciiLettersAndDigits) {
    const struct {
        const char* name;
        const char* stem;
    } cases[] = {
        {"Site 1", "site1"},
        {"site-1", "site1"},
        {"SITE1", "site1"},
        {"Zoë's Garage", "zosgarage"},
        {"ÉÀÜ!?", ""},
        {"", ""},
        {"Hal 2 / Deur 12", "hal2deur12"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProfileFileStem(QString::fromUtf8(c.name)), c.stem) << c.name;
}

class ProfileFilesTest : public HomeTest {
protected:
    QString Folder() const { return DataDirectory() + "/profiles"; }
    void Write(const QString& file, const QByteArray& text) {
        ASSERT_TRUE(WriteTextFile(Folder() + "/" + file, text));
    }
};

TEST_F(ProfileFilesTest, LoadProfilesTakesNamedFilesSortedByFileName) {
    Write("zeta.ini", "[profile]\nname=Zeta\n[database]\nfilename=data\\zeta.accdb\n");
    Write("alpha.ini", "[Profile]\nNAME=Alpha\n");
    Write("noname.ini", "[profile]\nname=\n[database]\nfilename=x.accdb\n");
    Write("nokey.ini", "[database]\nfilename=x.accdb\n");
    Write("other.txt", "[profile]\nname=Not a profile file\n");
    Write("mid.ini", "[profile]\nname=Zeta\n");

    TProfileList profiles;
    LoadProfiles(profiles);
    ASSERT_EQ(profiles.size(), 3u);
    EXPECT_EQ(profiles[0]->ProfileName, "Alpha");
    EXPECT_EQ(profiles[1]->ProfileName, "Zeta");
    EXPECT_EQ(profiles[1]->ProfileFileName, Folder() + "/mid.ini");
    EXPECT_EQ(profiles[2]->DBFileName, "data\\zeta.accdb");
}

TEST_F(ProfileFilesTest, AnEmptyFolderGivesAnEmptyList) {
    QDir().mkpath(Folder());
    TProfileList profiles;
    LoadProfiles(profiles);
    EXPECT_TRUE(profiles.empty());
}

TEST_F(ProfileFilesTest, SaveWritesBothKeysAndKeepsTheRest) {
    Write("site.ini", "; made by hand\n[profile]\nname=Old\n[extra]\nkeep=1\n");
    TVYRStandProfile profile(Folder() + "/site.ini");
    EXPECT_EQ(profile.ProfileName, "New profile");
    profile.ProfileName = "Site \"1\"";
    profile.DBFileName = "data/site1.accdb";
    profile.SaveToINI(profile.ProfileFileName);

    TVYRStandProfile again(Folder() + "/site.ini");
    ASSERT_TRUE(again.LoadINI());
    EXPECT_EQ(again.ProfileName, "Site \"1\"");
    EXPECT_EQ(again.DBFileName, "data/site1.accdb");
    EXPECT_EQ(IniFile(Folder() + "/site.ini").ReadString("extra", "keep", ""), "1");
    EXPECT_TRUE(ReadWholeFile(Folder() + "/site.ini").startsWith("; made by hand"));
}

// A profile moved to a server names the server and no longer its file; one moved back names its
// file again. A profile on a file is written as before, without a connection key.
TEST_F(ProfileFilesTest, TheDatabaseIsAFileOrAServerAndSavingSwitchesBetweenThem) {
    QDir().mkpath(Folder());
    const QString file = Folder() + "/site.ini";
    const struct {
        const char* fileName;
        const char* connection;
    } steps[] = {{"data/site.accdb", ""}, {"", "service=site"}, {"data/site.accdb", ""}};
    for (const auto& step : steps) {
        SCOPED_TRACE(std::string(step.fileName) + step.connection);
        TVYRStandProfile profile(file);
        profile.ProfileName = "Site";
        profile.DBFileName = step.fileName;
        profile.ServerConnection = step.connection;
        profile.SaveToINI(file);
        TVYRStandProfile again(file);
        ASSERT_TRUE(again.LoadINI());
        EXPECT_EQ(again.DBFileName, step.fileName);
        EXPECT_EQ(again.ServerConnection, step.connection);
        if (&step == &steps[0]) {
            EXPECT_FALSE(ReadWholeFile(file).contains("connection"));
        }
    }
}

TEST_F(ProfileFilesTest, DatabaseNamesResolveAgainstTheDataDirectory) {
    const QString data = DataDirectory();
    EXPECT_EQ(ResolveDatabasePath("data\\site1.accdb"), data + "/data/site1.accdb");
    EXPECT_EQ(ResolveDatabasePath("data/site1.accdb"), data + "/data/site1.accdb");
    EXPECT_EQ(ResolveDatabasePath("/srv/vyr/site.accdb"), "/srv/vyr/site.accdb");
    EXPECT_EQ(ResolveDatabasePath(""), "");
}

} // namespace
