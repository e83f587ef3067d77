#include "app/About.h"
#include "app/main.h"
#include "app/versionblock.h"
#include "app/versioninfo.h"
#include "shared/publictypes.h"

#include "modal.h"
#include "testenv.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString OwnExecutable = QStringLiteral(VYR_BIN_DIR) + "/vyrstandalone";

uint16_t WordAt(const QByteArray& block, qsizetype at) {
    return uint16_t(uint8_t(block[at]) | uint8_t(block[at + 1]) << 8);
}

TVersionBlockContents Contents(uint16_t language, uint16_t codePage, const QString& tableKey) {
    TVersionBlockContents contents;
    contents.FileVersion = {2, 3, 4, 5};
    contents.ProductVersion = {2, 3, 0, 0};
    contents.Translations = {{language, codePage}};
    contents.StringTableKey = tableKey;
    contents.Strings = {{"CompanyName", "Tessaloom"},
                        {"FileDescription", "Access lists"},
                        {"FileVersion", "2.3.4.5"},
                        {"InternalName", "vyr"},
                        {"LegalCopyright", "© Tessaloom"},
                        {"LegalTrademarks", "VYR"},
                        {"OriginalFilename", "vyrstandalone"},
                        {"ProductName", "VYR Standalone"},
                        {"ProductVersion", "2.3"},
                        {"Comments", "Zoë's build"}};
    return contents;
}

QStringList AllTen(const TVersionInfo& info) {
    return {info.CompanyName(),      info.FileDescription(), info.FileVersion(),
            info.InternalName(),     info.LegalCopyright(),  info.LegalTrademarks(),
            info.OriginalFilename(), info.ProductName(),     info.ProductVersion(),
            info.Comments()};
}

const QStringList NoTexts(10);

TEST(VersionInfo, TheProgramCarriesItsVersionInItsOwnExecutable) {
    const TVersionInfo info(OwnExecutable);
    QStringList expected = NoTexts;
    expected[2] = "1.0.0.0"; // FileVersion
    expected[8] = "1.0.0.0"; // ProductVersion
    EXPECT_EQ(AllTen(info), expected);

    // The block itself: the fixed part and the translation table as a Windows tool reads them.
    const auto block = ReadElfSection(OwnExecutable, VersionSectionName);
    ASSERT_TRUE(block.has_value());
    EXPECT_EQ(WordAt(*block, 0), block->size());
    EXPECT_EQ(QString::fromUtf16(reinterpret_cast<const char16_t*>(block->constData() + 6), 15),
              "VS_VERSION_INFO");
    const QByteArray fixed = block->mid(40, 52);
    const QByteArray expectedFixed = QByteArray::fromHex("bd04effe"
                                                         "00000100"
                                                         "00000100"
                                                         "00000000"
                                                         "00000100"
                                                         "00000000"
                                                         "3f000000"
                                                         "00000000"
                                                         "04000000"
                                                         "01000000"
                                                         "00000000"
                                                         "00000000"
                                                         "00000000");
    EXPECT_EQ(fixed.toHex(), expectedFixed.toHex());
    EXPECT_EQ(VersionQueryValue(*block, "\\VarFileInfo\\Translation")->toHex(), "0904e404");
}

TEST(VersionInfo, FilesWithoutTheBlockGiveEmptyTexts) {
    QTemporaryDir dir;
    const QString text = dir.path() + "/notes.txt";
    ASSERT_TRUE(WriteTextFile(text, "just text\n"));
    const QString truncatedElf = dir.path() + "/half.elf";
    ASSERT_TRUE(WriteTextFile(truncatedElf, ReadWholeFile(OwnExecutable).left(200)));
    const struct {
        const char* what;
        QString path;
    } cases[] = {
        {"an ELF file without the section", QCoreApplication::applicationFilePath()},
        {"not an ELF file", text},
        {"an ELF file cut short", truncatedElf},
        {"no file at all", dir.path() + "/missing"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AllTen(TVersionInfo(c.path)), NoTexts) << c.what;
}

TEST(VersionInfo, TheStringTableKeyKeepsLeadingZeros) {
    const struct {
        uint16_t language, codePage;
        const char* key;
    } cases[] = {
        {0x0409, 0x04E4, "040904E4"},
        {0x0009, 0x04B0, "000904B0"},
        {0x0000, 0x04B0, "000004B0"},
        {0x0413, 0x04B0, "041304B0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StringTableKey(c.language, c.codePage), c.key);
        // A block whose table carries exactly that key is read in full.
        const auto info =
            TVersionInfo::FromBlock(BuildVersionBlock(Contents(c.language, c.codePage, c.key)));
        EXPECT_EQ(info.Comments(), "Zoë's build") << c.key;
        EXPECT_EQ(info.LegalCopyright(), "© Tessaloom") << c.key;
        EXPECT_EQ(info.FileVersion(), "2.3.4.5") << c.key;
    }
    // The key is compared as written: a table under another translation's key is not used.
    const auto elsewhere =
        TVersionInfo::FromBlock(BuildVersionBlock(Contents(0x0009, 0x04B0, "904B0")));
    EXPECT_EQ(AllTen(elsewhere), NoTexts);
    // Windows matches names regardless of case.
    const auto lower =
        TVersionInfo::FromBlock(BuildVersionBlock(Contents(0x0409, 0x04B0, "040904b0")));
    EXPECT_EQ(lower.ProductName(), "VYR Standalone");
}

TEST(VersionInfo, DamagedBlocksGiveEmptyTextsInsteadOfReadingPastTheEnd) {
    TVersionBlockContents noTranslation = Contents(0x0409, 0x04E4, "040904E4");
    noTranslation.Translations.clear();
    const QByteArray good = BuildVersionBlock(Contents(0x0409, 0x04E4, "040904E4"));

    // The string table is the first child of StringFileInfo, which follows the fixed part.
    const qsizetype stringFileInfo = 92;
    const qsizetype stringTable = stringFileInfo + 36; // 6 + "StringFileInfo\0" (30), aligned
    ASSERT_EQ(QString::fromUtf16(reinterpret_cast<const char16_t*>(good.constData() + 134), 8),
              "040904E4");
    QByteArray pastTheEnd = good;
    pastTheEnd[stringTable] = char(0xF0); // length now reaches beyond its parent and the block
    pastTheEnd[stringTable + 1] = char(0x7F);
    QByteArray rootTooLong = good;
    rootTooLong[0] = char(0xFF);
    rootTooLong[1] = char(0xFF);
    QByteArray unterminatedKey = good.left(40);
    unterminatedKey[0] = 40;
    unterminatedKey[1] = 0;
    unterminatedKey.replace(36, 4, "A\0B\0", 4);

    const struct {
        const char* what;
        QByteArray block;
    } cases[] = {
        {"empty", {}},
        {"no translation table", BuildVersionBlock(noTranslation)},
        {"cut in the fixed part", good.left(60)},
        {"cut in the string table", good.left(stringTable + 40)},
        {"cut before the translation table", good.left(good.size() - 10)},
        {"a table that points past the end", pastTheEnd},
        {"a root that claims more than there is", rootTooLong},
        {"a key without its end", unterminatedKey},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AllTen(TVersionInfo::FromBlock(c.block)), NoTexts) << c.what;
}

class AboutBoxTest : public HomeTest {};

TEST_F(AboutBoxTest, ShowsTheVersionReadFromTheExecutableAndEmptiesTheRest) {
    TfrmAbout about(nullptr, OwnExecutable);
    EXPECT_EQ(about.windowTitle(), "About");
    EXPECT_EQ(Control<QLabel>(about, "Version").text(), "1.0.0.0");
    for (const char* name : {"ProductName", "Copyright", "Comments"})
        EXPECT_EQ(Control<QLabel>(about, name).text(), "") << name;
    const QLabel& icon = Control<QLabel>(about, "ProgramIcon");
    EXPECT_EQ(icon.size(), QSize(64, 64));
    EXPECT_FALSE(icon.pixmap().isNull());
    const QPushButton& ok = Control<QPushButton>(about, "OKButton");
    EXPECT_TRUE(ok.isDefault());
    EXPECT_EQ(ok.focusPolicy() & Qt::TabFocus, Qt::TabFocus);
}

TEST_F(AboutBoxTest, TheHelpMenuOpensItAndEnterClosesIt) {
    TRunSettings settings;
    TfrmMain main(Desktop, settings);
    QAction& about = Control<QAction>(main, "mnuHelpAbout");
    EXPECT_EQ(about.text(), "&About");
    bool opened = false;
    WhenModal([&](QWidget* box) {
        opened = box->objectName() == "frmAbout";
        QTest::keyClick(box, Qt::Key_Return);
    });
    about.trigger();
    EXPECT_TRUE(opened);
}

} // namespace
