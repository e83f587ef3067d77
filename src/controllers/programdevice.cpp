#include "controllers/programdevice.h"

#include "controllers/controllerrecords.h"
#include "controllers/keysource.h"
#include "controllers/keywriter.h"
#include "controllers/readkey.h"
#include "db/MyDBConnector.h"
#include "profiles/profilesession.h"
#include "reader/adapternews.h"
#include "reader/cardpoller.h"
#include "shared/messagebox.h"
#include "shared/translation.h"
#include "shared/windowparts.h"
#include "shared/windowtranslation.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
const char* const SupplyKeyText = N_("Supply a memory key to program the device");
} // namespace

TfrmProgramDevice::TfrmProgramDevice(TProfileSession& session, const TRunSettings& settings,
                                     QWidget* parent)
    : QDialog(parent), FSession(session), FSettings(settings) {
    setObjectName("frmProgramDevice");
    setWindowTitle(N_("Programming device"));
    ShowOnlyCloseButton(this, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);

    const TTitleBand band = NewTitleBand(this, N_("Programming device"), SupplyKeyText);
    pnlTop = band.Panel;
    lblTitle = band.Title;
    lblSubTitle = band.SubTitle;
    QHBoxLayout* key = BuildKeyRow();
    QVBoxLayout* progress = BuildProgress();
    QHBoxLayout* buttons = BuildButtonRow();
    auto* body = new QVBoxLayout;
    body->addLayout(key);
    body->addLayout(progress);
    body->addStretch();
    body->addLayout(buttons);
    BandOverBody(this, pnlTop, body, {12, 8, 12, 0}, 8);

    FormCreate();
    // Sized for the translated texts.
    setFixedSize(sizeHint().expandedTo(QSize(420, 260)));
}

QHBoxLayout* TfrmProgramDevice::BuildKeyRow() {
    // Both carry data read from the key; they are filled after the translation.
    lblFamily = Named(new QLabel(this), "lblFamily");
    lblROM = Named(new QLabel(this), "lblROM");
    for (QLabel* label : {lblFamily, lblROM}) {
        label->setProperty("vyrNoTranslate", true);
        label->hide();
        // A fixed border: the key's labels keep their place while hidden, so nothing jumps.
        QSizePolicy policy = label->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        label->setSizePolicy(policy);
    }
    auto* labels = new QVBoxLayout;
    labels->addWidget(lblFamily);
    labels->addWidget(lblROM);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addLayout(labels, 1);
    return row;
}

QVBoxLayout* TfrmProgramDevice::BuildProgress() {
    lblStatusText = BoldLabel("lblStatusText", SupplyKeyText, this, 1.4);
    lblStatusText->setAlignment(Qt::AlignCenter);
    ProgressBar = Named(new QProgressBar(this), "ProgressBar");
    ProgressBar->setRange(0, KeyPageCount + 1);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);
    auto* progress = new QVBoxLayout;
    progress->addWidget(lblStatusText);
    progress->addWidget(ProgressBar);
    return progress;
}

QHBoxLayout* TfrmProgramDevice::BuildButtonRow() {
    cmdReadKey = NewButton("cmdReadKey", N_("&Read key..."), this);
    cmdCancel = NewButton("cmdCancel", N_("Cancel"), this);
    connect(cmdReadKey, &QPushButton::clicked, this, [this] { cmdReadKeyClick(); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancelClick(); });
    return RightAlignedRow({cmdReadKey, cmdCancel});
}

TfrmProgramDevice::~TfrmProgramDevice() = default;

void TfrmProgramDevice::FormCreate() {
    TranslateWindow(this);
    OpenPoller();
    if (FPoller)
        FPoller->Start();
}

void TfrmProgramDevice::OpenPoller() {
    // Without a reader there is nothing to wait for: the dialog only offers Cancel.
    FPoller = OpenCardPoller(this, FSettings);
    ListenToPoller();
}

void TfrmProgramDevice::ListenToPoller() {
    if (!FPoller)
        return;
    connect(FPoller, &TCardPollerLink::CardRead, this, &TfrmProgramDevice::CardRead);
    connect(FPoller, &TCardPollerLink::ReaderFailed, this, &TfrmProgramDevice::ReaderFailed);
    connect(FPoller, &TCardPollerLink::JobStep, ProgressBar, &QProgressBar::setValue);
    connect(FPoller, &TCardPollerLink::JobDone, this, &TfrmProgramDevice::KeyWritten);
}

bool TfrmProgramDevice::Writing() const {
    return FPoller && FPoller->JobRunning();
}

void TfrmProgramDevice::cmdReadKeyClick() {
    // A key half written reads as neither the old list nor the new one.
    if (Writing())
        return;
    // The read window reads through this dialog's own link, so the adapter's session stays as
    // it is; until the window closes this dialog hears nothing of it, and so cannot write the
    // key laid on for reading.
    const bool wasPolling = FPoller && FPoller->Polling();
    if (FPoller) {
        FPoller->Stop();
        disconnect(FPoller, nullptr, this, nullptr);
        disconnect(FPoller, nullptr, ProgressBar, nullptr);
    }
    auto* window = new TfrmReadKey(FSession, FSettings, FPoller, this);
    connect(window, &QDialog::finished, this, [this, window, wasPolling] {
        if (FPoller) {
            FPoller->Stop();
            disconnect(FPoller, nullptr, window, nullptr);
        }
        window->deleteLater();
        // A read still under way finishes first: its outcome is not a write's.
        if (FPoller && FPoller->JobRunning()) {
            auto* once = new QObject(this);
            connect(FPoller, &TCardPollerLink::JobDone, once, [this, once, wasPolling] {
                delete once;
                ReadKeyClosed(wasPolling);
            });
            return;
        }
        ReadKeyClosed(wasPolling);
    });
    window->open();
}

void TfrmProgramDevice::ReadKeyClosed(bool resumePolling) {
    ListenToPoller();
    if (FPoller && resumePolling)
        FPoller->Start();
}

void TfrmProgramDevice::cmdCancelClick() {
    close();
}

void TfrmProgramDevice::reject() {
    // Leaving in the middle would leave the operator not knowing whether the key is usable, so
    // the window closes once the writing is over.
    if (Writing()) {
        FCloseWhenDone = true;
        return;
    }
    QDialog::reject();
}

void TfrmProgramDevice::closeEvent(QCloseEvent* event) {
    if (Writing()) {
        FCloseWhenDone = true;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TfrmProgramDevice::CardRead(const TCardOnAdapter& card) {
    if (card.FamilyCode != MemoryKeyFamily) {
        // The poller looks again once the box is closed: a key left there brings it back.
        MessageBoxes::ShowError(
            this, FormatText(_("This type (%s) cannot be programmed"), {card.FamilyType}));
        return;
    }
    ProgramKey(card);
}

void TfrmProgramDevice::ReaderFailed() {
    // Stalled: the adapter itself is in trouble, and the poller does not look again. The error
    // was shown; a close asked for meanwhile happens now.
    cmdReadKey->setEnabled(true);
    if (FCloseWhenDone && isVisible())
        QDialog::reject();
}

void TfrmProgramDevice::ProgramKey(const TCardOnAdapter& key) {
    lblStatusText->setText(_("Please hold..."));
    lblFamily->setText(FormatText(_("Family: %s"), {key.FamilyType}));
    lblROM->setText(FormatText(_("ROM code: %s"), {key.Number}));
    lblFamily->show();
    lblROM->show();
    // Painted now, before the database is asked for the cards.
    repaint();

    // A bad code, bad card, too many cards or an unanswered query stalls the dialog before a
    // single page is written: the same key would only fail the same way again.
    FPoller->Stop();
    if (!Controller)
        return;
    // From the database as it is now: the list's record may be older than another workstation's
    // change.
    TMyDBConnector& database = FSession.Database();
    const TKeyImageSource source = ReadKeyImageSource(database, Controller->ConID);
    if (source.Outcome == TKeyImageSource::Gone) {
        MessageBoxes::ShowError(this,
                                _("This controller is no longer in the database (deleted on "
                                  "another workstation?), so nothing was written to the key."));
        return;
    }
    if (source.Outcome != TKeyImageSource::Read) {
        MessageBoxes::ShowError(
            this, FormatText(_("The cards of this controller could not be read from the database, "
                               "so nothing was written to the key:\n%s"),
                             {database.GetLastError()}));
        return;
    }
    const TKeyImageInput& input = source.Input;
    FBuiltMark = source.Mark;
    const QString problem = KeyImageProblem(input);
    if (!problem.isEmpty()) {
        MessageBoxes::ShowError(this, problem);
        return;
    }

    const TKeyImage image = BuildKeyImage(input);
    FWriteEntry = KeyWrittenEntry(Controller->ConID, Controller->ConName, input, image);
    ProgressBar->setRange(0, KeyPageCount + 1);
    ProgressBar->setValue(0);
    cmdReadKey->setEnabled(false);
    FPoller->RunJob(KeyWriteJob(image, key.Number));
}

void TfrmProgramDevice::KeyWritten(int result) {
    cmdReadKey->setEnabled(true);
    if (static_cast<TKeyWriteResult>(result) != TKeyWriteResult::Written) {
        MessageBoxes::ShowError(this, _("Write operation failed!"));
        BackToWaiting();
        if (FCloseWhenDone && isVisible())
            QDialog::reject();
        return;
    }
    lblStatusText->setText(_("Operation finished"));
    switch (FSession.KeyWritten(*Controller, FBuiltMark, FWriteEntry)) {
    case TMarkClear::Cleared:
        MessageBoxes::ShowInformation(this, _("Operation finished"));
        break;
    case TMarkClear::Gone:
        MessageBoxes::ShowWarning(
            this, _("The key was written, but this controller was deleted on another workstation "
                    "while it was being written: no controller of this site uses the key any "
                    "more."));
        break;
    case TMarkClear::Unknown:
        MessageBoxes::ShowWarning(
            this, FormatText(_("The key was written, but whether the database took note of it is "
                               "not known: %s The controller stays marked until the list has "
                               "read the marks again."),
                             {FSession.Database().GetLastError()}));
        break;
    case TMarkClear::ChangedSince:
        MessageBoxes::ShowWarning(
            this, _("The key was written, but this controller was changed on another workstation "
                    "while it was being written: the key just written is already out of date. The "
                    "controller stays marked; write its key again."));
        break;
    case TMarkClear::Failed:
        // The key is good, but the records still say it must be written: nothing is lost by
        // writing it once more, while a key taken for written that is not would be.
        MessageBoxes::ShowError(
            this, FormatText(_("The key was written and verified, but the mark of this controller "
                               "could not be cleared: %s\nThe controller stays marked; write its "
                               "key again once the database answers."),
                             {FSession.Database().GetLastError()}));
        break;
    }
    accept();
}

void TfrmProgramDevice::BackToWaiting() {
    lblStatusText->setText(_(SupplyKeyText));
    lblFamily->hide();
    lblROM->hide();
    ProgressBar->setValue(0);
    FPoller->Start();
}
