#pragma once

#include "controllers/controllerrecords.h"
#include "shared/publictypes.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class TMyDBConnector;
struct TJournalAuthor;

// Adds a controller to the profile's database or changes one: name, security code, relay time
// and the two output options. A new controller can be given to every cardholder at once, in
// zone 1 or in the blue zone (2).
class TfrmController : public QDialog {
    Q_OBJECT
public:
    // The changes are journaled as made by `author`.
    TfrmController(TMyDBConnector& database, const TJournalAuthor& author,
                   QWidget* parent = nullptr);

    // Edit mode for one record of the controller list; without it the dialog adds a controller.
    void ConEdit(PStandController AController);

    bool ControllerEdit = false;
    PStandController Controller = nullptr;
    // What OK saved; the list marks Saved.ConID when its key is outdated.
    TControllerSaved Saved;

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
    QPushButton* cmdOK;
    QPushButton* cmdCancel;

    void cmdOKClick();
    void cmdCancelClick();

    QFormLayout* BuildFields();
    QHBoxLayout* BuildButtonRow();
    void FormCreate();
    void Save();
    QWidget* FAdmits; // the cards this controller admits without access, shown when editing
    TMyDBConnector& FDatabase;
    const TJournalAuthor& FAuthor;
};
