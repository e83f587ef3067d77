#pragma once

#include "cardholders/cardholdermodel.h"
#include "cardholders/cardholderreload.h"
#include "db/changehint.h"
#include "shared/windowparts.h"

#include <QColor>
#include <QDialog>

#include <memory>
#include <optional>

class QAction;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QStatusBar;
class QTreeView;
class QTimer;
class TDesktop;
class TProfileSession;
class TSiteWrite;
struct TRunSettings;

// The cardholder list: the cardholders of the profile with their zone at every controller of the
// main window's list. A click in a zone cell moves the card to the next zone at once and marks the
// controller, whose memory key must then be written again.
class TfrmCardHolders : public QDialog {
    Q_OBJECT
public:
    TfrmCardHolders(TDesktop& desktop, TProfileSession& session, const TRunSettings& settings,
                    QWidget* parent = nullptr);
    ~TfrmCardHolders() override;

    void VSTCardHoldersHeaderClick(int column);

    // The row the operator works on: the one selected row, or -1.
    int SelectedRow() const;

    int SortColumn = 1;
    Qt::SortOrder SortDirection = Qt::AscendingOrder;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* pnlTop;
    QLabel* lblTitle;
    QLabel* lblSubTitle;
    QLabel* lblFilterCardHolder;
    QLineEdit* txtFilterCardHolder;
    QLabel* lblFilterCustom1;
    QLineEdit* txtFilterCustom1;
    QLabel* lblFilterCustom2;
    QLineEdit* txtFilterCustom2;
    QPushButton* cmdFilterApply;
    QPushButton* cmdFilterReset;
    QPushButton* cmdCardHoldersNew;
    QPushButton* cmdIdentify;
    QTreeView* VSTCardHolders;
    TCardHolderModel* CardHolders;
    QStatusBar* StatusBar;
    QLabel* StatusPanel; // the status bar's first panel
    QLabel* lblSaving;   // shown while a change of the list is being saved
    TReadFailureBand FReadFailureBand;
    QMenu* PopupMenu;
    QAction* mnuDelete;
    QAction* mnuProperties;

    void LoadCardHolders();
    // Another workstation changed the cardholders or their zones: the list reads them again on
    // the reload's thread (only the cards the change named, when it named them) and shows them
    // once the operator is free, keeping the filter as last applied, the selected card, the sort
    // and the scroll position. A change of the controllers brings the zone columns up to date.
    void SiteChanged(const QStringList& tables, const TChangedCards& cards);
    // What an unshown read covered is read again with the next.
    void RefreshAgain(const TCardHolderRead& read);
    void MakeReload();
    void StartRefresh();
    void ShowRefresh(TCardHolderRows& rows);
    bool FreeToRefresh() const;
    // A read of the list failed for `reason`: the rows stay as they are, the band says why, and
    // the whole list is read again with the next change heard of (the server's return among
    // them) or when the operator asks.
    void ReadFailed(const QString& reason);
    void ReadSucceeded();
    void cmdFilterApplyClick();
    void cmdFilterResetClick();
    void cmdCardHoldersNewClick();
    void cmdIdentifyClick();
    void mnuDeleteClick();
    void mnuPropertiesClick();
    void VSTCardHoldersMouseUp(Qt::MouseButton button, const QPoint& position);
    // A zone click whose outcome is unknown: zone clicks wait until the session connected again
    // and the list shows the card as stored.
    void SettleUnknownZone(const QString& cardNumber, const QString& error);
    // Hands a zone click or a deletion to the session's writer; WriteEnded follows. One at a
    // time: while it runs, zone clicks and "Delete" wait.
    void StartWrite(const std::shared_ptr<TSiteWrite>& write);
    void WriteEnded(const std::shared_ptr<TSiteWrite>& write);
    void ShowBusy();

    QHBoxLayout* BuildFilterRow();
    QHBoxLayout* BuildActionRow();
    QTreeView* BuildList();
    void BuildListHeader();
    void BuildPopupMenu();
    QStatusBar* BuildStatusBar();
    void FormCreate();
    void ShowSortMark();
    void ShowCount();

    TDesktop& FDesktop;
    TProfileSession& FSession;
    const TRunSettings& FSettings;
    // What the list shows: the filter as applied, not as typed since.
    TCardHolderFilter FAppliedFilter;
    std::unique_ptr<TCardHolderReload> FReload;
    QTimer* FRefreshRetry;
    bool FRefreshWanted = false;
    // What the next refresh reads: the cards of the changes heard since the last, or every card;
    // and the controllers as well.
    TChangedCards FRefreshCards = TChangedCards::None();
    bool FColumnsWanted = false;
    // The refresh being read.
    TCardHolderRead FRefreshRead;
    // Counts the list's own loads: a refresh read before the latest of them is out of date.
    int FLoads = 0;
    int FRefreshBase = 0;
    // The list was read at least once: a failure then leaves it out of date, not unread.
    bool FListRead = false;
    // The card of a zone click whose outcome is unknown, until a read shows it as stored; and
    // whether the read under way began after that click.
    QString FUnsettledCard;
    bool FUnsettledRead = false;
    // The change of this list the session's writer runs; none when it is not waiting for one.
    std::shared_ptr<TSiteWrite> FWrite;
};

// The fill of a zone cell: zone 0 light red, 1 green, 2 blue; any other value none (invalid).
QColor ZoneColour(int zone);

// Opens the cardholder list modally over `owner` (the main window's "Cardholders" button).
void ShowCardHolders(QWidget* owner, TDesktop& desktop, TProfileSession& session,
                     const TRunSettings& settings);
