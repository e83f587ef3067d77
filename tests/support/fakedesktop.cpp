#include "fakedesktop.h"

#include "shared/safefile.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

TFakeDesktop::TFakeDesktop() = default;
TFakeDesktop::~TFakeDesktop() = default;

void TFakeDesktop::AnswerFile(const QString& path) {
    FFileAnswers << path;
}

void TFakeDesktop::AnswerPrinter(std::function<bool(QPrinter&)> choose) {
    FPrinterAnswers << std::move(choose);
}

QList<TFakeDesktop::TCall> TFakeDesktop::Calls(TService service) const {
    QList<TCall> calls;
    for (const TCall& call : FCalls)
        if (call.Service == service)
            calls << call;
    return calls;
}

QStringList TFakeDesktop::Trashed() const {
    QStringList files;
    if (!FTrash)
        return files;
    QDirIterator it(FTrash->path(), QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

QString TFakeDesktop::InTrash(const QString& fileName) const {
    for (const QString& file : Trashed())
        if (QFileInfo(file).fileName() == fileName)
            return file;
    return QString();
}

void TFakeDesktop::Record(const TCall& call) {
    FCalls << call;
    if (WhileAsked)
        WhileAsked(call);
}

QString TFakeDesktop::NextFile() {
    return FFileAnswers.isEmpty() ? QString() : FFileAnswers.takeFirst();
}

QString TFakeDesktop::ChooseOpenFile(QWidget* owner, const QString& directory,
                                     const QString& filter) {
    Record({TService::OpenFile, directory, QString(), filter, owner});
    return NextFile();
}

QString TFakeDesktop::ChooseSaveFile(QWidget* owner, const QString& title, const QString& directory,
                                     const QString& filter) {
    Record({TService::SaveFile, directory, title, filter, owner});
    return NextFile();
}

bool TFakeDesktop::ChoosePrinter(QWidget* owner, QPrinter& printer) {
    Record({TService::Printer, QString(), QString(), QString(), owner});
    return !FPrinterAnswers.isEmpty() && FPrinterAnswers.takeFirst()(printer);
}

bool TFakeDesktop::MoveToTrash(const QString& path, QString* trashedAs) {
    Record({TService::Trash, path, QString(), QString(), nullptr});
    if (!TrashWorks || !QFileInfo::exists(path))
        return false;
    if (!FTrash)
        FTrash = std::make_unique<QTemporaryDir>();
    // A folder per file: two files of one name can lie in the trash side by side.
    const QString folder = FTrash->filePath(QString::number(++FTrashed));
    const QString target = folder + "/" + QFileInfo(path).fileName();
    if (!QDir().mkpath(folder) || !RenameWithoutReplacing(path, target))
        return false;
    if (trashedAs)
        *trashedAs = target;
    return true;
}

bool TFakeDesktop::PutBackFromTrash(const QString& trashedAs, const QString& path) {
    Record({TService::PutBack, path, QString(), QString(), nullptr});
    if (!FTrash || !trashedAs.startsWith(FTrash->path() + "/") ||
        !RenameWithoutReplacing(trashedAs, path))
        return false;
    QDir().rmdir(QFileInfo(trashedAs).absolutePath());
    return true;
}

bool TFakeDesktop::MakeWritable(const QString& path) {
    Record({TService::Writable, path, QString(), QString(), nullptr});
    if (!QFileInfo::exists(path) || (QFile::permissions(path) & QFileDevice::WriteOwner))
        return true;
    return WritableWorks &&
           QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::WriteOwner);
}

void TFakeDesktop::OpenFolder(const QString& path) {
    Record({TService::Folder, path, QString(), QString(), nullptr});
}

void TFakeDesktop::Beep() {
    Record({TService::Beep, QString(), QString(), QString(), nullptr});
}
