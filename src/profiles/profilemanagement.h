#pragma once

#include <QDialog>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTreeWidget;
class TDesktop;
class TVYRStandProfile;

// Lists the profiles of ProfileList; renames, deletes and (through the wizard) adds them. Every
// row stands for the ProfileList object itself, so a rename reaches the rest of the program.
class TfrmProfileManagement : public QDialog {
    Q_OBJECT
public:
    // `profileInUse`: the profile file of the profile the main window works with, which cannot be
    // deleted; empty when no profile is open yet.
    explicit TfrmProfileManagement(TDesktop& desktop, QWidget* parent = nullptr,
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
    QPushButton* cmdClose;
    QMenu* PopupMenu;
    QAction* mnuDelete;
    QAction* mnuAdd;

    void VSTProfilesChange();
    void cmdSaveProfileClick();
    void PopupMenuPopup();
    void mnuDeleteClick();
    void mnuAddClick();

    void BuildProfileList();
    void BuildProfilePanel();
    void BuildPopupMenu();
    void LayOut();
    void FormCreate();
    // Reloads ProfileList from the profiles folder and refills the list.
    void Refresh();
    void FillList();
    TDesktop& FDesktop;
    QString FProfileInUse;
};

// Opens the dialog modally over `owner`.
void OpenProfileManagement(QWidget* owner, TDesktop& desktop, const QString& profileInUse);
