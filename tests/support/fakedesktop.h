#pragma once

#include "shared/desktop.h"

#include <QList>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

// The desktop in tests: no person and no real desktop around. Every request is recorded; choosers
// take their answers from queues prepared by the test (cancelled when the queue is empty); the
// trash is a folder of the fake's own, so a test sees what went there and what came back; write
// permission is really given, unless the test refuses it.
class TFakeDesktop : public TDesktop {
public:
    TFakeDesktop();
    ~TFakeDesktop() override;

    enum class TService { OpenFile, SaveFile, Printer, Trash, PutBack, Writable, Folder, Beep };
    struct TCall {
        TService Service;
        QString Path;   // the file or folder concerned; a chooser's starting folder
        QString Title;  // a chooser's title
        QString Filter; // a chooser's file filter
        QWidget* Owner = nullptr;
    };

    // The next file chooser picks `path` (both open and save choosers take from this queue).
    void AnswerFile(const QString& path);
    // The next printer dialog is confirmed after `choose` set the printer up; `choose` returning
    // false cancels it instead.
    void AnswerPrinter(std::function<bool(QPrinter& printer)> choose);
    // Moving to the trash fails, and the file stays, while this is false.
    bool TrashWorks = true;
    // Files stay read-only while this is false.
    bool WritableWorks = true;
    // Runs at every request, before it is answered: the moment a test may interfere.
    std::function<void(const TCall& call)> WhileAsked;

    QList<TCall> Calls() const { return FCalls; }
    // The requests of one service, in order.
    QList<TCall> Calls(TService service) const;
    int Beeps() const { return int(Calls(TService::Beep).size()); }
    // What lies in the fake trash now, as the trashed paths.
    QStringList Trashed() const;
    // Where the fake trash keeps a file trashed from a path with this name, or an empty text.
    QString InTrash(const QString& fileName) const;

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

private:
    void Record(const TCall& call);
    QString NextFile();

    QList<TCall> FCalls;
    QStringList FFileAnswers;
    QList<std::function<bool(QPrinter&)>> FPrinterAnswers;
    std::unique_ptr<QTemporaryDir> FTrash; // made at the first file that goes there
    int FTrashed = 0;
};
