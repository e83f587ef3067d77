#pragma once

#include <QString>

class QPrinter;
class QWidget;

// Everything the program asks of the desktop around it: the choosers that need a person, the
// trash, the file manager, the beep, a file's write permission. The windows and units that need
// one of these get the desktop from whoever made them; the program has one (TSystemDesktop), and
// tests hand in their own, which answers without a person and records what was asked.
class TDesktop {
public:
    virtual ~TDesktop() = default;

    // An existing file to open; an empty text when the operator cancels.
    virtual QString ChooseOpenFile(QWidget* owner, const QString& directory,
                                   const QString& filter) = 0;
    // A file name to save under, as typed or picked; an empty text when the operator cancels.
    virtual QString ChooseSaveFile(QWidget* owner, const QString& title, const QString& directory,
                                   const QString& filter) = 0;
    // The printer dialog on `printer`, which takes the operator's settings; false when cancelled.
    virtual bool ChoosePrinter(QWidget* owner, QPrinter& printer) = 0;

    // Moves a file to the trash, from where the operator can restore it. False when it cannot
    // go there; the file then stays where it is. `trashedAs` (when given) receives where it lies
    // in the trash, for PutBackFromTrash.
    virtual bool MoveToTrash(const QString& path, QString* trashedAs) = 0;
    // Takes a file that MoveToTrash put at `trashedAs` back to `path`, which must be free, and
    // leaves nothing of it in the trash. False when it stays in the trash.
    virtual bool PutBackFromTrash(const QString& trashedAs, const QString& path) = 0;

    // Gives the owner write permission on a file that lacks it. False when it stays read-only; a
    // missing file needs nothing and gives true.
    virtual bool MakeWritable(const QString& path) = 0;

    // Shows a folder in the desktop's file manager. Whether one comes up is the desktop's
    // business: nobody is told either way.
    virtual void OpenFolder(const QString& path) = 0;

    virtual void Beep() = 0;
};
