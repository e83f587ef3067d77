#include "app/main.h"
#include "app/options.h"
#include "shared/datadir.h"
#include "shared/ini.h"
#include "shared/messagebox.h"
#include "shared/publictypes.h"

#include "modal.h"
#include "pofile.h"
#include "testenv.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

class OptionsTest : public HomeTest {
protected:
    void SetUp() override {
        HomeTest::SetUp();
        CreateDataFolders();
    }
    static QStringList Shown(const TfrmOptions& dialog) {
        QStringList texts;
        for (const QLineEdit* edit : dialog.txtCustom)
            texts << edit->text();
        return texts;
    }
    static QStringList Stored() {
        const IniFile settings(SettingsFileName());
        QStringList texts;
        for (int i = 1; i <= 4; ++i)
            texts << settings.ReadString("settings", "custom" + QString::number(i), "<none>");
        return texts;
    }
};

TEST_F(OptionsTest, WithoutSettingsShowsTheDefaultsAndOkWritesAllFour) {
    TfrmOptions dialog(Desktop);
    EXPECT_EQ(dialog.windowTitle(), "Options");
    EXPECT_EQ(Shown(dialog), QStringList({"Custom 1", "Custom 2", "Custom 3", "Custom 4"}));
    EXPECT_EQ(dialog.txtDataDir->text(), DataDirectory());
    EXPECT_FALSE(dialog.txtDataDir->isEnabled());
    EXPECT_EQ(dialog.lblCustom[3]->text(), "Custom field 4:");
    EXPECT_EQ(dialog.lblCustom[3]->buddy(), dialog.txtCustom[3]);
    EXPECT_FALSE(QFile::exists(SettingsFileName())) << "opening writes nothing";
    EXPECT_EQ(UntranslatedWindowTexts(&dialog), QStringList());

    dialog.show();
    dialog.txtCustom[1]->setText(QString::fromUtf8("Afdeling \"Noord\" [2]"));
    QTest::mouseClick(dialog.cmdOK, Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(Stored(), QStringList({"Custom 1", QString::fromUtf8("Afdeling \"Noord\" [2]"),
                                     "Custom 3", "Custom 4"}));
    TfrmOptions again(Desktop);
    EXPECT_EQ(Shown(again)[1], QString::fromUtf8("Afdeling \"Noord\" [2]"));
}

TEST_F(OptionsTest, AnEmptyCaptionStaysEmpty) {
    IniFile(SettingsFileName()).WriteString("settings", "custom3", "");
    TfrmOptions dialog(Desktop);
    EXPECT_EQ(Shown(dialog), QStringList({"Custom 1", "Custom 2", "", "Custom 4"}));
    dialog.txtCustom[0]->clear();
    dialog.cmdOKClick();
    EXPECT_EQ(Stored(), QStringList({"", "Custom 2", "", "Custom 4"}));
    TfrmOptions again(Desktop);
    EXPECT_EQ(Shown(again), QStringList({"", "Custom 2", "", "Custom 4"}));
}

TEST_F(OptionsTest, CancelAndTheCloseBoxWriteNothing) {
    const std::vector<std::pair<const char*, std::function<void(TfrmOptions&)>>> ways = {
        {"Cancel", [](TfrmOptions& d) { QTest::mouseClick(d.cmdCancel, Qt::LeftButton); }},
        {"Escape", [](TfrmOptions& d) { QTest::keyClick(&d, Qt::Key_Escape); }},
        {"close box", [](TfrmOptions& d) { d.close(); }},
    };
    for (const auto& [what, leave] : ways) {
        TfrmOptions dialog(Desktop);
        dialog.show();
        dialog.txtCustom[0]->setText("Changed");
        leave(dialog);
        EXPECT_NE(dialog.result(), QDialog::Accepted) << what;
        EXPECT_FALSE(QFile::exists(SettingsFileName())) << what;
    }
}

TEST_F(OptionsTest, AFailedWriteIsReportedKeepsTheDialogOpenAndWritesNoKey) {
    IniFile(SettingsFileName()).WriteString("settings", "language", "en");
    const QByteArray before = ReadWholeFile(SettingsFileName());
    QFile::setPermissions(SettingsFileName(), QFileDevice::ReadOwner);
    TfrmOptions dialog(Desktop);
    dialog.show();
    for (QLineEdit* edit : dialog.txtCustom)
        edit->setText("New");
    // Through the button, so the application's error report shows what the operator sees.
    QTest::mouseClick(dialog.cmdOK, Qt::LeftButton);
    ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1);
    EXPECT_EQ(MessageBoxes::ShownMessages()[0].kind, MessageBoxes::Error);
    EXPECT_EQ(MessageBoxes::ShownTexts()[0], "Unable to write to " + SettingsFileName());
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(Shown(dialog), QStringList({"New", "New", "New", "New"}));
    EXPECT_EQ(ReadWholeFile(SettingsFileName()), before);
}

TEST_F(OptionsTest, OpenHandsTheDataDirectoryToTheDesktop) {
    TfrmOptions dialog(Desktop);
    dialog.show();
    QTest::mouseClick(dialog.cmdOpenDataDir, Qt::LeftButton);
    ASSERT_EQ(Desktop.Calls().size(), 1);
    EXPECT_EQ(Desktop.Calls()[0].Service, TFakeDesktop::TService::Folder);
    EXPECT_EQ(Desktop.Calls()[0].Path, DataDirectory());
    EXPECT_TRUE(MessageBoxes::ShownMessages().isEmpty());
}

TEST_F(OptionsTest, TheFileMenuOpensItAndEnterConfirms) {
    TRunSettings settings;
    TfrmMain main(Desktop, settings);
    QAction* options = main.findChild<QAction*>("mnuFileOptions");
    ASSERT_NE(options, nullptr);
    bool opened = false;
    WhenModal([&](QWidget* dialog) {
        opened = dialog->objectName() == "frmOptions";
        auto* first = Child<QLineEdit>(dialog, "txtCustom1");
        first->setText("Badge");
        QTest::keyClick(first, Qt::Key_Return);
    });
    options->trigger();
    EXPECT_TRUE(opened);
    EXPECT_EQ(Stored()[0], "Badge");
}

} // namespace
