#include "controllers/controller.h"

#include "controllers/admitslist.h"
#include "controllers/controlleroptions.h"
#include "controllers/controllerrecords.h"
#include "db/MyDBConnector.h"
#include "db/sitewriter.h"
#include "profiles/profilesession.h"
#include "shared/messagebox.h"
#include "shared/translation.h"
#include "shared/windowparts.h"
#include "shared/windowtranslation.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

TfrmController::TfrmController(TProfileSession& session, QWidget* parent)
    : QDialog(parent), FSession(session), FDatabase(session.Database()) {
    setObjectName("frmController");
    setWindowTitle(N_("Standalone controller"));
    ShowOnlyCloseButton(this);

    const TTitleBand band =
        NewTitleBand(this, N_("Controller properties"), N_("Add or edit controller"));
    pnlTop = band.Panel;
    lblTitle = band.Title;
    lblSubTitle = band.SubTitle;
    QFormLayout* fields = BuildFields();
    QHBoxLayout* buttons = BuildButtonRow();
    auto* body = new QVBoxLayout;
    body->addLayout(fields);
    FAdmits = NewControllerAdmitsPart(this);
    body->addWidget(FAdmits, 1);
    body->addStretch();
    body->addLayout(buttons);
    BandOverBody(this, pnlTop, body, {12, 8, 12, 0}, 8);

    FormCreate();
}

QFormLayout* TfrmController::BuildFields() {
    lblConName = NewLabel("lblConName", N_("Name:"), this);
    txtConName = NewEdit("txtConName", this);
    lblConCode = NewLabel("lblConCode", N_("Security code:"), this);
    txtConCode = Named(new QLineEdit("000000", this), "txtConCode");
    lblRelaisTime = NewLabel("lblRelaisTime", N_("Relais time:"), this);
    cboRelaisTime = Named(new QComboBox(this), "cboRelaisTime");
    cboRelaisTime->setProperty("vyrNoTranslate", true);
    chkEnableRelais = Named(new QCheckBox(N_("Enable relais time"), this), "chkEnableRelais");
    chkEnableRelais->setChecked(true);
    chkLEDExtern = Named(new QCheckBox(N_("External LED"), this), "chkLEDExtern");
    chkInvert = Named(new QCheckBox(N_("Invert"), this), "chkInvert");
    lblAccess = NewLabel("lblAccess", N_("Grant access:"), this);
    cboAccess = Named(new QComboBox(this), "cboAccess");

    auto* relais = new QHBoxLayout;
    relais->addWidget(cboRelaisTime);
    relais->addWidget(chkEnableRelais);
    relais->addStretch();
    auto* fields = new QFormLayout;
    fields->addRow(lblConName, txtConName);
    fields->addRow(lblConCode, txtConCode);
    fields->addRow(lblRelaisTime, relais);
    fields->addRow(QString(), chkLEDExtern);
    fields->addRow(QString(), chkInvert);
    fields->addRow(lblAccess, cboAccess);
    return fields;
}

QHBoxLayout* TfrmController::BuildButtonRow() {
    lblSaving = NewLabel("lblSaving", N_("Saving..."), this);
    lblSaving->hide();
    cmdOK = NewButton("cmdOK", N_("OK"), this);
    cmdOK->setDefault(true);
    cmdCancel = NewButton("cmdCancel", N_("Cancel"), this);
    connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOKClick(); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancelClick(); });
    return RightAlignedRow({lblSaving, cmdOK, cmdCancel});
}

void TfrmController::FormCreate() {
    ControllerEdit = false;
    // The relay times are numbers in the operator's own notation, never translated.
    cboRelaisTime->addItems(RelaisTimeItems(QLocale().decimalPoint()));
    cboRelaisTime->setCurrentIndex(TControllerOptions::DefaultRelaisTimeIndex);
    cboAccess->addItems(
        {N_("no changes"), N_("Grant access to all"), N_("Grant access to all (blue zone)")});
    cboAccess->setCurrentIndex(0);
    TranslateWindow(this);
}

void TfrmController::ConEdit(PStandController AController) {
    ControllerEdit = true;
    lblAccess->hide();
    cboAccess->hide();
    Controller = AController;
    if (!Controller)
        return;
    txtConName->setText(Controller->ConName);
    txtConCode->setText(Controller->ConCode);
    const TControllerOptions options =
        TControllerOptions::FromBytes(Controller->ConByte1, Controller->ConByte2);
    chkEnableRelais->setChecked(options.EnableRelais);
    chkLEDExtern->setChecked(options.LEDExtern);
    chkInvert->setChecked(options.Invert);
    // A stored 0 (or anything the list lacks) selects nothing, and saving keeps it.
    cboRelaisTime->setCurrentIndex(
        options.RelaisTimeIndex < cboRelaisTime->count() ? options.RelaisTimeIndex : -1);
    ShowControllerAdmits(FAdmits, &FDatabase, Controller->ConID);
}

void TfrmController::cmdOKClick() {
    if (FWrite)
        return;
    Save();
}

void TfrmController::WriteEnded(const std::shared_ptr<TSiteWrite>& write) {
    if (!write || write != FWrite)
        return;
    FWrite.reset();
    cmdOK->setEnabled(true);
    lblSaving->hide();
    if (const auto* save = dynamic_cast<const TControllerSaveWrite*>(write.get()))
        SaveEnded(*save);
}

void TfrmController::SaveEnded(const TControllerSaveWrite& write) {
    Saved = write.Saved;
    // The session marks its own records; the one the dialog edits shows the mark as well.
    if (Saved.Saved && Saved.KeyOutdated && Controller)
        Controller->ChangesMade = true;
    if (Saved.OutcomeUnknown && Saved.Saved) {
        // The controller is stored; only its grants may be or not, and the list shows which.
        MessageBoxes::ShowWarning(
            this, FormatText(_("The controller was added, but whether the cardholders were given "
                               "access to it is not known: %s The list of controllers is read "
                               "again once the program has connected again; look there before "
                               "you give access again."),
                             {write.Error}));
        reject();
        return;
    }
    if (Saved.OutcomeUnknown) {
        // Saving again could add the controller twice: the list reads what is stored first, and
        // the operator looks there.
        MessageBoxes::ShowWarning(
            this, FormatText(_("Whether the controller was saved is not known: %s The list of "
                               "controllers is read again once the program has connected again; "
                               "look there before you enter it again."),
                             {write.Error}));
        reject();
        return;
    }
    if (Saved.Conflict == TControllerSaved::ChangedElsewhere) {
        // Nothing typed here is saved over a change the operator has not seen.
        if (MessageBoxes::Confirm(
                this, _("This controller was changed on another workstation after this window "
                        "opened it, so nothing was saved. Do you want to load the current values? "
                        "What you changed here is then lost.")) &&
            Controller && ReloadController(FDatabase, *Controller))
            ConEdit(Controller);
        return;
    }
    if (Saved.Conflict == TControllerSaved::Gone) {
        MessageBoxes::ShowInformation(this,
                                      _("This controller was deleted on another workstation "
                                        "after this window opened it, so nothing was saved."));
        reject();
        return;
    }
    if (!Saved.Saved) {
        // Nothing was stored: what the operator typed stays for another try.
        MessageBoxes::ShowError(
            this, FormatText(_("The controller could not be saved: %s"), {write.Error}));
        return;
    }
    if (Saved.GrantsRefused)
        // The controller itself is stored, so a second OK would add it twice: the list shows it,
        // and the cardholders can be given access there.
        MessageBoxes::ShowError(
            this, FormatText(_("The controller was added, but the cardholders could not be given "
                               "access to it: %s"),
                             {write.Error}));
    accept();
}

void TfrmController::cmdCancelClick() {
    reject();
}

void TfrmController::Save() {
    TControllerOptions options;
    options.EnableRelais = chkEnableRelais->isChecked();
    options.LEDExtern = chkLEDExtern->isChecked();
    options.Invert = chkInvert->isChecked();
    options.RelaisTimeIndex = cboRelaisTime->currentIndex();
    auto write = std::make_shared<TControllerSaveWrite>();
    write->Input = {txtConName->text(), txtConCode->text(), options.ConByte1(), options.ConByte2()};
    write->Author = FSession.Author();
    if (ControllerEdit) {
        if (!Controller)
            return;
        write->Loaded = *Controller;
    } else {
        write->GrantZone = cboAccess->currentIndex();
    }
    TSiteWriter& writer = FSession.Writes();
    connect(&writer, &TSiteWriter::Written, this, &TfrmController::WriteEnded,
            Qt::UniqueConnection);
    FWrite = write;
    cmdOK->setEnabled(false);
    lblSaving->show();
    writer.Start(write);
}
