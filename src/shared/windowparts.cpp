#include "shared/windowparts.h"

#include "shared/translation.h"

#include <QAccessible>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

QLabel* NewLabel(const char* objectName, const QString& text, QWidget* parent) {
    return Named(new QLabel(text, parent), objectName);
}

QPushButton* NewButton(const char* objectName, const QString& text, QWidget* parent) {
    return Named(new QPushButton(text, parent), objectName);
}

QLineEdit* NewEdit(const char* objectName, QWidget* parent, int maxLength) {
    auto* edit = Named(new QLineEdit(parent), objectName);
    edit->setMaxLength(maxLength);
    return edit;
}

void MakeBold(QWidget* widget, double sizeFactor) {
    QFont font = widget->font();
    font.setBold(true);
    // Only a real change of size is set: a size set once no longer follows the desktop's font.
    if (sizeFactor != 1.0)
        font.setPointSizeF(font.pointSizeF() * sizeFactor);
    widget->setFont(font);
}

QLabel* BoldLabel(const char* objectName, const QString& text, QWidget* parent, double sizeFactor) {
    QLabel* label = NewLabel(objectName, text, parent);
    MakeBold(label, sizeFactor);
    return label;
}

void FillWhite(QWidget* widget) {
    widget->setAutoFillBackground(true);
    QPalette white = widget->palette();
    white.setColor(QPalette::Window, Qt::white);
    widget->setPalette(white);
}

QHBoxLayout* RightAlignedRow(std::initializer_list<QWidget*> buttons) {
    auto* row = new QHBoxLayout;
    row->addStretch();
    for (QWidget* button : buttons)
        row->addWidget(button);
    return row;
}

QTreeWidget* NewRowList(const char* objectName, const QStringList& titles, QWidget* parent) {
    auto* list = Named(new QTreeWidget(parent), objectName);
    list->setHeaderLabels(titles);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setFocusPolicy(Qt::StrongFocus);
    list->header()->setSectionsMovable(false);
    return list;
}

void ShowOnlyCloseButton(QWidget* window, Qt::WindowFlags kind) {
    window->setWindowFlags(kind | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint);
}

TTitleBand FillTitleBand(QWidget* panel, const QString& title, const QString& subTitle,
                         const TTitleBandLook& look) {
    FillWhite(panel);
    TTitleBand band{panel, nullptr, nullptr, nullptr};
    band.Title = BoldLabel("lblTitle", title, panel, look.TitleSizeFactor);
    band.SubTitle = NewLabel(look.SubTitleName, subTitle, panel);
    auto* titles = new QVBoxLayout;
    titles->addWidget(band.Title);
    titles->addWidget(band.SubTitle);
    band.Row = new QHBoxLayout(panel);
    band.Row->addLayout(titles, 1);
    return band;
}

QVBoxLayout* StackBelowBand(QWidget* window, QWidget* band, QLayout* body) {
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(band);
    // A plain widget around the body gives it the style's margins, which the outer layout drops.
    auto* margins = new QWidget(window);
    margins->setLayout(body);
    layout->addWidget(margins, 1);
    return layout;
}

QVBoxLayout* BandOverBody(QWidget* window, QWidget* band, QLayout* body,
                          const QMargins& bodyMargins, int bottomGap) {
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, bottomGap);
    layout->addWidget(band);
    body->setContentsMargins(bodyMargins);
    layout->addLayout(body, 1);
    return layout;
}

TReadFailureBand NewReadFailureBand(QWidget* parent) {
    TReadFailureBand band;
    band.Panel = Named(new QWidget(parent), "pnlReadFailure");
    // The colours of a hint: a band that stands out from the list without looking like an error
    // box of its own.
    band.Panel->setAutoFillBackground(true);
    QPalette colours = band.Panel->palette();
    colours.setColor(QPalette::Window, colours.color(QPalette::ToolTipBase));
    colours.setColor(QPalette::WindowText, colours.color(QPalette::ToolTipText));
    band.Panel->setPalette(colours);
    auto* icon = new QLabel(band.Panel);
    const int size = band.Panel->style()->pixelMetric(QStyle::PM_SmallIconSize);
    icon->setPixmap(
        band.Panel->style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(size, size));
    band.Text = Named(new QLabel(band.Panel), "lblReadFailure");
    band.Text->setWordWrap(true);
    band.Text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // It carries the database's words; the window sets it anew in the current language.
    band.Text->setProperty("vyrNoTranslate", true);
    band.Retry = NewButton("cmdReadAgain", N_("&Try again"), band.Panel);
    band.Retry->setFocusPolicy(Qt::StrongFocus);
    auto* row = new QHBoxLayout(band.Panel);
    row->addWidget(icon);
    row->addWidget(band.Text, 1);
    row->addWidget(band.Retry);
    band.Panel->hide();
    return band;
}

void ShowReadFailure(const TReadFailureBand& band, const QString& text) {
    const bool news = !text.isEmpty() && text != band.Text->text();
    band.Text->setText(text);
    band.Text->setAccessibleName(text);
    band.Panel->setAccessibleName(text);
    band.Panel->setVisible(!text.isEmpty());
    if (news) {
        QAccessibleEvent alert(band.Panel, QAccessible::Alert);
        QAccessible::updateAccessibility(&alert);
    }
}
