#pragma once

#include "profiles/VYRStandProfile.h"

#include <QDialog>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTreeWidget;
class TDesktop;

// Lists the profiles of the list it is handed; renames, deletes and (through the wizard) adds them.
// Every row stands for the list's object itself, so a rename reaches whoever shows the list.
class TfrmProfileManagement : public QDialog {
    Q_OBJECT
public:
    // `profileInUse`: the profile file of the profile the main window works with, which cannot be
    // deleted; empty when no profile is open yet.
    TfrmProfileManagement(TDesktop& desktop, TProfileList& profiles, QWidget* parent = nullptr,
                          const QString& profileInUse = QString());

    static constexpr int ProfileNameLength = 20;

    // The profile of the selected row when exactly one row is selected, else nullptr.
    TVYRStandProfile* SelectedProfile() const;

private:
    QWidget* pnlTop;
    QLabel* lblTitle;
    QLabel* lblSubTitle;
    QTreeWidget* VSTProfiles;
    QWidget* pnlProfile;
    QLabel* Label1;
    QLineEdit* txtProfileName;
    QPushButton* cmdSaveProfile;
    QPushButton* cmdMoveToServer;
    QPushButton* cmdClose;
    QMenu* PopupMenu;
    QAction* mnuDelete;
    QAction* mnuAdd;

    void VSTProfilesChange();
    void cmdSaveProfileClick();
    void PopupMenuPopup();
    void mnuDeleteClick();
    void mnuAddClick();
    void cmdMoveToServerClick();

    void BuildProfileList();
    void BuildProfilePanel();
    void BuildPopupMenu();
    void LayOut();
    void FormCreate();
    // Reloads the profiles from the profiles folder and refills the list.
    void Refresh();
    void FillList();
    TDesktop& FDesktop;
    TProfileList& FProfiles;
    QString FProfileInUse;
};

// Opens the dialog modally over `owner`.
void OpenProfileManagement(QWidget* owner, TDesktop& desktop, TProfileList& profiles,
                           const QString& profileInUse);
