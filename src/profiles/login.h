#pragma once

#include "profiles/VYRStandProfile.h"
#include "profiles/filesystemkind.h"

#include <QDialog>

#include <memory>

class QComboBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class TDesktop;
class TProfileOpeningJob;
class TProfileSession;

// The profile selection at start-up: the session of the profile chosen is born here. Every profile
// picked has its database opened at once, so that OK can tell what is wrong with it right away.
// The connecting runs on a thread of its own (a server may take seconds to answer), so the window
// answers meanwhile: whatever is picked while a database is being opened, the session kept is the
// one of the profile shown, and OK accepts only a profile whose database is connected. OK pressed
// while the shown profile is still being opened takes effect when that opening ends.
class TfrmLogin : public QDialog {
    Q_OBJECT
public:
    // `profiles` is the list shown; managing the profiles from here loads it again.
    // `fileSystemType` tells where a site file lies (statfs when empty).
    TfrmLogin(TDesktop& desktop, TProfileList& profiles, QWidget* parent = nullptr,
              TFileSystemTypeProbe fileSystemType = {});
    ~TfrmLogin() override;

    // The session of the profile shown (accepted, once OK went through); none while its database
    // cannot be opened.
    TProfileSession* Session() const { return FSession.get(); }
    // Hands the session over to the window that works with the profile.
    std::unique_ptr<TProfileSession> TakeSession();
    // Closing the dialog drops an OK that still waits for its opening.
    void done(int result) override;
    // Whether the shown profile's database is still being opened.
    bool Opening() const { return FOpening != nullptr; }

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
    void OpeningFinished(TProfileOpeningJob* job);
    void Confirm();
    const TVYRStandProfile* ShownProfile() const;
    TDesktop& FDesktop;
    TProfileList& FProfiles;
    QString LastProfile;
    std::unique_ptr<TProfileSession> FSession;
    QString FConnectProblem; // why the shown profile's database cannot be opened
    QString FWarning;        // what to tell about the session before it is used
    TFileSystemTypeProbe FFileSystemType;
    // The opening of the shown profile while it runs; openings of profiles no longer shown end
    // on their own and are dropped.
    TProfileOpeningJob* FOpening = nullptr;
    // OK was pressed while the shown profile was being opened.
    bool FConfirmWhenOpened = false;
};
