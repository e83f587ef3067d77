#pragma once

#include "profiles/VYRStandProfile.h"

#include <QDialog>

#include <memory>

class QComboBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class TDesktop;
class TProfileSession;

// The profile selection at start-up: the session of the profile chosen is born here. Every profile
// picked has its database opened at once, so that OK can tell what is wrong with it right away.
// Whatever runs while a database is being opened, the session kept is the one of the profile
// shown, and OK accepts only a profile whose database is connected.
class TfrmLogin : public QDialog {
    Q_OBJECT
public:
    // `profiles` is the list shown; managing the profiles from here loads it again.
    TfrmLogin(TDesktop& desktop, TProfileList& profiles, QWidget* parent = nullptr);
    ~TfrmLogin() override;

    // The session of the profile shown (accepted, once OK went through); none while its database
    // cannot be opened.
    TProfileSession* Session() const { return FSession.get(); }
    // Hands the session over to the window that works with the profile.
    std::unique_ptr<TProfileSession> TakeSession();

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
    const TVYRStandProfile* ShownProfile() const;
    TDesktop& FDesktop;
    TProfileList& FProfiles;
    QString LastProfile;
    std::unique_ptr<TProfileSession> FSession;
    QString FConnectProblem; // why the shown profile's database cannot be opened
};
