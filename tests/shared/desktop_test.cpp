// The program's own desktop, on what a test can reach of it: the trash of a private home, file
// modes, the URL handler, and the dialogs answered from the event loop.
#include "shared/systemdesktop.h"

#include "modal.h"
#include "testenv.h"

#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

// Receives the URLs the desktop would hand to a file manager.
class TUrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> Urls;
public slots:
    void Open(const QUrl& url) { Urls << url; }
};

class SystemDesktopTest : public HomeTest {
protected:
    QString File(const QString& name) const { return Home->Path() + "/files/" + name; }
    // Everything in the home's trash, files and what the trash keeps about them, below its folder.
    QStringList TrashContents() const {
        const QString trash = Home->Path() + "/data/Trash";
        QStringList entries;
        QDirIterator it(trash, QDir::Files | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            entries << it.next().mid(trash.size() + 1);
        entries.sort();
        return entries;
    }

    TSystemDesktop System;
};

TEST_F(SystemDesktopTest, AFileGoesToTheTrashAndComesBackWithoutATrace) {
    ASSERT_TRUE(WriteTextFile(File("site.accdb"), "the site"));
    QString trashedAs;
    ASSERT_TRUE(System.MoveToTrash(File("site.accdb"), &trashedAs));
    EXPECT_FALSE(QFile::exists(File("site.accdb")));
    EXPECT_EQ(ReadWholeFile(trashedAs), "the site");
    // Where the operator's file manager finds it, with what it needs to restore it.
    EXPECT_EQ(TrashContents(), QStringList({"files/site.accdb", "info/site.accdb.trashinfo"}));

    // The name is taken meanwhile: the file stays in the trash and the newcomer is untouched.
    ASSERT_TRUE(WriteTextFile(File("site.accdb"), "a newcomer"));
    EXPECT_FALSE(System.PutBackFromTrash(trashedAs, File("site.accdb")));
    EXPECT_EQ(ReadWholeFile(File("site.accdb")), "a newcomer");
    EXPECT_EQ(TrashContents().size(), 2);

    ASSERT_TRUE(QFile::remove(File("site.accdb")));
    EXPECT_TRUE(System.PutBackFromTrash(trashedAs, File("site.accdb")));
    EXPECT_EQ(ReadWholeFile(File("site.accdb")), "the site");
    EXPECT_EQ(TrashContents(), QStringList());
}

TEST_F(SystemDesktopTest, AMissingFileCannotGoToTheTrash) {
    QString trashedAs = "unchanged";
    EXPECT_FALSE(System.MoveToTrash(File("missing.accdb"), &trashedAs));
    EXPECT_EQ(trashedAs, "unchanged");
    EXPECT_EQ(TrashContents(), QStringList());
}

TEST_F(SystemDesktopTest, AReadOnlyFileIsMadeWritableAndOthersAreLeftAlone) {
    const struct {
        const char* what;
        QFileDevice::Permissions before; // none: no file
        QFileDevice::Permissions after;
    } cases[] = {
        {"read-only", QFileDevice::ReadOwner, QFileDevice::ReadOwner | QFileDevice::WriteOwner},
        {"writable", QFileDevice::ReadOwner | QFileDevice::WriteOwner,
         QFileDevice::ReadOwner | QFileDevice::WriteOwner},
        {"missing", {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = File(c.what);
        if (c.before) {
            ASSERT_TRUE(WriteTextFile(path, "x"));
            ASSERT_TRUE(QFile::setPermissions(path, c.before));
        }
        EXPECT_TRUE(System.MakeWritable(path));
        const QFileDevice::Permissions owner =
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
        EXPECT_EQ(QFile::permissions(path) & owner, c.after);
    }
}

TEST_F(SystemDesktopTest, AFolderGoesToTheFileManagerAsALocalUrl) {
    TUrlCatcher catcher;
    QDesktopServices::setUrlHandler("file", &catcher, "Open");
    System.OpenFolder(Home->Path());
    QDesktopServices::unsetUrlHandler("file");
    ASSERT_EQ(catcher.Urls.size(), 1);
    EXPECT_TRUE(catcher.Urls[0].isLocalFile());
    EXPECT_EQ(catcher.Urls[0].toLocalFile(), Home->Path());
}

TEST_F(SystemDesktopTest, TheOpenChooserTakesOnlyAnExistingFileAndACancelGivesNothing) {
    ASSERT_TRUE(WriteTextFile(File("old.mdb"), "x"));
    QWidget owner;
    for (const bool accept : {true, false}) {
        SCOPED_TRACE(accept ? "chosen" : "cancelled");
        bool asked = false;
        WhenModal([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            ASSERT_TRUE(dialog);
            asked = true;
            EXPECT_EQ(dialog->objectName(), "OpenDialog1");
            EXPECT_EQ(dialog->parentWidget(), &owner);
            EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
            EXPECT_EQ(dialog->directory().absolutePath(), Home->Path() + "/files");
            EXPECT_EQ(dialog->nameFilters(), QStringList{"Access DB (*.accdb *.mdb)"});
            dialog->selectFile(File("old.mdb"));
            if (accept)
                static_cast<QDialog*>(dialog)->accept(); // as the Open button does
            else
                dialog->reject();
        });
        const QString chosen =
            System.ChooseOpenFile(&owner, Home->Path() + "/files/", "Access DB (*.accdb *.mdb)");
        EXPECT_TRUE(asked);
        EXPECT_EQ(chosen, accept ? File("old.mdb") : QString());
    }
}

TEST_F(SystemDesktopTest, TheSaveChooserTakesANewNameUnderItsTitle) {
    QDir().mkpath(Home->Path() + "/files");
    QWidget owner;
    WhenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_TRUE(dialog);
        EXPECT_EQ(dialog->windowTitle(), "Save as PDF...");
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
        dialog->selectFile(File("sheet.pdf"));
        static_cast<QDialog*>(dialog)->accept(); // as the Save button does
    });
    EXPECT_EQ(System.ChooseSaveFile(&owner, "Save as PDF...", Home->Path() + "/files",
                                    "PDF files (*.pdf)"),
              File("sheet.pdf"));
}

TEST_F(SystemDesktopTest, ACancelledPrinterDialogChoosesNoPrinter) {
    QWidget owner;
    QPrinter printer;
    bool asked = false;
    WhenModal([&](QWidget* modal) {
        asked = true;
        EXPECT_TRUE(qobject_cast<QPrintDialog*>(modal));
        EXPECT_EQ(modal->objectName(), "PrintDialog");
        EXPECT_EQ(modal->parentWidget(), &owner);
        modal->close();
    });
    EXPECT_FALSE(System.ChoosePrinter(&owner, printer));
    EXPECT_TRUE(asked);
}

} // namespace

#include "desktop_test.moc"
