#include "shared/messagebox.h"

#include "shared/translation.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QQueue>

namespace {
bool g_answering = false;
QQueue<bool> g_answers;
QList<MessageBoxes::Shown> g_shown;

bool Show(QWidget* parent, MessageBoxes::Kind kind, const QString& text, QString title = {}) {
    if (title.isEmpty()) {
        switch (kind) {
        case MessageBoxes::Error:
            title = _("Error");
            break;
        case MessageBoxes::Warning:
            title = _("Warning");
            break;
        case MessageBoxes::Information:
            title = _("Information");
            break;
        case MessageBoxes::Confirmation:
            title = _("Confirm");
            break;
        }
    }
    if (g_answering) {
        g_shown.append({kind, text, title});
        if (kind != MessageBoxes::Confirmation)
            return true;
        return g_answers.isEmpty() ? true : g_answers.dequeue();
    }
    QMessageBox box(parent);
    box.setWindowTitle(title);
    box.setText(text);
    switch (kind) {
    case MessageBoxes::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    case MessageBoxes::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case MessageBoxes::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MessageBoxes::Confirmation:
        box.setIcon(QMessageBox::Question);
        break;
    }
    if (kind == MessageBoxes::Confirmation) {
        QPushButton* yes = box.addButton(_("&Yes"), QMessageBox::YesRole);
        QPushButton* no = box.addButton(_("&No"), QMessageBox::NoRole);
        box.setDefaultButton(yes);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == yes;
    }
    box.addButton(_("OK"), QMessageBox::AcceptRole);
    box.exec();
    return true;
}
} // namespace

void MessageBoxes::ShowError(QWidget* parent, const QString& text) {
    Show(parent, Error, text);
}

void MessageBoxes::ShowWarning(QWidget* parent, const QString& text) {
    Show(parent, Warning, text);
}

void MessageBoxes::ShowInformation(QWidget* parent, const QString& text) {
    Show(parent, Information, text);
}

bool MessageBoxes::Confirm(QWidget* parent, const QString& text) {
    return Show(parent, Confirmation, text);
}

void MessageBoxes::ShowApplicationError(QWidget* parent, const QString& text) {
    Show(parent, Error, text, QStringLiteral("VYR Standalone"));
}

void MessageBoxes::SetAnsweringMode(bool on) {
    g_answering = on;
}

bool MessageBoxes::AnsweringMode() {
    return g_answering;
}

void MessageBoxes::SetNextAnswer(bool yes) {
    g_answers.enqueue(yes);
}

const QList<MessageBoxes::Shown>& MessageBoxes::ShownMessages() {
    return g_shown;
}

QStringList MessageBoxes::ShownTexts() {
    QStringList texts;
    for (const Shown& shown : g_shown)
        texts << shown.text;
    return texts;
}

void MessageBoxes::ClearShown() {
    g_shown.clear();
    g_answers.clear();
}
