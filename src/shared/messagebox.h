#pragma once

#include "shared/errors.h"

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
    // Runs one of our event handlers and shows an error escaping it in the application's error
    // report, right there. Handlers that may fail go through this, so an error never unwinds
    // through Qt's event delivery, which is not exception-safe: Qt's own bookkeeping for the
    // event is skipped and leaks, and a widget may be left half-way through a state change.
    template <typename Handler> static void ReportErrors(QWidget* parent, Handler&& handler) {
        try {
            handler();
        } catch (const std::exception& error) {
            ShowApplicationError(parent, ErrorText(error));
        }
    }

    // Test hooks.
    static void SetAnsweringMode(bool on);
    static bool AnsweringMode();
    static void SetNextAnswer(bool yes);
    static const QList<Shown>& ShownMessages();
    static QStringList ShownTexts();
    static void ClearShown();
};
