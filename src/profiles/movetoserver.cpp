#include "profiles/movetoserver.h"

#include "profiles/serverconnection.h"
#include "profiles/serverprobe.h"
#include "profiles/sitemove.h"
#include "shared/messagebox.h"
#include "shared/translation.h"
#include "shared/windowparts.h"
#include "shared/windowtranslation.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QVBoxLayout>

#include <algorithm>

TfrmMoveToServer::TfrmMoveToServer(const TVYRStandProfile& profile, QWidget* parent)
    : QDialog(parent), FProfile(profile), FMoved(profile) {
    setObjectName("frmMoveToServer");
    setWindowTitle(N_("Move to server"));
    lblConnection = NewLabel("lblConnection",
                             N_("Connection (postgresql://host/database or service=name):"), this);
    txtConnection = NewEdit("txtConnection", this);
    lblConnection->setBuddy(txtConnection);
    cmdTest = NewButton("cmdTest", N_("Test"), this);
    cmdTest->setAutoDefault(false);
    lblFound = Named(new QLabel(this), "lblFound");
    lblFound->setWordWrap(true);
    lblFound->setTextInteractionFlags(Qt::TextSelectableByMouse);
    prgMove = Named(new QProgressBar(this), "prgMove");
    prgMove->setVisible(false);
    cmdMove = NewButton("cmdMove", N_("Move"), this);
    cmdMove->setDefault(true);
    cmdCancel = NewButton("cmdCancel", N_("Cancel"), this);
    cmdCancel->setAutoDefault(false);

    auto* grid = new QGridLayout;
    grid->addWidget(lblConnection, 0, 0, 1, 2);
    grid->addWidget(txtConnection, 1, 0);
    grid->addWidget(cmdTest, 1, 1);
    grid->addWidget(lblFound, 2, 0, 1, 2);
    grid->addWidget(prgMove, 3, 0, 1, 2);
    auto* body = new QVBoxLayout(this);
    body->addLayout(grid);
    body->addStretch();
    body->addLayout(RightAlignedRow({cmdCancel, cmdMove}));

    FProbe = new TServerProbeJob(this);
    connect(cmdTest, &QPushButton::clicked, this, [this] { cmdTestClick(); });
    connect(cmdMove, &QPushButton::clicked, this, [this] { cmdMoveClick(); });
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(txtConnection, &QLineEdit::textEdited, lblFound, &QLabel::clear);
    connect(FProbe, &TServerProbeJob::Found, this, [this](const TServerDatabaseInfo& info) {
        lblFound->setText(ServerProbeText(info));
        cmdTest->setEnabled(!FJob);
    });
    TranslateWindow(this);
    resize(sizeHint().expandedTo(QSize(480, 200)));
    txtConnection->setFocus();
}

TfrmMoveToServer::~TfrmMoveToServer() = default;

void TfrmMoveToServer::cmdTestClick() {
    lblFound->setText(_("Connecting..."));
    cmdTest->setEnabled(false);
    FProbe->Start(txtConnection->text());
}

void TfrmMoveToServer::cmdMoveClick() {
    const QString connection = txtConnection->text().trimmed();
    if (const QString problem = ServerConnectionProblem(connection); !problem.isEmpty()) {
        MessageBoxes::ShowWarning(this, problem);
        return;
    }
    FJob = std::make_unique<TSiteMoveJob>(FProfile, connection);
    connect(FJob.get(), &TSiteMoveJob::Progress, this, [this](qint64 done, qint64 total) {
        prgMove->setMaximum(int(std::max<qint64>(total, 1)));
        prgMove->setValue(int(done));
    });
    connect(FJob.get(), &TSiteMoveJob::Finished, this,
            [this](const QString& error) { MoveEnded(error); });
    SetWorking(true);
    prgMove->setValue(0);
    prgMove->setVisible(true);
    FJob->Start();
}

void TfrmMoveToServer::MoveEnded(const QString& error) {
    // The job's thread is over; the job goes once this has returned.
    const auto ended = qScopeGuard([this] { FJob.release()->deleteLater(); });
    SetWorking(false);
    if (!error.isEmpty()) {
        prgMove->setVisible(false);
        // A move that may have happened is no failure: the text says what comes of it.
        if (FJob->OutcomeUnknown())
            MessageBoxes::ShowWarning(this, error);
        else
            MessageBoxes::ShowError(this, error);
        return;
    }
    FMoved = FJob->Moved();
    MessageBoxes::ShowInformation(
        this, FormatText(_("The site is on the server now. The local database file is kept as "
                           "%s."),
                         {MovedDatabaseName(ResolveDatabasePath(FProfile.DBFileName))}));
    accept();
}

void TfrmMoveToServer::SetWorking(bool working) {
    // Cancel stays: a server that does not answer holds the move at its connecting.
    for (QWidget* control : {static_cast<QWidget*>(txtConnection), static_cast<QWidget*>(cmdTest),
                             static_cast<QWidget*>(cmdMove)})
        control->setEnabled(!working);
    cmdCancel->setEnabled(true);
    if (!working)
        cmdTest->setEnabled(!FProbe->Running());
}

void TfrmMoveToServer::reject() {
    if (!FJob) {
        QDialog::reject();
        return;
    }
    if (FJob->CallOff()) {
        // Still connecting: the move ends undone by itself, and its late word goes nowhere.
        emit WorkLeft(FJob.get());
        FJob.release()->DeleteWhenFinished();
        QDialog::reject();
        return;
    }
    // Copying: it is undone at its next batch, or done already; the end tells which.
    lblFound->setText(_("Calling the move off..."));
    cmdCancel->setEnabled(false);
}
