#include "profiles/profilewizard.h"

#include "db/databasecheck.h"
#include "profiles/VYRStandProfile.h"
#include "profiles/profilecreation.h"
#include "profiles/serverconnection.h"
#include "shared/datadir.h"
#include "shared/desktop.h"
#include "shared/errors.h"
#include "shared/messagebox.h"
#include "shared/translation.h"
#include "shared/windowparts.h"
#include "shared/windowtranslation.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <optional>

TfrmProfileWizard::TfrmProfileWizard(TDesktop& desktop, QWidget* parent,
                                     TLegacyImporter legacyImport)
    : QDialog(parent), FDesktop(desktop), FLegacyImport(std::move(legacyImport)) {
    setObjectName("frmProfileWizard");
    setWindowTitle(N_("Profile Wizard"));

    const TTitleBand header = NewTitleBand<QFrame>(
        this, N_("Create new VYR Profile"),
        N_("VYR Profile manages your settings for each location"), {.PanelName = "pnlHeader"});
    lblTitle = header.Title;
    lblSubTitle = header.SubTitle;
    FProbe = new TServerProbeJob(this);
    BuildPages();
    QHBoxLayout* buttons = BuildButtonRow();
    auto* body = new QVBoxLayout;
    body->addWidget(FContent, 1);
    body->addLayout(buttons);
    BandOverBody(this, header.Panel, body, {8, 0, 8, 0}, 8);
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint, true);
    setFixedSize(sizeHint().expandedTo(QSize(520, 360)));
    ConnectHandlers();

    TranslateWindow(this);
    // An edit's initial text is data as soon as the operator may change it; it is translated once.
    txtProfileName->setText(_("New profile"));
    Steps = {pnlStep0, pnlStep1, pnlStep2, pnlStep3, pnlStep4};
    CurrentStep = 0;
    ShowStep(0);
}

void TfrmProfileWizard::BuildPages() {
    QWidget* const pages[] = {BuildWelcomePage(),  BuildDatabaseTypePage(), BuildSourcePage(),
                              BuildLocationPage(), BuildNamePage(),         BuildFinishPage()};
    FContent = new QStackedWidget(this);
    for (QWidget* page : pages)
        FContent->addWidget(page);
}

QWidget* TfrmProfileWizard::BuildWelcomePage() {
    pnlStep0 = Named(new QWidget, "pnlStep0");
    lblWelcome = BoldLabel("lblWelcome", N_("Welcome to the VYR Profile wizard"), pnlStep0);
    lblIntro = Named(new QLabel(N_("This appears to be the first time you are using this program. "
                                   "You need to configure a profile before you are able to use "
                                   "this program"),
                                pnlStep0),
                     "lblIntro");
    lblIntro->setWordWrap(true);
    auto* l0 = new QVBoxLayout(pnlStep0);
    l0->addWidget(lblWelcome);
    l0->addWidget(lblIntro);
    l0->addStretch();
    return pnlStep0;
}

QWidget* TfrmProfileWizard::BuildDatabaseTypePage() {
    pnlStep1 = Named(new QWidget, "pnlStep1");
    Label1 = Named(new QLabel(N_("Select the database type you want yo use:"), pnlStep1), "Label1");
    dbTypeMSAccess = Named(new QRadioButton(N_("MS Access"), pnlStep1), "dbTypeMSAccess");
    dbTypeMSAccess->setChecked(true);
    dbTypeMySQL = Named(new QRadioButton(N_("MySQL"), pnlStep1), "dbTypeMySQL");
    dbTypeMySQL->setEnabled(false);
    dbTypeServer = Named(new QRadioButton(N_("A database on a server"), pnlStep1), "dbTypeServer");
    lblConnection =
        Named(new QLabel(N_("Connection (postgresql://host/database or service=name):"), pnlStep1),
              "lblConnection");
    txtConnection = Named(new QLineEdit(pnlStep1), "txtConnection");
    lblConnection->setBuddy(txtConnection);
    cmdTestConnection = Named(new QPushButton(N_("Test"), pnlStep1), "cmdTestConnection");
    cmdTestConnection->setAutoDefault(false);
    lblServerFound = Named(new QLabel(pnlStep1), "lblServerFound");
    lblServerFound->setWordWrap(true);
    lblServerFound->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* l1 = new QGridLayout(pnlStep1);
    l1->addWidget(Label1, 0, 0, 1, 2);
    l1->addWidget(dbTypeMSAccess, 1, 0, 1, 2);
    l1->addWidget(dbTypeMySQL, 2, 0, 1, 2);
    l1->addWidget(dbTypeServer, 3, 0, 1, 2);
    l1->addWidget(lblConnection, 4, 0, 1, 2);
    l1->addWidget(txtConnection, 5, 0);
    l1->addWidget(cmdTestConnection, 5, 1);
    l1->addWidget(lblServerFound, 6, 0, 1, 2);
    l1->setRowStretch(7, 1);
    return pnlStep1;
}

QWidget* TfrmProfileWizard::BuildSourcePage() {
    pnlStep2 = Named(new QWidget, "pnlStep2");
    Label2 = Named(new QLabel(N_("I want to..."), pnlStep2), "Label2");
    dbNew = Named(new QRadioButton(N_("Create a new database"), pnlStep2), "dbNew");
    dbNew->setChecked(true);
    dbExisting = Named(new QRadioButton(N_("Use existing database"), pnlStep2), "dbExisting");
    txtExistingDB = Named(new QLineEdit(pnlStep2), "txtExistingDB");
    txtExistingDB->setEnabled(false);
    cmdBrowseExistingDB = Named(new QPushButton(N_("Browse..."), pnlStep2), "cmdBrowseExistingDB");
    cmdBrowseExistingDB->setEnabled(false);
    dbBSTFiles = Named(new QRadioButton(N_("Import previous software files (*.bst)"), pnlStep2),
                       "dbBSTFiles");
    txtBSTDBFiles = Named(new QLineEdit(pnlStep2), "txtBSTDBFiles");
    txtBSTDBFiles->setEnabled(false);
    cmdBrowseBSTFiles = Named(new QPushButton(N_("Browse..."), pnlStep2), "cmdBrowseBSTFiles");
    cmdBrowseBSTFiles->setEnabled(false);
    auto* l2 = new QGridLayout(pnlStep2);
    l2->addWidget(Label2, 0, 0, 1, 2);
    l2->addWidget(dbNew, 1, 0, 1, 2);
    l2->addWidget(dbExisting, 2, 0, 1, 2);
    l2->addWidget(txtExistingDB, 3, 0);
    l2->addWidget(cmdBrowseExistingDB, 3, 1);
    l2->addWidget(dbBSTFiles, 4, 0, 1, 2);
    l2->addWidget(txtBSTDBFiles, 5, 0);
    l2->addWidget(cmdBrowseBSTFiles, 5, 1);
    l2->setRowStretch(6, 1);
    return pnlStep2;
}

QWidget* TfrmProfileWizard::BuildLocationPage() {
    pnlStep3 = Named(new QWidget, "pnlStep3");
    Label3 = Named(new QLabel(N_("Save database at"), pnlStep3), "Label3");
    dbLocationDefault =
        Named(new QRadioButton(N_("Default location"), pnlStep3), "dbLocationDefault");
    dbLocationDefault->setChecked(true);
    dbLocationCustom =
        Named(new QRadioButton(N_("Select location..."), pnlStep3), "dbLocationCustom");
    dbLocationCustom->setEnabled(false);
    txtDBLocation = Named(new QLineEdit(pnlStep3), "txtDBLocation");
    txtDBLocation->setEnabled(false);
    cmdDBSaveBrowse = Named(new QPushButton(N_("Browse..."), pnlStep3), "cmdDBSaveBrowse");
    cmdDBSaveBrowse->setEnabled(false);
    lblDBLocation = Named(new QLabel(N_("Location"), pnlStep3), "lblDBLocation");
    auto* l3 = new QGridLayout(pnlStep3);
    l3->addWidget(Label3, 0, 0, 1, 2);
    l3->addWidget(dbLocationDefault, 1, 0, 1, 2);
    l3->addWidget(lblDBLocation, 2, 0, 1, 2);
    l3->addWidget(dbLocationCustom, 3, 0, 1, 2);
    l3->addWidget(txtDBLocation, 4, 0);
    l3->addWidget(cmdDBSaveBrowse, 4, 1);
    l3->setRowStretch(5, 1);
    return pnlStep3;
}

QWidget* TfrmProfileWizard::BuildNamePage() {
    pnlStep4 = Named(new QWidget, "pnlStep4");
    Label6 = BoldLabel("Label6", N_("Profile information"), pnlStep4);
    Label7 = Named(new QLabel(N_("Profile name:"), pnlStep4), "Label7");
    txtProfileName = Named(new QLineEdit(pnlStep4), "txtProfileName");
    lblProfileLocation = Named(new QLabel(N_("Profile location"), pnlStep4), "lblProfileLocation");
    lblProfileLocation->setWordWrap(true);
    auto* l4 = new QVBoxLayout(pnlStep4);
    l4->addWidget(Label6);
    l4->addWidget(Label7);
    l4->addWidget(txtProfileName);
    l4->addWidget(lblProfileLocation);
    l4->addStretch();
    return pnlStep4;
}

QWidget* TfrmProfileWizard::BuildFinishPage() {
    pnlFinish = Named(new QWidget, "pnlFinish");
    Label9 = BoldLabel("Label9", N_("VYR Profile wizard"), pnlFinish);
    Label10 = Named(new QLabel(N_("Please wait..."), pnlFinish), "Label10");
    Label10->setWordWrap(true);
    prgImport = Named(new QProgressBar(pnlFinish), "prgImport");
    prgImport->setVisible(false);
    auto* lf = new QVBoxLayout(pnlFinish);
    lf->addWidget(Label9);
    lf->addWidget(Label10);
    lf->addWidget(prgImport);
    lf->addStretch();
    return pnlFinish;
}

QHBoxLayout* TfrmProfileWizard::BuildButtonRow() {
    cmdCancel = Named(new QPushButton(N_("Cancel"), this), "cmdCancel");
    cmdBack = Named(new QPushButton(N_("<< Back"), this), "cmdBack");
    cmdNext = Named(new QPushButton(N_("Next >>"), this), "cmdNext");
    cmdNext->setDefault(true);
    // Enter goes forward, whichever button has the focus: it must never cancel the wizard.
    cmdCancel->setAutoDefault(false);
    cmdBack->setAutoDefault(false);
    return RightAlignedRow({cmdCancel, cmdBack, cmdNext});
}

void TfrmProfileWizard::ConnectHandlers() {
    // The handlers that read or write files report what fails right here, at the window.
    const auto reported = [this](void (TfrmProfileWizard::*handler)()) {
        return [this, handler] { MessageBoxes::ReportErrors(this, [&] { (this->*handler)(); }); };
    };
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(cmdBack, &QPushButton::clicked, this, [this] { cmdBackClick(); });
    connect(cmdNext, &QPushButton::clicked, this, reported(&TfrmProfileWizard::cmdNextClick));
    connect(dbNew, &QRadioButton::clicked, this, [this] { dbNewClick(); });
    connect(dbExisting, &QRadioButton::clicked, this, [this] { dbExistingClick(); });
    connect(dbBSTFiles, &QRadioButton::clicked, this, [this] { dbBSTFilesClick(); });
    connect(cmdBrowseExistingDB, &QPushButton::clicked, this,
            reported(&TfrmProfileWizard::cmdBrowseExistingDBClick));
    connect(cmdBrowseBSTFiles, &QPushButton::clicked, this,
            reported(&TfrmProfileWizard::cmdBrowseBSTFilesClick));
    connect(txtProfileName, &QLineEdit::textChanged, this, [this] { txtProfileNameChange(); });
    for (QRadioButton* type : {dbTypeMSAccess, dbTypeServer})
        connect(type, &QRadioButton::toggled, this, [this] { DatabaseTypeChange(); });
    connect(cmdTestConnection, &QPushButton::clicked, this, [this] { cmdTestConnectionClick(); });
    // What was found belongs to the text that was tested.
    connect(txtConnection, &QLineEdit::textEdited, lblServerFound, &QLabel::clear);
    connect(FProbe, &TServerProbeJob::Found, this, [this](const TServerDatabaseInfo& info) {
        lblServerFound->setText(ServerProbeText(info));
        cmdTestConnection->setEnabled(OnServer());
    });
    DatabaseTypeChange();
}

bool TfrmProfileWizard::OnServer() const {
    return dbTypeServer->isChecked();
}

void TfrmProfileWizard::DatabaseTypeChange() {
    txtConnection->setEnabled(OnServer());
    cmdTestConnection->setEnabled(OnServer() && !FProbe->Running());
    lblConnection->setEnabled(OnServer());
    // A database file to copy has no place on a server.
    dbExisting->setEnabled(!OnServer());
    if (OnServer() && dbExisting->isChecked()) {
        dbNew->setChecked(true);
        dbNewClick();
    }
}

void TfrmProfileWizard::cmdTestConnectionClick() {
    lblServerFound->setText(_("Connecting..."));
    cmdTestConnection->setEnabled(false);
    FProbe->Start(txtConnection->text());
}

void TfrmProfileWizard::ShowStep(int n) {
    FContent->setCurrentWidget(Steps[n]);
    cmdBack->setEnabled(n > 0);
    CurrentStep = n;
    if (n == 4) {
        txtProfileName->setFocus();
        txtProfileName->selectAll();
    } else {
        cmdNext->setFocus();
    }
}

void TfrmProfileWizard::cmdNextClick() {
    switch (CurrentStep) {
    case 0:
        ShowStep(1);
        break;
    case 1:
        // Said here, while the text can still be mended, rather than at the end.
        if (OnServer()) {
            if (const QString problem = ServerConnectionProblem(txtConnection->text());
                !problem.isEmpty()) {
                MessageBoxes::ShowWarning(this, problem);
                txtConnection->setFocus();
                return;
            }
        }
        ShowStep(2);
        break;
    case 2:
        if (OnServer()) {
            // No file to place: the server is where the database is.
            ShowStep(4);
            txtProfileNameChange();
            cmdNext->setText(_("Finish!"));
            break;
        }
        lblDBLocation->setText(DataDirectory() + "/data/");
        txtDBLocation->setText(DataDirectory() + "/data/");
        ShowStep(3);
        break;
    case 3:
        ShowStep(4);
        txtProfileNameChange();
        cmdNext->setText(_("Finish!"));
        break;
    case 4:
        Finish();
        break;
    }
}

void TfrmProfileWizard::cmdBackClick() {
    if (CurrentStep == 0)
        return;
    if (CurrentStep == 4)
        cmdNext->setText(_("Next >>"));
    ShowStep(CurrentStep == 4 && OnServer() ? 2 : CurrentStep - 1);
}

void TfrmProfileWizard::dbNewClick() {
    cmdBrowseExistingDB->setEnabled(false);
    cmdBrowseBSTFiles->setEnabled(false);
}

void TfrmProfileWizard::dbExistingClick() {
    cmdBrowseExistingDB->setEnabled(true);
    cmdBrowseBSTFiles->setEnabled(false);
}

void TfrmProfileWizard::dbBSTFilesClick() {
    cmdBrowseExistingDB->setEnabled(false);
    cmdBrowseBSTFiles->setEnabled(true);
}

void TfrmProfileWizard::cmdBrowseExistingDBClick() {
    const QString chosen =
        FDesktop.ChooseOpenFile(this, DataDirectory() + "/data/", "Access DB (*.accdb *.mdb)");
    if (chosen.isEmpty())
        return;
    // Said now, while another file can still be chosen, rather than by an empty site later.
    if (const QString problem = ProfileDatabaseProblem(chosen); !problem.isEmpty()) {
        MessageBoxes::ShowError(this, problem);
        return;
    }
    txtExistingDB->setText(chosen);
}

void TfrmProfileWizard::cmdBrowseBSTFilesClick() {
    const QString chosen =
        FDesktop.ChooseOpenFile(this, DataDirectory() + "/data/", "autonoom.bst (autonoom.bst)");
    if (!chosen.isEmpty())
        txtBSTDBFiles->setText(chosen);
}

void TfrmProfileWizard::txtProfileNameChange() {
    const QString name = txtProfileName->text();
    QPalette palette = txtProfileName->palette();
    if (name.isEmpty()) {
        palette.setColor(QPalette::Base, QColor(255, 0, 0));
        lblProfileLocation->setText(QString());
    } else {
        const QString path = DataDirectory() + "/profiles/" + ProfileFileStem(name) + ".ini";
        lblProfileLocation->setText(path);
        palette.setColor(QPalette::Base, QFileInfo::exists(path)
                                             ? QColor(255, 0, 0)
                                             : QApplication::palette().color(QPalette::Base));
    }
    txtProfileName->setPalette(palette);
}

void TfrmProfileWizard::Finish() {
    // Everything that can be refused is refused here, on page 4, before anything is written:
    // what the operator created earlier is never overwritten.
    const QString name = txtProfileName->text();
    if (const QString problem = ProfileNameProblem(name); !problem.isEmpty()) {
        MessageBoxes::ShowWarning(this, problem);
        return;
    }
    const TProfilePaths paths = NewProfilePaths(name);
    TProfileCreation creation;
    creation.ProfileName = name;
    if (OnServer()) {
        if (NameClash(name) == TNameClash::ProfileExists) {
            MessageBoxes::ShowWarning(
                this, FormatText(_("A profile file of this name already exists: %s\n\n"
                                   "Please choose another name."),
                                 {paths.ProfileFile}));
            return;
        }
        creation.ServerConnection = txtConnection->text().trimmed();
        std::optional<TLegacyImportChoice> import;
        if (dbBSTFiles->isChecked())
            import = TLegacyImportChoice{txtBSTDBFiles->text(), FLegacyImport};
        StartJob(std::make_unique<TProfileCreationJob>(std::move(creation), std::move(import),
                                                       FDesktop));
        return;
    }
    creation.SourceDatabase = ProgramDirectory() + "/default.accdb";
    if (dbExisting->isChecked()) {
        creation.SourceDatabase = txtExistingDB->text();
        creation.SourceChosen = true;
        // Checked first: the question about a leftover database names the chosen one.
        if (const QString problem = ProfileDatabaseProblem(creation.SourceDatabase);
            !problem.isEmpty()) {
            MessageBoxes::ShowError(
                this, FormatText(_("The database could not be created: %s"), {problem}));
            return;
        }
    }
    std::optional<TLegacyImportChoice> import;
    if (dbBSTFiles->isChecked() && FLegacyImport)
        import = TLegacyImportChoice{txtBSTDBFiles->text(), FLegacyImport};
    auto job =
        std::make_unique<TProfileCreationJob>(std::move(creation), std::move(import), FDesktop);
    TProfileCreation& settled = job->Creation();

    switch (NameClash(name)) {
    case TNameClash::None:
        break;
    case TNameClash::ProfileExists:
        MessageBoxes::ShowWarning(this,
                                  FormatText(_("A profile file of this name already exists: %s\n\n"
                                               "Please choose another name."),
                                             {paths.ProfileFile}));
        return;
    case TNameClash::DatabaseInUse:
        MessageBoxes::ShowWarning(this,
                                  FormatText(_("A database file of this name already exists: %s\n\n"
                                               "Please choose another name."),
                                             {paths.DatabaseFile}));
        return;
    case TNameClash::LeftoverDatabase:
        // Most likely left by a Finish that did not end; it must not block the name for good.
        if (MessageBoxes::Confirm(this, LeftoverQuestion(paths.DatabaseFile, settled)))
            settled.Leftover = TLeftoverDatabase::Use;
        else if (MessageBoxes::Confirm(
                     this, FormatText(_("Replace %s with a new database? The old file is moved "
                                        "to the trash."),
                                      {paths.DatabaseFile})))
            settled.Leftover = TLeftoverDatabase::Replace;
        else
            return;
        break;
    }
    // The template is not needed when the leftover database is used.
    if (!settled.SourceChosen && settled.Leftover != TLeftoverDatabase::Use) {
        if (const QString problem = ProfileDatabaseProblem(settled.SourceDatabase);
            !problem.isEmpty()) {
            MessageBoxes::ShowError(
                this, FormatText(_("The database could not be created: %s"), {problem}));
            return;
        }
    }

    StartJob(std::move(job));
}

void TfrmProfileWizard::StartJob(std::unique_ptr<TProfileCreationJob> job) {
    FJob = std::move(job);
    connect(FJob.get(), &TProfileCreationJob::Progress, this, [this](qint64 done, qint64 total) {
        prgImport->setMaximum(int(std::max<qint64>(total, 1)));
        prgImport->setValue(int(done));
        prgImport->setVisible(true);
    });
    connect(FJob.get(), &TProfileCreationJob::Finished, this,
            [this](const TProfileCreationOutcome& outcome) {
                MessageBoxes::ReportErrors(this, [&] { FinishEnded(outcome); });
            });
    FContent->setCurrentWidget(pnlFinish);
    cmdNext->setEnabled(false);
    cmdBack->setEnabled(false);
    // A server may keep the creation waiting for its first answer: Cancel stays for that.
    cmdCancel->setEnabled(!FJob->Creation().ServerConnection.trimmed().isEmpty());
    FJob->Start();
}

void TfrmProfileWizard::FinishEnded(const TProfileCreationOutcome& outcome) {
    // The job's thread is over. The job goes once this has returned: until then the window still
    // refuses to close, as it did while the profile was being made.
    const auto ended = qScopeGuard([this] { FJob.release()->deleteLater(); });
    if (outcome.Failure) {
        try {
            std::rethrow_exception(outcome.Failure);
        } catch (const std::exception& error) {
            // Nothing of this Finish is left on disk: let the operator change the choice and
            // retry.
            MessageBoxes::ShowError(this, ErrorText(error));
            BackToNamePage();
            return;
        }
    }
    if (!outcome.Notice.isEmpty())
        MessageBoxes::ShowWarning(this, outcome.Notice);
    if (outcome.Imported)
        MessageBoxes::ShowInformation(this, LegacyImportSummaryText(*outcome.Imported));
    accept();
}

QString TfrmProfileWizard::LeftoverQuestion(const QString& database,
                                            const TProfileCreation& creation) const {
    // The operator chose a source on page 2: using the leftover must never drop it unsaid.
    if (creation.FillDatabase) {
        if (LeftoverTakesTheSource(database, creation))
            return FormatText(
                _("The database file %s exists, but no profile uses it. It holds no controllers "
                  "and no cardholders.\n\nUse this database for the new profile? The files of "
                  "the older software are imported into it."),
                {database});
        return FormatText(
            _("The database file %s exists, but no profile uses it. It holds controllers or "
              "cardholders.\n\nUse this database as it is for the new profile? The files of the "
              "older software are then not imported.\n\nAnswer No to replace it instead."),
            {database});
    }
    if (creation.SourceChosen) {
        if (LeftoverTakesTheSource(database, creation))
            return FormatText(
                _("The database file %s exists, but no profile uses it. It holds no controllers "
                  "and no cardholders.\n\nUse this database for the new profile? The chosen "
                  "database %s is copied into its place."),
                {database, creation.SourceDatabase});
        return FormatText(
            _("The database file %s exists, but no profile uses it. It holds controllers or "
              "cardholders.\n\nUse this database as it is for the new profile? The chosen "
              "database %s is then not copied.\n\nAnswer No to replace it instead."),
            {database, creation.SourceDatabase});
    }
    return FormatText(_("The database file %s exists, but no profile uses it.\n\n"
                        "Use this database for the new profile?"),
                      {database});
}

void TfrmProfileWizard::BackToNamePage() {
    prgImport->setVisible(false);
    FContent->setCurrentWidget(pnlStep4);
    cmdNext->setEnabled(true);
    cmdBack->setEnabled(true);
    cmdCancel->setEnabled(true);
}

void TfrmProfileWizard::reject() {
    if (!FJob) {
        QDialog::reject();
        return;
    }
    if (FJob->CallOff()) {
        // Still waiting for the server: the creation ends by itself, leaving nothing, and its
        // late word goes nowhere.
        emit WorkLeft(FJob.get());
        FJob.release()->DeleteWhenFinished();
        QDialog::reject();
        return;
    }
    // It writes already: it ends called off or done, and its end tells which.
    cmdCancel->setEnabled(false);
}
