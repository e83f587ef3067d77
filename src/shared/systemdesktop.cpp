#include "shared/systemdesktop.h"

#include "shared/safefile.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QPrintDialog>
#include <QUrl>

QString TSystemDesktop::ChooseOpenFile(QWidget* owner, const QString& directory,
                                       const QString& filter) {
    QFileDialog dialog(owner, QString(), directory, filter);
    dialog.setObjectName("OpenDialog1");
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setSizeGripEnabled(true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}

QString TSystemDesktop::ChooseSaveFile(QWidget* owner, const QString& title,
                                       const QString& directory, const QString& filter) {
    return QFileDialog::getSaveFileName(owner, title, directory, filter);
}

bool TSystemDesktop::ChoosePrinter(QWidget* owner, QPrinter& printer) {
    QPrintDialog dialog(&printer, owner);
    dialog.setObjectName("PrintDialog");
    return dialog.exec() == QDialog::Accepted;
}

bool TSystemDesktop::MoveToTrash(const QString& path, QString* trashedAs) {
    QString where;
    if (!QFile::moveToTrash(path, &where))
        return false;
    if (trashedAs)
        *trashedAs = where;
    return true;
}

bool TSystemDesktop::PutBackFromTrash(const QString& trashedAs, const QString& path) {
    if (!RenameWithoutReplacing(trashedAs, path))
        return false;
    // The trash keeps what it knows of a file in info/<name>.trashinfo beside its files/ folder;
    // without it the trash would list a file that is no longer there.
    const QFileInfo trashed(trashedAs);
    if (trashed.dir().dirName() == "files")
        QFile::remove(
            trashed.dir().absoluteFilePath("../info/" + trashed.fileName() + ".trashinfo"));
    return true;
}

bool TSystemDesktop::MakeWritable(const QString& path) {
    if (!QFileInfo::exists(path) || (QFile::permissions(path) & QFileDevice::WriteOwner))
        return true;
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::WriteOwner);
    return QFile::permissions(path) & QFileDevice::WriteOwner;
}

void TSystemDesktop::OpenFolder(const QString& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void TSystemDesktop::Beep() {
    QApplication::beep();
}
