#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// The program's one way of asking or telling the operator something in a modal box. Tests switch
// it into answering mode: boxes are then recorded instead of shown, and confirmations take their
// answer from a queue (Yes when the queue is empty).
class MessageBoxes {
public:
    enum Kind { Error, Warning, Information, Confirmation };
    struct Shown {
        Kind kind;
        QString text;
        QString title;
    };

    static void ShowError(QWidget* parent, const QString& text);
    static void ShowWarning(QWidget* parent, const QString& text);
    static void ShowInformation(QWidget* parent, const QString& text);
    // Yes/No; only Yes returns true.
    static bool Confirm(QWidget* parent, const QString& text);
    // The application's error report: an error box titled with the application title.
    static void ShowApplicationError(QWidget* parent, const QString& text);

    // Test hooks.
    static void SetAnsweringMode(bool on);
    static bool AnsweringMode();
    static void SetNextAnswer(bool yes);
    static const QList<Shown>& ShownMessages();
    static QStringList ShownTexts();
    static void ClearShown();
};
