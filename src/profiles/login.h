#pragma once

#include <QDialog>

#include <functional>

class QComboBox;
class QHBoxLayout;
class QLabel;
class QPushButton;

// The profile selection at start-up. Every profile picked is connected at once, so the main window
// finds DBConnection on the profile chosen last. Whatever order the operator's events arrive in
// (a burst of wheel or key events runs while a connection is being made), the profile connected
// is the profile shown, and OK accepts only a profile whose database is connected.
class TfrmLogin : public QDialog {
    Q_OBJECT
public:
    explicit TfrmLogin(QWidget* parent = nullptr);

    QLabel* Image1;
    QLabel* lblProfile;
    QComboBox* cboProfile;
    QPushButton* cmdManageProfiles;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;

    // Opens profile management; replaceable for tests.
    static std::function<void(QWidget* owner)> OpenProfileManagement;
    // Clears a database's read-only mark; false when it stays read-only. Replaceable for tests,
    // since root may change any file's mode.
    static std::function<bool(const QString& path)> MakeWritable;

    void FillProfiles();
    void cboProfileChange();
    void cmdOKClick();
    void cmdManageProfilesClick();

private:
    QHBoxLayout* BuildProfilePicker();
    QHBoxLayout* BuildButtonRow();
    void FormCreate();
    void ConnectShownProfile();
    void Accept();
    QString LastProfile;
    bool FConnecting = false;
    bool FOkPending = false;
    QString FConnectedFile; // profile file whose database DBConnection was last connected to
    QString FConnectProblem;
};

// Makes a read-only database writable again. False when it stays read-only.
bool MakeDatabaseWritable(const QString& path);
