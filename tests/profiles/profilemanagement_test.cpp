#include "db/MyDBConnector.h"
#include "db/MySQLite.h"
#include "profiles/VYRStandProfile.h"
#include "profiles/profileconnection.h"
#include "profiles/profilemanagement.h"
#include "profiles/profilesession.h"
#include "shared/datadir.h"
#include "shared/errors.h"
#include "shared/ini.h"
#include "shared/messagebox.h"
#include "shared/publictypes.h"
#include "shared/translation.h"

#include "modal.h"
#include "pofile.h"
#include "profilefiles.h"
#include "testenv.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

namespace {

// Types text as a keyboard would, one key per character; QTest's own typing knows only Latin-1.
void Type(QWidget* widget, const QString& text) {
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

class ProfileManagementTest : public HomeTest {
protected:
    void SetUp() override {
        HomeTest::SetUp();
        QDir().mkpath(DataDirectory() + "/profiles");
        QDir().mkpath(DataDirectory() + "/data");
    }
    void TearDown() override {
        Profiles.clear();
        HomeTest::TearDown();
    }

    TProfileList Profiles;
    void MakeProfile(const QString& stem, const QString& name, bool withDatabase = true) {
        if (withDatabase) {
            ASSERT_TRUE(QFile::copy(ProgramDirectory() + "/default.accdb", Database(stem)));
        }
        IniFile ini(ProfileFile(stem));
        ini.WriteString("profile", "name", name);
        ini.WriteString("database", "filename", "data\\" + stem + ".accdb");
    }
    static QString ProfileFile(const QString& stem) {
        return DataDirectory() + "/profiles/" + stem + ".ini";
    }
    static QString Database(const QString& stem) {
        return DataDirectory() + "/data/" + stem + ".accdb";
    }
    static QTreeWidget& List(const TfrmProfileManagement& dialog) {
        return Control<QTreeWidget>(dialog, "VSTProfiles");
    }
    static QStringList Rows(const TfrmProfileManagement& dialog) {
        QStringList rows;
        for (int i = 0; i < List(dialog).topLevelItemCount(); ++i)
            rows << List(dialog).topLevelItem(i)->text(0);
        return rows;
    }
    static void Select(TfrmProfileManagement& dialog, int row) {
        List(dialog).setCurrentItem(List(dialog).topLevelItem(row));
    }
};

TEST_F(ProfileManagementTest, ListsTheProfilesAndShowsTheSelectedOne) {
    MakeProfile("a", "Alpha");
    MakeProfile("b", "Beta");
    LoadProfiles(Profiles);
    TfrmProfileManagement dialog(Desktop, Profiles);
    EXPECT_EQ(dialog.windowTitle(), "Profile management");
    EXPECT_EQ(Rows(dialog), QStringList({"Alpha", "Beta"}));
    EXPECT_FALSE(Control<QWidget>(dialog, "pnlProfile").isVisibleTo(&dialog));
    EXPECT_FALSE(Control<QAction>(dialog, "mnuDelete").isEnabled());
    EXPECT_TRUE(Control<QAction>(dialog, "mnuAdd").isEnabled());
    EXPECT_EQ(List(dialog).columnWidth(0), 130);

    Select(dialog, 1);
    EXPECT_TRUE(Control<QWidget>(dialog, "pnlProfile").isVisibleTo(&dialog));
    EXPECT_EQ(Control<QLineEdit>(dialog, "txtProfileName").text(), "Beta");
    EXPECT_TRUE(Control<QAction>(dialog, "mnuDelete").isEnabled());
    // Losing the selection leaves the panel with the last name; saving then does nothing.
    List(dialog).clearSelection();
    EXPECT_EQ(Control<QLineEdit>(dialog, "txtProfileName").text(), "Beta");
    Control<QLineEdit>(dialog, "txtProfileName").setText("Gamma");
    Control<QPushButton>(dialog, "cmdSaveProfile").click();
    EXPECT_EQ(Profiles[1]->ProfileName, "Beta");
    EXPECT_TRUE(MessageBoxes::ShownMessages().isEmpty());
    EXPECT_EQ(UntranslatedWindowTexts(&dialog), QStringList());
}

TEST_F(ProfileManagementTest, RenameRewritesTheProfileFileInPlace) {
    const QString greek = QString::fromUtf8("ΑΒΓΔΕΖΗΘΙΚΛΜΝΞΟΠΡΣΤΥ"); // 20 letters
    const struct {
        const char* what;
        QString typed;
        QString stored;
    } cases[] = {
        {"a plain name", "Hal 2", "Hal 2"},
        {"twenty non-ASCII letters", greek, greek},
        {"a twenty-first letter is refused", greek + QString::fromUtf8("Ω"), greek},
        {"quotes and brackets", "\"[Deur]\" = 3;", "\"[Deur]\" = 3;"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Profiles.clear();
        QFile::remove(ProfileFile("site"));
        MakeProfile("site", "Old", false);
        LoadProfiles(Profiles);
        TVYRStandProfile* profile = Profiles[0].get();
        MessageBoxes::ClearShown();
        TfrmProfileManagement dialog(Desktop, Profiles);
        Select(dialog, 0);
        Control<QLineEdit>(dialog, "txtProfileName").clear();
        Type(&Control<QLineEdit>(dialog, "txtProfileName"), c.typed);
        EXPECT_EQ(Control<QLineEdit>(dialog, "txtProfileName").text(), c.stored);
        QTest::mouseClick(&Control<QPushButton>(dialog, "cmdSaveProfile"), Qt::LeftButton);
        EXPECT_EQ(MessageBoxes::ShownTexts(), QStringList({"Profile saved!"}));
        EXPECT_EQ(profile->ProfileName, c.stored) << "the object the program uses is renamed";
        EXPECT_EQ(Rows(dialog), QStringList({c.stored}));
        const IniFile file(ProfileFile("site"));
        EXPECT_EQ(file.ReadString("profile", "name", ""), c.stored);
        EXPECT_EQ(file.ReadString("database", "filename", ""), "data\\site.accdb");
        EXPECT_EQ(QDir(DataDirectory() + "/profiles").entryList({"*.ini"}, QDir::Files),
                  QStringList({"site.ini"}));
    }
}

TEST_F(ProfileManagementTest, EnterInTheNameFieldSavesOnceAndKeepsTheDialogOpen) {
    MakeProfile("site", "Old", false);
    LoadProfiles(Profiles);
    TfrmProfileManagement dialog(Desktop, Profiles);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    Select(dialog, 0);
    Control<QLineEdit>(dialog, "txtProfileName").setFocus();
    Control<QLineEdit>(dialog, "txtProfileName").setText("New");
    QTest::keyClick(&Control<QLineEdit>(dialog, "txtProfileName"), Qt::Key_Return);
    EXPECT_EQ(MessageBoxes::ShownTexts(), QStringList({"Profile saved!"}));
    EXPECT_EQ(IniFile(ProfileFile("site")).ReadString("profile", "name", ""), "New");
    EXPECT_TRUE(dialog.isVisible());
}

// A blank name would make the profile vanish; a pasted two-line name would write extra lines.
TEST_F(ProfileManagementTest, ABlankOrTwoLineNameIsRefusedAndNothingChanges) {
    MakeProfile("site", "Old", false);
    LoadProfiles(Profiles);
    const QByteArray before = ReadWholeFile(ProfileFile("site"));
    TfrmProfileManagement dialog(Desktop, Profiles);
    Select(dialog, 0);
    for (const QString name : {"", "   ", "North\nSouth", "North\r\n[database]"}) {
        MessageBoxes::ClearShown();
        Control<QLineEdit>(dialog, "txtProfileName").setText(name);
        Control<QPushButton>(dialog, "cmdSaveProfile").click();
        ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1);
        EXPECT_EQ(MessageBoxes::ShownMessages()[0].kind, MessageBoxes::Warning);
        EXPECT_EQ(Profiles[0]->ProfileName, "Old");
        EXPECT_EQ(Rows(dialog), QStringList({"Old"}));
        EXPECT_EQ(ReadWholeFile(ProfileFile("site")), before);
    }
}

// A profile file that cannot be written: the failure is told at the button, the program and the
// list keep the old name, and the field keeps the new one for another try.
TEST_F(ProfileManagementTest, AReadOnlyProfileFileIsReportedAndKeptAsItWas) {
    MakeProfile("site", "Old", false);
    LoadProfiles(Profiles);
    const QByteArray before = ReadWholeFile(ProfileFile("site"));
    QFile::setPermissions(ProfileFile("site"), QFileDevice::ReadOwner);
    TfrmProfileManagement dialog(Desktop, Profiles);
    dialog.show();
    Select(dialog, 0);
    Control<QLineEdit>(dialog, "txtProfileName").setText("New");
    QTest::mouseClick(&Control<QPushButton>(dialog, "cmdSaveProfile"), Qt::LeftButton);
    ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1) << "no \"Profile saved!\"";
    EXPECT_EQ(MessageBoxes::ShownMessages()[0].kind, MessageBoxes::Error);
    EXPECT_EQ(MessageBoxes::ShownTexts()[0], "Unable to write to " + ProfileFile("site"));
    EXPECT_EQ(Profiles[0]->ProfileName, "Old");
    EXPECT_EQ(Rows(dialog), QStringList({"Old"}));
    EXPECT_EQ(Control<QLineEdit>(dialog, "txtProfileName").text(), "New");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(ReadWholeFile(ProfileFile("site")), before);

    MessageBoxes::ClearShown();
    QFile::setPermissions(ProfileFile("site"), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QTest::mouseClick(&Control<QPushButton>(dialog, "cmdSaveProfile"), Qt::LeftButton);
    EXPECT_EQ(MessageBoxes::ShownTexts(), QStringList({"Profile saved!"}));
    EXPECT_EQ(Profiles[0]->ProfileName, "New");
    EXPECT_EQ(Rows(dialog), QStringList({"New"}));
}

// The window keeps its size, and the name panel that appears with a selection fits into it, in
// either language.
TEST_F(ProfileManagementTest, TheWindowHasAFixedSizeThatHoldsTheNamePanel) {
    MakeProfile("site", "Site", false);
    LoadProfiles(Profiles);
    for (const char* language : {"en", "nl"}) {
        SCOPED_TRACE(language);
        UseLanguage(language);
        TfrmProfileManagement dialog(Desktop, Profiles);
        dialog.show();
        EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
        EXPECT_TRUE(dialog.windowFlags() & Qt::MSWindowsFixedSizeDialogHint);
        const QSize size = dialog.size();
        Select(dialog, 0);
        QApplication::processEvents();
        EXPECT_EQ(dialog.size(), size);
        for (const QWidget* control : std::initializer_list<const QWidget*>{
                 &Control<QLabel>(dialog, "Label1"), &Control<QLineEdit>(dialog, "txtProfileName"),
                 &Control<QPushButton>(dialog, "cmdSaveProfile"),
                 &Control<QPushButton>(dialog, "cmdClose")}) {
            EXPECT_TRUE(dialog.rect().contains(
                QRect(control->mapTo(&dialog, QPoint(0, 0)), control->size())))
                << control->objectName().toStdString();
            EXPECT_GE(control->width(), control->minimumSizeHint().width())
                << control->objectName().toStdString();
        }
    }
    UseLanguage("en");
}

// Deleting a profile takes its lock files along, those a killed run left included, whether its
// database goes to the trash or stays.
TEST_F(ProfileManagementTest, DeletingAProfileLeavesNoLockFile) {
    for (const bool trashWorks : {true, false}) {
        SCOPED_TRACE(trashWorks ? "trashed" : "kept");
        QDir(DataDirectory()).removeRecursively();
        QDir().mkpath(DataDirectory() + "/profiles");
        QDir().mkpath(DataDirectory() + "/data");
        Desktop.TrashWorks = trashWorks;
        MakeProfile("a", "Alpha");
        MakeProfile("b", "Beta");
        ASSERT_TRUE(WriteTextFile(DataDirectory() + "/profiles/.b.ini.lock", ""));
        ASSERT_TRUE(WriteTextFile(DataDirectory() + "/data/.b.accdb.lock", ""));
        LoadProfiles(Profiles);
        TfrmProfileManagement dialog(Desktop, Profiles);
        Select(dialog, 1);
        MessageBoxes::SetNextAnswer(true); // delete the profile
        if (!trashWorks)
            MessageBoxes::SetNextAnswer(false); // keep the database the trash refused
        Control<QAction>(dialog, "mnuDelete").trigger();
        QStringList left = {"data/a.accdb", "profiles/a.ini"};
        if (!trashWorks)
            left.insert(1, "data/b.accdb");
        EXPECT_EQ(DataFolderFiles(), left);
    }
}

TEST_F(ProfileManagementTest, DeleteRemovesTheProfileAndTrashesItsDatabase) {
    MakeProfile("a", "Alpha");
    MakeProfile("b", "Beta");
    LoadProfiles(Profiles);
    TfrmProfileManagement dialog(Desktop, Profiles);
    Select(dialog, 1);

    MessageBoxes::SetNextAnswer(false);
    Control<QAction>(dialog, "mnuDelete").trigger();
    EXPECT_EQ(MessageBoxes::ShownMessages().size(), 1);
    EXPECT_TRUE(MessageBoxes::ShownTexts()[0].contains("\"Beta\""));
    EXPECT_TRUE(QFile::exists(ProfileFile("b")));
    EXPECT_TRUE(QFile::exists(Database("b")));

    MessageBoxes::ClearShown();
    MessageBoxes::SetNextAnswer(true);
    // From the keyboard: the Delete key on the list.
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    List(dialog).setFocus();
    QTest::keyClick(&List(dialog), Qt::Key_Delete);
    ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1);
    EXPECT_EQ(MessageBoxes::ShownMessages()[0].kind, MessageBoxes::Confirmation);
    EXPECT_FALSE(QFile::exists(ProfileFile("b")));
    EXPECT_FALSE(QFile::exists(Database("b")));
    const QString trashed = Desktop.InTrash("b.accdb");
    ASSERT_FALSE(trashed.isEmpty()) << "the database can be restored from the trash";
    EXPECT_EQ(ReadWholeFile(trashed), ReadWholeFile(ProgramDirectory() + "/default.accdb"));
    EXPECT_EQ(Rows(dialog), QStringList({"Alpha"}));
    EXPECT_EQ(Profiles.size(), 1u);
    EXPECT_TRUE(QFile::exists(Database("a")));
    EXPECT_FALSE(Control<QAction>(dialog, "mnuDelete").isEnabled());
}

TEST_F(ProfileManagementTest, TwoProfilesOfOneNameDeleteTheSelectedFile) {
    MakeProfile("a", "Same");
    MakeProfile("b", "Same");
    LoadProfiles(Profiles);
    TfrmProfileManagement dialog(Desktop, Profiles);
    Select(dialog, 1);
    Control<QAction>(dialog, "mnuDelete").trigger();
    EXPECT_TRUE(QFile::exists(ProfileFile("a")));
    EXPECT_TRUE(QFile::exists(Database("a")));
    EXPECT_FALSE(QFile::exists(ProfileFile("b")));
    EXPECT_FALSE(QFile::exists(Database("b")));
    ASSERT_EQ(Profiles.size(), 1u);
    EXPECT_EQ(Profiles[0]->ProfileFileName, ProfileFile("a"));
}

TEST_F(ProfileManagementTest, DeleteWhereTheDatabaseCannotGoToTheTrash) {
    Desktop.TrashWorks = false;
    const struct {
        const char* what;
        bool deleteForGood;
    } cases[] = {{"deleted for good", true}, {"kept", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MakeProfile("b", "Beta");
        LoadProfiles(Profiles);
        MessageBoxes::ClearShown();
        TfrmProfileManagement dialog(Desktop, Profiles);
        Select(dialog, 0);
        MessageBoxes::SetNextAnswer(true); // delete the profile
        MessageBoxes::SetNextAnswer(c.deleteForGood);
        Control<QAction>(dialog, "mnuDelete").trigger();
        ASSERT_EQ(MessageBoxes::ShownMessages().size(), 2);
        EXPECT_TRUE(MessageBoxes::ShownTexts()[1].contains(Database("b")));
        EXPECT_FALSE(QFile::exists(ProfileFile("b")));
        EXPECT_EQ(QFile::exists(Database("b")), !c.deleteForGood);
        EXPECT_TRUE(Rows(dialog).isEmpty());
        QFile::remove(Database("b"));
    }
}

TEST_F(ProfileManagementTest, DeleteRefusesWhatMustStay) {
    MakeProfile("a", "Alpha");
    MakeProfile("b", "Beta");
    LoadProfiles(Profiles);
    // Open in the main window: refused before anything is asked.
    {
        TfrmProfileManagement dialog(Desktop, Profiles, nullptr, ProfileFile("b"));
        Select(dialog, 1);
        Control<QAction>(dialog, "mnuDelete").trigger();
        ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1);
        EXPECT_EQ(MessageBoxes::ShownMessages()[0].kind, MessageBoxes::Warning);
        EXPECT_TRUE(MessageBoxes::ShownTexts()[0].contains("\"Beta\""));
    }
    // A read-only profile file: the operator protected it, so neither file goes.
    MessageBoxes::ClearShown();
    QFile::setPermissions(ProfileFile("b"), QFileDevice::ReadOwner);
    {
        TfrmProfileManagement dialog(Desktop, Profiles);
        Select(dialog, 1);
        Control<QAction>(dialog, "mnuDelete").trigger();
        ASSERT_EQ(MessageBoxes::ShownMessages().size(), 2);
        EXPECT_EQ(MessageBoxes::ShownMessages()[1].kind, MessageBoxes::Error);
        EXPECT_TRUE(MessageBoxes::ShownTexts()[1].contains(ProfileFile("b")));
        EXPECT_EQ(Rows(dialog), QStringList({"Alpha", "Beta"}));
    }
    EXPECT_TRUE(QFile::exists(ProfileFile("b")));
    EXPECT_TRUE(QFile::exists(Database("b")));
    EXPECT_EQ(Profiles.size(), 2u);
}

TEST_F(ProfileManagementTest, ADatabaseThatIsGoneOrSharedIsLeftAlone) {
    MakeProfile("gone", "Gone", false);
    MakeProfile("a", "Alpha");
    IniFile(ProfileFile("copy")).WriteString("profile", "name", "Also Alpha");
    IniFile(ProfileFile("copy")).WriteString("database", "filename", Database("a"));
    LoadProfiles(Profiles); // a, copy, gone
    TfrmProfileManagement dialog(Desktop, Profiles);

    Select(dialog, 2);
    Control<QAction>(dialog, "mnuDelete").trigger();
    EXPECT_EQ(MessageBoxes::ShownMessages().size(), 1) << "only the question: nothing failed";
    EXPECT_FALSE(QFile::exists(ProfileFile("gone")));

    MessageBoxes::ClearShown();
    Select(dialog, 1);
    Control<QAction>(dialog, "mnuDelete").trigger();
    ASSERT_EQ(MessageBoxes::ShownMessages().size(), 2);
    EXPECT_EQ(MessageBoxes::ShownMessages()[1].kind, MessageBoxes::Information);
    EXPECT_FALSE(QFile::exists(ProfileFile("copy")));
    EXPECT_TRUE(QFile::exists(Database("a")));
    EXPECT_TRUE(Desktop.Calls(TFakeDesktop::TService::Trash).isEmpty());
    EXPECT_EQ(Rows(dialog), QStringList({"Alpha"}));
}

TEST_F(ProfileManagementTest, AddShowsTheNewProfileAtOnceAndLeavesTheOpenDatabaseAlone) {
    MakeProfile("m", "Mid");
    LoadProfiles(Profiles);
    const TSessionOpening opening = OpenProfileSession(*Profiles[0], Desktop);
    ASSERT_TRUE(opening.Session) << opening.Problem.toStdString();
    const TProfileSession& open = *opening.Session;

    TfrmProfileManagement dialog(Desktop, Profiles, nullptr, ProfileFile("m"));
    // Cancelled: nothing new.
    WhenModal([](QWidget* wizard) { Control<QPushButton>(*wizard, "cmdCancel").click(); });
    Control<QAction>(dialog, "mnuAdd").trigger();
    EXPECT_EQ(Rows(dialog), QStringList({"Mid"}));

    WhenModal([](QWidget* wizard) {
        for (int page = 0; page < 4; ++page)
            Control<QPushButton>(*wizard, "cmdNext").click();
        Control<QLineEdit>(*wizard, "txtProfileName").setText("Aardvark");
        Control<QPushButton>(*wizard, "cmdNext").click();
    });
    Control<QAction>(dialog, "mnuAdd").trigger();
    EXPECT_EQ(Rows(dialog), QStringList({"Aardvark", "Mid"})) << "sorted by file name";
    EXPECT_EQ(Control<QLineEdit>(dialog, "txtProfileName").text(), "Aardvark")
        << "the new profile is selected";
    EXPECT_TRUE(MessageBoxes::ShownMessages().isEmpty());
    EXPECT_TRUE(open.IsConnected());
    EXPECT_EQ(open.Database().ConnectionString, JetConnectionString(Database("m")));
    // The open profile moved down a row; its session still knows it by its file.
    ASSERT_EQ(Profiles.size(), 2u);
    EXPECT_EQ(Profiles[1]->ProfileFileName, open.Profile().ProfileFileName);
}

} // namespace
