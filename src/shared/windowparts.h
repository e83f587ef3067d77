#pragma once

#include <QMargins>
#include <QString>
#include <QStringList>
#include <Qt>

#include <initializer_list>

class QHBoxLayout;
class QLabel;
class QLayout;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QVBoxLayout;
class QWidget;

// Small builders for what the windows make over and over. Each control gets its objectName as it
// is made: tests find controls by that name.

template <typename T> T* Named(T* object, const char* objectName) {
    object->setObjectName(objectName);
    return object;
}

QLabel* NewLabel(const char* objectName, const QString& text, QWidget* parent);
QPushButton* NewButton(const char* objectName, const QString& text, QWidget* parent);

// QLineEdit's own limit, for fields that take any length.
inline constexpr int UnlimitedTextLength = 32767;
QLineEdit* NewEdit(const char* objectName, QWidget* parent, int maxLength = UnlimitedTextLength);

// Makes the widget's font bold and, when `sizeFactor` is not 1, that much larger.
void MakeBold(QWidget* widget, double sizeFactor = 1.0);
QLabel* BoldLabel(const char* objectName, const QString& text, QWidget* parent,
                  double sizeFactor = 1.0);

void FillWhite(QWidget* widget);

// The window's buttons at the right end of a row, in the given order.
QHBoxLayout* RightAlignedRow(std::initializer_list<QWidget*> buttons);

// A read-only list chosen from by whole rows, under fixed column titles, reached with Tab.
QTreeWidget* NewRowList(const char* objectName, const QStringList& titles, QWidget* parent);

// A title bar with only the close button: no minimise, maximise or help button.
void ShowOnlyCloseButton(QWidget* window, Qt::WindowFlags kind = Qt::Dialog);

// The white band at the top of a window: a bold title above a subtitle. Buttons added to `Row`
// stand right of the two texts.
struct TTitleBand {
    QWidget* Panel;
    QLabel* Title;
    QLabel* SubTitle;
    QHBoxLayout* Row;
};

struct TTitleBandLook {
    const char* PanelName = "pnlTop";
    const char* SubTitleName = "lblSubTitle";
    double TitleSizeFactor = 1.0;
};

// Builds the texts and the layout into `panel`, which the caller has made and named.
TTitleBand FillTitleBand(QWidget* panel, const QString& title, const QString& subTitle,
                         const TTitleBandLook& look);

template <typename Panel = QWidget>
TTitleBand NewTitleBand(QWidget* parent, const QString& title, const QString& subTitle,
                        const TTitleBandLook& look = {}) {
    return FillTitleBand(Named(new Panel(parent), look.PanelName), title, subTitle, look);
}

// Lays `band` flush with the window's edges and `body` below it inside the usual margins. Returns
// the window's layout, for rows that also reach the edges (a status bar).
QVBoxLayout* StackBelowBand(QWidget* window, QWidget* band, QLayout* body);

// Lays `band` flush with the window's top and sides and `body` straight below it within
// `bodyMargins`, `bottomGap` pixels above the window's lower edge.
QVBoxLayout* BandOverBody(QWidget* window, QWidget* band, QLayout* body,
                          const QMargins& bodyMargins, int bottomGap = 0);

// The band over a list whose last read failed: it says so with the database's reason, and its
// button reads again. Hidden while the list is as read. The text is named for assistive tools,
// which are told when it appears; the button is on the keyboard's way through the window, where
// the band stands.
struct TReadFailureBand {
    QWidget* Panel;
    QLabel* Text;
    QPushButton* Retry;
};
TReadFailureBand NewReadFailureBand(QWidget* parent);
// Shows the band with `text` (translated, the reason filled in); an empty text hides it.
void ShowReadFailure(const TReadFailureBand& band, const QString& text);
