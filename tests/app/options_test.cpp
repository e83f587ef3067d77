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
    static QLineEdit& Custom(const TfrmOptions& dialog, int field) {
        const QByteArray name = "txtCustom" + QByteArray::number(field);
        return Control<QLineEdit>(dialog, name.constData());
    }
    static QStringList Shown(const TfrmOptions& dialog) {
        QStringList texts;
        for (int field = 1; field <= 4; ++field)
            texts << Custom(dialog, field).text();
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
    const QLineEdit& dataDir = Control<QLineEdit>(dialog, "txtDataDir");
    EXPECT_EQ(dataDir.text(), DataDirectory());
    EXPECT_FALSE(dataDir.isEnabled());
    const QLabel& caption = Control<QLabel>(dialog, "lblCustom4");
    EXPECT_EQ(caption.text(), "Custom field 4:");
    EXPECT_EQ(caption.buddy(), &Custom(dialog, 4));
    EXPECT_FALSE(QFile::exists(SettingsFileName())) << "opening writes nothing";
    EXPECT_EQ(UntranslatedWindowTexts(&dialog), QStringList());

    dialog.show();
    Custom(dialog, 2).setText(QString::fromUtf8("Afdeling \"Noord\" [2]"));
    QTest::mouseClick(&Control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
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
    Custom(dialog, 1).clear();
    Control<QPushButton>(dialog, "cmdOK").click();
    EXPECT_EQ(Stored(), QStringList({"", "Custom 2", "", "Custom 4"}));
    TfrmOptions again(Desktop);
    EXPECT_EQ(Shown(again), QStringList({"", "Custom 2", "", "Custom 4"}));
}

TEST_F(OptionsTest, CancelAndTheCloseBoxWriteNothing) {
    const std::vector<std::pair<const char*, std::function<void(TfrmOptions&)>>> ways = {
        {"Cancel",
         [](TfrmOptions& d) {
             QTest::mouseClick(&Control<QPushButton>(d, "cmdCancel"), Qt::LeftButton);
         }},
        {"Escape", [](TfrmOptions& d) { QTest::keyClick(&d, Qt::Key_Escape); }},
        {"close box", [](TfrmOptions& d) { d.close(); }},
    };
    for (const auto& [what, leave] : ways) {
        TfrmOptions dialog(Desktop);
        dialog.show();
        Custom(dialog, 1).setText("Changed");
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
    for (int field = 1; field <= 4; ++field)
        Custom(dialog, field).setText("New");
    // Through the button, so the application's error report shows what the operator sees.
    QTest::mouseClick(&Control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
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
    QTest::mouseClick(&Control<QPushButton>(dialog, "cmdOpenDataDir"), Qt::LeftButton);
    ASSERT_EQ(Desktop.Calls().size(), 1);
    EXPECT_EQ(Desktop.Calls()[0].Service, TFakeDesktop::TService::Folder);
    EXPECT_EQ(Desktop.Calls()[0].Path, DataDirectory());
    EXPECT_TRUE(MessageBoxes::ShownMessages().isEmpty());
}

TEST_F(OptionsTest, TheFileMenuOpensItAndEnterConfirms) {
    TRunSettings settings;
    TfrmMain main(Desktop, settings);
    QAction& options = Control<QAction>(main, "mnuFileOptions");
    bool opened = false;
    WhenModal([&](QWidget* dialog) {
        opened = dialog->objectName() == "frmOptions";
        QLineEdit& first = Control<QLineEdit>(*dialog, "txtCustom1");
        first.setText("Badge");
        QTest::keyClick(&first, Qt::Key_Return);
    });
    options.trigger();
    EXPECT_TRUE(opened);
    EXPECT_EQ(Stored()[0], "Badge");
}

} // namespace
