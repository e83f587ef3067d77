#include "profiles/login.h"

#include "db/MyDBConnector.h"
#include "db/MySQLite.h"
#include "profiles/VYRStandProfile.h"
#include "profiles/profileconnection.h"
#include "profiles/profilemanagement.h"
#include "profiles/profilesession.h"
#include "shared/datadir.h"
#include "shared/errors.h"
#include "shared/messagebox.h"
#include "shared/settings.h"
#include "shared/translation.h"
#include "shared/windowparts.h"
#include "shared/windowtranslation.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include <utility>

TfrmLogin::TfrmLogin(TDesktop& desktop, TProfileList& profiles, QWidget* parent,
                     TFileSystemTypeProbe fileSystemType)
    : QDialog(parent), FDesktop(desktop), FProfiles(profiles),
      FFileSystemType(std::move(fileSystemType)) {
    setObjectName("frmLogin");
    setWindowTitle(N_("Select profile"));
    FillWhite(this);

    QHBoxLayout* top = BuildProfilePicker();
    QHBoxLayout* buttons = BuildButtonRow();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(buttons);
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint, true);
    setFixedSize(sizeHint().expandedTo(QSize(408, 154)));

    FormCreate();
}

TfrmLogin::~TfrmLogin() {
    // An opening still under way may be a server that does not answer: the window does not wait
    // for it.
    for (TProfileOpeningJob* job : findChildren<TProfileOpeningJob*>(Qt::FindDirectChildrenOnly))
        if (job->Running())
            job->DeleteWhenFinished();
}

QHBoxLayout* TfrmLogin::BuildProfilePicker() {
    Image1 = Named(new QLabel(this), "Image1");
    Image1->setPixmap(style()->standardIcon(QStyle::SP_DriveHDIcon).pixmap(64, 64));
    Image1->setFixedSize(64, 64);
    lblProfile = NewLabel("lblProfile", N_("Profile:"), this);
    cboProfile = Named(new QComboBox(this), "cboProfile");
    cboProfile->setEditable(false);
    cboProfile->setProperty("vyrNoTranslate", true); // profile names, not program texts
    cmdManageProfiles = NewButton("cmdManageProfiles", "...", this);
    cmdManageProfiles->setToolTip(N_("Click here to manage your VYR Profiles"));
    cmdManageProfiles->setFixedWidth(28);
    // Enter confirms the selection, whichever button has the focus.
    cmdManageProfiles->setAutoDefault(false);
    connect(cboProfile, &QComboBox::activated, this, [this] { cboProfileChange(); });
    connect(cmdManageProfiles, &QPushButton::clicked, this, [this] { cmdManageProfilesClick(); });

    auto* pick = new QHBoxLayout;
    pick->addWidget(cboProfile, 1);
    pick->addWidget(cmdManageProfiles);
    auto* fields = new QVBoxLayout;
    fields->addWidget(lblProfile);
    fields->addLayout(pick);
    fields->addStretch();
    auto* top = new QHBoxLayout;
    top->addWidget(Image1, 0, Qt::AlignTop);
    top->addLayout(fields, 1);
    return top;
}

QHBoxLayout* TfrmLogin::BuildButtonRow() {
    cmdOK = NewButton("cmdOK", N_("OK"), this);
    cmdOK->setDefault(true);
    cmdCancel = NewButton("cmdCancel", N_("Cancel"), this);
    // Enter confirms the selection, whichever button has the focus.
    cmdCancel->setAutoDefault(false);
    connect(cmdOK, &QPushButton::clicked, this,
            [this] { MessageBoxes::ReportErrors(this, [this] { cmdOKClick(); }); });
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    return RightAlignedRow({cmdOK, cmdCancel});
}

void TfrmLogin::FormCreate() {
    TranslateWindow(this);
    LastProfile = Settings::LastProfile();
    FillProfiles();
}

void TfrmLogin::FillProfiles() {
    cboProfile->clear();
    int selected = -1;
    for (size_t i = 0; i < FProfiles.size(); ++i) {
        const TVYRStandProfile& profile = *FProfiles[i];
        cboProfile->addItem(profile.ProfileName);
        if (QFileInfo(profile.ProfileFileName).fileName() == LastProfile)
            selected = int(i);
    }
    if (selected < 0 && cboProfile->count() > 0)
        selected = 0;
    cboProfile->setCurrentIndex(selected);
    // Without a profile there is nothing to connect to and nothing to accept.
    cmdOK->setEnabled(cboProfile->count() > 0);
    cboProfileChange();
}

void TfrmLogin::cboProfileChange() {
    ConnectShownProfile();
}

const TVYRStandProfile* TfrmLogin::ShownProfile() const {
    const int index = cboProfile->currentIndex();
    if (index < 0 || size_t(index) >= FProfiles.size())
        return nullptr;
    return FProfiles[size_t(index)].get();
}

void TfrmLogin::ConnectShownProfile() {
    const TVYRStandProfile* shown = ShownProfile();
    if (FSession && shown && FSession->Profile().ProfileFileName == shown->ProfileFileName) {
        // The same profile, though profile management may have renamed it meanwhile.
        FSession->ProfileRenamed(shown->ProfileName);
        return;
    }
    if (FOpening && shown && FOpening->ProfileFileName() == shown->ProfileFileName)
        return; // under way already
    FSession.reset();
    FConnectProblem.clear();
    FWarning.clear();
    FOpening = nullptr;
    unsetCursor();
    if (!shown)
        return;
    const QString file = shown->ProfileFileName;
    auto opening = std::make_unique<TProfileOpening>(*shown, FDesktop, FFileSystemType);
    // The desktop was asked about the file meanwhile, and whatever it ran may have shown another
    // profile and started opening that one: then this opening is out of date and goes.
    shown = ShownProfile();
    if (!shown || shown->ProfileFileName != file || FSession || FOpening)
        return;
    auto* job = new TProfileOpeningJob(std::move(opening), this);
    connect(job, &TProfileOpeningJob::Finished, this, [this, job] { OpeningFinished(job); });
    FOpening = job;
    // Busy, not frozen: the dialog answers while the site is opened and brought up to date.
    setCursor(Qt::BusyCursor);
    job->Start();
}

void TfrmLogin::OpeningFinished(TProfileOpeningJob* job) {
    job->deleteLater();
    if (job != FOpening)
        return; // a profile no longer shown
    FOpening = nullptr;
    unsetCursor();
    TSessionOpening opening = job->TakeOutcome();
    FSession = std::move(opening.Session);
    FConnectProblem = opening.Problem;
    FWarning = opening.Warning;
    if (std::exchange(FConfirmWhenOpened, false))
        MessageBoxes::ReportErrors(this, [this] { Confirm(); });
}

void TfrmLogin::cmdOKClick() {
    ConnectShownProfile(); // the profile shown, if anything moved the selection meanwhile
    if (FOpening) {
        FConfirmWhenOpened = true;
        return;
    }
    Confirm();
}

void TfrmLogin::Confirm() {
    const TVYRStandProfile* profile = ShownProfile();
    if (!profile || result() == QDialog::Accepted)
        return;
    if (!FSession) {
        // Said here, once, instead of a main window whose empty list looks like a new site.
        MessageBoxes::ShowError(this,
                                FormatText(_("The database of profile %s cannot be opened:\n\n%s"),
                                           {profile->ProfileName, FConnectProblem}));
        return; // the next OK tries again: the operator may have fixed the file
    }
    // Once per opening: the main window gets the session only after the operator has read this.
    if (!FWarning.isEmpty())
        MessageBoxes::ShowWarning(this, std::exchange(FWarning, QString()));
    try {
        Settings::SetLastProfile(QFileInfo(profile->ProfileFileName).fileName());
    } catch (const VyrError& error) {
        // Not remembering the choice is no reason to keep the operator out of the site.
        MessageBoxes::ShowWarning(
            this,
            error.Message() + "\n\n" +
                _("The profile opens all the same, but it will not be preselected next time."));
    }
    accept();
}

void TfrmLogin::done(int result) {
    FConfirmWhenOpened = false;
    QDialog::done(result);
}

std::unique_ptr<TProfileSession> TfrmLogin::TakeSession() {
    return std::move(FSession);
}

void TfrmLogin::cmdManageProfilesClick() {
    // No profile is open in the main window yet, so management may delete any of them.
    OpenProfileManagement(this, FDesktop, FProfiles, QString());
    // The session stays when its profile is still shown; it is found by its file.
    LoadProfiles(FProfiles);
    FillProfiles();
}
