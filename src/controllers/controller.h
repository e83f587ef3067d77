#pragma once

#include "controllers/controllerrecords.h"
#include "shared/publictypes.h"

#include <QDialog>

#include <memory>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class TMyDBConnector;
class TProfileSession;
class TSiteWrite;

// Adds a controller to the profile's database or changes one: name, security code, relay time
// and the two output options. A new controller can be given to every cardholder at once, in
// zone 1 or in the blue zone (2).
class TfrmController : public QDialog {
    Q_OBJECT
public:
    // The changes go to the session's site, journaled as made by its author, through its writer:
    // OK starts the save and the dialog stays, saying so, until the outcome came. Cancel closes
    // it meanwhile; the save goes on, and its marks reach the session's records all the same.
    explicit TfrmController(TProfileSession& session, QWidget* parent = nullptr);

    // Edit mode for one record of the controller list; without it the dialog adds a controller.
    void ConEdit(PStandController AController);

    bool ControllerEdit = false;
    PStandController Controller = nullptr;
    // What OK saved; the list marks Saved.ConID when its key is outdated.
    TControllerSaved Saved;
    // Whether a save is under way.
    bool Saving() const { return FWrite != nullptr; }

private:
    QWidget* pnlTop;
    QLabel* lblTitle;
    QLabel* lblSubTitle;
    QLabel* lblConName;
    QLineEdit* txtConName;
    QLabel* lblConCode;
    QLineEdit* txtConCode;
    QLabel* lblRelaisTime;
    QComboBox* cboRelaisTime;
    QCheckBox* chkEnableRelais;
    QCheckBox* chkLEDExtern;
    QCheckBox* chkInvert;
    QLabel* lblAccess;
    QComboBox* cboAccess;
    QLabel* lblSaving;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;

    void cmdOKClick();
    void cmdCancelClick();

    QFormLayout* BuildFields();
    QHBoxLayout* BuildButtonRow();
    void FormCreate();
    void Save();
    void WriteEnded(const std::shared_ptr<TSiteWrite>& write);
    void SaveEnded(const TControllerSaveWrite& write);
    QWidget* FAdmits; // the cards this controller admits without access, shown when editing
    TProfileSession& FSession;
    TMyDBConnector& FDatabase;
    // The save the session's writer runs; none when the dialog waits for none.
    std::shared_ptr<TSiteWrite> FWrite;
};
