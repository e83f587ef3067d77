#include "app/main.h"
#include "controllers/pendingchanges.h"
#include "db/MyDBConnector.h"
#include "db/MyPostgreSQL.h"
#include "db/MySQLite.h"
#include "db/cardindexes.h"
#include "profiles/VYRStandProfile.h"
#include "profiles/login.h"
#include "profiles/profilesession.h"
#include "shared/datadir.h"
#include "shared/ini.h"
#include "shared/messagebox.h"
#include "shared/publictypes.h"
#include "shared/translation.h"

#include "modal.h"
#include "pgcluster.h"
#include "pofile.h"
#include "testenv.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTreeWidget>

#include <functional>

namespace {

class StartupTest : public HomeTest {
protected:
    void TearDown() override {
        UseLanguage("en");
        HomeTest::TearDown();
    }

    TRunSettings RunSettings;
    QString Data() const { return DataDirectory(); }
    // The open profile's connector, or nullptr.
    static TMyDBConnector* OpenDatabase(const TfrmMain& main) {
        return main.Session() ? &main.Session()->Database() : nullptr;
    }

    // A ready profile whose database is a copy of the template.
    void MakeProfile(const QString& stem, const QString& name) {
        QDir().mkpath(Data() + "/profiles");
        QDir().mkpath(Data() + "/data");
        ASSERT_TRUE(QFile::copy(ProgramDirectory() + "/default.accdb",
                                Data() + "/data/" + stem + ".accdb"));
        IniFile ini(Data() + "/profiles/" + stem + ".ini");
        ini.WriteString("profile", "name", name);
        ini.WriteString("database", "filename", "data\\" + stem + ".accdb");
    }
    static void Click(QWidget* dialog, const char* button) {
        QTest::mouseClick(&Control<QPushButton>(*dialog, button), Qt::LeftButton);
    }
    static void AcceptLogin() {
        WhenModal([](QWidget* login) { Click(login, "cmdOK"); });
    }
    static void CancelLogin() {
        WhenModal([](QWidget* login) { Click(login, "cmdCancel"); });
    }
};

TEST_F(StartupTest, FromAnEmptyDataDirectoryThroughWizardAndSelectionToTheMainWindow) {
    WhenModal([](QWidget* wizard) {
        for (int page = 0; page < 4; ++page)
            Click(wizard, "cmdNext");
        Control<QLineEdit>(*wizard, "txtProfileName").setText("Site 1");
        AcceptLogin(); // armed before Finish: the selection opens right after the wizard
        Click(wizard, "cmdNext");
    });
    TfrmMain frmMain(Desktop, RunSettings);
    ASSERT_TRUE(frmMain.FormCreate());

    EXPECT_EQ(frmMain.windowTitle(), "VYR Standalone Software V0.9");
    EXPECT_EQ(Control<QLabel>(frmMain, "lblTitle").text(), "Controllers for profile Site 1");
    EXPECT_EQ(Control<QLabel>(frmMain, "lblSubTitle").text(), "Currently listing 0 controllers");
    EXPECT_TRUE(QFile::exists(Data() + "/data/site1.accdb"));
    const IniFile profile(Data() + "/profiles/site1.ini");
    EXPECT_EQ(profile.ReadString("profile", "name", ""), "Site 1");
    EXPECT_EQ(profile.ReadString("database", "filename", ""), "data/site1.accdb");
    EXPECT_EQ(IniFile(SettingsFileName()).ReadString("profiles", "lastprofile", ""), "site1.ini");
    ASSERT_TRUE(frmMain.Session());
    EXPECT_TRUE(frmMain.Session()->IsConnected());
    EXPECT_EQ(MessageBoxes::ShownTexts(), QStringList{"Adapter not loaded"});
    EXPECT_EQ(Control<QStatusBar>(frmMain, "StatusBar").findChildren<QLabel*>().size(), 3);
    EXPECT_TRUE(Control<QAction>(frmMain, "mnuLanguageEnglish").isChecked());
    EXPECT_FALSE(Control<QAction>(frmMain, "mnuLanguageDutch").isChecked());
    EXPECT_EQ(Control<QAction>(frmMain, "mnuFileProfiles").text(), "&Profiles...");
    EXPECT_TRUE(ReadWholeFile(Data() + "/applog.log").endsWith(": Application start - V0.9\r\n"));
    EXPECT_EQ(QFile::permissions(Data()) & (QFileDevice::ReadOther | QFileDevice::ReadGroup), 0)
        << "the data directory holds personal data";
}

TEST_F(StartupTest, ProfileManagementFromTheMenuKeepsTheOpenProfile) {
    MakeProfile("north", "North");
    MakeProfile("south", "South");
    AcceptLogin();
    TfrmMain frmMain(Desktop, RunSettings);
    ASSERT_TRUE(frmMain.FormCreate());
    const TProfileSession* open = frmMain.Session();
    MessageBoxes::ClearShown();
    WhenModal([](QWidget* dialog) {
        EXPECT_EQ(dialog->objectName(), "frmProfileManagement");
        QTreeWidget& list = Control<QTreeWidget>(*dialog, "VSTProfiles");
        QAction& remove = Control<QAction>(*dialog, "mnuDelete");
        for (int row : {0, 1}) {
            list.setCurrentItem(list.topLevelItem(row));
            remove.trigger();
        }
        Click(dialog, "cmdClose");
    });
    Control<QAction>(frmMain, "mnuFileProfiles").trigger();
    ASSERT_EQ(MessageBoxes::ShownMessages().size(), 2);
    EXPECT_EQ(MessageBoxes::ShownMessages()[0].kind, MessageBoxes::Warning) << "North is open";
    EXPECT_TRUE(QFile::exists(Data() + "/profiles/north.ini"));
    EXPECT_FALSE(QFile::exists(Data() + "/profiles/south.ini"));
    ASSERT_EQ(frmMain.Session(), open);
    EXPECT_EQ(open->Profile().ProfileName, "North");
    EXPECT_TRUE(open->IsConnected());
}

TEST_F(StartupTest, CancelledWizardWarnsAndEnds) {
    WhenModal([](QWidget* wizard) { Click(wizard, "cmdCancel"); });
    TfrmMain frmMain(Desktop, RunSettings);
    EXPECT_FALSE(frmMain.FormCreate());
    EXPECT_EQ(MessageBoxes::ShownTexts().last(),
              "No profiles found! This program cannot work without a database connection!");
    EXPECT_TRUE(QDir(Data() + "/profiles").isEmpty());
    EXPECT_FALSE(QFile::exists(SettingsFileName())) << "start-up itself writes no settings";
}

TEST_F(StartupTest, CancelInTheProfileSelectionEndsTheProgram) {
    MakeProfile("north", "North");
    CancelLogin();
    TfrmMain frmMain(Desktop, RunSettings);
    EXPECT_FALSE(frmMain.FormCreate());
}

TEST_F(StartupTest, ALongLogIsCutToTheNewestLines) {
    QDir().mkpath(Data());
    QByteArray text;
    for (int i = 0; i < 10500; ++i)
        text += "old entry\r\n";
    ASSERT_TRUE(WriteTextFile(Data() + "/applog.log", text));
    MakeProfile("north", "North");
    CancelLogin();
    TfrmMain frmMain(Desktop, RunSettings);
    frmMain.FormCreate();
    QList<QByteArray> lines = ReadWholeFile(Data() + "/applog.log").split('\n');
    lines.removeLast();
    ASSERT_EQ(lines.size(), 10001);
    EXPECT_TRUE(lines[9999].endsWith(": Application start - V0.9\r"));
    EXPECT_TRUE(lines[10000].endsWith(": Log truncated with 501 lines\r"));
}

TEST_F(StartupTest, AnInvalidReaderIsReportedAndStartUpGoesOn) {
    MakeProfile("north", "North");
    IniFile(SettingsFileName()).WriteString("settings", "reader", "maximreader");
    AcceptLogin();
    TfrmMain frmMain(Desktop, RunSettings);
    ASSERT_TRUE(frmMain.FormCreate());
    EXPECT_EQ(MessageBoxes::ShownTexts(),
              (QStringList{"Invalid reader selected", "Adapter not loaded"}));
    EXPECT_EQ(RunSettings.ReaderName, "maximreader");
}

TEST_F(StartupTest, TheReaderBoxesSpeakTheSettingsLanguageWhateverWasActiveBefore) {
    struct Case {
        const char* settingsLanguage;
        const char* activeBefore; // the desktop's language, or what an earlier window left
    };
    MakeProfile("north", "North");
    for (const Case c : {Case{"nl", "en"}, Case{"en", "nl"}}) {
        SCOPED_TRACE(c.settingsLanguage);
        MessageBoxes::ClearShown();
        IniFile settings(SettingsFileName());
        settings.WriteString("settings", "reader", "DS9097");
        settings.WriteString("settings", "language", c.settingsLanguage);
        UseLanguage(c.activeBefore);
        AcceptLogin();
        TfrmMain frmMain(Desktop, RunSettings);
        ASSERT_TRUE(frmMain.FormCreate());

        UseLanguage(c.settingsLanguage);
        ASSERT_EQ(MessageBoxes::ShownMessages().size(), 2);
        const MessageBoxes::Shown invalidReader = MessageBoxes::ShownMessages()[0];
        const MessageBoxes::Shown notLoaded = MessageBoxes::ShownMessages()[1];
        EXPECT_EQ(invalidReader.text, Translate("Invalid reader selected"));
        EXPECT_EQ(invalidReader.title, Translate("Error"));
        EXPECT_EQ(notLoaded.text, Translate("Adapter not loaded"));
        EXPECT_EQ(notLoaded.title, Translate("Information"));
    }
    UseLanguage("nl");
    EXPECT_NE(Translate("Adapter not loaded"), "Adapter not loaded") << "no Dutch for the box";
}

TEST_F(StartupTest, OddSettingsFallBackToTheDefaults) {
    MakeProfile("north", "North");
    ASSERT_TRUE(WriteTextFile(SettingsFileName(),
                              "[DRIVER]\nAdapter=serial\nport=\n[Settings]\nLANGUAGE=NL\n"));
    AcceptLogin();
    TfrmMain frmMain(Desktop, RunSettings);
    ASSERT_TRUE(frmMain.FormCreate());
    EXPECT_EQ(RunSettings.Driver.DriverAdapter, 0);
    EXPECT_EQ(RunSettings.Driver.DriverPort, 0);
    EXPECT_EQ(RunSettings.Driver.DriverArc, "32");
    EXPECT_TRUE(Control<QAction>(frmMain, "mnuLanguageEnglish").isChecked())
        << "only exactly \"nl\" is Dutch";
    EXPECT_EQ(Control<QAction>(frmMain, "mnuFileExit").text(), "&Exit");
}

TEST_F(StartupTest, SwitchingLanguageRetranslatesAtOnceAndIsRemembered) {
    MakeProfile("north", "North");
    AcceptLogin();
    {
        TfrmMain frmMain(Desktop, RunSettings);
        ASSERT_TRUE(frmMain.FormCreate());
        const QString englishTitle = Control<QLabel>(frmMain, "lblTitle").text();
        Control<QAction>(frmMain, "mnuLanguageDutch").trigger();
        EXPECT_TRUE(Control<QAction>(frmMain, "mnuLanguageDutch").isChecked());
        EXPECT_FALSE(Control<QAction>(frmMain, "mnuLanguageEnglish").isChecked());
        EXPECT_EQ(IniFile(SettingsFileName()).ReadString("settings", "language", ""), "nl");
        EXPECT_NE(Control<QMenu>(frmMain, "mnuLanguage").title(), "&Language");
        EXPECT_NE(Control<QLabel>(frmMain, "lblTitle").text(), englishTitle);
        EXPECT_TRUE(Control<QLabel>(frmMain, "lblTitle").text().contains("North"));
        Control<QAction>(frmMain, "mnuLanguageEnglish").trigger();
        EXPECT_EQ(Control<QMenu>(frmMain, "mnuLanguage").title(), "&Language");
        EXPECT_EQ(Control<QLabel>(frmMain, "lblTitle").text(), englishTitle);
        Control<QAction>(frmMain, "mnuLanguageDutch").trigger();
    }
    AcceptLogin();
    TfrmMain next(Desktop, RunSettings);
    ASSERT_TRUE(next.FormCreate());
    EXPECT_TRUE(Control<QAction>(next, "mnuLanguageDutch").isChecked());
    EXPECT_EQ(Control<QMenu>(next, "mnuLanguage").title(), Translate("&Language"));
    EXPECT_NE(Control<QMenu>(next, "mnuLanguage").title(), "&Language");
}

TEST_F(StartupTest, ALanguageSwitchThatCannotBeSavedChangesNothing) {
    MakeProfile("north", "North");
    AcceptLogin();
    TfrmMain frmMain(Desktop, RunSettings);
    ASSERT_TRUE(frmMain.FormCreate());
    QFile::setPermissions(SettingsFileName(), QFileDevice::ReadOwner);
    MessageBoxes::ClearShown();
    Control<QAction>(frmMain, "mnuLanguageDutch").trigger();
    ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1);
    EXPECT_EQ(MessageBoxes::ShownMessages()[0].kind, MessageBoxes::Error);
    EXPECT_EQ(MessageBoxes::ShownTexts()[0], "Unable to write to " + SettingsFileName());
    EXPECT_TRUE(Control<QAction>(frmMain, "mnuLanguageEnglish").isChecked());
    EXPECT_EQ(Control<QMenu>(frmMain, "mnuLanguage").title(), "&Language");
    EXPECT_EQ(IniFile(SettingsFileName()).ReadString("settings", "language", "en"), "en");
}

// A database that cannot be opened is not a site without controllers: the selection says why,
// once, with the connector's reason, and no main window comes up on it. The same for a file that
// holds no database and for a server that does not answer (no server listens on that port).
TEST_F(StartupTest, AProfileWhoseDatabaseCannotBeOpenedIsExplainedInsteadOfAnEmptyMainWindow) {
    const struct {
        const char* name;
        std::function<void()> make;
        const char* reason;
    } cases[] = {
        {"file",
         [this] {
             MakeProfile("north", "North");
             ASSERT_TRUE(QFile::remove(Data() + "/data/north.accdb"));
             ASSERT_TRUE(WriteTextFile(Data() + "/data/north.accdb", "this is no database"));
         },
         "is not a database this program can open"},
        {"server",
         [this] {
             QDir().mkpath(Data() + "/profiles");
             IniFile ini(Data() + "/profiles/north.ini");
             ini.WriteString("profile", "name", "North");
             ini.WriteString(
                 "database", "connection",
                 TTestCluster::Shared().Connection("postgres").replace("port=5432", "port=5433"));
         },
         ".s.PGSQL.5433"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(Data() + "/profiles").removeRecursively();
        QDir(Data() + "/data").removeRecursively();
        MessageBoxes::ClearShown();
        c.make();
        QStringList shownAfterOk;
        WhenModal([&](QWidget* login) {
            MessageBoxes::ClearShown(); // start-up's own notes (no adapter here) are not the
                                        // subject
            Click(login, "cmdOK");
            // The database is opened beside the window; OK answers once that is over.
            EXPECT_TRUE(QTest::qWaitFor([&] { return !static_cast<TfrmLogin*>(login)->Opening(); },
                                        120000));
            shownAfterOk = MessageBoxes::ShownTexts();
            Click(login, "cmdCancel");
        });
        TfrmMain frmMain(Desktop, RunSettings);
        EXPECT_FALSE(frmMain.FormCreate());
        ASSERT_EQ(shownAfterOk.size(), 1) << shownAfterOk.join("|").toStdString();
        EXPECT_TRUE(
            shownAfterOk.first().startsWith("The database of profile North cannot be opened:"));
        EXPECT_TRUE(shownAfterOk.first().contains(c.reason)) << shownAfterOk.first().toStdString();
        EXPECT_EQ(MessageBoxes::ShownTexts(), shownAfterOk) << "said once";
    }
}

// Opens a profile whose database was made before the unique card indexes, holding two
// cardholders: under two numbers, or both under `duplicate`. Returns whether the index on the
// card numbers is there afterwards; later reloads must say nothing more.
bool OpenOlderProfile(TDesktop& desktop, const QString& duplicate) {
    const QString file = DataDirectory() + "/data/north.accdb";
    QDir().mkpath(DataDirectory() + "/profiles");
    QDir().mkpath(DataDirectory() + "/data");
    EXPECT_TRUE(QFile::copy(ProgramDirectory() + "/default.accdb", file));
    IniFile ini(DataDirectory() + "/profiles/north.ini");
    ini.WriteString("profile", "name", "North");
    ini.WriteString("database", "filename", "data/north.accdb");
    {
        TMySQLite older;
        older.ConnectionString = JetConnectionString(file);
        EXPECT_TRUE(older.Connect());
        older.ExecuteQuery(QStringLiteral("DROP INDEX ") + CardHoldersUniqueIndex);
        older.ExecuteQuery(QStringLiteral("DROP INDEX ") + CardZonesUniqueIndex);
        for (const char* name : {"Ann", "Bob"})
            EXPECT_TRUE(older.ExecuteQuery(
                {"INSERT INTO CardHolders (CardNumber, CardHolder) VALUES (?, ?)",
                 {duplicate.isEmpty() ? QString(name) + "0000000" : duplicate, QString(name)}}));
    }
    WhenModal([](QWidget* login) {
        QTest::mouseClick(&Control<QPushButton>(*login, "cmdOK"), Qt::LeftButton);
    });
    TRunSettings settings;
    TfrmMain frmMain(desktop, settings);
    EXPECT_TRUE(frmMain.FormCreate());
    frmMain.ReloadControllers();
    const std::unique_ptr<TMyResultSet> rows = frmMain.Session()->Database().Query(
        {"SELECT COUNT(*) FROM sqlite_master WHERE name = ?", {QString(CardHoldersUniqueIndex)}});
    EXPECT_TRUE(rows);
    return rows && rows->Fields(0).AsInteger() == 1;
}

// What opening showed besides the start-up's own adapter report.
QStringList ShownAfterStart() {
    QStringList shown = MessageBoxes::ShownTexts();
    shown.removeAll("Adapter not loaded");
    return shown;
}

// A site on a server made before the unique card indexes and the table of stored marks (by hand,
// from an older README) gets them when the profile is opened, as an older file does.
TEST_F(StartupTest, AnOlderSiteOnAServerGetsWhatTheProgramAddsAtOpen) {
    TTestCluster& cluster = TTestCluster::Shared();
    const QString connection = cluster.NewDatabase();
    ASSERT_FALSE(connection.isEmpty()) << cluster.Error().toStdString();
    const QString schema = connection.section("search_path=", 1).section('\'', 0, 0);
    {
        TMyPostgreSQL site;
        site.ConnectionString = connection;
        ASSERT_TRUE(site.ConnectMakingSite()) << site.GetLastError().toStdString();
    }
    ASSERT_EQ(
        cluster.Sql("postgres", QString("DROP TABLE %1.PendingChanges; DROP INDEX %1.%2; "
                                        "DROP INDEX %1.%3")
                                    .arg(schema, CardHoldersUniqueIndex, CardZonesUniqueIndex)),
        "");
    QDir().mkpath(Data() + "/profiles");
    IniFile ini(Data() + "/profiles/north.ini");
    ini.WriteString("profile", "name", "North");
    ini.WriteString("database", "connection", connection);
    AcceptLogin();
    TfrmMain frmMain(Desktop, RunSettings);
    ASSERT_TRUE(frmMain.FormCreate());
    ASSERT_TRUE(frmMain.Session());
    TMyDBConnector& database = frmMain.Session()->Database();
    EXPECT_EQ(database.GetDBTypeName(), "postgresql");
    const std::unique_ptr<TMyResultSet> indexes = database.Query(
        {"SELECT COUNT(*) FROM pg_indexes WHERE (schemaname = current_schema()) "
         "AND (indexname IN (?, ?))",
         {QString(CardHoldersUniqueIndex).toLower(), QString(CardZonesUniqueIndex).toLower()}});
    ASSERT_TRUE(indexes) << database.GetLastError().toStdString();
    EXPECT_EQ(indexes->Fields(0).AsInteger(), 2);
    EXPECT_TRUE(database.Query("SELECT ConID FROM PendingChanges"))
        << database.GetLastError().toStdString();
    EXPECT_TRUE(ShownAfterStart().isEmpty()) << ShownAfterStart().join("|").toStdString();
}

TEST_F(StartupTest, AnOlderDatabaseWithoutDuplicatesGetsTheCardIndexesSilently) {
    EXPECT_TRUE(OpenOlderProfile(Desktop, {}));
    EXPECT_TRUE(ShownAfterStart().isEmpty());
}

TEST_F(StartupTest, AnOlderDatabaseWithDuplicatesStaysAsItWasAndTheOperatorLearnsTheNumbersOnce) {
    EXPECT_FALSE(OpenOlderProfile(Desktop, "0A1B2C3D4E"));
    EXPECT_EQ(ShownAfterStart(),
              QStringList{"This card number is in the database more than once: 0A1B2C3D4E. "
                          "Delete the extra cardholders in the cardholder list, then open the "
                          "profile again."});
    EXPECT_TRUE(UntranslatedTexts({"These card numbers are in the database more than once: %s. "
                                   "Delete the extra cardholders in the cardholder list, then "
                                   "open the profile again."})
                    .isEmpty());
}

// Keys still to be written when the program was closed are still to be written when it opens the
// profile again; a database made before marks were stored gets their table and starts unmarked.
TEST_F(StartupTest, TheMainWindowOpensWithTheMarksTheDatabaseKept) {
    for (const bool older : {false, true}) {
        SCOPED_TRACE(older ? "older database" : "template database");
        QDir(Data()).removeRecursively();
        MakeProfile("north", "North");
        {
            TMySQLite site;
            site.ConnectionString = JetConnectionString(Data() + "/data/north.accdb");
            ASSERT_TRUE(site.Connect());
            for (const char* name : {"Gate", "Hall", "Shed"})
                ASSERT_TRUE(site.ExecuteQuery(
                    QStringLiteral("INSERT INTO Controllers (ConType, ConName, ConCode, ConByte1, "
                                   "ConByte2) VALUES(\"VYR292\", \"") +
                    name + "\", \"000000\", 2, 4)"));
            if (older)
                site.ExecuteQuery("DROP TABLE PendingChanges");
            else
                ASSERT_TRUE(site.ExecuteQuery("INSERT INTO PendingChanges (ConID) SELECT ConID "
                                              "FROM Controllers WHERE ConName = \"Hall\""));
        }
        AcceptLogin();
        TfrmMain frmMain(Desktop, RunSettings);
        ASSERT_TRUE(frmMain.FormCreate());
        QStringList marked;
        const TControllerRecords& controllers = frmMain.Session()->Controllers();
        for (const auto& controller : controllers)
            if (controller->ChangesMade)
                marked << controller->ConName;
        EXPECT_EQ(marked, older ? QStringList() : QStringList{"Hall"});
        EXPECT_EQ(frmMain.ChangedControllerCount(), older ? 0 : 1);
        // Either way the database keeps the next mark.
        EXPECT_TRUE(StoreMarks(*OpenDatabase(frmMain), {controllers.front()->ConID}));
        EXPECT_TRUE(StoredMarks(OpenDatabase(frmMain)).contains(controllers.front()->ConID));
    }
}

} // namespace
