#include "db/MyDBConnector.h"
#include "profiles/VYRStandProfile.h"
#include "profiles/login.h"
#include "shared/datadir.h"
#include "shared/ini.h"
#include "shared/messagebox.h"
#include "shared/publictypes.h"

#include "testenv.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>

namespace {

class LoginTest : public HomeTest {
protected:
    void SetUp() override {
        HomeTest::SetUp();
        QDir().mkpath(DataDirectory() + "/profiles");
        QDir().mkpath(DataDirectory() + "/data");
    }
    void TearDown() override {
        ReleaseDBConnection();
        ProfileList.clear();
        TfrmLogin::OpenProfileManagement = FOpenManagement;
        TfrmLogin::MakeWritable = MakeDatabaseWritable;
        HomeTest::TearDown();
    }
    const std::function<void(QWidget*)> FOpenManagement = TfrmLogin::OpenProfileManagement;
    void MakeProfile(const QString& stem, const QString& name, bool withDatabase = true) {
        if (withDatabase) {
            ASSERT_TRUE(QFile::copy(ProgramDirectory() + "/default.accdb", Database(stem)));
        }
        IniFile ini(DataDirectory() + "/profiles/" + stem + ".ini");
        ini.WriteString("profile", "name", name);
        ini.WriteString("database", "filename", "data\\" + stem + ".accdb");
    }
    QString Database(const QString& stem) const {
        return DataDirectory() + "/data/" + stem + ".accdb";
    }
    // Picks an item the way the operator does, which runs the selection change.
    static void Pick(TfrmLogin& login, int index) {
        login.cboProfile->setCurrentIndex(index);
        emit login.cboProfile->activated(index);
    }
};

TEST_F(LoginTest, SelectsTheLastProfileByFileNameAndConnectsIt) {
    MakeProfile("a", "Same");
    MakeProfile("b", "Same");
    IniFile(SettingsFileName()).WriteString("profiles", "lastprofile", "b.ini");
    LoadProfiles();
    TfrmLogin login;
    EXPECT_EQ(login.cboProfile->count(), 2);
    EXPECT_EQ(login.cboProfile->currentIndex(), 1);
    ASSERT_TRUE(DBConnection);
    EXPECT_TRUE(DBConnection->IsConnected());
    EXPECT_EQ(QDir::currentPath(), DataDirectory());
}

TEST_F(LoginTest, AnUnknownLastProfileSelectsTheFirst) {
    MakeProfile("a", "Alpha");
    MakeProfile("b", "Beta");
    IniFile(SettingsFileName()).WriteString("profiles", "lastprofile", "A.ini");
    LoadProfiles();
    TfrmLogin login;
    EXPECT_EQ(login.cboProfile->currentIndex(), 0);
}

TEST_F(LoginTest, OkRemembersTheChoice) {
    MakeProfile("a", "Alpha");
    MakeProfile("b", "Beta");
    LoadProfiles();
    TfrmLogin login;
    Pick(login, 1);
    QTest::mouseClick(login.cmdOK, Qt::LeftButton);
    EXPECT_EQ(login.result(), QDialog::Accepted);
    EXPECT_EQ(SelectedProfileIndex, 1);
    EXPECT_EQ(IniFile(SettingsFileName()).ReadString("profiles", "lastprofile", ""), "b.ini");
}

TEST_F(LoginTest, ChangingTheSelectionReplacesTheConnection) {
    MakeProfile("a", "Alpha");
    MakeProfile("b", "Beta");
    LoadProfiles();
    TfrmLogin login;
    TMyDBConnector* first = DBConnection.get();
    bool firstDisconnected = false;
    first->OnStateDisconnected() = [&] { firstDisconnected = true; };
    Pick(login, 1);
    EXPECT_TRUE(firstDisconnected);
    ASSERT_TRUE(DBConnection);
    EXPECT_TRUE(DBConnection->ConnectionString.contains("b.accdb"));
    EXPECT_TRUE(DBConnection->IsConnected());
}

TEST_F(LoginTest, AReadOnlyDatabaseIsMadeWritableSilently) {
    MakeProfile("a", "Alpha");
    QFile::setPermissions(Database("a"), QFileDevice::ReadOwner);
    LoadProfiles();
    TfrmLogin login;
    EXPECT_TRUE(QFile::permissions(Database("a")) & QFileDevice::WriteOwner);
    EXPECT_TRUE(MessageBoxes::ShownMessages().isEmpty());
    EXPECT_TRUE(DBConnection->IsConnected());
}

TEST_F(LoginTest, ADatabaseThatStaysReadOnlyIsReportedAndStillConnected) {
    MakeProfile("a", "Alpha");
    QString asked;
    TfrmLogin::MakeWritable = [&](const QString& path) {
        asked = path;
        return false;
    };
    LoadProfiles();
    TfrmLogin login;
    EXPECT_EQ(asked, Database("a"));
    EXPECT_EQ(MessageBoxes::ShownTexts(),
              QStringList{"The database file is read-only and changing the attributes failed!\n\n"
                          "Make sure the database is writeable!"});
    EXPECT_TRUE(DBConnection->IsConnected());
}

TEST_F(LoginTest, AMissingDatabaseLeavesAClosedConnectionWithItsReason) {
    MakeProfile("a", "Alpha", false);
    LoadProfiles();
    TfrmLogin login;
    ASSERT_TRUE(DBConnection);
    EXPECT_FALSE(DBConnection->IsConnected());
    EXPECT_FALSE(DBConnection->GetLastError().isEmpty());
    EXPECT_FALSE(QFile::exists(Database("a"))) << "connecting must not create a database";
    EXPECT_TRUE(MessageBoxes::ShownMessages().isEmpty());
}

TEST_F(LoginTest, WithoutProfilesNothingConnectsAndOkIsRefused) {
    LoadProfiles();
    TfrmLogin login;
    EXPECT_FALSE(DBConnection);
    EXPECT_FALSE(login.cmdOK->isEnabled());
    login.cmdOKClick();
    EXPECT_NE(login.result(), QDialog::Accepted);
    EXPECT_FALSE(QFile::exists(SettingsFileName()));
}

TEST_F(LoginTest, ManagingProfilesReloadsTheList) {
    MakeProfile("a", "Alpha");
    LoadProfiles();
    TfrmLogin login;
    TfrmLogin::OpenProfileManagement = [this](QWidget*) { MakeProfile("b", "Beta"); };
    QTest::mouseClick(login.cmdManageProfiles, Qt::LeftButton);
    EXPECT_EQ(login.cboProfile->count(), 2);
    EXPECT_EQ(login.cboProfile->itemText(1), "Beta");
    EXPECT_EQ(login.cboProfile->currentIndex(), 0);
}

} // namespace
