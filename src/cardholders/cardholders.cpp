#include "cardholders/cardholders.h"

#include "cardholders/cardholder.h"
#include "cardholders/cardholdermodel.h"
#include "cardholders/cardholderreload.h"
#include "cardholders/cardident.h"
#include "cardholders/cardnumber.h"
#include "controllers/admitslist.h"
#include "db/MyDBConnector.h"
#include "db/changewatch.h"
#include "db/readagain.h"
#include "db/reconnect.h"
#include "db/sitewriter.h"
#include "journal/history.h"
#include "profiles/profilesession.h"
#include "shared/messagebox.h"
#include "shared/publictypes.h"
#include "shared/translation.h"
#include "shared/windowparts.h"
#include "shared/windowtranslation.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

QColor ZoneColour(int zone) {
    switch (zone) {
    case 0:
        return QColor(255, 128, 128);
    case 1:
        return QColor(0, 128, 0);
    case 2:
        return QColor(0, 0, 255);
    default:
        return QColor(); // never written by the program; shown without a colour of its own
    }
}

namespace {

// Paints the zone cells in their colours, the number column on silver, and the vertical grid.
class TCardHolderDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem cell = option;
        if (index.column() == TCardHolderModel::CardNumberColumn)
            cell.backgroundBrush = QColor(192, 192, 192);
        QStyledItemDelegate::paint(painter, cell, index);
        if (index.column() >= TCardHolderModel::FirstZoneColumn) {
            const QColor colour = ZoneColour(index.data(TCardHolderModel::ZoneRole).toInt());
            if (colour.isValid())
                painter->fillRect(option.rect.adjusted(0, 0, 0, -1), colour);
        }
        painter->save();
        painter->setPen(option.palette.color(QPalette::Mid));
        painter->drawLine(option.rect.topRight(), option.rect.bottomRight());
        painter->restore();
    }

    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        const QBrush background = option->backgroundBrush;
        QStyledItemDelegate::initStyleOption(option, index);
        if (background.style() != Qt::NoBrush)
            option->backgroundBrush = background;
    }
};

} // namespace

TfrmCardHolders::TfrmCardHolders(TDesktop& desktop, TProfileSession& session,
                                 const TRunSettings& settings, QWidget* parent)
    : QDialog(parent), FDesktop(desktop), FSession(session), FSettings(settings) {
    setObjectName("frmCardHolders");
    setWindowTitle(N_("Cardholders"));
    ShowOnlyCloseButton(this, Qt::Window);
    setMinimumSize(750, 300);
    resize(900, 500);

    const TTitleBand band =
        NewTitleBand(this, N_("Manage VYR Cardholders"),
                     N_("The list displays all cardholders listed in the database"));
    pnlTop = band.Panel;
    lblTitle = band.Title;
    lblSubTitle = band.SubTitle;
    auto* body = new QVBoxLayout;
    body->addLayout(BuildFilterRow());
    body->addLayout(BuildActionRow());
    FReadFailureBand = NewReadFailureBand(this);
    connect(FReadFailureBand.Retry, &QPushButton::clicked, this, [this] {
        FRefreshWanted = true;
        StartRefresh();
    });
    body->addWidget(FReadFailureBand.Panel);
    body->addWidget(BuildList(), 1);
    BuildPopupMenu();
    QStatusBar* status = BuildStatusBar();
    StackBelowBand(this, pnlTop, body)->addWidget(status);

    FRefreshRetry = new QTimer(this);
    FRefreshRetry->setSingleShot(true);
    FRefreshRetry->setInterval(250);
    connect(FRefreshRetry, &QTimer::timeout, this, [this] { StartRefresh(); });
    connect(&FSession.Changes(), &TChangeWatch::Changed, this,
            [this](const QStringList& tables, const TChangedCards& cards) {
                SiteChanged(tables, cards);
            });

    // Once the session is connected again, what a lost connection left unknown is read.
    connect(&FSession.Reconnection(), &TReconnect::Finished, this, [this](bool connected) {
        if (connected && !FUnsettledCard.isEmpty()) {
            FRefreshWanted = true;
            FRefreshCards.Add(TChangedCards{true, {CardNumberKey(FUnsettledCard)}});
            StartRefresh();
        } else if (!FUnsettledCard.isEmpty()) {
            FRefreshRetry->start();
        }
    });

    FormCreate();
    if (FSession.IsConnected())
        MakeReload();
}

QHBoxLayout* TfrmCardHolders::BuildFilterRow() {
    lblFilterCardHolder = NewLabel("lblFilterCardHolder", N_("Name:"), this);
    txtFilterCardHolder = NewEdit("txtFilterCardHolder", this);
    // Captions from the settings, never translated.
    lblFilterCustom1 = NewLabel("lblFilterCustom1", "Custom 1:", this);
    lblFilterCustom1->setProperty("vyrNoTranslate", true);
    txtFilterCustom1 = NewEdit("txtFilterCustom1", this);
    lblFilterCustom2 = NewLabel("lblFilterCustom2", "Custom 2:", this);
    lblFilterCustom2->setProperty("vyrNoTranslate", true);
    txtFilterCustom2 = NewEdit("txtFilterCustom2", this);
    cmdFilterApply = NewButton("cmdFilterApply", N_("Apply filter"), this);
    cmdFilterApply->setDefault(true);
    cmdFilterReset = NewButton("cmdFilterReset", N_("Reset filter"), this);
    connect(cmdFilterApply, &QPushButton::clicked, this, [this] { cmdFilterApplyClick(); });
    connect(cmdFilterReset, &QPushButton::clicked, this, [this] { cmdFilterResetClick(); });

    auto* filters = new QHBoxLayout;
    filters->addWidget(lblFilterCardHolder);
    filters->addWidget(txtFilterCardHolder, 1);
    filters->addWidget(lblFilterCustom1);
    filters->addWidget(txtFilterCustom1, 1);
    filters->addWidget(lblFilterCustom2);
    filters->addWidget(txtFilterCustom2, 1);
    filters->addWidget(cmdFilterApply);
    filters->addWidget(cmdFilterReset);
    return filters;
}

QHBoxLayout* TfrmCardHolders::BuildActionRow() {
    cmdCardHoldersNew = NewButton("cmdCardHoldersNew", N_("Add cardholder..."), this);
    cmdIdentify = NewButton("cmdIdentify", N_("Identify cardholder"), this);
    connect(cmdCardHoldersNew, &QPushButton::clicked, this, [this] { cmdCardHoldersNewClick(); });
    connect(cmdIdentify, &QPushButton::clicked, this, [this] { cmdIdentifyClick(); });
    auto* actions = new QHBoxLayout;
    actions->addWidget(cmdCardHoldersNew);
    actions->addWidget(cmdIdentify);
    actions->addStretch();
    return actions;
}

QTreeView* TfrmCardHolders::BuildList() {
    CardHolders = Named(new TCardHolderModel(FSession.Controllers(), this), "CardHolders");
    VSTCardHolders = Named(new QTreeView(this), "VSTCardHolders");
    VSTCardHolders->setModel(CardHolders);
    VSTCardHolders->setItemDelegate(new TCardHolderDelegate(VSTCardHolders));
    VSTCardHolders->setRootIsDecorated(false);
    VSTCardHolders->setItemsExpandable(false);
    VSTCardHolders->setUniformRowHeights(true); // thousands of rows open without measuring each
    VSTCardHolders->setAllColumnsShowFocus(true);
    VSTCardHolders->setSelectionBehavior(QAbstractItemView::SelectRows);
    VSTCardHolders->setSelectionMode(QAbstractItemView::SingleSelection);
    VSTCardHolders->setEditTriggers(QAbstractItemView::NoEditTriggers);
    VSTCardHolders->setSortingEnabled(false); // sorted by the window, stable and by locale
    VSTCardHolders->viewport()->installEventFilter(this);
    connect(VSTCardHolders, &QTreeView::doubleClicked, this, [this] { mnuPropertiesClick(); });
    BuildListHeader();
    return VSTCardHolders;
}

void TfrmCardHolders::BuildListHeader() {
    QHeaderView* header = VSTCardHolders->header();
    header->setStretchLastSection(false);
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSectionsMovable(true);
    header->setDefaultSectionSize(70);
    header->setSectionResizeMode(TCardHolderModel::CardNumberColumn, QHeaderView::Fixed);
    header->resizeSection(TCardHolderModel::CardNumberColumn, 100);
    header->resizeSection(TCardHolderModel::CardHolderColumn, 170);
    header->resizeSection(2, 100);
    header->resizeSection(3, 100);
    connect(header, &QHeaderView::sectionClicked, this,
            [this](int column) { VSTCardHoldersHeaderClick(column); });
    // The number column stays first; every other column may be dragged anywhere after it.
    connect(header, &QHeaderView::sectionMoved, this, [header](int logical, int from, int to) {
        if (logical == TCardHolderModel::CardNumberColumn || to == 0) {
            const QSignalBlocker blocker(header);
            header->moveSection(to, from);
        }
    });
}

void TfrmCardHolders::BuildPopupMenu() {
    PopupMenu = Named(new QMenu(this), "PopupMenu");
    mnuDelete = PopupMenu->addAction(style()->standardIcon(QStyle::SP_TrashIcon), N_("&Delete"));
    mnuDelete->setObjectName("mnuDelete");
    PopupMenu->addSeparator();
    mnuProperties = PopupMenu->addAction(style()->standardIcon(QStyle::SP_FileDialogInfoView),
                                         N_("&Properties..."));
    mnuProperties->setObjectName("mnuProperties");
    PopupMenu->setDefaultAction(mnuProperties);
    QAction* mnuHistory = PopupMenu->addAction(N_("&History..."));
    mnuHistory->setObjectName("mnuHistory");
    connect(mnuHistory, &QAction::triggered, this, [this] {
        if (const TCardHolder* record = CardHolders->Record(SelectedRow()))
            ShowCardHolderHistory(this, FSession.Database(), FDesktop, record->CardNumber,
                                  record->CardHolder);
    });
    connect(mnuDelete, &QAction::triggered, this, [this] { mnuDeleteClick(); });
    connect(mnuProperties, &QAction::triggered, this, [this] { mnuPropertiesClick(); });
}

QStatusBar* TfrmCardHolders::BuildStatusBar() {
    StatusBar = Named(new QStatusBar(this), "StatusBar");
    StatusBar->setSizeGripEnabled(true);
    StatusPanel = Named(new QLabel(StatusBar), "StatusPanel");
    StatusPanel->setProperty("vyrNoTranslate", true);
    StatusPanel->setFixedWidth(200);
    StatusBar->addWidget(StatusPanel);
    lblSaving = NewLabel("lblSaving", N_("Saving..."), StatusBar);
    lblSaving->hide();
    StatusBar->addWidget(lblSaving);
    return StatusBar;
}

TfrmCardHolders::~TfrmCardHolders() = default;

void TfrmCardHolders::FormCreate() {
    TranslateWindow(this);
    const QString custom1 = CustomFieldCaption(1);
    const QString custom2 = CustomFieldCaption(2);
    lblFilterCustom1->setText(custom1 + ":");
    lblFilterCustom2->setText(custom2 + ":");
    CardHolders->SetHeaders({_("Cardnumber"), _("Name"), custom1, custom2});
    cmdFilterApplyClick();
}

void TfrmCardHolders::LoadCardHolders() {
    // The list loads in one go, and nothing queued for the window runs meanwhile: no click lands
    // on a list half replaced, and a reload asked for during one follows it. Only the paint comes
    // first, so that "Apply filter" is seen disabled while the list loads.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    repaint();
    ++FLoads;
    // The filter counts as applied even when the read fails: the next read, which the band
    // promises, is of what the operator asked for.
    FAppliedFilter = {txtFilterCardHolder->text(), txtFilterCustom1->text(),
                      txtFilterCustom2->text()};
    if (FSession.IsConnected() && ReadAgainOnFailure([this] {
            return CardHolders->Load(&FSession.Database(), FAppliedFilter);
        })) {
        ShowCount();
        // The rows come ordered by name; the header only says so.
        SortColumn = TCardHolderModel::CardHolderColumn;
        SortDirection = Qt::AscendingOrder;
        ShowSortMark();
        ReadSucceeded();
    } else {
        ReadFailed(FSession.Database().GetLastError());
    }
    QApplication::restoreOverrideCursor();
}

void TfrmCardHolders::ReadFailed(const QString& reason) {
    // What went unread may be anything: the next read is of the whole list and its columns.
    FRefreshWanted = true;
    FRefreshCards = TChangedCards();
    FColumnsWanted = true;
    ShowReadFailure(FReadFailureBand,
                    FormatText(FListRead ? _("This list is out of date. The cardholders could not "
                                             "be read again from the database: %s")
                                         : _("The cardholders could not be read from the "
                                             "database: %s"),
                               {reason}));
}

void TfrmCardHolders::ReadSucceeded() {
    FListRead = true;
    ShowReadFailure(FReadFailureBand, QString());
}

void TfrmCardHolders::SiteChanged(const QStringList& tables, const TChangedCards& cards) {
    const bool columns = TChangeWatch::Touches(tables, {QStringLiteral("controllers")});
    const bool rows =
        TChangeWatch::Touches(tables, {QStringLiteral("cardholders"), QStringLiteral("cardzones")});
    if (!columns && !rows)
        return;
    FColumnsWanted = FColumnsWanted || columns;
    if (rows) {
        TChangedCards keys{cards.Known, {}};
        for (const QString& number : cards.Numbers)
            keys.Numbers.insert(CardNumberKey(number));
        FRefreshCards.Add(keys);
        // Past this many, one read of the whole list is quicker than naming them all.
        if (FRefreshCards.Numbers.size() > MaxNamedCards)
            FRefreshCards = TChangedCards();
    }
    FRefreshWanted = true;
    StartRefresh();
}

void TfrmCardHolders::RefreshAgain(const TCardHolderRead& read) {
    FRefreshWanted = true;
    FColumnsWanted = FColumnsWanted || read.Columns;
    FRefreshCards.Add(read.Cards ? TChangedCards{true, *read.Cards} : TChangedCards());
}

bool TfrmCardHolders::FreeToRefresh() const {
    // A dialog of the list (the properties, a question before a delete) holds a row by its
    // position, and an open menu acts on the selected row: the rows stay as they are until it is
    // gone. The list's own window is modal too when the main window opened it.
    const QWidget* modal = QApplication::activeModalWidget();
    return (!modal || modal == this) && !QApplication::activePopupWidget();
}

void TfrmCardHolders::MakeReload() {
    FReload = std::make_unique<TCardHolderReload>(FSession.Database().GetDBTypeName(),
                                                  FSession.Database().ConnectionString, this);
    FReload->setObjectName("CardHolderReload");
    connect(FReload.get(), &TCardHolderReload::Loaded, this,
            [this](const std::shared_ptr<TCardHolderRows>& rows) {
                const bool read = rows && rows->Ok;
                // A load of the list's own came meanwhile and shows newer rows, though with
                // the columns it had.
                const bool current = FRefreshBase == FLoads;
                if (read && current && FreeToRefresh()) {
                    ShowRefresh(*rows);
                    // A read that began after a zone click of unknown outcome shows its card as
                    // stored: clicks are taken again, once the session's connection is back.
                    if (FUnsettledRead && !FSession.Database().ConnectionLost())
                        FUnsettledCard.clear();
                } else if (current || FRefreshRead.Columns)
                    RefreshAgain(FRefreshRead); // once the dialog is gone, or once more
                if (!read && current) {
                    // No retry of its own: the next change heard of or the band's button
                    // reads again, and the watch tells when a lost server is back.
                    ReadFailed(rows ? rows->Error : QString());
                    return;
                }
                // Changes that came during the read are read next.
                if (read || !FRefreshWanted)
                    StartRefresh();
                else
                    FRefreshRetry->start();
            });
}

void TfrmCardHolders::StartRefresh() {
    if (!FRefreshWanted || !FSession.IsConnected())
        return;
    if (!FReload)
        MakeReload();
    if (FReload->Busy())
        return; // what came meanwhile is read when this read is shown
    if (!FreeToRefresh()) {
        FRefreshRetry->start();
        return;
    }
    FRefreshRead = {FAppliedFilter, {}, FColumnsWanted, std::nullopt};
    if (FRefreshCards.Known && !FColumnsWanted)
        FRefreshRead.Cards = FRefreshCards.Numbers;
    for (const TZoneColumn& column : CardHolders->ZoneColumns())
        FRefreshRead.ConIDs << column.ConID;
    FRefreshWanted = false;
    FColumnsWanted = false;
    FRefreshCards = TChangedCards::None();
    FRefreshBase = FLoads;
    FUnsettledRead = !FUnsettledCard.isEmpty();
    FReload->Load(FRefreshRead);
}

void TfrmCardHolders::ShowRefresh(TCardHolderRows& rows) {
    const TCardHolder* selected = CardHolders->Record(SelectedRow());
    const QString selectedNumber = selected ? selected->CardNumber : QString();
    const int currentColumn = qMax(0, VSTCardHolders->currentIndex().column());
    const QModelIndex topIndex = VSTCardHolders->indexAt(QPoint(1, 1));
    const TCardHolder* top = CardHolders->Record(topIndex.row());
    const QString topNumber = top ? top->CardNumber : QString();
    const int topRow = qMax(0, topIndex.row());
    const int across = VSTCardHolders->horizontalScrollBar()->value();

    if (rows.Columns)
        CardHolders->SetZoneColumns(*rows.Columns);
    // Rows that stay keep the selection by themselves; a reset loses it, and a new column is no
    // part of the selected row yet.
    const bool reselect =
        CardHolders->Merge(std::move(rows.Records), rows.Within) || rows.Columns.has_value();

    const int count = CardHolders->rowCount();
    if (count > 0) {
        // Selecting does not scroll: the scroll position is set after it.
        const int row = CardHolders->RowOf(selectedNumber);
        if (reselect && row >= 0 && !selectedNumber.isEmpty())
            VSTCardHolders->selectionModel()->setCurrentIndex(
                CardHolders->index(row, currentColumn),
                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        // Rows that came or went above it would shift the top row otherwise.
        const int anchor = topNumber.isEmpty() ? -1 : CardHolders->RowOf(topNumber);
        VSTCardHolders->scrollTo(CardHolders->index(anchor >= 0 ? anchor : qMin(topRow, count - 1),
                                                    TCardHolderModel::CardNumberColumn),
                                 QAbstractItemView::PositionAtTop);
    }
    VSTCardHolders->horizontalScrollBar()->setValue(across);
    ShowCount();
    // Only a read of the whole list makes one that failed whole again.
    if (!rows.Within)
        ReadSucceeded();
}

void TfrmCardHolders::ShowSortMark() {
    VSTCardHolders->header()->setSortIndicator(SortColumn, SortDirection);
}

void TfrmCardHolders::ShowCount() {
    const int count = CardHolders->rowCount();
    StatusPanel->setText(
        FormatText(TranslatePlural("Loaded %d cardholder", "Loaded %d cardholders", count),
                   {QString::number(count)}));
}

void TfrmCardHolders::cmdFilterApplyClick() {
    cmdFilterApply->setEnabled(false);
    LoadCardHolders();
    cmdFilterApply->setEnabled(true);
}

void TfrmCardHolders::cmdFilterResetClick() {
    txtFilterCardHolder->clear();
    txtFilterCustom1->clear();
    txtFilterCustom2->clear();
    cmdFilterApplyClick();
}

void TfrmCardHolders::cmdCardHoldersNewClick() {
    TfrmCardHolder dialog(FDesktop, FSession, FSettings, this);
    if (dialog.exec() == QDialog::Accepted)
        LoadCardHolders();
}

void TfrmCardHolders::cmdIdentifyClick() {
    TfrmCardIdent dialog(FDesktop, FSession, FSettings, this);
    dialog.exec();
}

int TfrmCardHolders::SelectedRow() const {
    const QModelIndexList rows = VSTCardHolders->selectionModel()->selectedRows();
    return rows.size() == 1 ? rows.first().row() : -1;
}

void TfrmCardHolders::mnuDeleteClick() {
    const int row = SelectedRow();
    const TCardHolder* record = CardHolders->Record(row);
    if (!record || FWrite)
        return;
    if (!MessageBoxes::Confirm(
            this,
            FormatText(_("Are you sure you want to delete this card? (%s)"), {record->CardHolder})))
        return;
    auto deletion = std::make_shared<TCardHolderDeleteWrite>();
    deletion->Chosen = *record;
    deletion->Author = FSession.Author();
    StartWrite(deletion);
}

void TfrmCardHolders::StartWrite(const std::shared_ptr<TSiteWrite>& write) {
    TSiteWriter& writer = FSession.Writes();
    connect(&writer, &TSiteWriter::Written, this, &TfrmCardHolders::WriteEnded,
            Qt::UniqueConnection);
    FWrite = write;
    ShowBusy();
    writer.Start(write);
}

void TfrmCardHolders::ShowBusy() {
    lblSaving->setVisible(FWrite != nullptr);
    mnuDelete->setEnabled(!FWrite);
}

void TfrmCardHolders::WriteEnded(const std::shared_ptr<TSiteWrite>& write) {
    if (!write || write != FWrite)
        return;
    FWrite.reset();
    ShowBusy();
    if (const auto* click = dynamic_cast<const TZoneClickWrite*>(write.get())) {
        CardHolders->ZoneWritten(*click);
        // A read under way may have begun before the click was stored, and its rows would show
        // the zone as it was: the card is read once more after them. The watch does not tell this
        // workstation of its own changes.
        if (FReload && FReload->Busy()) {
            FRefreshWanted = true;
            FRefreshCards.Add(TChangedCards{true, {CardNumberKey(click->CardNumber)}});
        }
        if (click->Zone == ZoneUnknown)
            SettleUnknownZone(click->CardNumber, click->Error);
        else if (click->Zone == ZoneCardGone)
            MessageBoxes::ShowInformation(
                this, _("The zone was not changed: this card or this controller was deleted or "
                        "replaced on another workstation."));
        else if (click->Zone < 0)
            MessageBoxes::ShowError(
                this, FormatText(_("The zone could not be changed: %s"), {click->Error}));
        else
            for (const TZoneColumn& column : CardHolders->ZoneColumns())
                if (column.ConID == click->ConID) {
                    TStandController record;
                    record.ConID = column.ConID;
                    record.ConName = column.ConName;
                    ShowAdmitNote(StatusBar, FSession.Database(), record, click->CardNumber);
                }
        return;
    }
    const auto* deletion = dynamic_cast<const TCardHolderDeleteWrite*>(write.get());
    if (!deletion)
        return;
    CardHolders->DeleteWritten(*deletion);
    if (deletion->Deleted == TCardHolderDelete::Failed && deletion->OutcomeUnknown) {
        // The card may be gone or not: the list shows which once it has read the card again.
        MessageBoxes::ShowWarning(
            this, FormatText(_("Whether the card was deleted is not known: %s The program connects "
                               "again and reads the card back; look at the list before you delete "
                               "again."),
                             {deletion->Error}));
        FRefreshWanted = true;
        FRefreshCards.Add(TChangedCards{true, {CardNumberKey(deletion->Chosen.CardNumber)}});
        FSession.Reconnection().Start();
        return;
    }
    if (deletion->Deleted == TCardHolderDelete::Failed) {
        MessageBoxes::ShowError(
            this, FormatText(_("Got an error while deleting the card!\n%s"), {deletion->Error}));
        return;
    }
    if (deletion->Deleted == TCardHolderDelete::AlreadyGone)
        MessageBoxes::ShowInformation(this,
                                      _("This card was already deleted on another workstation."));
    if (deletion->Deleted == TCardHolderDelete::ChangedElsewhere)
        MessageBoxes::ShowInformation(
            this, _("This cardholder was changed, or the card given to someone else, on another "
                    "workstation after the list showed it, so nothing was deleted. The list shows "
                    "the card as it is now once it is read again."));
    ShowCount();
}

void TfrmCardHolders::mnuPropertiesClick() {
    const int row = SelectedRow();
    const TCardHolder* record = CardHolders->Record(row);
    if (!record)
        return;
    TfrmCardHolder dialog(FDesktop, FSession, FSettings, this);
    dialog.LoadCard(record->CardNumber);
    if (dialog.exec() == QDialog::Accepted)
        CardHolders->UpdateCardHolder(row, dialog.ShownCardHolder());
}

void TfrmCardHolders::VSTCardHoldersHeaderClick(int column) {
    if (column == SortColumn)
        SortDirection =
            SortDirection == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    else
        SortColumn = column;
    CardHolders->Sort(SortColumn, SortDirection);
    ShowSortMark();
}

void TfrmCardHolders::SettleUnknownZone(const QString& cardNumber, const QString& error) {
    MessageBoxes::ShowWarning(
        this, FormatText(_("Whether the zone was changed is not known: %s The program connects "
                           "again and reads the card's zones back; look at them before you click "
                           "again."),
                         {error}));
    FUnsettledCard = cardNumber;
    FUnsettledRead = false;
    FRefreshWanted = true;
    FRefreshCards.Add(TChangedCards{true, {CardNumberKey(cardNumber)}});
    FSession.Reconnection().Start();
}

void TfrmCardHolders::VSTCardHoldersMouseUp(Qt::MouseButton button, const QPoint& position) {
    const QModelIndex cell = VSTCardHolders->indexAt(position);
    if (cell.isValid() && cell.column() >= TCardHolderModel::FirstZoneColumn) {
        const int controller = cell.column() - TCardHolderModel::FirstZoneColumn;
        if (!FUnsettledCard.isEmpty()) {
            // Another click now could move the zone on from one the operator has not seen.
            MessageBoxes::ShowInformation(
                this, _("The list is being read again after a lost connection. Zones can be "
                        "changed again once it shows what is stored."));
            FSession.Reconnection().Start();
            if (button == Qt::RightButton)
                PopupMenu->popup(VSTCardHolders->viewport()->mapToGlobal(position));
            return;
        }
        const TCardHolder* record = CardHolders->Record(cell.row());
        // A click while the last one is being saved would move on from a zone not yet known.
        if (record && !FWrite && controller < CardHolders->ZoneColumns().size()) {
            auto click = std::make_shared<TZoneClickWrite>();
            click->CardNumber = record->CardNumber;
            click->ConID = CardHolders->ZoneColumns()[controller].ConID;
            click->Author = FSession.Author();
            StartWrite(click);
        }
    }
    if (button == Qt::RightButton)
        PopupMenu->popup(VSTCardHolders->viewport()->mapToGlobal(position));
}

bool TfrmCardHolders::eventFilter(QObject* watched, QEvent* event) {
    if (watched == VSTCardHolders->viewport()) {
        if (event->type() == QEvent::MouseButtonRelease) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            VSTCardHoldersMouseUp(mouse->button(), mouse->position().toPoint());
        } else if (event->type() == QEvent::ContextMenu) {
            // A right click opens the menu when the button comes up, after the zone changed;
            // only the keyboard's menu key opens it here.
            const auto* menu = static_cast<QContextMenuEvent*>(event);
            if (menu->reason() != QContextMenuEvent::Mouse)
                PopupMenu->popup(menu->globalPos());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void ShowCardHolders(QWidget* owner, TDesktop& desktop, TProfileSession& session,
                     const TRunSettings& settings) {
    TfrmCardHolders window(desktop, session, settings, owner);
    window.exec();
}
