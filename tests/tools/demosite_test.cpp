// The demo site that ./run.sh puts into a new demo home, opened the way the program opens it.
#include "demosite.h"

#include "app/main.h"
#include "controllers/controllerstatements.h"
#include "controllers/keyimage.h"
#include "db/MyDBConnector.h"
#include "profiles/profilesession.h"
#include "shared/datadir.h"
#include "shared/ini.h"
#include "shared/messagebox.h"
#include "shared/publictypes.h"
#include "shared/settings.h"

#include "modal.h"
#include "profiledb.h"
#include "testenv.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;

namespace {

class DemoSiteTest : public HomeTest {
protected:
    // The first rows of a query on the open profile's database, each as one text of its fields
    // joined by "|".
    QStringList Rows(const TMyStatement& statement) const {
        QStringList texts;
        TMyDBConnector& database = Main->Session()->Database();
        const std::unique_ptr<TMyResultSet> rows = database.Query(statement);
        EXPECT_TRUE(rows) << database.GetLastError().toStdString();
        if (!rows)
            return texts;
        for (rows->First(); !rows->Eof(); rows->Next()) {
            QStringList fields;
            for (int i = 0; i < rows->FieldCount(); ++i)
                fields << rows->Fields(i).AsString();
            texts << fields.join("|");
        }
        return texts;
    }

    TRunSettings RunSettings;
    TfrmMain* Main = nullptr;
};

TEST_F(DemoSiteTest, TheProgramOpensOnTheDemoSiteWithOneKeyToWrite) {
    // Another profile whose name sorts first: the selection must open on the demo site anyway.
    CreateDataFolders();
    ASSERT_TRUE(
        QFile::copy(ProgramDirectory() + "/default.accdb", DataDirectory() + "/data/alpha.accdb"));
    IniFile alpha(DataDirectory() + "/profiles/alpha.ini");
    alpha.WriteString("profile", "name", "Alpha");
    alpha.WriteString("database", "filename", "data/alpha.accdb");

    const TProfilePaths paths = MakeDemoSite();
    EXPECT_TRUE(QFile::exists(paths.ProfileFile));
    EXPECT_EQ(Settings::LastProfile(), QFileInfo(paths.ProfileFile).fileName());
    EXPECT_EQ(Settings::CustomCaption(1), "Department");

    QString offered;
    WhenModal([&](QWidget* login) {
        offered = Control<QComboBox>(*login, "cboProfile").currentText();
        QTest::mouseClick(&Control<QPushButton>(*login, "cmdOK"), Qt::LeftButton);
    });
    TfrmMain frmMain(Desktop, RunSettings);
    Main = &frmMain;
    ASSERT_TRUE(frmMain.FormCreate());
    EXPECT_EQ(offered, DemoProfileName);
    EXPECT_EQ(Control<QLabel>(frmMain, "lblTitle").text(),
              QString("Controllers for profile ") + DemoProfileName);

    QStringList listed;
    QStringList marked;
    const TControllerRecords& controllers = frmMain.Session()->Controllers();
    for (const auto& controller : controllers) {
        listed << controller->ConName + " " + QString::number(controller->CardCount);
        if (controller->ChangesMade)
            marked << controller->ConName;
    }
    EXPECT_THAT(listed, ElementsAre("Car park barrier 12", "Main entrance 12", "Server room 4",
                                    "Warehouse 6", "Workshop 6"));
    EXPECT_THAT(marked, ElementsAre(DemoMarkedController));
    EXPECT_EQ(frmMain.ChangedControllerCount(), 1);

    EXPECT_EQ(Rows("SELECT COUNT(*) FROM CardHolders WHERE (NOT Deleted)"), QStringList{"12"});
    EXPECT_EQ(Rows({"SELECT CardHolder, CardCustom1 FROM CardHolders WHERE CardNumber = ?",
                    {QString(DemoCardNumber)}}),
              QStringList{"Amber Klaverkamp|Reception"});
    EXPECT_EQ(Rows({"SELECT CardHolder FROM CardHolders WHERE CardNumber = ?", {"1C2B3A4F5E"}}),
              QStringList{QString::fromUtf8("C\u00e9line Moerbeek")});

    // Every controller's key can be written as it stands: "Load programmer" works on each.
    for (const auto& controller : controllers) {
        TKeyImageInput input;
        input.ConCode = controller->ConCode;
        input.ConByte1 = controller->ConByte1;
        input.ConByte2 = controller->ConByte2;
        for (int zone : {1, 2})
            (zone == 1 ? input.Zone1Cards : input.Zone2Cards) =
                Rows(SelectZoneCardsStatement(controller->ConID, zone));
        EXPECT_EQ(KeyImageProblem(input), QString()) << controller->ConName.toStdString();
    }
    EXPECT_TRUE(MessageBoxes::ShownTexts().isEmpty() ||
                MessageBoxes::ShownTexts() == QStringList{"Adapter not loaded"})
        << MessageBoxes::ShownTexts().join("|").toStdString();
}

} // namespace
