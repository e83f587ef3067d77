#include "db/MyPostgreSQL.h"
#include "profiles/VYRStandProfile.h"
#include "profiles/profilemanagement.h"
#include "profiles/profilewizard.h"
#include "profiles/sitemove.h"
#include "shared/datadir.h"
#include "shared/messagebox.h"

#include "faultproxy.h"
#include "legacyfiles.h"
#include "modal.h"
#include "pgcluster.h"
#include "profilefiles.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// The first field of every row of a query on a server database, or the error.
QStringList ServerColumn(const QString& connection, const QString& sql) {
    TMyPostgreSQL db;
    db.ConnectionString = connection;
    if (!db.Connect())
        return {"error: " + db.GetLastError()};
    const auto rows = db.Query(TMyStatement(sql));
    if (!rows)
        return {"error: " + db.GetLastError()};
    QStringList values;
    for (; !rows->Eof(); rows->Next())
        values << rows->Fields(0).AsString();
    return values;
}

class WizardServerTest : public HomeTest {
protected:
    void SetUp() override {
        HomeTest::SetUp();
        QDir().mkpath(DataDirectory() + "/profiles");
        QDir().mkpath(DataDirectory() + "/data");
        Connection = TTestCluster::Shared().NewDatabase();
        ASSERT_FALSE(Connection.isEmpty()) << TTestCluster::Shared().Error().toStdString();
        Wizard = std::make_unique<TfrmProfileWizard>(Desktop, nullptr);
        Wizard->show();
        MessageBoxes::SetAnsweringMode(true);
        MessageBoxes::ClearShown();
    }
    void TearDown() override {
        Wizard.reset();
        MessageBoxes::SetAnsweringMode(false);
        HomeTest::TearDown();
    }
    void Next() {
        QPushButton& next = Control<QPushButton>(*Wizard, "cmdNext");
        QTest::mouseClick(&next, Qt::LeftButton);
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return !Wizard->isVisible() || next.isEnabled(); }, 30000))
            << "Finish never ended";
    }
    // From the welcome page to the database page, with the server chosen and its text typed.
    void ChooseServer(const QString& connection) {
        Next();
        Control<QRadioButton>(*Wizard, "dbTypeServer").click();
        Control<QLineEdit>(*Wizard, "txtConnection").setText(connection);
    }
    // The rest of the way, Finish included.
    void Finish(const QString& name, const QString& legacyFiles = {}) {
        Next();
        if (!legacyFiles.isEmpty()) {
            Desktop.AnswerFile(legacyFiles);
            Control<QRadioButton>(*Wizard, "dbBSTFiles").click();
            QTest::mouseClick(&Control<QPushButton>(*Wizard, "cmdBrowseBSTFiles"), Qt::LeftButton);
        }
        Next();
        ASSERT_EQ(Wizard->CurrentStep, 4);
        Control<QLineEdit>(*Wizard, "txtProfileName").setText(name);
        Next();
    }
    QString ProfileFile(const QString& stem) const {
        return DataDirectory() + "/profiles/" + stem + ".ini";
    }

    QString Connection;
    std::unique_ptr<TfrmProfileWizard> Wizard;
};

TEST_F(WizardServerTest, TheServerChoiceTakesAConnectionTextAndSkipsTheFileLocation) {
    Next();
    for (const char* control : {"txtConnection", "cmdTestConnection"})
        EXPECT_FALSE(Control<QWidget>(*Wizard, control).isEnabled()) << control;
    Control<QRadioButton>(*Wizard, "dbTypeServer").click();
    Control<QLineEdit>(*Wizard, "txtConnection").setText(Connection + " password=secret");
    EXPECT_TRUE(Control<QPushButton>(*Wizard, "cmdTestConnection").isEnabled());
    // A text that may never reach a profile is refused here, where it can be mended.
    Next();
    EXPECT_EQ(Wizard->CurrentStep, 1);
    ASSERT_EQ(MessageBoxes::ShownTexts().size(), 1);
    EXPECT_THAT(MessageBoxes::ShownTexts()[0].toStdString(), HasSubstr("~/.pgpass"));

    Control<QLineEdit>(*Wizard, "txtConnection").setText(Connection);
    Next();
    EXPECT_EQ(Wizard->CurrentStep, 2);
    // Nothing to copy from a file onto a server.
    EXPECT_FALSE(Control<QRadioButton>(*Wizard, "dbExisting").isEnabled());
    Next();
    EXPECT_EQ(Wizard->CurrentStep, 4) << "no file location for a server";
    EXPECT_EQ(Control<QPushButton>(*Wizard, "cmdNext").text(), "Finish!");
    QTest::mouseClick(&Control<QPushButton>(*Wizard, "cmdBack"), Qt::LeftButton);
    EXPECT_EQ(Wizard->CurrentStep, 2);
}

struct TTestCase {
    const char* Name;
    const char* Suffix; // added to the fresh database's text
    const char* Sql;    // run first, or nullptr
    const char* Said;
};

class WizardServerTestButton : public WizardServerTest,
                               public ::testing::WithParamInterface<TTestCase> {};

TEST_P(WizardServerTestButton, SaysWhatItFoundOnAWorkerWhileTheWindowAnswers) {
    if (GetParam().Sql) {
        TMyPostgreSQL db;
        db.ConnectionString = Connection;
        ASSERT_TRUE(db.ConnectMakingSite()) << db.GetLastError().toStdString();
        ASSERT_TRUE(db.ExecuteCounted(TMyStatement(GetParam().Sql)) >= 0)
            << db.GetLastError().toStdString();
    }
    ChooseServer(Connection + GetParam().Suffix);
    QPushButton& test = Control<QPushButton>(*Wizard, "cmdTestConnection");
    QTest::mouseClick(&test, Qt::LeftButton);
    const QLabel& found = Control<QLabel>(*Wizard, "lblServerFound");
    ASSERT_TRUE(QTest::qWaitFor([&] { return test.isEnabled(); }, 30000));
    EXPECT_THAT(found.text().toStdString(), HasSubstr(GetParam().Said));
    // Typing another text takes the finding away: it was about the old one.
    QTest::keyClick(&Control<QLineEdit>(*Wizard, "txtConnection"), Qt::Key_Space);
    EXPECT_EQ(found.text(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Findings, WizardServerTestButton,
    ::testing::Values(
        TTestCase{"Empty", "", nullptr, "is empty"},
        TTestCase{"Site", "", "INSERT INTO Controllers (ConName) VALUES ('Gate')", "holds a site"},
        TTestCase{"Password", " password=secret", nullptr, "~/.pgpass"},
        TTestCase{"Unreachable", " host=/nonexistent/folder", nullptr, "could not be reached"}),
    [](const ::testing::TestParamInfo<TTestCase>& info) { return info.param.Name; });

TEST_F(WizardServerTest, AnEmptyDatabaseBecomesASiteAndTheProfileNamesTheServer) {
    ChooseServer(Connection);
    Finish("On server");
    EXPECT_EQ(Wizard->result(), QDialog::Accepted);
    TVYRStandProfile profile(ProfileFile("onserver"));
    ASSERT_TRUE(profile.LoadINI());
    EXPECT_EQ(profile.ServerConnection, Connection.trimmed());
    EXPECT_EQ(profile.DBFileName, "");
    EXPECT_EQ(InspectServerDatabase(Connection).Kind, TServerDatabaseKind::Site);
    EXPECT_TRUE(QDir(DataDirectory() + "/data").isEmpty()) << "no database file";
}

TEST_F(WizardServerTest, ASiteDatabaseIsTakenAsItIs) {
    {
        TMyPostgreSQL db;
        db.ConnectionString = Connection;
        ASSERT_TRUE(db.ConnectMakingSite());
        ASSERT_EQ(db.ExecuteCounted(
                      TMyStatement("INSERT INTO Controllers (ConName) VALUES (?)", {"Gate"})),
                  1);
    }
    ChooseServer(Connection);
    Finish("Existing");
    EXPECT_EQ(Wizard->result(), QDialog::Accepted);
    EXPECT_TRUE(QFile::exists(ProfileFile("existing")));
    EXPECT_EQ(ServerColumn(Connection, "SELECT ConName FROM Controllers"), QStringList({"Gate"}));
}

// A database the program cannot use as a site makes no profile, whose opening would only refuse it.
TEST_F(WizardServerTest,
       ADatabaseHoldingOtherTablesOrASiteOfOtherTypesIsRefusedAndNoProfileIsMade) {
    const struct {
        const char* what;
        // Run on a site the program made.
        QStringList statements;
        const char* said;
        QStringList tables;
    } cases[] = {
        // Only "invoices" stays.
        {"other tables",
         {"CREATE TABLE invoices (id integer)", "DROP TABLE CardZones", "DROP TABLE CardHolders",
          "DROP TABLE Controllers", "DROP TABLE PendingChanges", "DROP TABLE Journal"},
         "invoices",
         {"invoices"}},
        // Every list would read no cardholder at all.
        {"a site of an older description",
         {"ALTER TABLE CardHolders ALTER COLUMN Deleted DROP DEFAULT, ALTER COLUMN Deleted TYPE "
          "integer USING 0"},
         "The column CardHolders.Deleted is of type integer; the program needs boolean.",
         {"cardholders", "cardzones", "controllers", "journal", "pendingchanges"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString connection = TTestCluster::Shared().NewDatabase();
        ASSERT_FALSE(connection.isEmpty()) << TTestCluster::Shared().Error().toStdString();
        {
            TMyPostgreSQL db;
            db.ConnectionString = connection;
            ASSERT_TRUE(db.ConnectMakingSite());
            for (const QString& sql : c.statements)
                ASSERT_GE(db.ExecuteCounted(TMyStatement(sql)), 0)
                    << db.GetLastError().toStdString();
        }
        Wizard = std::make_unique<TfrmProfileWizard>(Desktop, nullptr);
        Wizard->show();
        MessageBoxes::ClearShown();
        ChooseServer(connection);
        Finish("Other");
        EXPECT_TRUE(Wizard->isVisible());
        EXPECT_EQ(Wizard->CurrentStep, 4);
        ASSERT_FALSE(MessageBoxes::ShownTexts().isEmpty());
        EXPECT_THAT(MessageBoxes::ShownTexts().last().toStdString(), HasSubstr(c.said));
        EXPECT_FALSE(QFile::exists(ProfileFile("other")));
        const TServerDatabaseInfo info = InspectServerDatabase(connection);
        EXPECT_EQ(info.Tables, c.tables) << "nothing was changed";
    }
}

TEST_F(WizardServerTest, TheOlderSoftwaresFilesAreImportedIntoTheServer) {
    const QString legacy = DataDirectory() + "/old";
    QDir().mkpath(legacy);
    ASSERT_TRUE(
        WriteLegacyFile(legacy + "/autonoom.bst", ControllerRecord("A1B2C3", "Front door") +
                                                      ControllerRecord("B1B2C3", "Back door")));
    QByteArray cards;
    for (int i = 0; i < 300; ++i)
        cards += CardRecord(QByteArray::number(i + 1).rightJustified(10, '0'), "Holder", {}, {},
                            {{1, 1}, {2, 3}});
    ASSERT_TRUE(WriteLegacyFile(legacy + "/asleutel.bst", cards));
    ChooseServer(Connection);
    Finish("Imported", legacy + "/autonoom.bst");
    EXPECT_EQ(Wizard->result(), QDialog::Accepted);
    ASSERT_FALSE(MessageBoxes::ShownTexts().isEmpty());
    EXPECT_THAT(MessageBoxes::ShownTexts().last().toStdString(),
                HasSubstr("Cardholders imported: 300"));
    EXPECT_EQ(ServerColumn(Connection, "SELECT COUNT(*) FROM CardZones"), QStringList({"600"}));
    TVYRStandProfile profile(ProfileFile("imported"));
    ASSERT_TRUE(profile.LoadINI());
    EXPECT_EQ(profile.ServerConnection, Connection.trimmed());
}

// An import that fails halfway leaves the server's database empty and makes no profile.
TEST_F(WizardServerTest, AFailedImportLeavesTheServerEmpty) {
    const QString legacy = DataDirectory() + "/old";
    QDir().mkpath(legacy);
    ASSERT_TRUE(
        WriteLegacyFile(legacy + "/autonoom.bst", ControllerRecord("A1B2C3", "Front door")));
    // No card file beside it: the import stops after the controllers.
    ChooseServer(Connection);
    Finish("Broken", legacy + "/autonoom.bst");
    EXPECT_TRUE(Wizard->isVisible());
    EXPECT_FALSE(QFile::exists(ProfileFile("broken")));
    EXPECT_EQ(InspectServerDatabase(Connection).Kind, TServerDatabaseKind::Empty);
}

// The commit that makes the new site, cut before its answer came: the server kept it (the proxy
// lets the commit finish). Asked again, the server tells; when it cannot be asked, the outcome is
// unknown, no profile is made, and making it again with the same database takes the site as it is.
struct TLostCase {
    const char* Name;
    TFaultProxy::TMode Cut;
    bool Made;        // the profile is made at the first Finish
    const char* Said; // what the operator reads
};

class WizardLostCommit : public WizardServerTest, public ::testing::WithParamInterface<TLostCase> {
protected:
    bool Said(const char* text) const {
        return MessageBoxes::ShownTexts().join("\n").contains(QString::fromUtf8(text));
    }
};

TEST_P(WizardLostCommit, TheOperatorLearnsWhatTheServerKeptAndTheImportIsThereWhole) {
    const TLostCase& c = GetParam();
    TFaultProxy proxy(TTestCluster::Shared().Socket());
    ASSERT_TRUE(proxy.Listening()) << proxy.Error().toStdString();
    const QString legacy = DataDirectory() + "/old";
    QDir().mkpath(legacy);
    ASSERT_TRUE(
        WriteLegacyFile(legacy + "/autonoom.bst", ControllerRecord("A1B2C3", "Front door")));
    QByteArray cards;
    for (int i = 0; i < 300; ++i)
        cards += CardRecord(QByteArray::number(i % 200 + 1).rightJustified(10, '0'), "Holder", {},
                            {}, {{1, 1}});
    ASSERT_TRUE(WriteLegacyFile(legacy + "/asleutel.bst", cards));
    const QString through = proxy.Through(Connection);
    ChooseServer(through);
    proxy.SetMode(c.Cut);
    Finish("Lost", legacy + "/autonoom.bst");
    EXPECT_EQ(proxy.CommitCuts(), 1);
    const QString shown = MessageBoxes::ShownTexts().join("\n");
    EXPECT_TRUE(Said(c.Said)) << shown.toStdString();
    EXPECT_FALSE(Said("cannot be used")) << shown.toStdString();
    EXPECT_FALSE(Said("could not be imported")) << shown.toStdString();
    EXPECT_EQ(QFile::exists(ProfileFile("lost")), c.Made);
    EXPECT_EQ(Wizard->result() == QDialog::Accepted, c.Made);
    if (c.Made) {
        EXPECT_TRUE(Said("Cardholders imported: 200")) << shown.toStdString();
    }
    // Whole, and one row per card number, whatever the operator was told.
    EXPECT_EQ(ServerColumn(Connection,
                           "SELECT COUNT(*) || ' ' || COUNT(DISTINCT lower(CardNumber)) "
                           "FROM CardHolders"),
              QStringList({"200 200"}));
    EXPECT_EQ(ServerColumn(Connection, "SELECT COUNT(*) FROM CardZones"), QStringList({"200"}));
    if (c.Made)
        return;

    // Once the server answers, the same database makes the profile, without importing twice.
    proxy.SetMode(TFaultProxy::TMode::Pass);
    MessageBoxes::ClearShown();
    QTest::mouseClick(&Control<QPushButton>(*Wizard, "cmdBack"), Qt::LeftButton);
    ASSERT_EQ(Wizard->CurrentStep, 2);
    Control<QRadioButton>(*Wizard, "dbNew").click();
    Next();
    ASSERT_EQ(Wizard->CurrentStep, 4);
    Next();
    EXPECT_EQ(Wizard->result(), QDialog::Accepted)
        << MessageBoxes::ShownTexts().join("\n").toStdString();
    TVYRStandProfile profile(ProfileFile("lost"));
    ASSERT_TRUE(profile.LoadINI());
    EXPECT_EQ(profile.ServerConnection, through.trimmed());
    EXPECT_EQ(ServerColumn(Connection, "SELECT COUNT(*) FROM CardHolders"), QStringList({"200"}));
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, WizardLostCommit,
    ::testing::Values(TLostCase{"TheServerIsAskedAgain", TFaultProxy::TMode::CutAtCommit, true,
                                "Asked again, the server holds the whole site"},
                      TLostCase{"TheServerCannotBeAsked", TFaultProxy::TMode::CutAtCommitThenRefuse,
                                false, "whether the server kept it is not known"}),
    [](const ::testing::TestParamInfo<TLostCase>& info) { return info.param.Name; });

} // namespace

namespace {

// Profile management's "Move to server...": the dialog of its own, the move, and the list's profile
// naming the server afterwards.
class ManagementMoveTest : public HomeTest {
protected:
    void SetUp() override {
        HomeTest::SetUp();
        QDir().mkpath(DataDirectory() + "/profiles");
        QDir().mkpath(DataDirectory() + "/data");
        ASSERT_EQ(MakeDatabase(DataDirectory() + "/data/site.accdb",
                               {"INSERT INTO Controllers (ConID, ConName) VALUES (4, 'Gate')"}),
                  "");
        TVYRStandProfile profile(DataDirectory() + "/profiles/site.ini");
        profile.ProfileName = "Site";
        profile.DBFileName = "data/site.accdb";
        profile.SaveToINI(profile.ProfileFileName);
        LoadProfiles(Profiles);
        ASSERT_EQ(Profiles.size(), 1u);
        MessageBoxes::SetAnsweringMode(true);
        MessageBoxes::ClearShown();
    }
    void TearDown() override {
        MessageBoxes::SetAnsweringMode(false);
        Profiles.clear();
        HomeTest::TearDown();
    }
    // Types the text into the move dialog and presses Move; returns once the move ended.
    static void MoveTo(QWidget* dialog, const QString& connection) {
        Control<QLineEdit>(*dialog, "txtConnection").setText(connection);
        QPushButton& move = Control<QPushButton>(*dialog, "cmdMove");
        move.click();
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return !dialog->isVisible() || move.isEnabled(); }, 30000));
    }
    TProfileList Profiles;
};

TEST_F(ManagementMoveTest, MovesTheSelectedLocalProfileAndShowsWhereTheFileWent) {
    const QString connection = TTestCluster::Shared().NewDatabase();
    TfrmProfileManagement dialog(Desktop, Profiles);
    Control<QTreeWidget>(dialog, "VSTProfiles")
        .setCurrentItem(Control<QTreeWidget>(dialog, "VSTProfiles").topLevelItem(0));
    QPushButton& button = Control<QPushButton>(dialog, "cmdMoveToServer");
    EXPECT_EQ(button.text(), "Move to server...");
    ASSERT_TRUE(button.isEnabled());
    WhenModal([&](QWidget* move) { MoveTo(move, connection); });
    button.click();

    EXPECT_EQ(Profiles[0]->ServerConnection, connection.trimmed());
    EXPECT_EQ(Profiles[0]->DBFileName, "");
    EXPECT_FALSE(button.isEnabled()) << "the profile is on the server now";
    ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1);
    EXPECT_THAT(MessageBoxes::ShownTexts()[0].toStdString(), HasSubstr(".moved-to-server"));
    EXPECT_EQ(ServerColumn(connection, "SELECT ConName FROM Controllers WHERE ConID = 4"),
              QStringList({"Gate"}));
}

TEST_F(ManagementMoveTest, AFailedMoveIsReportedAndTheDialogStaysForAnotherTry) {
    const QString connection = TTestCluster::Shared().NewDatabase();
    ASSERT_EQ(TTestCluster::Shared().Sql(
                  "postgres", "CREATE TABLE " +
                                  connection.section("search_path=", 1).section('\'', 0, 0) +
                                  ".invoices (id integer)"),
              "");
    const QByteArray profileText = ReadWholeFile(Profiles[0]->ProfileFileName);
    TfrmProfileManagement dialog(Desktop, Profiles);
    Control<QTreeWidget>(dialog, "VSTProfiles")
        .setCurrentItem(Control<QTreeWidget>(dialog, "VSTProfiles").topLevelItem(0));
    bool stayedOpen = false;
    WhenModal([&](QWidget* move) {
        MoveTo(move, connection);
        stayedOpen = move->isVisible();
        Control<QPushButton>(*move, "cmdCancel").click();
    });
    Control<QPushButton>(dialog, "cmdMoveToServer").click();
    EXPECT_TRUE(stayedOpen);
    ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1);
    EXPECT_EQ(MessageBoxes::ShownMessages()[0].kind, MessageBoxes::Error);
    EXPECT_THAT(MessageBoxes::ShownTexts()[0].toStdString(), HasSubstr("not empty"));
    EXPECT_EQ(Profiles[0]->ServerConnection, "");
    EXPECT_EQ(ReadWholeFile(Profiles[0]->ProfileFileName), profileText);
}

// The move's commit, cut before its answer came: the server kept the site. Asked again at once,
// the server tells, and the move is finished; when it cannot be asked, the operator reads that
// the outcome is unknown, never that the move failed or went through, and another try or the
// profile's next opening settles it.
struct TLostMoveCase {
    const char* Name;
    TFaultProxy::TMode Cut;
    bool Moved; // at once
    MessageBoxes::Kind Kind;
    const char* Said;
    bool MoveAgain = false; // once the server is back, in the same dialog
};

class ManagementLostMove : public ManagementMoveTest,
                           public ::testing::WithParamInterface<TLostMoveCase> {};

TEST_P(ManagementLostMove, TheOperatorIsToldWhatTheServerKeptAndALaterStepSettlesTheRest) {
    const TLostMoveCase& c = GetParam();
    TFaultProxy proxy(TTestCluster::Shared().Socket());
    ASSERT_TRUE(proxy.Listening()) << proxy.Error().toStdString();
    const QString direct = TTestCluster::Shared().NewDatabase();
    const QString through = proxy.Through(direct);
    const QString file = DataDirectory() + "/data/site.accdb";
    const QString marker = SiteMoveMarkerName(Profiles[0]->ProfileFileName);
    TfrmProfileManagement dialog(Desktop, Profiles);
    Control<QTreeWidget>(dialog, "VSTProfiles")
        .setCurrentItem(Control<QTreeWidget>(dialog, "VSTProfiles").topLevelItem(0));
    bool markerLeft = false;
    WhenModal([&](QWidget* move) {
        proxy.SetMode(c.Cut);
        MoveTo(move, through);
        markerLeft = QFile::exists(marker);
        if (move->isVisible() && c.MoveAgain) {
            proxy.SetMode(TFaultProxy::TMode::Pass);
            MoveTo(move, through);
        }
        if (move->isVisible())
            Control<QPushButton>(*move, "cmdCancel").click();
    });
    Control<QPushButton>(dialog, "cmdMoveToServer").click();
    EXPECT_EQ(proxy.CommitCuts(), 1);
    const QList<MessageBoxes::Shown> shown = MessageBoxes::ShownMessages();
    ASSERT_EQ(shown.size(), c.MoveAgain ? 2 : 1)
        << MessageBoxes::ShownTexts().join("\n").toStdString();
    EXPECT_EQ(shown[0].kind, c.Kind);
    EXPECT_THAT(shown[0].text.toStdString(), HasSubstr(c.Said));
    EXPECT_THAT(shown[0].text.toStdString(), Not(HasSubstr("could not be moved")));
    EXPECT_EQ(markerLeft, !c.Moved);
    if (c.MoveAgain) {
        EXPECT_EQ(shown[1].kind, MessageBoxes::Information);
        EXPECT_THAT(shown[1].text.toStdString(), HasSubstr("on the server now"));
    }
    const bool moved = c.Moved || c.MoveAgain;
    EXPECT_EQ(Profiles[0]->ServerConnection, moved ? through.trimmed() : QString());
    EXPECT_EQ(ServerColumn(direct, "SELECT ConName FROM Controllers WHERE ConID = 4"),
              QStringList({"Gate"}))
        << "the server kept it";

    // The next opening finds the move settled, or settles it.
    proxy.SetMode(TFaultProxy::TMode::Pass);
    const TVYRStandProfile opened = SettleInterruptedMove(*Profiles[0]);
    EXPECT_EQ(opened.ServerConnection, through.trimmed());
    EXPECT_FALSE(QFile::exists(marker));
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_TRUE(QFile::exists(MovedDatabaseName(file)));
    EXPECT_EQ(ServerColumn(direct, "SELECT COUNT(*) FROM Controllers"), QStringList({"1"}));
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, ManagementLostMove,
    ::testing::Values(
        TLostMoveCase{"TheServerIsAskedAgain", TFaultProxy::TMode::CutAtCommit, true,
                      MessageBoxes::Information, "on the server now"},
        TLostMoveCase{"TheServerCannotBeAsked", TFaultProxy::TMode::CutAtCommitThenRefuse, false,
                      MessageBoxes::Warning, "It is not known whether the site reached the server"},
        TLostMoveCase{"TheOperatorTriesAgain", TFaultProxy::TMode::CutAtCommitThenRefuse, false,
                      MessageBoxes::Warning, "It is not known whether the site reached the server",
                      true}),
    [](const ::testing::TestParamInfo<TLostMoveCase>& info) { return info.param.Name; });

TEST_F(ManagementMoveTest, TheProfileInUseIsNotMoved) {
    TfrmProfileManagement dialog(Desktop, Profiles, nullptr, Profiles[0]->ProfileFileName);
    Control<QTreeWidget>(dialog, "VSTProfiles")
        .setCurrentItem(Control<QTreeWidget>(dialog, "VSTProfiles").topLevelItem(0));
    Control<QPushButton>(dialog, "cmdMoveToServer").click();
    ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1);
    EXPECT_THAT(MessageBoxes::ShownTexts()[0].toStdString(), HasSubstr("in use"));
    EXPECT_EQ(Profiles[0]->ServerConnection, "");
}

} // namespace
