// The main window's controller list: the view and its handlers. What they do to the records and
// the database is in controllers/controllerrecords.h.
#include "app/main.h"

#include "cardholders/cardholders.h"
#include "controllers/controller.h"
#include "controllers/controllerrecords.h"
#include "controllers/keyprovenance.h"
#include "controllers/programdevice.h"
#include "controllers/readkey.h"
#include "db/MyDBConnector.h"
#include "db/changewatch.h"
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
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeWidget>

namespace {

// The key's provenance comes after the button's column, so that a window of the usual width still
// shows the button whole.
enum Column {
    ColNumber,
    ColName,
    ColType,
    ColCards,
    ColMark,
    ColButton,
    ColKeyWritten,
    ColKeyBy,
    ColumnCount
};
constexpr int NameMinimumWidth = 130;
constexpr int MarkWidth = 25;
// Delphi's clSkyBlue, the list's selection colour while it has the focus.
const QColor SelectionWhileFocused(0xA6, 0xCA, 0xF0);
constexpr const char* ButtonTagProperty = "Tag";
constexpr int RowButtonMargin = 8;

// A row holds no data of its own: it asks the main window for its texts and image whenever it is
// drawn, by its position in the session's records, so counts and marks show as they are now.
class TControllerRow : public QTreeWidgetItem {
public:
    TControllerRow(QTreeWidget* view, const TfrmMain* owner, int index)
        : QTreeWidgetItem(view), FOwner(owner), FIndex(index) {}

    QVariant data(int column, int role) const override {
        if (role == Qt::DisplayRole)
            return FOwner->VSTControllersGetText(FIndex, column);
        // The mark is a picture: its words are what a screen reader reads and a hint shows.
        if ((role == Qt::AccessibleTextRole || role == Qt::ToolTipRole) && column == ColMark)
            return FOwner->VSTControllersGetMarkText(FIndex);
        if (role == Qt::DecorationRole) {
            const int image = FOwner->VSTControllersGetImageIndex(FIndex, column);
            if (image >= 0 && image < FOwner->ImageListExcla.size())
                return FOwner->ImageListExcla[image];
            return QVariant();
        }
        return QTreeWidgetItem::data(column, role);
    }

private:
    const TfrmMain* FOwner;
    int FIndex;
};

class TControllerListDelegate : public QStyledItemDelegate {
public:
    TControllerListDelegate(TfrmMain* owner, QTreeWidget* view)
        : QStyledItemDelegate(view), FOwner(owner), FView(view) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem cell(option);
        if (FView->hasFocus()) {
            cell.palette.setColor(QPalette::Active, QPalette::Highlight, SelectionWhileFocused);
            cell.palette.setColor(QPalette::Inactive, QPalette::Highlight, SelectionWhileFocused);
            cell.palette.setColor(QPalette::Active, QPalette::HighlightedText, Qt::black);
            cell.palette.setColor(QPalette::Inactive, QPalette::HighlightedText, Qt::black);
        }
        if (index.column() == ColMark)
            cell.decorationAlignment = Qt::AlignCenter;
        QStyledItemDelegate::paint(painter, cell, index);
        // Vertical grid line on the cell's right edge.
        painter->save();
        painter->setPen(option.palette.color(QPalette::Mid));
        painter->drawLine(option.rect.topRight(), option.rect.bottomRight());
        painter->restore();
        FOwner->VSTControllersAfterCellPaint(index, option.rect);
    }

    // Rows tall enough for the row button.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(qMax(size.height(), option.fontMetrics.height() + RowButtonMargin));
        return size;
    }

private:
    TfrmMain* FOwner;
    QTreeWidget* FView;
};

// The view's double click counts anywhere on the list, not only on a row's text.
class TDoubleClickFilter : public QObject {
public:
    TDoubleClickFilter(TfrmMain* owner, QObject* parent) : QObject(parent), FOwner(owner) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonDblClick &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            FOwner->VSTControllersDblClick();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    TfrmMain* FOwner;
};

} // namespace

void TfrmMain::BuildControllerList() {
    BuildListColumns();
    ImageListExcla = {style()->standardIcon(QStyle::SP_MessageBoxWarning)};
    BuildPopupMenu();
    VSTControllers->viewport()->installEventFilter(new TDoubleClickFilter(this, VSTControllers));
    FollowListScrolling();
    FRefreshRetry = new QTimer(this);
    FRefreshRetry->setSingleShot(true);
    FRefreshRetry->setInterval(250);
    connect(FRefreshRetry, &QTimer::timeout, this, [this] { RefreshControllers(); });
}

void TfrmMain::BuildListColumns() {
    VSTControllers->setColumnCount(ColumnCount);
    VSTControllers->setHeaderLabels({QString(), N_("Controller"), N_("Type"), N_("Number of cards"),
                                     QString(), QString(), N_("Key written"), N_("By")});
    VSTControllers->setRootIsDecorated(false);
    VSTControllers->setUniformRowHeights(true);
    VSTControllers->setSelectionMode(QAbstractItemView::SingleSelection);
    VSTControllers->setSelectionBehavior(QAbstractItemView::SelectRows);
    VSTControllers->setEditTriggers(QAbstractItemView::NoEditTriggers);
    VSTControllers->setSortingEnabled(false);
    VSTControllers->setItemDelegate(new TControllerListDelegate(this, VSTControllers));

    QHeaderView* header = VSTControllers->header();
    header->setSectionsMovable(true);
    header->setSectionsClickable(false);
    header->setStretchLastSection(false);
    // The style's minimum is wider than the mark's column.
    header->setMinimumSectionSize(MarkWidth);
    header->setSectionResizeMode(ColNumber, QHeaderView::Fixed);
    header->setSectionResizeMode(ColMark, QHeaderView::Fixed);
    VSTControllers->setColumnWidth(ColName, NameMinimumWidth);
    VSTControllers->setColumnWidth(ColType, 60);
    VSTControllers->setColumnWidth(ColMark, MarkWidth);
    VSTControllers->setColumnWidth(ColButton, 100);
    VSTControllers->setColumnWidth(ColKeyWritten, 140);
    VSTControllers->setColumnWidth(ColKeyBy, 160);
    connect(header, &QHeaderView::sectionResized, this, [header](int section, int, int size) {
        if (section == ColName && size < NameMinimumWidth)
            header->resizeSection(ColName, NameMinimumWidth);
    });
    NameUntitledColumns();
}

void TfrmMain::NameUntitledColumns() {
    // Too narrow for a caption, but a screen reader announces every cell with its column's name.
    QTreeWidgetItem* titles = VSTControllers->headerItem();
    titles->setData(ColNumber, Qt::AccessibleTextRole, _("Number"));
    titles->setData(ColMark, Qt::AccessibleTextRole, _("Key status"));
    titles->setData(ColMark, Qt::ToolTipRole, _("Key status"));
    // The button's caption is English in every language, as on the controller itself.
    titles->setData(ColButton, Qt::AccessibleTextRole, QStringLiteral("Load programmer"));
}

void TfrmMain::BuildPopupMenu() {
    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName("PopupMenu");
    mnuDelete = PopupMenu->addAction(N_("&Delete"));
    mnuDelete->setObjectName("mnuDelete");
    PopupMenu->addSeparator();
    mnuProperties = PopupMenu->addAction(N_("&Properties..."));
    mnuProperties->setObjectName("mnuProperties");
    PopupMenu->setDefaultAction(mnuProperties);
    // Any key, not the selected row's: the key itself tells which controller it is for.
    PopupMenu->addSeparator();
    QAction* mnuReadKey = PopupMenu->addAction(N_("&Read key..."));
    mnuReadKey->setObjectName("mnuReadKey");
    connect(mnuReadKey, &QAction::triggered, this, [this] {
        if (!FSession)
            return;
        TfrmReadKey window(*FSession, FSettings, nullptr, this);
        window.exec();
    });
    QAction* mnuHistory = PopupMenu->addAction(N_("&History..."));
    mnuHistory->setObjectName("mnuHistory");
    connect(mnuHistory, &QAction::triggered, this, [this] {
        if (const TStandController* controller = SelectedController(); controller && FSession)
            ShowControllerHistory(this, FSession->Database(), FDesktop, controller->ConID,
                                  controller->ConName);
    });
    connect(mnuDelete, &QAction::triggered, this, [this] { mnuDeleteClick(); });
    connect(mnuProperties, &QAction::triggered, this, [this] { mnuPropertiesClick(); });
    VSTControllers->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(VSTControllers, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        PopupMenu->popup(VSTControllers->viewport()->mapToGlobal(at));
    });
}

void TfrmMain::FollowListScrolling() {
    // The button does not scroll with the rows; the next drawing of its row puts it back.
    for (QScrollBar* bar :
         {VSTControllers->verticalScrollBar(), VSTControllers->horizontalScrollBar()})
        connect(bar, &QScrollBar::valueChanged, this, [this] {
            for (QPushButton* button : std::as_const(FRowButtons))
                button->hide();
        });
    // Hide the previous row's button at once, even when that row is not drawn again.
    connect(VSTControllers, &QTreeWidget::itemSelectionChanged, this, [this] {
        if (FRowButtons.isEmpty())
            return; // also while the window is being taken down
        for (auto row = FRowButtons.cbegin(); row != FRowButtons.cend(); ++row)
            if (row.value()->isVisible() && SelectedController() != RowController(row.key()))
                row.value()->hide();
        VSTControllers->viewport()->update();
    });
}

bool TfrmMain::LoadControllers(const QSet<int32_t>& alsoMarked) {
    if (!FSession)
        return false;
    // The rows stay until ShowControllers: where nothing could be read they go on showing the
    // records of the last read, which the session keeps.
    const bool read = FSession->LoadControllers(alsoMarked);
    if (read)
        ReadKeyWrites();
    NoteRead(read);
    RefreshTitles();
    return read;
}

void TfrmMain::NoteRead(bool read) {
    if (read) {
        FControllersRead = true;
        FReadFailure.reset();
    } else {
        FReadFailure = FSession->Database().GetLastError();
        // Any change heard of from now on reads again, the server's return among them.
        FControllersStale = true;
    }
    ShowReadState();
}

void TfrmMain::ShowReadState() {
    if (!FReadFailure) {
        ShowReadFailure(FReadFailureBand, QString());
        return;
    }
    ShowReadFailure(FReadFailureBand,
                    FormatText(FControllersRead
                                   ? _("This list is out of date. The controllers could not be "
                                       "read again from the database: %s")
                                   : _("The controllers could not be read from the database: %s"),
                               {*FReadFailure}));
}

void TfrmMain::ReadKeyWrites() {
    FKeyWrites =
        FSession && FSession->IsConnected() ? LastKeyWrites(FSession->Database()) : std::nullopt;
}

void TfrmMain::SiteChanged(const QStringList& tables) {
    // The list shows the controllers, their card counts, their marks and their keys' last
    // verified writes (a write that found no mark to clear changes the journal only).
    if (!TChangeWatch::Touches(tables,
                               {QStringLiteral("controllers"), QStringLiteral("cardzones"),
                                QStringLiteral("cardholders"), QStringLiteral("pendingchanges"),
                                QStringLiteral("journal")}))
        return;
    FControllersStale = true;
    RefreshControllers();
}

void TfrmMain::RefreshControllers() {
    if (!FControllersStale || !FSession)
        return;
    // A dialog over the window holds one of the records the reload would replace (the controller
    // being edited or programmed, the cardholder list's zone columns); a menu acts on the selected
    // row. The list catches up once they are gone.
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget()) {
        FRefreshRetry->start();
        return;
    }
    FControllersStale = false;
    const auto conIdOf = [this](QTreeWidgetItem* item) {
        const TStandController* controller =
            item ? RowController(VSTControllers->indexOfTopLevelItem(item)) : nullptr;
        return controller ? controller->ConID : -1;
    };
    const TStandController* selected = SelectedController();
    const int32_t selectedId = selected ? selected->ConID : -1;
    const int32_t topId = conIdOf(VSTControllers->itemAt(1, 1));
    const int topRow = qMax(0, VSTControllers->indexOfTopLevelItem(VSTControllers->itemAt(1, 1)));
    const int across = VSTControllers->horizontalScrollBar()->value();
    const bool buttonFocused = FRowButtons.values().contains(focusWidget());

    ReloadControllers();

    QTreeWidgetItem* top = nullptr;
    for (int row = 0; row < VSTControllers->topLevelItemCount(); ++row) {
        QTreeWidgetItem* item = VSTControllers->topLevelItem(row);
        const int32_t id = conIdOf(item);
        if (id == selectedId && selectedId >= 0)
            VSTControllers->setCurrentItem(item);
        if (id == topId && topId >= 0)
            top = item;
    }
    if (!top && VSTControllers->topLevelItemCount() > 0)
        top = VSTControllers->topLevelItem(qMin(topRow, VSTControllers->topLevelItemCount() - 1));
    if (top)
        VSTControllers->scrollToItem(top, QAbstractItemView::PositionAtTop);
    VSTControllers->horizontalScrollBar()->setValue(across);
    // The focused row button went with its row; the focus stays in the list rather than moving
    // on to whatever comes next in the window.
    if (buttonFocused)
        VSTControllers->setFocus(Qt::OtherFocusReason);
}

void TfrmMain::ShowControllers() {
    // The rows go first: they find their records by position, and none may outlive them.
    VSTControllers->clear();
    FreeRowButtons();
    // A smaller type, so that the caption fits the 100-pixel column.
    QFont captionFont = VSTControllers->font();
    captionFont.setPointSizeF(captionFont.pointSizeF() * 0.85);
    if (!FSession)
        return;
    const TControllerRecords& controllers = FSession->Controllers();
    for (size_t i = 0; i < controllers.size(); ++i) {
        TStandController& controller = *controllers[i];
        controller.ListNum = int32_t(i + 1);
        new TControllerRow(VSTControllers, this, int(i));
        // A fixed English caption, as on the controller itself. The button lies over the row's
        // cell but belongs to the view's parent, not to the view: an item view shows assistive
        // technology only its cells, so a button on the viewport would be invisible to a screen
        // reader, and it would sit outside the keyboard's way through the window.
        auto* button =
            new QPushButton(QStringLiteral("Load programmer"), VSTControllers->parentWidget());
        button->setAccessibleName(button->text());
        button->setFocusPolicy(Qt::StrongFocus);
        button->setProperty("vyrNoTranslate", true);
        button->setFont(captionFont);
        button->setProperty(ButtonTagProperty, controller.ListNum);
        button->hide();
        connect(button, &QPushButton::clicked, this,
                [this, button] { ProgrammerButtonClick(button); });
        FRowButtons.insert(int(i), button);
    }
}

void TfrmMain::CountCards() {
    if (!FSession)
        return;
    // The counts of the last read stay, out of date.
    if (!FSession->CountCards())
        NoteRead(false);
    VSTControllers->viewport()->update();
}

void TfrmMain::FreeControllers() {
    // The rows go first: they find their records by position, and none may outlive them.
    VSTControllers->clear();
    FreeRowButtons();
    if (FSession)
        FSession->FreeControllers();
}

void TfrmMain::FreeRowButtons() {
    qDeleteAll(FRowButtons);
    FRowButtons.clear();
}

std::optional<int> TfrmMain::ChangedControllerCount() const {
    return FSession ? FSession->ChangedControllerCount() : 0;
}

TStandController* TfrmMain::RowController(int row) const {
    return FSession ? FSession->Controller(row) : nullptr;
}

QPushButton* TfrmMain::RowButton(int row) const {
    return FRowButtons.value(row);
}

TStandController* TfrmMain::SelectedController() const {
    const QList<QTreeWidgetItem*> selected = VSTControllers->selectedItems();
    if (selected.size() != 1)
        return nullptr;
    return RowController(VSTControllers->indexOfTopLevelItem(selected.first()));
}

QString TfrmMain::VSTControllersGetText(int row, int column) const {
    const TStandController* controller = RowController(row);
    if (!controller)
        return QString();
    switch (column) {
    case ColNumber:
        return QString::number(controller->ListNum);
    case ColName:
        return controller->ConName;
    case ColType:
        return controller->ConType;
    case ColCards:
        return QString::number(controller->CardCount);
    case ColKeyWritten:
        return DescribeKeyProvenance(FKeyWrites, controller->ConID, controller->ChangesMade)
            .Written;
    case ColKeyBy:
        return DescribeKeyProvenance(FKeyWrites, controller->ConID, controller->ChangesMade).By;
    default:
        return QString();
    }
}

QString TfrmMain::VSTControllersGetMarkText(int row) const {
    const TStandController* controller = RowController(row);
    return controller
               ? DescribeKeyProvenance(FKeyWrites, controller->ConID, controller->ChangesMade).Key
               : QString();
}

int TfrmMain::VSTControllersGetImageIndex(int row, int column) const {
    const TStandController* controller = RowController(row);
    return controller && column == ColMark && controller->ChangesMade ? 0 : -1;
}

void TfrmMain::VSTControllersAfterCellPaint(const QModelIndex& cell, const QRect& cellRect) {
    QPushButton* button = RowButton(cell.row());
    if (!RowController(cell.row()) || !button)
        return;
    if (!VSTControllers->selectionModel()->isRowSelected(cell.row(), cell.parent())) {
        if (button->isVisible())
            button->hide();
        return;
    }
    if (cell.column() == ColButton) {
        const QRect row = VSTControllers->visualRect(cell.siblingAtColumn(ColNumber));
        const QRect place(cellRect.left(), row.top(), cellRect.width(), row.height());
        // Not clipped by the viewport as its children are: a row scrolled half out of sight
        // shows no button rather than one lying over the header.
        if (!VSTControllers->viewport()->rect().contains(place)) {
            button->hide();
            return;
        }
        const QRect onParent(
            VSTControllers->viewport()->mapTo(button->parentWidget(), place.topLeft()),
            place.size());
        if (button->geometry() != onParent)
            button->setGeometry(onParent);
    }
    if (!button->isVisible()) {
        button->show();
        button->raise();
        // Tab from the list reaches the selected row's button next.
        QWidget::setTabOrder(VSTControllers, button);
    }
}

void TfrmMain::ProgrammerButtonClick(QPushButton* Sender) {
    const int listNum = Sender->property(ButtonTagProperty).toInt();
    for (int row = 0; row < VSTControllers->topLevelItemCount(); ++row) {
        TStandController* controller = RowController(row);
        if (!controller || controller->ListNum != listNum)
            continue;
        TfrmProgramDevice dialog(*FSession, FSettings, this);
        dialog.Controller = controller;
        dialog.exec();
        // No reload: the dialog cleared the mark itself, and the row shows it when drawn. The
        // write's journal entry came through this program's own connection, which the change
        // watch does not report: the rows read it here.
        ReadKeyWrites();
        VSTControllers->viewport()->update();
        ReloadWhenConnected();
        return;
    }
}

void TfrmMain::VSTControllersDblClick() {
    mnuPropertiesClick();
}

void TfrmMain::mnuDeleteClick() {
    const TStandController* controller = SelectedController();
    if (!controller || !FDeleting.expired())
        return;
    if (!MessageBoxes::Confirm(
            this, FormatText(_("Are you sure you want to delete this controller (%s)?"),
                             {controller->ConName})))
        return;
    auto deletion = std::make_shared<TControllerDeleteWrite>();
    deletion->ConID = controller->ConID;
    deletion->Author = FSession->Author();
    TSiteWriter& writer = FSession->Writes();
    connect(&writer, &TSiteWriter::Written, this, &TfrmMain::ControllerDeleteEnded,
            Qt::UniqueConnection);
    FDeleting = deletion;
    ShowDeleting(true);
    writer.Start(deletion);
}

void TfrmMain::ShowDeleting(bool deleting) {
    mnuDelete->setEnabled(!deleting);
    auto* saving = StatusBar->findChild<QLabel*>("lblSaving");
    if (!saving && deleting) {
        saving = NewLabel("lblSaving", N_("Saving..."), StatusBar);
        TranslateWindow(saving);
        StatusBar->addPermanentWidget(saving);
    }
    if (saving)
        saving->setVisible(deleting);
}

void TfrmMain::ControllerDeleteEnded(const std::shared_ptr<TSiteWrite>& write) {
    if (!write || write != FDeleting.lock())
        return;
    FDeleting.reset();
    ShowDeleting(false);
    const auto* deletion = dynamic_cast<const TControllerDeleteWrite*>(write.get());
    if (!deletion)
        return;
    if (deletion->Deleted == TControllerDelete::Failed && deletion->OutcomeUnknown) {
        MessageBoxes::ShowWarning(
            this, FormatText(_("Whether the controller was deleted is not known: %s The list "
                               "shows what the database holds once the program has connected "
                               "again."),
                             {deletion->Error}));
        ReloadWhenConnected(true);
        return;
    }
    if (deletion->Deleted == TControllerDelete::AlreadyGone)
        MessageBoxes::ShowInformation(
            this, _("This controller was already deleted on another workstation."));
    else if (deletion->Deleted == TControllerDelete::Failed)
        MessageBoxes::ShowError(
            this, FormatText(_("The controller could not be deleted: %s"), {deletion->Error}));
    // A failed delete changes nothing, and the reload shows what the database holds.
    ReloadControllers();
}

void TfrmMain::mnuPropertiesClick() {
    TStandController* controller = SelectedController();
    if (!controller)
        return;
    TfrmController dialog(*FSession, this);
    dialog.ConEdit(controller);
    // A controller deleted elsewhere leaves the list as well.
    if (dialog.exec() == QDialog::Accepted || dialog.Saved.Conflict == TControllerSaved::Gone)
        ReloadAfterSaving(dialog.Saved);
    ReloadWhenConnected(dialog.Saved.OutcomeUnknown);
}

void TfrmMain::cmdAddControllerClick() {
    if (!FSession)
        return;
    TfrmController dialog(*FSession, this);
    if (dialog.exec() == QDialog::Accepted)
        ReloadAfterSaving(dialog.Saved);
    ReloadWhenConnected(dialog.Saved.OutcomeUnknown);
}

void TfrmMain::ReloadWhenConnected(bool outcomeUnknown) {
    // A save that met a lost connection may have been stored or not: the list shows what is
    // stored once the session has connected again (which may have happened already).
    if (!FSession)
        return;
    if (!FSession->Database().ConnectionLost()) {
        if (outcomeUnknown)
            ReloadControllers();
        return;
    }
    TReconnect& reconnect = FSession->Reconnection();
    connect(
        &reconnect, &TReconnect::Finished, this,
        [this](bool connected) {
            if (connected)
                ReloadControllers();
        },
        Qt::SingleShotConnection);
    reconnect.Start();
}

void TfrmMain::ReloadAfterSaving(const TControllerSaved& saved) {
    QSet<int32_t> alsoMarked;
    if (saved.KeyOutdated)
        alsoMarked.insert(saved.ConID);
    ReloadControllers(alsoMarked);
}

void TfrmMain::cmdCardholdersClick() {
    if (!FSession)
        return;
    ShowCardHolders(this, FDesktop, *FSession, FSettings);
    // No reload: the marks the cardholder list set must stay.
    CountCards();
}

bool TfrmMain::FormCloseQuery() {
    const std::optional<int> changed = ChangedControllerCount();
    // Not knowing is no "none": the operator decides, knowing that.
    if (!changed)
        return MessageBoxes::Confirm(
            this, FormatText(_("Whether memory keys still have to be written cannot be told: the "
                               "database could not be read (%s). Are you sure you want to close "
                               "the application?"),
                             {FSession->Database().GetLastError()}));
    if (*changed == 0)
        return true;
    return MessageBoxes::Confirm(
        this, FormatText(TranslatePlural("There is a controller (%d) that needs to be updated, are "
                                         "you sure you want to close the application?",
                                         "There are controllers (%d) that need to be updated, are "
                                         "you sure you want to close the application?",
                                         *changed),
                         {QString::number(*changed)}));
}
