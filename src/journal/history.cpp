#include "journal/history.h"

#include "db/MyDBConnector.h"
#include "journal/journaltext.h"
#include "shared/desktop.h"
#include "shared/messagebox.h"
#include "shared/safefile.h"
#include "shared/translation.h"
#include "shared/windowparts.h"
#include "shared/windowtranslation.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// A date row of the filter: the box switches the bound on, the date says where it lies.
std::pair<QCheckBox*, QDateEdit*> DateBound(const char* boxName, const char* text,
                                            const char* dateName, QWidget* parent) {
    auto* box = Named(new QCheckBox(text, parent), boxName);
    auto* date = Named(new QDateEdit(QDate::currentDate(), parent), dateName);
    date->setCalendarPopup(true);
    date->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    date->setEnabled(false);
    date->setAccessibleName(QString(text).remove(u'&'));
    QObject::connect(box, &QCheckBox::toggled, date, &QWidget::setEnabled);
    return {box, date};
}

QDateTime StartOfLocalDay(const QDate& day) {
    return day.startOfDay();
}

} // namespace

TfrmHistory::TfrmHistory(TMyDBConnector& database, TDesktop& desktop, THistoryScope scope,
                         const TJournalFilter& subject, const QString& name,
                         const QList<std::pair<int32_t, QString>>& controllers, QWidget* parent)
    : QDialog(parent), FDatabase(database), FDesktop(desktop), FScope(scope), FFilter(subject) {
    setObjectName("frmHistory");
    ShowOnlyCloseButton(this, Qt::Window);
    auto* body = new QVBoxLayout(this);
    if (scope == THistoryScope::Site)
        body->addWidget(BuildFilters());
    lstEntries = BuildList();
    lblEntries = NewLabel("lblEntries", N_("&Changes, newest first:"), this);
    lblEntries->setBuddy(lstEntries);
    body->addWidget(lblEntries);
    body->addWidget(lstEntries, 1);
    lblStatusText = Named(new QLabel(this), "lblStatusText");
    lblStatusText->setProperty("vyrNoTranslate", true);
    body->addWidget(lblStatusText);
    body->addLayout(BuildButtonRow());
    FormCreate(name, controllers);
    resize(QSize(900, 560));
}

TfrmHistory::~TfrmHistory() = default;

QWidget* TfrmHistory::BuildFilters() {
    auto* filters = Named(new QWidget(this), "pnlFilters");
    auto* form = new QFormLayout(filters);
    form->setContentsMargins(0, 0, 0, 0);
    std::tie(chkFrom, dtpFrom) = DateBound("chkFrom", N_("&From:"), "dtpFrom", filters);
    std::tie(chkUntil, dtpUntil) = DateBound("chkUntil", N_("&Until:"), "dtpUntil", filters);
    form->addRow(chkFrom, dtpFrom);
    form->addRow(chkUntil, dtpUntil);

    cboOperator = Named(new QComboBox(filters), "cboOperator");
    // Its entries are the site's names, the first one aside (set with the window's texts).
    cboOperator->setProperty("vyrNoTranslate", true);
    form->addRow(NewLabel("lblOperator", N_("&Operator:"), filters), cboOperator);

    cboController = Named(new QComboBox(filters), "cboController");
    cboController->setProperty("vyrNoTranslate", true);
    form->addRow(NewLabel("lblController", N_("Co&ntroller:"), filters), cboController);

    txtCard = NewEdit("txtCard", filters);
    form->addRow(NewLabel("lblCard", N_("C&ard number:"), filters), txtCard);
    for (int row = 2; row < form->rowCount(); ++row)
        if (auto* label =
                qobject_cast<QLabel*>(form->itemAt(row, QFormLayout::LabelRole)->widget()))
            label->setBuddy(form->itemAt(row, QFormLayout::FieldRole)->widget());

    cmdApply = NewButton("cmdApply", N_("&Show"), filters);
    connect(cmdApply, &QPushButton::clicked, this, &TfrmHistory::Reload);
    connect(txtCard, &QLineEdit::returnPressed, this, &TfrmHistory::Reload);
    form->addRow(QString(), cmdApply);
    return filters;
}

QTreeWidget* TfrmHistory::BuildList() {
    QStringList titles;
    for (const char* title : JournalColumns(ServerSite()))
        titles << title;
    auto* list = NewRowList("lstEntries", titles, this);
    list->header()->setStretchLastSection(true);
    // The next page comes when the operator reaches the end of the list.
    connect(list->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (value == lstEntries->verticalScrollBar()->maximum())
            LoadMore();
    });
    return list;
}

bool TfrmHistory::ServerSite() const {
    return FDatabase.GetDBTypeName() == QLatin1String("postgresql");
}

QHBoxLayout* TfrmHistory::BuildButtonRow() {
    cmdMore = NewButton("cmdMore", N_("&More"), this);
    connect(cmdMore, &QPushButton::clicked, this, &TfrmHistory::LoadMore);
    cmdExport = NewButton("cmdExport", N_("&Export..."), this);
    connect(cmdExport, &QPushButton::clicked, this, &TfrmHistory::Export);
    cmdClose = NewButton("cmdClose", N_("Close"), this);
    cmdClose->setAutoDefault(false);
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::reject);
    return RightAlignedRow({cmdMore, cmdExport, cmdClose});
}

void TfrmHistory::FormCreate(const QString& name,
                             const QList<std::pair<int32_t, QString>>& controllers) {
    setWindowTitle(N_("History"));
    TranslateWindow(this);
    // Names from the site, added after the translation: they stay as they were typed.
    if (FScope == THistoryScope::Site) {
        cboOperator->addItem(_("All operators"));
        cboController->addItem(_("All controllers"), 0);
        for (const QString& operatorName : JournalOperators(FDatabase))
            cboOperator->addItem(operatorName, operatorName);
        for (const auto& [conId, conName] : controllers)
            cboController->addItem(conName, conId);
    }
    lstEntries->setAccessibleName(QString(lblEntries->text()).remove(u'&'));
    switch (FScope) {
    case THistoryScope::Site:
        setWindowTitle(_("Site history"));
        break;
    case THistoryScope::CardHolder:
        setWindowTitle(FormatText(_("History of cardholder %s"), {name}));
        break;
    case THistoryScope::Controller:
        setWindowTitle(FormatText(_("History of controller %s"), {name}));
        break;
    }
    Reload();
}

TJournalFilter TfrmHistory::ChosenFilter() const {
    if (FScope != THistoryScope::Site)
        return FFilter;
    TJournalFilter filter;
    if (chkFrom->isChecked())
        filter.From = StartOfLocalDay(dtpFrom->date());
    // The until day is the last day shown, all of it.
    if (chkUntil->isChecked())
        filter.Until = StartOfLocalDay(dtpUntil->date().addDays(1));
    filter.Operator = cboOperator->currentData().toString();
    filter.ConID = cboController->currentData().toInt();
    filter.CardNumber = txtCard->text().trimmed();
    return filter;
}

void TfrmHistory::Reload() {
    FFilter = ChosenFilter();
    lstEntries->clear();
    FOldestShown = 0;
    FAtEnd = false;
    LoadMore();
    if (lstEntries->topLevelItemCount() > 0)
        lstEntries->setCurrentItem(lstEntries->topLevelItem(0));
}

void TfrmHistory::LoadMore() {
    if (FAtEnd)
        return;
    const std::optional<QList<TJournalEntry>> page =
        ReadJournal(FDatabase, FFilter, PageSize, FOldestShown);
    if (!page) {
        FAtEnd = true;
        lblStatusText->setText(
            FormatText(_("The history could not be read: %s"), {FDatabase.GetLastError()}));
        cmdMore->setEnabled(false);
        return;
    }
    QList<QTreeWidgetItem*> items;
    for (const TJournalEntry& entry : *page)
        items << new QTreeWidgetItem(JournalRow(entry, ServerSite()));
    lstEntries->addTopLevelItems(items);
    if (!page->isEmpty())
        FOldestShown = page->back().Id;
    FAtEnd = page->size() < PageSize;
    cmdMore->setEnabled(!FAtEnd);
    const int shown = lstEntries->topLevelItemCount();
    lblStatusText->setText(
        FAtEnd ? FormatText(TranslatePlural("%d change", "%d changes", shown),
                            {QString::number(shown)})
               : FormatText(TranslatePlural("%d change shown, more with More",
                                            "%d changes shown, more with More", shown),
                            {QString::number(shown)}));
}

void TfrmHistory::Export() {
    const QString file = FDesktop.ChooseSaveFile(this, _("Export history"), QDir::homePath(),
                                                 _("CSV files (*.csv)"));
    if (file.isEmpty())
        return;
    QList<QStringList> rows{JournalColumnTitles(ServerSite())};
    for (int i = 0; i < lstEntries->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = lstEntries->topLevelItem(i);
        QStringList row;
        for (int column = 0; column < lstEntries->columnCount(); ++column)
            row << item->text(column);
        rows << row;
    }
    if (!ReplaceFileAtomically(file, CsvDocument(rows)))
        MessageBoxes::ShowError(this, FormatText(_("Unable to write to %s"), {file}));
}

void ShowCardHolderHistory(QWidget* parent, TMyDBConnector& database, TDesktop& desktop,
                           const QString& cardNumber, const QString& cardHolder) {
    TJournalFilter subject;
    subject.CardNumber = cardNumber;
    subject.HolderOnly = true;
    TfrmHistory window(database, desktop, THistoryScope::CardHolder, subject,
                       cardHolder.isEmpty() ? cardNumber : cardHolder + " (" + cardNumber + ")", {},
                       parent);
    window.exec();
}

void ShowControllerHistory(QWidget* parent, TMyDBConnector& database, TDesktop& desktop,
                           int32_t conId, const QString& conName) {
    TJournalFilter subject;
    subject.ConID = conId;
    TfrmHistory window(database, desktop, THistoryScope::Controller, subject, conName, {}, parent);
    window.exec();
}

void ShowSiteHistory(QWidget* parent, TMyDBConnector& database, TDesktop& desktop,
                     const QList<std::pair<int32_t, QString>>& controllers) {
    TfrmHistory window(database, desktop, THistoryScope::Site, {}, QString(), controllers, parent);
    window.exec();
}
