#include "faketmexcontrol.h"
#include "modal.h"
#include "testenv.h"

#include "reader/CodeReaderInterface.h"
#include "reader/pickadapter.h"
#include "shared/datadir.h"
#include "shared/ini.h"
#include "shared/messagebox.h"
#include "shared/publictypes.h"
#include "shared/translation.h"
#include "shared/windowtranslation.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

class PickAdapterTest : public HomeTest {
protected:
    void SetUp() override {
        HomeTest::SetUp();
        CreateDataFolders();
    }
    void TearDown() override {
        UseLanguage("en");
        HomeTest::TearDown();
    }

    // The dialog as the main window opens it, on the given settings.
    std::unique_ptr<TfrmPickAdapter> Open(int32_t adapter, int32_t port) {
        RunSettings.Driver = {"16", adapter, port};
        auto dialog = std::make_unique<TfrmPickAdapter>(RunSettings);
        dialog->show();
        return dialog;
    }

    static QComboBox* Type(TfrmPickAdapter& dialog) {
        return &Control<QComboBox>(dialog, "cboAdapterType");
    }
    static QComboBox* Port(TfrmPickAdapter& dialog) {
        return &Control<QComboBox>(dialog, "cboAdapterPort");
    }
    static void Click(TfrmPickAdapter& dialog, const char* button) {
        QTest::mouseClick(&Control<QPushButton>(dialog, button), Qt::LeftButton);
    }

    void ExpectStored(const QString& arc, int adapter, int port) {
        const IniFile settings(SettingsFileName());
        EXPECT_EQ(settings.ReadString("driver", "arc", "missing"), arc);
        EXPECT_EQ(settings.ReadInteger("driver", "adapter", -99), adapter);
        EXPECT_EQ(settings.ReadInteger("driver", "port", -99), port);
        EXPECT_EQ(RunSettings.Driver.DriverArc, arc);
        EXPECT_EQ(RunSettings.Driver.DriverAdapter, adapter);
        EXPECT_EQ(RunSettings.Driver.DriverPort, port);
    }

    TRunSettings RunSettings;
};

TEST_F(PickAdapterTest, ShowsItsFixedChoicesInEnglishInEveryLanguage) {
    UseLanguage("nl");
    auto dialog = Open(0, 0);
    EXPECT_EQ(dialog->windowTitle(), "Select adapter");
    QStringList types, ports;
    for (int i = 0; i < Type(*dialog)->count(); ++i)
        types << Type(*dialog)->itemText(i);
    for (int i = 0; i < Port(*dialog)->count(); ++i)
        ports << Port(*dialog)->itemText(i);
    EXPECT_EQ(types, QStringList({"Serial", "USB"}));
    ASSERT_EQ(ports.size(), 31);
    for (int i = 0; i < ports.size(); ++i)
        EXPECT_EQ(ports[i], QString::number(i));
    EXPECT_TRUE(Control<QPushButton>(*dialog, "cmdOK").isDefault());
    Control<QPushButton>(*dialog, "cmdCancel"); // fails the test when missing
    EXPECT_TRUE(TranslateWindow(dialog.get()).isEmpty()) << "the translator must pass it over";
}

TEST_F(PickAdapterTest, OpensOnTheStoredAdapterAndPort) {
    struct Case {
        int32_t adapter, port;
        QString type;
        int portIndex;
    };
    const Case cases[] = {
        {0, 0, "USB", 0}, // the settings default: the library's default port
        {0, 7, "USB", 7},   {5, 3, "Serial", 3},   {6, 30, "USB", 30},
        {2, 4, "USB", 4},   {5, 31, "Serial", -1}, // outside 0 to 30: no port selected
        {6, -1, "USB", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "adapter " << c.adapter << ", port " << c.port);
        auto dialog = Open(c.adapter, c.port);
        EXPECT_EQ(Type(*dialog)->currentText(), c.type);
        EXPECT_EQ(Port(*dialog)->currentIndex(), c.portIndex);
    }
}

TEST_F(PickAdapterTest, SwitchingToUsbTakesPortOneAndOkStoresTheChoice) {
    auto dialog = Open(5, 3);
    // The operator steps down from "Serial" to "USB" with the keyboard.
    Type(*dialog)->setFocus();
    QTest::keyClick(Type(*dialog), Qt::Key_Down);
    ASSERT_EQ(Type(*dialog)->currentText(), "USB");
    EXPECT_EQ(Port(*dialog)->currentText(), "1");

    Click(*dialog, "cmdOK");
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_FALSE(dialog->isVisible());
    ExpectStored("32", 6, 1);
}

TEST_F(PickAdapterTest, SwitchingBackToSerialKeepsThePort) {
    auto dialog = Open(6, 4);
    Type(*dialog)->setCurrentText("Serial");
    EXPECT_EQ(Port(*dialog)->currentText(), "4");
    Port(*dialog)->setCurrentText("12");
    Click(*dialog, "cmdOK");
    ExpectStored("32", 5, 12);
}

TEST_F(PickAdapterTest, OkWithoutASelectedPortStoresMinusOne) {
    auto dialog = Open(5, 40);
    Click(*dialog, "cmdOK");
    ExpectStored("32", 5, -1);
}

TEST_F(PickAdapterTest, OkKeepsTheRestOfTheSettingsFile) {
    const QByteArray before =
        "; operator's note\r\n[settings]\r\nlanguage=nl\r\n"
        "[DRIVER]\r\nArc=16\r\nadapter=5\r\nport=3\r\n[profiles]\r\nlast=1\r\n";
    ASSERT_TRUE(WriteTextFile(SettingsFileName(), before));
    auto dialog = Open(5, 3);
    Type(*dialog)->setCurrentText("USB");
    Click(*dialog, "cmdOK");
    EXPECT_EQ(ReadWholeFile(SettingsFileName()),
              "; operator's note\r\n[settings]\r\nlanguage=nl\r\n"
              "[DRIVER]\r\narc=32\r\nadapter=6\r\nport=1\r\n[profiles]\r\nlast=1\r\n");
}

TEST_F(PickAdapterTest, CancelChangesNothing) {
    const QByteArray before = "[driver]\r\narc=16\r\nadapter=5\r\nport=3\r\n";
    ASSERT_TRUE(WriteTextFile(SettingsFileName(), before));
    auto dialog = Open(5, 3);
    Type(*dialog)->setCurrentText("USB");
    Port(*dialog)->setCurrentText("9");

    Click(*dialog, "cmdCancel");
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(ReadWholeFile(SettingsFileName()), before);
    EXPECT_EQ(RunSettings.Driver.DriverArc, "16");
    EXPECT_EQ(RunSettings.Driver.DriverAdapter, 5);
    EXPECT_EQ(RunSettings.Driver.DriverPort, 3);
}

TEST_F(PickAdapterTest, AFailedWriteReportsAndKeepsTheSettings) {
    // A file where the data directory should be: nothing can be written below it, even as root.
    const QString dataDir = DataDirectory();
    ASSERT_TRUE(QDir(dataDir).removeRecursively());
    ASSERT_TRUE(WriteTextFile(dataDir, "in the way"));

    auto dialog = Open(5, 3);
    Type(*dialog)->setCurrentText("USB");
    Click(*dialog, "cmdOK");
    ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1);
    EXPECT_EQ(MessageBoxes::ShownMessages()[0].kind, MessageBoxes::Error);
    EXPECT_EQ(MessageBoxes::ShownTexts()[0],
              Translate("Unable to write to %s").replace("%s", SettingsFileName()));
    EXPECT_EQ(RunSettings.Driver.DriverArc, "16");
    EXPECT_EQ(RunSettings.Driver.DriverAdapter, 5);
    EXPECT_EQ(RunSettings.Driver.DriverPort, 3);
    EXPECT_TRUE(dialog->isVisible()) << "the dialog stays open for another try";
}

TEST_F(PickAdapterTest, TheNextReaderOpensOnTheChosenAdapter) {
    FakeTmex fake;
    ASSERT_TRUE(fake.Loaded());
    fake.Reset();
    TMaximReader::SetLibraryName(FakeTmex::FileName);

    auto dialog = Open(0, 0);
    Type(*dialog)->setCurrentText("Serial");
    Port(*dialog)->setCurrentText("3");
    Click(*dialog, "cmdOK");

    {
        const std::unique_ptr<TReaderInterface> reader = CreateConfiguredReader(RunSettings);
        EXPECT_TRUE(reader->ReaderLoaded);
    }
    TMaximReader::SetLibraryName({});
    EXPECT_THAT(fake.Calls(), ::testing::Contains("TMExtendedStartSession 3 5 null"));
    EXPECT_THAT(fake.Calls(), ::testing::Not(::testing::Contains("TMReadDefaultPort")));
}

} // namespace
