#pragma once

#include "shared/desktop.h"

// The desktop the program runs on: Qt's file and printer dialogs, the freedesktop trash, the
// file manager through the desktop's URL handler, the system's beep.
class TSystemDesktop : public TDesktop {
public:
    QString ChooseOpenFile(QWidget* owner, const QString& directory,
                           const QString& filter) override;
    QString ChooseSaveFile(QWidget* owner, const QString& title, const QString& directory,
                           const QString& filter) override;
    bool ChoosePrinter(QWidget* owner, QPrinter& printer) override;
    bool MoveToTrash(const QString& path, QString* trashedAs) override;
    bool PutBackFromTrash(const QString& trashedAs, const QString& path) override;
    bool MakeWritable(const QString& path) override;
    void OpenFolder(const QString& path) override;
    void Beep() override;
};
