#include "db/MySQLite.h"
#include "profiles/profilewizard.h"
#include "shared/datadir.h"
#include "shared/errors.h"
#include "shared/ini.h"
#include "shared/messagebox.h"

#include "legacyfiles.h"
#include "modal.h"
#include "pofile.h"
#include "profilefiles.h"
#include "testenv.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSemaphore>
#include <QStackedWidget>
#include <QTest>

namespace {

class WizardTest : public HomeTest {
protected:
    void SetUp() override {
        HomeTest::SetUp();
        QDir().mkpath(DataDirectory() + "/profiles");
        QDir().mkpath(DataDirectory() + "/data");
        NewWizard();
    }
    void TearDown() override {
        Wizard.reset();
        HomeTest::TearDown();
    }
    // A fresh wizard, shown: pages get their geometry, so clicks land where a person clicks. Its
    // import is whatever Import holds when Finish runs.
    void NewWizard() {
        Wizard = std::make_unique<TfrmProfileWizard>(
            Desktop, nullptr,
            [this](const QString& from, const QString& into,
                   const TLegacyImportProgress& progress) { return Import(from, into, progress); });
        Wizard->show();
    }
    // On the last page Next is Finish, whose profile is made on a thread of its own: it returns
    // once the outcome is in.
    void Next(int times = 1) {
        for (int i = 0; i < times; ++i) {
            QPushButton& next = Control<QPushButton>(*Wizard, "cmdNext");
            QTest::mouseClick(&next, Qt::LeftButton);
            EXPECT_TRUE(QTest::qWaitFor(
                [this, &next] { return !Wizard->isVisible() || next.isEnabled(); }, 30000))
                << "Finish never ended";
        }
    }
    void Back() { QTest::mouseClick(&Control<QPushButton>(*Wizard, "cmdBack"), Qt::LeftButton); }
    void ToNamePage(const QString& name) {
        Next(4);
        Control<QLineEdit>(*Wizard, "txtProfileName").setText(name);
    }
    bool NameIsRed() const {
        return Control<QLineEdit>(*Wizard, "txtProfileName").palette().color(QPalette::Base) ==
               QColor(255, 0, 0);
    }
    QString Profiles() const { return DataDirectory() + "/profiles/"; }
    QString Databases() const { return DataDirectory() + "/data/"; }

    TLegacyImporter Import = ImportLegacyFiles;
    std::unique_ptr<TfrmProfileWizard> Wizard;
};

TEST_F(WizardTest, PagesStepForwardAndBackWithTheirCaptions) {
    EXPECT_EQ(Wizard->CurrentStep, 0);
    EXPECT_FALSE(Control<QPushButton>(*Wizard, "cmdBack").isEnabled());
    Next(3);
    EXPECT_EQ(Wizard->CurrentStep, 3);
    EXPECT_EQ(Control<QLabel>(*Wizard, "lblDBLocation").text(), Databases());
    EXPECT_EQ(Control<QPushButton>(*Wizard, "cmdNext").text(), "Next >>");
    Next();
    EXPECT_EQ(Wizard->CurrentStep, 4);
    EXPECT_EQ(Control<QPushButton>(*Wizard, "cmdNext").text(), "Finish!");
    EXPECT_EQ(Control<QLabel>(*Wizard, "lblProfileLocation").text(), Profiles() + "newprofile.ini");
    Back();
    EXPECT_EQ(Wizard->CurrentStep, 3);
    EXPECT_EQ(Control<QPushButton>(*Wizard, "cmdNext").text(), "Next >>");
    Next();
    EXPECT_EQ(Control<QPushButton>(*Wizard, "cmdNext").text(), "Finish!");
}

TEST_F(WizardTest, EnterGoesForwardAndNeverCancels) {
    QApplication::setActiveWindow(Wizard.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(Wizard.get()));
    for (int page = 1; page <= 4; ++page) {
        ASSERT_TRUE(QApplication::focusWidget());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        EXPECT_EQ(Wizard->CurrentStep, page);
    }
    EXPECT_TRUE(Wizard->isVisible());
    EXPECT_EQ(QApplication::focusWidget(), &Control<QLineEdit>(*Wizard, "txtProfileName"))
        << "the name is typed at once";
}

TEST_F(WizardTest, SourceChoiceEnablesOnlyItsBrowseButton) {
    Next(2);
    Control<QRadioButton>(*Wizard, "dbExisting").click();
    EXPECT_TRUE(Control<QPushButton>(*Wizard, "cmdBrowseExistingDB").isEnabled());
    EXPECT_FALSE(Control<QPushButton>(*Wizard, "cmdBrowseBSTFiles").isEnabled());
    Control<QRadioButton>(*Wizard, "dbBSTFiles").click();
    EXPECT_FALSE(Control<QPushButton>(*Wizard, "cmdBrowseExistingDB").isEnabled());
    EXPECT_TRUE(Control<QPushButton>(*Wizard, "cmdBrowseBSTFiles").isEnabled());
    Control<QRadioButton>(*Wizard, "dbNew").click();
    EXPECT_FALSE(Control<QPushButton>(*Wizard, "cmdBrowseExistingDB").isEnabled());
    EXPECT_FALSE(Control<QPushButton>(*Wizard, "cmdBrowseBSTFiles").isEnabled());
    EXPECT_FALSE(Control<QLineEdit>(*Wizard, "txtExistingDB").isEnabled());
    EXPECT_FALSE(Control<QRadioButton>(*Wizard, "dbTypeMySQL").isEnabled());
}

TEST_F(WizardTest, NameFieldTurnsRedWhenEmptyOrTaken) {
    ASSERT_TRUE(WriteTextFile(Profiles() + "site1.ini", "[profile]\nname=Site 1\n"));
    ToNamePage("Fresh");
    EXPECT_FALSE(NameIsRed());
    Control<QLineEdit>(*Wizard, "txtProfileName").setText("SITE-1");
    EXPECT_TRUE(NameIsRed());
    EXPECT_EQ(Control<QLabel>(*Wizard, "lblProfileLocation").text(), Profiles() + "site1.ini");
    Control<QLineEdit>(*Wizard, "txtProfileName").setText("");
    EXPECT_TRUE(NameIsRed());
    EXPECT_EQ(Control<QLabel>(*Wizard, "lblProfileLocation").text(), "");
}

TEST_F(WizardTest, FinishCreatesDatabaseFromTemplateAndProfileFile) {
    ToNamePage("Hal 2 / Deur 12");
    Next();
    EXPECT_EQ(Wizard->result(), QDialog::Accepted);
    EXPECT_EQ(ReadWholeFile(Databases() + "hal2deur12.accdb"),
              ReadWholeFile(ProgramDirectory() + "/default.accdb"));
    const IniFile profile(Profiles() + "hal2deur12.ini");
    EXPECT_EQ(profile.ReadString("profile", "name", ""), "Hal 2 / Deur 12");
    EXPECT_EQ(profile.ReadString("database", "filename", ""), "data/hal2deur12.accdb");
}

TEST_F(WizardTest, ANameWithoutLettersOrDigitsStillMakesItsFiles) {
    ToNamePage(QString::fromUtf8("ÉÀ!"));
    Next();
    EXPECT_TRUE(QFile::exists(Profiles() + ".ini"));
    EXPECT_TRUE(QFile::exists(Databases() + ".accdb"));
}

TEST_F(WizardTest, FinishCopiesAChosenDatabase) {
    const QString chosen = Home->Path() + "/old.mdb";
    ASSERT_TRUE(QFile::copy(ProgramDirectory() + "/default.accdb", chosen));
    Desktop.AnswerFile(chosen);
    Next(2);
    Control<QRadioButton>(*Wizard, "dbExisting").click();
    QTest::mouseClick(&Control<QPushButton>(*Wizard, "cmdBrowseExistingDB"), Qt::LeftButton);
    ASSERT_EQ(Desktop.Calls(TFakeDesktop::TService::OpenFile).size(), 1);
    EXPECT_TRUE(Desktop.Calls(TFakeDesktop::TService::OpenFile)[0].Filter.contains("*.mdb"));
    EXPECT_EQ(Desktop.Calls(TFakeDesktop::TService::OpenFile)[0].Owner, Wizard.get());
    EXPECT_EQ(Control<QLineEdit>(*Wizard, "txtExistingDB").text(), chosen);
    Next(2);
    Control<QLineEdit>(*Wizard, "txtProfileName").setText("Copy");
    Next();
    EXPECT_EQ(ReadWholeFile(Databases() + "copy.accdb"), ReadWholeFile(chosen));
    EXPECT_EQ(QFile::permissions(Databases() + "copy.accdb") &
                  (QFileDevice::ReadOther | QFileDevice::ReadGroup),
              0);
}

struct RefusedCase {
    const char* what;
    QString name;
    QString existingProfile; // file in profiles/ that exists before Finish
    QString existingDatabase;
    QString namingProfile; // another profile file that names the existing database
};

class WizardRefusalTest : public WizardTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(WizardRefusalTest, FinishRefusesAndOverwritesNothing) {
    const RefusedCase c = GetParam();
    if (!c.existingProfile.isEmpty()) {
        ASSERT_TRUE(WriteTextFile(Profiles() + c.existingProfile, "[profile]\nname=Mine\n"));
    }
    if (!c.existingDatabase.isEmpty()) {
        ASSERT_TRUE(WriteTextFile(Databases() + c.existingDatabase, "precious"));
    }
    if (!c.namingProfile.isEmpty()) {
        ASSERT_TRUE(WriteTextFile(Profiles() + c.namingProfile,
                                  "[profile]\nname=Other\n[database]\nfilename=data\\" +
                                      c.existingDatabase.toUtf8() + "\n"));
    }
    ToNamePage(c.name);
    Next();
    ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1) << c.what;
    EXPECT_EQ(MessageBoxes::ShownMessages()[0].kind, MessageBoxes::Warning);
    EXPECT_EQ(Wizard->CurrentStep, 4);
    EXPECT_TRUE(Control<QPushButton>(*Wizard, "cmdNext").isEnabled());
    EXPECT_NE(Wizard->result(), QDialog::Accepted);
    if (!c.existingProfile.isEmpty()) {
        EXPECT_EQ(ReadWholeFile(Profiles() + c.existingProfile), "[profile]\nname=Mine\n");
    }
    if (!c.existingDatabase.isEmpty()) {
        EXPECT_EQ(ReadWholeFile(Databases() + c.existingDatabase), "precious");
    }
    QStringList before;
    for (const QString& file : {c.existingProfile, c.namingProfile})
        if (!file.isEmpty())
            before << file;
    EXPECT_EQ(QDir(Profiles()).entryList({"*.ini"}, QDir::Files | QDir::Hidden), before);
    EXPECT_EQ(QDir(Databases()).entryList({"*.accdb*"}, QDir::Files | QDir::Hidden),
              c.existingDatabase.isEmpty() ? QStringList() : QStringList{c.existingDatabase});
}

INSTANTIATE_TEST_SUITE_P(Names, WizardRefusalTest,
                         ::testing::Values(RefusedCase{"empty name", "", "", "", ""},
                                           RefusedCase{"two lines", "Site\n1", "", "", ""},
                                           RefusedCase{"profile exists", "Site 1", "site1.ini", "",
                                                       ""},
                                           RefusedCase{"database of another profile", "Site 1", "",
                                                       "site1.accdb", "other.ini"}));

TEST_F(WizardTest, ACopyThatFailsIsReportedAndWritesNoProfile) {
    Next(2);
    Control<QRadioButton>(*Wizard, "dbExisting").click(); // and no file chosen
    Next(2);
    Control<QLineEdit>(*Wizard, "txtProfileName").setText("Nothing");
    Next();
    ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1);
    EXPECT_EQ(MessageBoxes::ShownMessages()[0].kind, MessageBoxes::Error);
    EXPECT_FALSE(QFile::exists(Profiles() + "nothing.ini"));
    EXPECT_EQ(Wizard->CurrentStep, 4);
}

TEST_F(WizardTest, LegacyFilesStartFromTheTemplateAndReachTheImport) {
    QString importedFrom, importedInto;
    Desktop.AnswerFile("/old/autonoom.bst");
    Next(2);
    Control<QRadioButton>(*Wizard, "dbBSTFiles").click();
    QTest::mouseClick(&Control<QPushButton>(*Wizard, "cmdBrowseBSTFiles"), Qt::LeftButton);
    ASSERT_EQ(Desktop.Calls(TFakeDesktop::TService::OpenFile).size(), 1);
    EXPECT_EQ(Desktop.Calls(TFakeDesktop::TService::OpenFile)[0].Filter,
              "autonoom.bst (autonoom.bst)");
    Next(2);
    Control<QLineEdit>(*Wizard, "txtProfileName").setText("Legacy");
    bool profileDuringImport = true;
    bool finalNameDuringImport = true;
    QByteArray databaseDuringImport;
    QSemaphore resume;
    // Runs on the job's thread: it reads and writes files only, and waits there for the test.
    Import = [&](const QString& from, const QString& into, const TLegacyImportProgress& progress) {
        importedFrom = from;
        importedInto = into;
        profileDuringImport = QFile::exists(Profiles() + "legacy.ini");
        finalNameDuringImport = QFile::exists(Databases() + "legacy.accdb");
        databaseDuringImport = ReadWholeFile(into);
        EXPECT_TRUE(WriteTextFile(into, ReadWholeFile(into) + "imported"));
        do
            progress(50, 200);
        while (!resume.tryAcquire(1, 10));
        return TLegacyImportSummary{};
    };
    QTest::mouseClick(&Control<QPushButton>(*Wizard, "cmdNext"), Qt::LeftButton);
    // The window stays on its closing page with a moving bar, answers, and cannot be closed or
    // cancelled halfway.
    const QProgressBar& bar = Control<QProgressBar>(*Wizard, "prgImport");
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar.value() == 50; }, 30000));
    EXPECT_TRUE(bar.isVisible());
    EXPECT_EQ(bar.maximum(), 200);
    EXPECT_TRUE(Control<QWidget>(*Wizard, "pnlFinish").isVisible());
    for (const char* button : {"cmdCancel", "cmdNext", "cmdBack"})
        EXPECT_FALSE(Control<QPushButton>(*Wizard, button).isEnabled()) << button;
    QTest::keyClick(Wizard.get(), Qt::Key_Escape);
    Wizard->reject();
    Wizard->close();
    EXPECT_TRUE(Wizard->isVisible());
    resume.release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Wizard->isVisible(); }, 30000));
    EXPECT_EQ(importedFrom, "/old/autonoom.bst");
    // The import works on the new database before it has its name and before a profile names it.
    EXPECT_EQ(QFileInfo(importedInto).absolutePath() + "/", Databases());
    EXPECT_NE(importedInto, Databases() + "legacy.accdb");
    EXPECT_FALSE(profileDuringImport);
    EXPECT_FALSE(finalNameDuringImport);
    EXPECT_EQ(databaseDuringImport, ReadWholeFile(ProgramDirectory() + "/default.accdb"));
    EXPECT_TRUE(QFile::exists(Profiles() + "legacy.ini"));
    EXPECT_TRUE(ReadWholeFile(Databases() + "legacy.accdb").endsWith("imported"));
    EXPECT_FALSE(QFile::exists(importedInto));
    EXPECT_EQ(Wizard->result(), QDialog::Accepted);
}

// A chosen file that is not a database of this program is refused when it is chosen and again at
// Finish, with the reason, before anything is written.
TEST_F(WizardTest, AChosenFileThatIsNoDatabaseOfOursIsRefusedWithTheReason) {
    const QString chosen = Home->Path() + "/chosen.accdb";
    const struct {
        const char* what;
        std::function<void()> make;
        const char* reason;
    } cases[] = {
        {"Access",
         [&] {
             QFile::remove(chosen);
             WriteTextFile(chosen, QByteArray(4, '\0') + "Standard Jet DB" + QByteArray(300, '\0'));
         },
         "is a Microsoft Access database, which this program cannot open.\n\nTo bring over the "
         "cards of the older software, choose \"Import previous software files (*.bst)\""},
        {"text",
         [&] {
             QFile::remove(chosen);
             WriteTextFile(chosen, "just text");
         },
         "is not a database of this program."},
        {"missing table", [&] { MakeDatabase(chosen, {"DROP TABLE CardZones"}); },
         "it lacks CardZones."},
        {"missing column",
         [&] { MakeDatabase(chosen, {"ALTER TABLE CardHolders DROP COLUMN CardCustom4"}); },
         "it lacks CardHolders.CardCustom4."},
        {"folder",
         [&] {
             QFile::remove(chosen);
             QDir().mkpath(chosen);
         },
         "is not a regular file"},
    };
    Next(2);
    Control<QRadioButton>(*Wizard, "dbExisting").click();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(chosen).removeRecursively();
        c.make();
        MessageBoxes::ClearShown();
        Desktop.AnswerFile(chosen);
        QTest::mouseClick(&Control<QPushButton>(*Wizard, "cmdBrowseExistingDB"), Qt::LeftButton);
        ASSERT_EQ(MessageBoxes::ShownTexts().size(), 1);
        EXPECT_TRUE(MessageBoxes::ShownTexts().first().contains(c.reason))
            << MessageBoxes::ShownTexts().first().toStdString();
        EXPECT_EQ(Control<QLineEdit>(*Wizard, "txtExistingDB").text(), "");
        // Finish checks again: the file may have changed since it was chosen.
        Control<QLineEdit>(*Wizard, "txtExistingDB").setText(chosen);
        Next(2);
        Control<QLineEdit>(*Wizard, "txtProfileName").setText("Chosen");
        MessageBoxes::ClearShown();
        Next();
        ASSERT_EQ(MessageBoxes::ShownTexts().size(), 1);
        EXPECT_TRUE(MessageBoxes::ShownTexts().first().contains(c.reason));
        EXPECT_EQ(Wizard->CurrentStep, 4);
        EXPECT_NE(Wizard->result(), QDialog::Accepted);
        EXPECT_EQ(DataFolderFiles(), QStringList());
        Control<QLineEdit>(*Wizard, "txtExistingDB").clear();
        Back();
        Back();
    }
}

// A database that no profile names, left by a Finish that did not end, is offered for use or
// replacement instead of blocking its name for good.
TEST_F(WizardTest, ALeftoverDatabaseIsOfferedForUseOrReplacement) {
    const struct {
        const char* what;
        QList<bool> answers;
        bool accepted;
        bool keepsLeftover; // the profile's database is the leftover itself
    } cases[] = {
        {"use it", {true}, true, true},
        {"replace it", {false, true}, true, false},
        {"neither", {false, false}, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(Profiles()).removeRecursively();
        QDir().mkpath(Profiles());
        ASSERT_EQ(MakeDatabase(Databases() + "site1.accdb",
                               {"INSERT INTO Controllers (ConName) VALUES ('kept')"}),
                  QString());
        const QByteArray leftover = ReadWholeFile(Databases() + "site1.accdb");
        NewWizard();
        MessageBoxes::ClearShown();
        for (const bool answer : c.answers)
            MessageBoxes::SetNextAnswer(answer);
        ToNamePage("Site 1");
        Next();
        EXPECT_EQ(MessageBoxes::ShownMessages().size(), c.answers.size());
        EXPECT_EQ(Wizard->result() == QDialog::Accepted, c.accepted);
        EXPECT_EQ(QFile::exists(Profiles() + "site1.ini"), c.accepted);
        if (c.keepsLeftover) {
            EXPECT_EQ(ReadWholeFile(Databases() + "site1.accdb"), leftover);
        } else {
            EXPECT_EQ(ReadWholeFile(Databases() + "site1.accdb"),
                      ReadWholeFile(ProgramDirectory() + "/default.accdb"));
            ASSERT_EQ(Desktop.Trashed().size(), 1)
                << "the replaced database can be restored from the trash";
            EXPECT_EQ(ReadWholeFile(Desktop.Trashed().first()), leftover);
        }
    }
}

// A leftover database and a source chosen on page 2: using the leftover never drops the source
// unsaid. An empty leftover takes the import or the chosen database; one that holds a site is
// used as it is only when the question said so, and No leads to Replace.
TEST_F(WizardTest, ALeftoverDatabaseNeverDropsTheChosenSourceUnsaid) {
    const QString legacy = Home->Path() + "/old";
    QDir().mkpath(legacy);
    ASSERT_TRUE(
        WriteLegacyFile(legacy + "/autonoom.bst", ControllerRecord("A1B2C3", "Front door")));
    ASSERT_TRUE(WriteLegacyFile(legacy + "/asleutel.bst", CardRecord("0000000001", "Anna")));
    const QString chosen = Home->Path() + "/chosen.accdb";
    ASSERT_EQ(MakeDatabase(chosen, {"INSERT INTO Controllers (ConName) VALUES ('chosen')"}),
              QString());
    const QString leftover = Databases() + "site1.accdb";
    const QString imported = "The files of the older software were imported.";
    const struct {
        const char* what;
        bool import; // else the chosen database
        bool leftoverHoldsASite;
        QList<bool> answers;
        QString question; // a piece of the first question
        QStringList controllers;
        bool leftoverKept; // the leftover's own table is in the profile's database
        bool summary;
    } cases[] = {
        {"empty, import",
         true,
         false,
         {true},
         "The files of the older software are imported into it.",
         {"Front door"},
         true,
         true},
        {"a site, import",
         true,
         true,
         {true},
         "Use this database as it is for the new profile? The files of the older software are "
         "then not imported.\n\nAnswer No to replace it instead.",
         {"kept"},
         true,
         false},
        {"a site, import, replaced",
         true,
         true,
         {false, true},
         "Answer No to replace it instead.",
         {"Front door"},
         false,
         true},
        {"empty, chosen database",
         false,
         false,
         {true},
         "The chosen database " + chosen + " is copied into its place.",
         {"chosen"},
         false,
         false},
        {"a site, chosen database",
         false,
         true,
         {true},
         "Use this database as it is for the new profile? The chosen database " + chosen +
             " is then not copied.\n\nAnswer No to replace it instead.",
         {"kept"},
         true,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(Profiles()).removeRecursively();
        QDir().mkpath(Profiles());
        QStringList make = {"CREATE TABLE Leftover (x)"};
        if (c.leftoverHoldsASite)
            make << "INSERT INTO Controllers (ConName) VALUES ('kept')";
        ASSERT_EQ(MakeDatabase(leftover, make), QString());
        const QByteArray before = ReadWholeFile(leftover);
        Desktop.AnswerFile(c.import ? legacy + "/autonoom.bst" : chosen);
        NewWizard();
        Next(2);
        QRadioButton* source = c.import ? &Control<QRadioButton>(*Wizard, "dbBSTFiles")
                                        : &Control<QRadioButton>(*Wizard, "dbExisting");
        QPushButton* browse = c.import ? &Control<QPushButton>(*Wizard, "cmdBrowseBSTFiles")
                                       : &Control<QPushButton>(*Wizard, "cmdBrowseExistingDB");
        source->click();
        QTest::mouseClick(browse, Qt::LeftButton);
        Next(2);
        Control<QLineEdit>(*Wizard, "txtProfileName").setText("Site 1");
        MessageBoxes::ClearShown();
        for (const bool answer : c.answers)
            MessageBoxes::SetNextAnswer(answer);
        Next();

        const QList<MessageBoxes::Shown> shown = MessageBoxes::ShownMessages();
        ASSERT_EQ(shown.size(), c.answers.size() + (c.summary ? 1 : 0));
        EXPECT_EQ(shown[0].kind, MessageBoxes::Confirmation);
        EXPECT_TRUE(shown[0].text.startsWith("The database file " + leftover +
                                             " exists, but no profile uses it."))
            << shown[0].text.toStdString();
        EXPECT_TRUE(shown[0].text.contains(c.question)) << shown[0].text.toStdString();
        if (c.summary) {
            EXPECT_EQ(shown.last().kind, MessageBoxes::Information);
            EXPECT_TRUE(shown.last().text.startsWith(imported)) << shown.last().text.toStdString();
        }
        EXPECT_EQ(Wizard->result(), QDialog::Accepted);
        EXPECT_EQ(IniFile(Profiles() + "site1.ini").ReadString("database", "filename", ""),
                  "data/site1.accdb");
        EXPECT_EQ(DatabaseColumn(leftover, "SELECT ConName FROM Controllers ORDER BY ConID"),
                  c.controllers);
        EXPECT_EQ(DatabaseColumn(leftover, "SELECT name FROM sqlite_master WHERE name = "
                                           "'Leftover'") == QStringList{"Leftover"},
                  c.leftoverKept);
        if (c.leftoverHoldsASite && c.answers.size() == 1) {
            EXPECT_EQ(ReadWholeFile(leftover), before) << "used as it is";
        }
        EXPECT_EQ(DataFolderFiles(), QStringList({"data/site1.accdb", "profiles/site1.ini"}));
    }
    const QString start = "The database file %s exists, but no profile uses it. It holds ";
    EXPECT_EQ(UntranslatedTexts(
                  {start + "no controllers and no cardholders.\n\nUse this database for the new "
                           "profile? The files of the older software are imported into it.",
                   start + "controllers or cardholders.\n\nUse this database as it is for the new "
                           "profile? The files of the older software are then not imported.\n\n"
                           "Answer No to replace it instead.",
                   start + "no controllers and no cardholders.\n\nUse this database for the new "
                           "profile? The chosen database %s is copied into its place.",
                   start + "controllers or cardholders.\n\nUse this database as it is for the new "
                           "profile? The chosen database %s is then not copied.\n\nAnswer No to "
                           "replace it instead."}),
              QStringList());
}

// A Finish that fails after the leftover database went to the trash for Replace: the failure is
// told in the wizard, which is back on its last page, and the old database is back under its
// name, with nothing of it left in the trash.
TEST_F(WizardTest, AFailedReplaceIsReportedAndPutsTheOldDatabaseBack) {
    const QString leftover = Databases() + "site1.accdb";
    const struct {
        const char* what;
        std::function<void()> arrange;
        QString message;
    } cases[] = {
        {"the profile file cannot be written",
         [this] {
             QDir(Profiles()).removeRecursively();
             WriteTextFile(DataDirectory() + "/profiles", "not a folder");
         },
         "Unable to write to " + Profiles() + "site1.ini"},
        {"the import fails with a library error",
         [this] {
             Desktop.AnswerFile("/old/autonoom.bst");
             Import = [](const QString&, const QString&,
                         const TLegacyImportProgress&) -> TLegacyImportSummary {
                 throw std::runtime_error("out of memory");
             };
             Next(2);
             Control<QRadioButton>(*Wizard, "dbBSTFiles").click();
             QTest::mouseClick(&Control<QPushButton>(*Wizard, "cmdBrowseBSTFiles"), Qt::LeftButton);
             Back();
             Back();
         },
         "The files of the older software could not be imported: out of memory\n\nNo profile "
         "was created."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(DataDirectory() + "/profiles");
        QDir().mkpath(Profiles());
        ASSERT_EQ(MakeDatabase(leftover, {"INSERT INTO Controllers (ConName) VALUES ('kept')"}),
                  QString());
        const QByteArray before = ReadWholeFile(leftover);
        NewWizard();
        c.arrange();
        ToNamePage("Site 1");
        MessageBoxes::ClearShown();
        MessageBoxes::SetNextAnswer(false); // not as it is
        MessageBoxes::SetNextAnswer(true);  // but replaced
        Next();
        ASSERT_EQ(MessageBoxes::ShownMessages().size(), 3);
        EXPECT_EQ(MessageBoxes::ShownMessages()[2].kind, MessageBoxes::Error);
        EXPECT_EQ(MessageBoxes::ShownTexts()[2], c.message);
        EXPECT_EQ(Wizard->CurrentStep, 4);
        EXPECT_TRUE(Control<QWidget>(*Wizard, "pnlStep4").isVisible());
        EXPECT_TRUE(Control<QPushButton>(*Wizard, "cmdNext").isEnabled());
        EXPECT_TRUE(Control<QPushButton>(*Wizard, "cmdBack").isEnabled());
        EXPECT_TRUE(Control<QPushButton>(*Wizard, "cmdCancel").isEnabled());
        EXPECT_TRUE(Wizard->isVisible());
        EXPECT_EQ(ReadWholeFile(leftover), before);
        EXPECT_EQ(Desktop.Trashed(), QStringList());
        EXPECT_EQ(DataFolderFiles(), QStringList({"data/site1.accdb"}));
    }
}

// An import that fails leaves nothing of the profile behind: no database, no temporary, no
// profile file; the wizard is back on its last page.
TEST_F(WizardTest, AFailedImportLeavesNothingBehind) {
    Desktop.AnswerFile("/old/autonoom.bst");
    Import = [](const QString&, const QString& into,
                const TLegacyImportProgress&) -> TLegacyImportSummary {
        WriteTextFile(into, "half imported");
        throw VyrError("Error reading /old/autonoom.bst");
    };
    Next(2);
    Control<QRadioButton>(*Wizard, "dbBSTFiles").click();
    QTest::mouseClick(&Control<QPushButton>(*Wizard, "cmdBrowseBSTFiles"), Qt::LeftButton);
    Next(2);
    Control<QLineEdit>(*Wizard, "txtProfileName").setText("Legacy");
    Next();
    EXPECT_EQ(MessageBoxes::ShownTexts(),
              QStringList{"The files of the older software could not be imported: Error reading "
                          "/old/autonoom.bst\n\nNo profile was created."});
    EXPECT_EQ(DataFolderFiles(), QStringList());
    EXPECT_EQ(Wizard->CurrentStep, 4);
    EXPECT_TRUE(Control<QPushButton>(*Wizard, "cmdNext").isEnabled());
    EXPECT_TRUE(Control<QPushButton>(*Wizard, "cmdCancel").isEnabled());
}

TEST_F(WizardTest, TheWindowHasAFixedSize) {
    EXPECT_EQ(Wizard->minimumSize(), Wizard->maximumSize());
}

// The real import behind the wizard, from files the operator chose.
class WizardImportTest : public WizardTest {
protected:
    void SetUp() override {
        WizardTest::SetUp();
        Legacy = Home->Path() + "/old";
        QDir().mkpath(Legacy);
        ASSERT_TRUE(
            WriteLegacyFile(Legacy + "/autonoom.bst", ControllerRecord("A1B2C3", "Front door") +
                                                          ControllerRecord("", "") +
                                                          ControllerRecord("B1B2C3", "Back door")));
        Desktop.AnswerFile(Legacy + "/autonoom.bst");
        Next(2);
        Control<QRadioButton>(*Wizard, "dbBSTFiles").click();
        QTest::mouseClick(&Control<QPushButton>(*Wizard, "cmdBrowseBSTFiles"), Qt::LeftButton);
        Next(2);
        Control<QLineEdit>(*Wizard, "txtProfileName").setText("Old site");
    }

    QString Legacy;
};

TEST_F(WizardImportTest, ASuccessfulImportWritesTheProfileAndShowsTheSummary) {
    QByteArray cards;
    for (int i = 0; i < 600; ++i)
        cards += CardRecord(QByteArray::number(i + 1).rightJustified(10, '0'), "Holder", {}, {},
                            {{1, 1}, {3, 2}});
    cards += CardRecord("", "empty");
    ASSERT_TRUE(WriteLegacyFile(Legacy + "/asleutel.bst", cards));
    Next();

    EXPECT_EQ(Wizard->result(), QDialog::Accepted);
    EXPECT_TRUE(QFile::exists(Profiles() + "oldsite.ini"));
    ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1);
    EXPECT_EQ(MessageBoxes::ShownMessages()[0].kind, MessageBoxes::Information);
    const QString summary = MessageBoxes::ShownMessages()[0].text;
    for (const char* line :
         {"Controllers imported: 2", "Controller record skipped (no valid controller code): 1",
          "Cardholders imported: 600", "Card record skipped (no card number): 1",
          "Zone rows written: 1200"})
        EXPECT_TRUE(summary.contains(line)) << line << " in " << summary.toStdString();
    EXPECT_EQ(Control<QProgressBar>(*Wizard, "prgImport").value(), 601);

    TMySQLite db;
    db.ConnectionString = JetConnectionString(Databases() + "oldsite.accdb");
    ASSERT_TRUE(db.Connect());
    const std::unique_ptr<TMyResultSet> result =
        db.Query("SELECT COUNT(*) FROM CardZones z JOIN Controllers c ON c.ConID = z.ConID "
                 "WHERE c.ConName = \"Back door\" AND z.ZoneID = 2");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->Fields(0).AsInteger(), 600);
}

// The wizard goes away while its import runs (the program is ending): the import is called off
// halfway, on its own thread, and nothing of the profile is left, not even the new database.
TEST_F(WizardImportTest, AWizardGoneDuringTheImportLeavesNoProfileAndNoDatabase) {
    QByteArray cards;
    for (int i = 0; i < 2000; ++i)
        cards += CardRecord(QByteArray::number(i + 1).rightJustified(10, '0'), "Holder", {}, {},
                            {{1, 1}});
    ASSERT_TRUE(WriteLegacyFile(Legacy + "/asleutel.bst", cards));
    QSemaphore halfway;
    QSemaphore never;
    Import = [&](const QString& from, const QString& into, const TLegacyImportProgress& progress) {
        return ImportLegacyFiles(from, into, [&](qint64 done, qint64 total) {
            progress(done, total);
            if (done < 1000 || halfway.available() > 0)
                return;
            halfway.release();
            // Rows are written, the transaction is open: held here until called off (or, should
            // nothing call it off, for long enough to fail the test rather than hang it).
            const QDeadlineTimer deadline(30000);
            do
                progress(done, total);
            while (!never.tryAcquire(1, 10) && !deadline.hasExpired());
        });
    };
    QTest::mouseClick(&Control<QPushButton>(*Wizard, "cmdNext"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return halfway.available() > 0; }, 30000));
    Wizard.reset();
    EXPECT_EQ(DataFolderFiles(), QStringList());
    EXPECT_EQ(MessageBoxes::ShownMessages().size(), 0);
}

TEST_F(WizardImportTest, AFailedImportLeavesNothingAndTheSameNameWorksAgain) {
    // asleutel.bst is missing: the controllers were read, the cards cannot be.
    Next();
    ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1);
    EXPECT_EQ(MessageBoxes::ShownMessages()[0].kind, MessageBoxes::Error);
    EXPECT_TRUE(MessageBoxes::ShownMessages()[0].text.contains(Legacy + "/asleutel.bst"))
        << MessageBoxes::ShownMessages()[0].text.toStdString();
    EXPECT_FALSE(QFile::exists(Profiles() + "oldsite.ini"));
    EXPECT_FALSE(QFile::exists(Databases() + "oldsite.accdb"));
    EXPECT_EQ(DataFolderFiles(), QStringList());
    EXPECT_EQ(Wizard->CurrentStep, 4);
    EXPECT_TRUE(Control<QWidget>(*Wizard, "pnlStep4").isVisible());
    EXPECT_FALSE(Control<QProgressBar>(*Wizard, "prgImport").isVisible());
    EXPECT_TRUE(Control<QPushButton>(*Wizard, "cmdNext").isEnabled());
    EXPECT_TRUE(Control<QPushButton>(*Wizard, "cmdCancel").isEnabled());
    EXPECT_TRUE(Wizard->isVisible());

    MessageBoxes::ClearShown();
    ASSERT_TRUE(WriteLegacyFile(Legacy + "/asleutel.bst", CardRecord("0000000001", "A")));
    Next();
    EXPECT_EQ(Wizard->result(), QDialog::Accepted);
    EXPECT_TRUE(QFile::exists(Profiles() + "oldsite.ini"));
    ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1);
    EXPECT_EQ(MessageBoxes::ShownMessages()[0].kind, MessageBoxes::Information);
}

} // namespace
