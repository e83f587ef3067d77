#pragma once

#include <QDialog>

class QComboBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class TDesktop;

// The profile selection at start-up. Every profile picked is connected at once, so the main window
// finds DBConnection on the profile chosen last. Whatever order the operator's events arrive in
// (a burst of wheel or key events runs while a connection is being made), the profile connected
// is the profile shown, and OK accepts only a profile whose database is connected.
class TfrmLogin : public QDialog {
    Q_OBJECT
public:
    explicit TfrmLogin(TDesktop& desktop, QWidget* parent = nullptr);

private:
    QLabel* Image1;
    QLabel* lblProfile;
    QComboBox* cboProfile;
    QPushButton* cmdManageProfiles;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;

    void FillProfiles();
    void cboProfileChange();
    void cmdOKClick();
    void cmdManageProfilesClick();

    QHBoxLayout* BuildProfilePicker();
    QHBoxLayout* BuildButtonRow();
    void FormCreate();
    void ConnectShownProfile();
    void Accept();
    TDesktop& FDesktop;
    QString LastProfile;
    bool FConnecting = false;
    bool FOkPending = false;
    QString FConnectedFile; // profile file whose database DBConnection was last connected to
    QString FConnectProblem;
};
