#include "cardholders/cardnumberedit.h"

#include "cardholders/cardnumber.h"
#include "shared/desktop.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QRegularExpressionValidator>

namespace {

class TCardNumberKeyFilter : public QObject {
public:
    TCardNumberKeyFilter(QObject* parent, TDesktop& desktop) : QObject(parent), FDesktop(desktop) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress)
            return QObject::eventFilter(watched, event);
        if (Refused(*static_cast<QKeyEvent*>(event))) {
            FDesktop.Beep();
            return true;
        }
        return false;
    }

private:
    TDesktop& FDesktop;

    static bool Refused(const QKeyEvent& key) {
        switch (key.key()) {
        case Qt::Key_Backspace:
            return true;
        case Qt::Key_Delete:
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return false;
        default:
            break;
        }
        if (key.matches(QKeySequence::Paste) || key.matches(QKeySequence::Cut) ||
            key.matches(QKeySequence::Copy) || key.matches(QKeySequence::Undo) ||
            key.matches(QKeySequence::Redo) || key.matches(QKeySequence::SelectAll))
            return true;
        const QString text = key.text();
        // A control character from Ctrl with a letter, whichever way the platform reports it.
        const bool controlShortcut =
            (key.modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) &&
            (!text.isEmpty() || (key.key() >= Qt::Key_Space && key.key() <= Qt::Key_AsciiTilde));
        if (controlShortcut)
            return true;
        if (text.isEmpty())
            return false; // a key that types nothing
        return text.size() != 1 || !IsCardNumberCharacter(text[0]);
    }
};

// QLineEdit's own limit counts UTF-16 units, which would let 25 emoji fill a 50-character field.
class TCardTextValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override {
        input = FitCardText(input, pos);
        return Acceptable;
    }
};

} // namespace

void MakeCardNumberEdit(QLineEdit* edit, TDesktop& desktop) {
    edit->setMaxLength(CardNumberLength);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9A-Fa-f]*"), edit));
    edit->installEventFilter(new TCardNumberKeyFilter(edit, desktop));
}

void MakeCardTextEdit(QLineEdit* edit) {
    // Room for CardTextLimit characters of two units each; the validator keeps the real count.
    edit->setMaxLength(2 * CardTextLimit);
    edit->setValidator(new TCardTextValidator(edit));
}
