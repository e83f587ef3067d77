#include "shared/errors.h"
#include "shared/ini.h"

#include "testenv.h"

#include <QFile>

namespace {

class IniTest : public HomeTest {
protected:
    QString Path() const { return Home->Path() + "/test.ini"; }
};

TEST_F(IniTest, MissingFileSectionOrKeyGivesTheDefaults) {
    const IniFile ini(Path());
    EXPECT_EQ(ini.ReadString("settings", "language", "en"), "en");
    EXPECT_EQ(ini.ReadInteger("driver", "port", 7), 7);
    EXPECT_TRUE(ini.ReadBool("cardnumbers", "reverseuserinput", true));
    EXPECT_FALSE(QFile::exists(Path())) << "reading must never create the file";
}

TEST_F(IniTest, NamesMatchWhateverTheirCase) {
    ASSERT_TRUE(WriteTextFile(Path(), "[SETTINGS]\r\nLanguage=nl\r\n[Driver]\r\nPORT = 3\r\n"));
    const IniFile ini(Path());
    EXPECT_EQ(ini.ReadString("settings", "language", "en"), "nl");
    EXPECT_EQ(ini.ReadInteger("driver", "port", 0), 3);
}

TEST_F(IniTest, ValuesThatAreNoWholeNumberReadAsTheDefault) {
    ASSERT_TRUE(WriteTextFile(Path(), "[driver]\nadapter=five\nport=\narc=32\nbig=3.5\nneg=-4\n"));
    const IniFile ini(Path());
    EXPECT_EQ(ini.ReadInteger("driver", "adapter", 0), 0);
    EXPECT_EQ(ini.ReadInteger("driver", "port", 9), 9);
    EXPECT_EQ(ini.ReadInteger("driver", "big", 1), 1);
    EXPECT_EQ(ini.ReadInteger("driver", "neg", 0), -4);
    EXPECT_EQ(ini.ReadInteger("driver", "arc", 0), 32);
}

TEST_F(IniTest, AnEmptyValueIsAValueNotTheDefault) {
    ASSERT_TRUE(WriteTextFile(Path(), "[settings]\ncustom1=\n"));
    EXPECT_EQ(IniFile(Path()).ReadString("settings", "custom1", "Custom 1"), "");
}

TEST_F(IniTest, AWriteChangesOneLineAndKeepsEverythingElse) {
    ASSERT_TRUE(WriteTextFile(Path(), "; kept comment\r\n[Settings]\r\nLanguage=en\r\n"
                                      "custom1=Badge\r\n\r\n[other]\r\nx=1\r\n"));
    const IniFile ini(Path());
    ini.WriteString("settings", "language", "nl");        // replaced where it stands
    ini.WriteString("settings", "reader", "MaximReader"); // appended to its own section
    ini.WriteInteger("driver", "port", 4);                // new section at the end
    EXPECT_EQ(ReadWholeFile(Path()),
              QByteArray("; kept comment\r\n[Settings]\r\nlanguage=nl\r\ncustom1=Badge\r\n"
                         "reader=MaximReader\r\n\r\n[other]\r\nx=1\r\n[driver]\r\nport=4\r\n"));
}

TEST_F(IniTest, TextsRoundTripExactly) {
    const IniFile ini(Path());
    const QString odd = QString::fromUtf8("Zoë \"de\" Vries; 50% = ok\\");
    ini.WriteString("profile", "name", odd);
    EXPECT_EQ(ini.ReadString("profile", "name", ""), odd);
}

TEST_F(IniTest, AFailedWriteRaisesTheMessageAndChangesNothing) {
    ASSERT_TRUE(WriteTextFile(Path(), "[settings]\nlanguage=en\n"));
    QFile::setPermissions(Path(), QFileDevice::ReadOwner);
    const IniFile ini(Path());
    try {
        ini.WriteString("settings", "language", "nl");
        FAIL() << "a read-only file must refuse the write";
    } catch (const VyrError& error) {
        EXPECT_EQ(error.Message(), "Unable to write to " + Path());
    }
    EXPECT_EQ(ini.ReadString("settings", "language", ""), "en");
    EXPECT_EQ(ReadWholeFile(Path()), QByteArray("[settings]\nlanguage=en\n"));
}

TEST_F(IniTest, AWriteIntoAMissingFolderFails) {
    const IniFile ini(Home->Path() + "/no/such/folder/x.ini");
    EXPECT_THROW(ini.WriteString("a", "b", "c"), VyrError);
}

TEST_F(IniTest, ANewFileIsPrivateToTheUser) {
    IniFile(Path()).WriteString("profile", "name", "Site");
    EXPECT_EQ(QFile::permissions(Path()) & (QFileDevice::ReadOther | QFileDevice::ReadGroup), 0);
}

} // namespace
