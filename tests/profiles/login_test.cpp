#include "db/MyDBConnector.h"
#include "profiles/VYRStandProfile.h"
#include "profiles/login.h"
#include "shared/datadir.h"
#include "shared/ini.h"
#include "shared/messagebox.h"
#include "shared/publictypes.h"

#include "modal.h"
#include "testenv.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QPushButton>
#include <QTest>

#include <unistd.h>

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
        HomeTest::TearDown();
    }
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
        Control<QComboBox>(login, "cboProfile").setCurrentIndex(index);
        emit Control<QComboBox>(login, "cboProfile").activated(index);
    }
};

TEST_F(LoginTest, SelectsTheLastProfileByFileNameAndConnectsIt) {
    MakeProfile("a", "Same");
    MakeProfile("b", "Same");
    IniFile(SettingsFileName()).WriteString("profiles", "lastprofile", "b.ini");
    LoadProfiles();
    TfrmLogin login(Desktop);
    EXPECT_EQ(Control<QComboBox>(login, "cboProfile").count(), 2);
    EXPECT_EQ(Control<QComboBox>(login, "cboProfile").currentIndex(), 1);
    ASSERT_TRUE(DBConnection);
    EXPECT_TRUE(DBConnection->IsConnected());
    EXPECT_EQ(QDir::currentPath(), DataDirectory());
}

TEST_F(LoginTest, AnUnknownLastProfileSelectsTheFirst) {
    MakeProfile("a", "Alpha");
    MakeProfile("b", "Beta");
    IniFile(SettingsFileName()).WriteString("profiles", "lastprofile", "A.ini");
    LoadProfiles();
    TfrmLogin login(Desktop);
    EXPECT_EQ(Control<QComboBox>(login, "cboProfile").currentIndex(), 0);
}

TEST_F(LoginTest, OkRemembersTheChoice) {
    MakeProfile("a", "Alpha");
    MakeProfile("b", "Beta");
    LoadProfiles();
    TfrmLogin login(Desktop);
    Pick(login, 1);
    QTest::mouseClick(&Control<QPushButton>(login, "cmdOK"), Qt::LeftButton);
    EXPECT_EQ(login.result(), QDialog::Accepted);
    EXPECT_EQ(SelectedProfileIndex, 1);
    EXPECT_EQ(IniFile(SettingsFileName()).ReadString("profiles", "lastprofile", ""), "b.ini");
}

TEST_F(LoginTest, ChangingTheSelectionReplacesTheConnection) {
    MakeProfile("a", "Alpha");
    MakeProfile("b", "Beta");
    LoadProfiles();
    TfrmLogin login(Desktop);
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
    TfrmLogin login(Desktop);
    ASSERT_EQ(Desktop.Calls(TFakeDesktop::TService::Writable).size(), 1);
    EXPECT_EQ(Desktop.Calls(TFakeDesktop::TService::Writable)[0].Path, Database("a"));
    EXPECT_TRUE(QFile::permissions(Database("a")) & QFileDevice::WriteOwner);
    EXPECT_TRUE(MessageBoxes::ShownMessages().isEmpty());
    EXPECT_TRUE(DBConnection->IsConnected());
}

// A database that stays read-only would open and then fail on every save: it is refused, and the
// operator learns why when choosing it, not with an empty site.
TEST_F(LoginTest, ADatabaseThatStaysReadOnlyIsRefusedWithTheReasonOnOk) {
    MakeProfile("a", "Alpha");
    QFile::setPermissions(Database("a"), QFileDevice::ReadOwner);
    Desktop.WritableWorks = false;
    LoadProfiles();
    TfrmLogin login(Desktop);
    ASSERT_EQ(Desktop.Calls(TFakeDesktop::TService::Writable).size(), 1);
    EXPECT_EQ(Desktop.Calls(TFakeDesktop::TService::Writable)[0].Path, Database("a"));
    EXPECT_TRUE(MessageBoxes::ShownMessages().isEmpty()) << "browsing the list shows nothing";
    EXPECT_FALSE(DBConnection->IsConnected());
    Control<QPushButton>(login, "cmdOK").click();
    EXPECT_NE(login.result(), QDialog::Accepted);
    EXPECT_EQ(MessageBoxes::ShownTexts(),
              QStringList{"The database of profile Alpha cannot be opened:\n\n"
                          "The database file is read-only and changing the attributes failed!\n\n"
                          "Make sure the database is writeable!"});
}

TEST_F(LoginTest, AMissingDatabaseLeavesAClosedConnectionWithItsReason) {
    MakeProfile("a", "Alpha", false);
    LoadProfiles();
    TfrmLogin login(Desktop);
    ASSERT_TRUE(DBConnection);
    EXPECT_FALSE(DBConnection->IsConnected());
    EXPECT_FALSE(DBConnection->GetLastError().isEmpty());
    EXPECT_FALSE(QFile::exists(Database("a"))) << "connecting must not create a database";
    EXPECT_TRUE(MessageBoxes::ShownMessages().isEmpty());
}

TEST_F(LoginTest, WithoutProfilesNothingConnectsAndOkIsRefused) {
    LoadProfiles();
    TfrmLogin login(Desktop);
    EXPECT_FALSE(DBConnection);
    EXPECT_FALSE(Control<QPushButton>(login, "cmdOK").isEnabled());
    Control<QPushButton>(login, "cmdOK").click();
    EXPECT_NE(login.result(), QDialog::Accepted);
    EXPECT_FALSE(QFile::exists(SettingsFileName()));
}

TEST_F(LoginTest, TheEllipsisOpensProfileManagement) {
    MakeProfile("a", "Alpha");
    LoadProfiles();
    TfrmLogin login(Desktop);
    login.show();
    QString opened;
    WhenModal([&](QWidget* dialog) {
        opened = dialog->objectName();
        Control<QPushButton>(*dialog, "cmdClose").click();
    });
    QTest::mouseClick(&Control<QPushButton>(login, "cmdManageProfiles"), Qt::LeftButton);
    EXPECT_EQ(opened, "frmProfileManagement");
    EXPECT_EQ(Control<QComboBox>(login, "cboProfile").count(), 1);
}

TEST_F(LoginTest, ManagingProfilesReloadsTheList) {
    MakeProfile("a", "Alpha");
    LoadProfiles();
    TfrmLogin login(Desktop);
    login.show();
    WhenModal([this](QWidget* management) {
        MakeProfile("b", "Beta");
        Control<QPushButton>(*management, "cmdClose").click();
    });
    QTest::mouseClick(&Control<QPushButton>(login, "cmdManageProfiles"), Qt::LeftButton);
    EXPECT_EQ(Control<QComboBox>(login, "cboProfile").count(), 2);
    EXPECT_EQ(Control<QComboBox>(login, "cboProfile").itemText(1), "Beta");
    EXPECT_EQ(Control<QComboBox>(login, "cboProfile").currentIndex(), 0);
}

// A burst of selection changes (wheel, key repeat on a busy machine) is delivered while the dialog
// is still connecting the previous choice. Each case delivers its keys one at a time from inside
// the connection being made, the moment the pending events run. Whatever the sequence, the
// database connected must be the one of the profile shown, and OK must open exactly that profile.
TEST_F(LoginTest, QueuedSelectionChangesEndOnTheProfileShown) {
    MakeProfile("a", "Alpha");
    MakeProfile("b", "Beta");
    MakeProfile("c", "Gamma");
    MakeProfile("d", "Delta");
    const struct {
        const char* keys; // d = down, u = up, o = OK pressed
        int shown;
        bool accepted;
    } cases[] = {
        {"dd", 2, false}, {"ddd", 3, false}, {"dddu", 2, false},
        {"ddo", 2, true}, {"dudo", 1, true}, {"ddduuo", 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keys);
        QFile::remove(SettingsFileName()); // OK of the case before remembered its profile
        LoadProfiles();
        QByteArray pending(c.keys);
        TfrmLogin* dialog = nullptr;
        const auto deliverNext = [&] {
            if (!dialog || pending.isEmpty())
                return;
            const char key = pending.front();
            pending.remove(0, 1);
            if (key == 'o')
                QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdOK"), Qt::LeftButton);
            else
                QTest::keyClick(&Control<QComboBox>(*dialog, "cboProfile"),
                                key == 'd' ? Qt::Key_Down : Qt::Key_Up);
        };
        Desktop.WhileAsked = [&](const TFakeDesktop::TCall& call) {
            if (call.Service == TFakeDesktop::TService::Writable)
                deliverNext();
        };
        TfrmLogin login(Desktop);
        dialog = &login;
        deliverNext(); // the first key starts a connection, inside which the next one arrives
        EXPECT_TRUE(pending.isEmpty());
        EXPECT_EQ(Control<QComboBox>(login, "cboProfile").currentIndex(), c.shown);
        ASSERT_TRUE(DBConnection);
        EXPECT_TRUE(DBConnection->IsConnected());
        const QString shownFile = QString(QChar('a' + c.shown)) + ".accdb";
        EXPECT_TRUE(DBConnection->ConnectionString.contains(shownFile))
            << DBConnection->ConnectionString.toStdString();
        EXPECT_EQ(login.result() == QDialog::Accepted, c.accepted);
        if (c.accepted) {
            EXPECT_EQ(SelectedProfileIndex, c.shown);
        }
        Desktop.WhileAsked = nullptr;
        ReleaseDBConnection();
    }
}

// A profile whose database cannot be opened is said so once, with the connector's own reason,
// when the operator confirms it; the dialog stays, so another profile can be chosen.
TEST_F(LoginTest, AnUnopenableDatabaseIsExplainedOnceOnOk) {
    const struct {
        const char* name;
        std::function<void(const QString& path)> spoil;
        const char* reason;
    } cases[] = {
        {"missing", [](const QString& path) { QFile::remove(path); }, "Could not find file"},
        {"access",
         [](const QString& path) {
             QFile::remove(path);
             WriteTextFile(path, QByteArray(4, '\0') + "Standard ACE DB" + QByteArray(200, '\0'));
         },
         "Microsoft Access database"},
        {"text",
         [](const QString& path) {
             QFile::remove(path);
             WriteTextFile(path, "no database at all");
         },
         "is not a database this program can open"},
        {"foreign",
         [](const QString& path) { ASSERT_EQ(::chown(QFile::encodeName(path), 65534, 65534), 0); },
         "belongs to another user"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(DataDirectory() + "/profiles").removeRecursively();
        QDir(DataDirectory() + "/data").removeRecursively();
        QDir().mkpath(DataDirectory() + "/profiles");
        QDir().mkpath(DataDirectory() + "/data");
        QFile::remove(SettingsFileName());
        MessageBoxes::ClearShown();
        MakeProfile("a", "Alpha");
        MakeProfile("b", "Beta");
        c.spoil(Database("a"));
        LoadProfiles();
        TfrmLogin login(Desktop);
        EXPECT_TRUE(MessageBoxes::ShownMessages().isEmpty());
        Control<QPushButton>(login, "cmdOK").click();
        EXPECT_NE(login.result(), QDialog::Accepted);
        ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1);
        const QString shown = MessageBoxes::ShownTexts().first();
        EXPECT_TRUE(shown.startsWith("The database of profile Alpha cannot be opened:"));
        EXPECT_TRUE(shown.contains(c.reason)) << shown.toStdString();
        EXPECT_FALSE(QFile::exists(SettingsFileName())) << "a refused profile is not remembered";
        // The other profile still opens.
        Pick(login, 1);
        Control<QPushButton>(login, "cmdOK").click();
        EXPECT_EQ(login.result(), QDialog::Accepted);
        EXPECT_EQ(MessageBoxes::ShownMessages().size(), 1);
        ReleaseDBConnection();
    }
}

// A settings file that cannot be written must not lock the operator out: OK says once that the
// choice is not remembered and opens the profile anyway.
TEST_F(LoginTest, AReadOnlySettingsFileStillOpensTheProfile) {
    MakeProfile("a", "Alpha");
    MakeProfile("b", "Beta");
    ASSERT_TRUE(WriteTextFile(SettingsFileName(), "[profiles]\nlastprofile=a.ini\n"));
    QFile::setPermissions(SettingsFileName(), QFileDevice::ReadOwner);
    LoadProfiles();
    TfrmLogin login(Desktop);
    Pick(login, 1);
    Control<QPushButton>(login, "cmdOK").click();
    EXPECT_EQ(login.result(), QDialog::Accepted);
    EXPECT_EQ(SelectedProfileIndex, 1);
    ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1);
    EXPECT_EQ(MessageBoxes::ShownMessages().first().kind, MessageBoxes::Warning);
    EXPECT_TRUE(
        MessageBoxes::ShownTexts().first().startsWith("Unable to write to " + SettingsFileName()));
    EXPECT_EQ(ReadWholeFile(SettingsFileName()), QByteArray("[profiles]\nlastprofile=a.ini\n"));
}

TEST_F(LoginTest, TheWindowHasAFixedSize) {
    LoadProfiles();
    TfrmLogin login(Desktop);
    EXPECT_EQ(login.minimumSize(), login.maximumSize());
}

} // namespace
