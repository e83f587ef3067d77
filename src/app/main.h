#pragma once

#include "journal/journal.h"
#include "profiles/VYRStandProfile.h"
#include "shared/windowparts.h"

#include <QHash>
#include <QIcon>
#include <QList>
#include <QMainWindow>
#include <QSet>

#include <memory>
#include <optional>

class QAction;
class QLabel;
class QMenu;
class QModelIndex;
class QPushButton;
class QRect;
class QStatusBar;
class QTimer;
class QTreeWidget;
class QWidget;
class TDesktop;
class TMyLogger;
class TProfileSession;
struct TRunSettings;
class TStandController;
struct TControllerSaved;

// The one window that lives for the whole run: the controller list of the chosen profile.
class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    // `settings`: the run's reader settings, which the adapter dialog changes.
    TfrmMain(TDesktop& desktop, TRunSettings& settings, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // Runs the start-up sequence; false when the program must end before the window comes up.
    bool FormCreate();
    QString getDataDir() const;

    // The open profile's session; none before start-up opened one.
    TProfileSession* Session() const { return FSession.get(); }
    // Works with another profile from now on: the list shows the new session's controllers.
    void OpenSession(std::unique_ptr<TProfileSession> session);

    // Controller list (kept in controllerlist.cpp). A load reads the records with their card
    // counts and marks, and adds the marks of `alsoMarked`. When the site cannot be read, the
    // list keeps the rows it shows and says that it is out of date, and why (or, when it never
    // was read, that it could not be read); the next change heard of, the server's return among
    // them, or the band's button reads again.
    bool LoadControllers(const QSet<int32_t>& alsoMarked = {});
    void ShowControllers();
    void CountCards();
    void FreeControllers();
    // The number of controllers whose keys must still be written; nothing when the database
    // cannot tell.
    std::optional<int> ChangedControllerCount() const;
    // LoadControllers, then ShowControllers when it read.
    void ReloadControllers(const QSet<int32_t>& alsoMarked = {});
    // Shows what another workstation changed once the operator is free: not while a dialog of
    // the list is open (it works on one of the records), and with the selected controller, the
    // scroll position and the focus as they were.
    void RefreshControllers();
    void ProgrammerButtonClick(QPushButton* Sender);
    QString VSTControllersGetText(int row, int column) const;
    // The row's pending-change mark in words, for screen readers and the mark's hint.
    QString VSTControllersGetMarkText(int row) const;
    int VSTControllersGetImageIndex(int row, int column) const; // -1: no image
    void VSTControllersAfterCellPaint(const QModelIndex& cell, const QRect& cellRect);
    void VSTControllersDblClick();
    void mnuDeleteClick();
    void ControllerDeleteEnded(const std::shared_ptr<class TSiteWrite>& write);
    void ShowDeleting(bool deleting);
    void mnuPropertiesClick();
    // The record behind a view row (its position in the session's records), or nullptr.
    TStandController* RowController(int row) const;
    // The "Load programmer" button of a view row, or nullptr.
    QPushButton* RowButton(int row) const;
    // The record of the selected row when exactly one row is selected, or nullptr.
    TStandController* SelectedController() const;
    QList<QIcon> ImageListExcla;

    void ApplyLanguage(bool FirstTime);
    void mnuLanguageEnglishClick();
    void mnuLanguageDutchClick();
    void mnuFileProfilesClick();
    void mnuFileAdapterClick();
    void mnuFileOptionsClick();
    void mnuFileExitClick();
    void mnuHelpAboutClick();
    void cmdAddControllerClick();
    void cmdCardholdersClick();
    bool FormCloseQuery();

    // The adapter test of start-up: true when a reader could set up its session.
    bool TestAdapter(QWidget* owner) const;

    std::unique_ptr<TMyLogger> AppLog;

protected:
    void closeEvent(class QCloseEvent* event) override;

private:
    QWidget* pnlTop;
    QLabel* lblTitle;
    QLabel* lblSubTitle;
    QPushButton* cmdAddController;
    QPushButton* cmdCardholders;
    QTreeWidget* VSTControllers;
    QStatusBar* StatusBar;
    QMenu* mnuFile;
    QAction* mnuFileProfiles;
    QAction* mnuFileAdapter;
    QAction* mnuFileOptions;
    QAction* mnuFileHistory;
    QAction* N1;
    QAction* mnuFileExit;
    QMenu* mnuLanguage;
    QAction* mnuLanguageEnglish;
    QAction* mnuLanguageDutch;
    QMenu* mnuHelp;
    QAction* mnuHelpAbout;
    QMenu* PopupMenu;
    QAction* mnuDelete;
    QAction* mnuProperties;

    QWidget* BuildTitleBand(QWidget* central);
    void BuildStatusBar();
    void BuildMenuBar();
    void ConnectMenus();
    void BuildControllerList();
    void BuildListColumns();
    void BuildPopupMenu();
    void NameUntitledColumns();
    void FollowListScrolling();
    void ReloadAfterSaving(const TControllerSaved& saved);
    // Once the session has connected again after a lost connection, reads the controllers anew;
    // after a save of unknown outcome, at once when it is connected already.
    void ReloadWhenConnected(bool outcomeUnknown = false);
    void RefreshTitles();
    void FormDestroy();
    void FreeRowButtons();
    void SiteChanged(const QStringList& tables);
    void ReadKeyWrites();
    // Takes the outcome of a read of the list: a failure keeps the database's reason.
    void NoteRead(bool read);
    void ShowReadState();
    TDesktop& FDesktop;
    TRunSettings& FSettings;
    TProfileList FProfiles; // as profile management shows them
    std::unique_ptr<TProfileSession> FSession;
    // The "Load programmer" button of each row, by row; they lie over the list's cells.
    QHash<int, QPushButton*> FRowButtons;
    // Another workstation changed the site and the list does not show it yet.
    bool FControllersStale = false;
    // The deletion of a controller the session's writer runs (one at a time).
    std::weak_ptr<class TSiteWrite> FDeleting;
    // Each controller's last verified key write as of the last reload; nothing when the journal
    // could not be read.
    std::optional<QHash<int32_t, TJournalEntry>> FKeyWrites;
    // Tries the refresh again while a dialog is in the way.
    QTimer* FRefreshRetry = nullptr;
    // Says that the last read of the list failed, and reads again.
    TReadFailureBand FReadFailureBand;
    // The session's list was read at least once; a failure then leaves it out of date, not
    // unread.
    bool FControllersRead = false;
    // Why the last read failed; nothing when it worked.
    std::optional<QString> FReadFailure;
};
