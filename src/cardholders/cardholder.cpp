#include "cardholders/cardholder.h"

#include "cardholders/cardholdermodel.h"
#include "cardholders/cardholdersave.h"
#include "cardholders/cardholdersheetprint.h"
#include "cardholders/cardnumber.h"
#include "cardholders/cardnumberedit.h"
#include "db/MyDBConnector.h"
#include "db/sitewriter.h"
#include "journal/history.h"
#include "profiles/profilesession.h"
#include "reader/adapternews.h"
#include "reader/cardpoller.h"
#include "shared/desktop.h"
#include "shared/messagebox.h"
#include "shared/publictypes.h"
#include "shared/translation.h"
#include "shared/windowparts.h"
#include "shared/windowtranslation.h"

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// A picture button of the title band; its hint names it for screen readers too.
QPushButton* BandButton(const char* objectName, const char* hint, const QIcon& picture,
                        QWidget* band) {
    QPushButton* button = NewButton(objectName, QString(), band);
    button->setToolTip(hint);
    button->setIcon(picture);
    button->setIconSize(QSize(24, 24));
    button->setFlat(true);
    return button;
}

} // namespace

TfrmCardHolder::TfrmCardHolder(TDesktop& desktop, TProfileSession& session,
                               const TRunSettings& settings, QWidget* parent)
    : QDialog(parent), FDesktop(desktop), FSession(session), FSettings(settings) {
    setObjectName("frmCardHolder");
    setWindowTitle(N_("Cardholder"));
    ShowOnlyCloseButton(this);

    const TTitleBand band =
        NewTitleBand(this, N_("Cardholder properties"), N_("Add or edit cardholder"));
    pnlTop = band.Panel;
    lblTitle = band.Title;
    lblSubTitle = band.SubTitle;
    BuildSheetButtons(band.Row);
    QTabWidget* pages = BuildUserPage();
    QHBoxLayout* bottom = BuildTypedNumberRow();
    bottom->addLayout(BuildButtonRow());
    auto* body = new QVBoxLayout;
    body->addWidget(pages, 1);
    body->addLayout(bottom);
    StackBelowBand(this, pnlTop, body);

    FormCreate();
    setFixedSize(sizeHint().expandedTo(QSize(618, 318)));
}

void TfrmCardHolder::BuildSheetButtons(QHBoxLayout* bandRow) {
    cmdPrintList = BandButton("cmdPrintList", N_("Print"),
                              style()->standardIcon(QStyle::SP_FileDialogContentsView), pnlTop);
    bandRow->addWidget(cmdPrintList, 0, Qt::AlignTop);
    cmdSavePDF = BandButton("cmdSavePDF", N_("Save as PDF..."),
                            style()->standardIcon(QStyle::SP_DialogSaveButton), pnlTop);
    bandRow->addWidget(cmdSavePDF, 0, Qt::AlignTop);
    connect(cmdPrintList, &QPushButton::clicked, this, [this] { cmdPrintListClick(); });
    connect(cmdSavePDF, &QPushButton::clicked, this, [this] { cmdSavePDFClick(); });
}

QTabWidget* TfrmCardHolder::BuildUserPage() {
    PageControl = Named(new QTabWidget(this), "PageControl");
    tabCard = Named(new QWidget, "tabCard");
    PageControl->addTab(tabCard, N_("User"));
    QGridLayout* holder = BuildHolderFields();
    QGridLayout* card = BuildCardGroup();
    auto* page = new QHBoxLayout(tabCard);
    page->addLayout(holder, 3);
    page->addSpacing(16);
    page->addLayout(card, 2);
    return PageControl;
}

QGridLayout* TfrmCardHolder::BuildHolderFields() {
    lblCardHolderName = NewLabel("lblCardHolderName", N_("Name:"), tabCard);
    txtCardHolder = NewEdit("txtCardHolder", tabCard, CardTextLimit);
    // The captions come from the settings and are never translated.
    lblCustom1 = NewLabel("lblCustom1", "Custom 1:", tabCard);
    lblCustom2 = NewLabel("lblCustom2", "Custom 2:", tabCard);
    lblCustom3 = NewLabel("lblCustom3", "Custom 3:", tabCard);
    lblCustom4 = NewLabel("lblCustom4", "Custom 4:", tabCard);
    txtCustom1 = NewEdit("txtCustom1", tabCard, CardTextLimit);
    txtCustom2 = NewEdit("txtCustom2", tabCard, CardTextLimit);
    txtCustom3 = NewEdit("txtCustom3", tabCard, CardTextLimit);
    txtCustom4 = NewEdit("txtCustom4", tabCard, CardTextLimit);
    for (QLineEdit* text : {txtCardHolder, txtCustom1, txtCustom2, txtCustom3, txtCustom4})
        MakeCardTextEdit(text);

    auto* fields = new QGridLayout;
    fields->addWidget(lblCardHolderName, 0, 0);
    fields->addWidget(txtCardHolder, 0, 1);
    QLabel* captions[] = {lblCustom1, lblCustom2, lblCustom3, lblCustom4};
    QLineEdit* texts[] = {txtCustom1, txtCustom2, txtCustom3, txtCustom4};
    for (int i = 0; i < 4; ++i) {
        captions[i]->setProperty("vyrNoTranslate", true);
        fields->addWidget(captions[i], i + 1, 0);
        fields->addWidget(texts[i], i + 1, 1);
    }
    fields->setRowStretch(5, 1);
    return fields;
}

QGridLayout* TfrmCardHolder::BuildCardGroup() {
    lblCardNumber = NewLabel("lblCardNumber", N_("Card number:"), tabCard);
    lblCardNumberVal = BoldLabel("lblCardNumberVal", QString(), tabCard);
    lblCardStatus = NewLabel("lblCardStatus", N_("Card status:"), tabCard);
    lblCardStatusVal = NewLabel("lblCardStatusVal", QString(), tabCard);
    for (QLabel* data : {lblCardNumberVal, lblCardStatusVal})
        data->setProperty("vyrNoTranslate", true);
    cmdReplaceCard = NewButton("cmdReplaceCard", N_("Replace..."), tabCard);
    cmdReplaceCancel = NewButton("cmdReplaceCancel", N_("Cancel"), tabCard);
    cmdReplaceCard->hide();
    cmdReplaceCancel->hide();
    connect(cmdReplaceCard, &QPushButton::clicked, this, [this] { cmdReplaceCardClick(); });
    connect(cmdReplaceCancel, &QPushButton::clicked, this, [this] { cmdReplaceCancelClick(); });

    auto* card = new QGridLayout;
    card->addWidget(lblCardNumber, 0, 0);
    card->addWidget(lblCardNumberVal, 0, 1);
    card->addWidget(lblCardStatus, 1, 0);
    card->addWidget(lblCardStatusVal, 1, 1);
    // The two buttons share one place: only one of them is ever offered.
    card->addWidget(cmdReplaceCard, 2, 1, Qt::AlignLeft);
    card->addWidget(cmdReplaceCancel, 2, 1, Qt::AlignLeft);
    card->setRowStretch(3, 1);
    card->setColumnMinimumWidth(1, 150);
    return card;
}

QHBoxLayout* TfrmCardHolder::BuildTypedNumberRow() {
    lblCustomCardNumber = NewLabel("lblCustomCardNumber", N_("Custom cardnumber:"), this);
    txtCustomCardNumber = NewEdit("txtCustomCardNumber", this, CardNumberLength);
    MakeCardNumberEdit(txtCustomCardNumber, FDesktop);
    txtCustomCardNumber->setFixedWidth(110);
    cmdCustomNumberCheck = NewButton("cmdCustomNumberCheck", N_("Check..."), this);
    chkReverse = Named(new QCheckBox(N_("Reverse"), this), "chkReverse");
    connect(cmdCustomNumberCheck, &QPushButton::clicked, this,
            [this] { cmdCustomNumberCheckClick(); });

    auto* row = new QHBoxLayout;
    row->addWidget(lblCustomCardNumber);
    row->addWidget(txtCustomCardNumber);
    row->addWidget(cmdCustomNumberCheck);
    row->addWidget(chkReverse);
    return row;
}

QHBoxLayout* TfrmCardHolder::BuildButtonRow() {
    cmdHistory = NewButton("cmdHistory", N_("&History..."), this);
    cmdHistory->setAutoDefault(false);
    // A cardholder not yet saved has no history to show.
    cmdHistory->setEnabled(false);
    connect(cmdHistory, &QPushButton::clicked, this, [this] { cmdHistoryClick(); });
    // Said while the cardholder is being saved; Cancel closes the dialog meanwhile, and the save
    // goes on without it.
    lblSaving = NewLabel("lblSaving", N_("Saving..."), this);
    lblSaving->hide();
    cmdOK = NewButton("cmdOK", N_("OK"), this);
    cmdOK->setDefault(true);
    cmdCancel = NewButton("cmdCancel", N_("Cancel"), this);
    connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOKClick(); });
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    QHBoxLayout* row = RightAlignedRow({cmdHistory, cmdOK, cmdCancel});
    row->insertWidget(1, lblSaving);
    return row;
}

TfrmCardHolder::~TfrmCardHolder() = default;

void TfrmCardHolder::FormCreate() {
    TranslateWindow(this);
    // The picture buttons have no caption; screen readers announce their hint.
    for (QPushButton* pictureButton : {cmdPrintList, cmdSavePDF})
        pictureButton->setAccessibleName(pictureButton->toolTip());
    QLabel* customLabels[] = {lblCustom1, lblCustom2, lblCustom3, lblCustom4};
    for (int i = 0; i < 4; ++i)
        customLabels[i]->setText(CustomFieldCaption(i + 1) + ":");
    chkReverse->setChecked(ReadReverseOption());
    lblCardNumberVal->setText(_("Waiting for card"));
    UpdateOKButton();
    // Without a reader typed numbers still work; the dialog just never polls.
    FPoller = OpenCardPoller(this, FSettings);
    if (!FPoller)
        return;
    connect(FPoller, &TCardPollerLink::CardRead, this,
            [this](const TCardOnAdapter& card) { CardRead(card.Number); });
}

bool TfrmCardHolder::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate)
        FormActivate();
    return QDialog::event(event);
}

void TfrmCardHolder::FormActivate() {
    if (!CardEdit && FPoller)
        FPoller->Start();
}

void TfrmCardHolder::LoadCard(const QString& CardNumber) {
    lblCustomCardNumber->hide();
    txtCustomCardNumber->hide();
    cmdCustomNumberCheck->hide();
    chkReverse->hide();
    if (const std::optional<TCardHolder> record = LoadCardHolder(FSession.Database(), CardNumber)) {
        CardEdit = true;
        CardEditNumber = record->CardNumber;
        FLoaded = *record;
        lblCardNumberVal->setText(CardEditNumber);
        FNumberShown = true;
        lblCardStatusVal->setText("OK");
        cmdReplaceCard->show();
        cmdHistory->setEnabled(true);
        txtCardHolder->setText(record->CardHolder);
        txtCustom1->setText(record->CardCustom1);
        txtCustom2->setText(record->CardCustom2);
        txtCustom3->setText(record->CardCustom3);
        txtCustom4->setText(record->CardCustom4);
        if (FPoller)
            FPoller->Stop();
        UpdateOKButton();
    }
}

TCardHolder TfrmCardHolder::ShownCardHolder() const {
    TCardHolder record;
    record.CardNumber = lblCardNumberVal->text();
    record.CardHolder = CardText(txtCardHolder->text());
    record.CardCustom1 = CardText(txtCustom1->text());
    record.CardCustom2 = CardText(txtCustom2->text());
    record.CardCustom3 = CardText(txtCustom3->text());
    record.CardCustom4 = CardText(txtCustom4->text());
    return record;
}

void TfrmCardHolder::CardRead(const QString& number) {
    // A card that stays on the reader is taken once, not at every look.
    if (number == lblCardNumberVal->text())
        return;
    FDesktop.Beep();
    ShowCardNumber(number);
}

void TfrmCardHolder::ShowCardNumber(const QString& number) {
    lblCardNumberVal->setText(number);
    FNumberShown = true;
    UpdateOKButton();
    lblCardStatusVal->setText(_("Checking status..."));
    // Painted now, before the database is asked.
    lblCardStatusVal->repaint();
    if (CardNumberInDatabase(&FSession.Database(), lblCardNumberVal->text())) {
        ShowNumberTaken();
    } else {
        FNumberTaken = false;
        lblCardStatusVal->setText("OK"); // the same in every language
        cmdReplaceCancel->hide();
        UpdateOKButton();
    }
}

void TfrmCardHolder::UpdateOKButton() {
    // Nothing can be saved before there is a number to save it under, nor under another live
    // holder's number in place of this holder's card. A new cardholder may take a live holder's
    // number: saving asks first. An imported holder keeps a number of another length until the
    // card is replaced.
    const QString shown = lblCardNumberVal->text();
    const bool takenFromAnother =
        CardEdit && FNumberTaken && !SameCardNumber(shown, CardEditNumber);
    cmdOK->setEnabled(FNumberShown &&
                      SavableCardNumber(shown, CardEdit ? CardEditNumber : QString()) &&
                      !takenFromAnother && !FUnsettled && !FWrite);
    lblSaving->setVisible(FWrite != nullptr);
}

void TfrmCardHolder::cmdCustomNumberCheckClick() {
    const TTypedCardNumber typed =
        NormaliseTypedNumber(txtCustomCardNumber->text(), chkReverse->isChecked());
    if (!typed.Accepted)
        return;
    txtCustomCardNumber->setText(typed.FieldText);
    if (const QString problem = WriteReverseOption(chkReverse->isChecked()); !problem.isEmpty())
        MessageBoxes::ShowWarning(this, problem);
    ShowCardNumber(typed.Number);
}

void TfrmCardHolder::cmdReplaceCardClick() {
    lblCardStatusVal->setText(_("Waiting for card"));
    if (FPoller)
        FPoller->Start();
    cmdReplaceCancel->show();
    cmdReplaceCard->hide();
}

void TfrmCardHolder::cmdReplaceCancelClick() {
    lblCardNumberVal->setText(CardEditNumber);
    FNumberTaken = false;
    lblCardStatusVal->setText("OK");
    cmdReplaceCancel->hide();
    // Back to the loaded card as it was: a card presented now must not replace it again.
    if (FPoller)
        FPoller->Stop();
    cmdReplaceCard->show();
    UpdateOKButton();
}

void TfrmCardHolder::cmdOKClick() {
    if (!cmdOK->isEnabled())
        return;
    StartSave(ShownCardHolder(), std::nullopt);
}

void TfrmCardHolder::StartSave(const TCardHolder& record,
                               const std::optional<TCardHolder>& replacing) {
    auto write = std::make_shared<TCardHolderSaveWrite>();
    write->Record = record;
    if (CardEdit)
        write->Loaded = FLoaded;
    write->Replacing = replacing;
    write->Author = FSession.Author();
    StartWrite(write);
}

void TfrmCardHolder::StartWrite(const std::shared_ptr<TSiteWrite>& write) {
    TSiteWriter& writer = FSession.Writes();
    connect(&writer, &TSiteWriter::Written, this, &TfrmCardHolder::WriteEnded,
            Qt::UniqueConnection);
    FWrite = write;
    UpdateOKButton();
    writer.Start(write);
}

void TfrmCardHolder::WriteEnded(const std::shared_ptr<TSiteWrite>& write) {
    if (!write || write != FWrite)
        return;
    FWrite.reset();
    UpdateOKButton();
    if (const auto* save = dynamic_cast<const TCardHolderSaveWrite*>(write.get()))
        SaveEnded(*save);
    else if (const auto* readBack = dynamic_cast<const TCardHolderReadBackWrite*>(write.get()))
        ReadBack(*readBack);
}

void TfrmCardHolder::SaveEnded(const TCardHolderSaveWrite& write) {
    const TCardHolderSave& saved = write.Saved;
    const TCardHolder& record = write.Record;
    if (saved.Outcome == TCardHolderSave::Saved) {
        accept();
        return;
    }
    if (saved.Outcome == TCardHolderSave::Unknown) {
        SettleUnknownSave(record, saved.Error);
        return;
    }
    if (write.Loaded) {
        if (saved.Outcome == TCardHolderSave::ChangedElsewhere) {
            // What the operator typed is not saved over a change they have not seen: they may
            // load it and decide again.
            if (MessageBoxes::Confirm(
                    this, _("This cardholder was changed on another workstation after this window "
                            "opened it, so nothing was saved. Do you want to load the current "
                            "values? What you changed here is then lost."))) {
                LoadCard(CardEditNumber);
                cmdReplaceCancelClick();
            }
            return;
        }
        if (saved.Outcome == TCardHolderSave::Gone) {
            MessageBoxes::ShowInformation(
                this, _("This cardholder was deleted, or given another card, on another "
                        "workstation after this window opened it, so nothing was saved."));
            reject();
            return;
        }
        if (saved.Outcome == TCardHolderSave::NumberTaken) {
            // Typed, pasted or taken meanwhile: two live holders must never share one card.
            ShowNumberTaken();
            MessageBoxes::ShowError(
                this, FormatText(_("Card %s already belongs to %s. Choose another card."),
                                 {record.CardNumber, saved.TakenBy}));
            return;
        }
        ShowSaveFailure(saved);
        return;
    }
    if (saved.Outcome == TCardHolderSave::NumberTaken && !write.Replacing) {
        if (MessageBoxes::Confirm(this,
                                  FormatText(_("Card %s belongs to %s. Do you want to replace that "
                                               "cardholder with this one?"),
                                             {record.CardNumber, saved.TakenBy})))
            // The answer is about the cardholder the question named, and about no one else.
            StartSave(record, saved.Taken);
        return;
    }
    if (saved.Outcome == TCardHolderSave::HolderChanged) {
        MessageBoxes::ShowError(
            this, FormatText(_("Card %s was given to %s, or its cardholder changed, on another "
                               "workstation after you agreed to the replacement, so nothing was "
                               "saved. Press OK again to decide about its cardholder as they are "
                               "now."),
                             {record.CardNumber, saved.TakenBy}));
        return;
    }
    ShowSaveFailure(saved);
}

void TfrmCardHolder::SettleUnknownSave(const TCardHolder& record, const QString& error) {
    FUnsettled = record;
    UpdateOKButton();
    MessageBoxes::ShowWarning(
        this, FormatText(_("Whether the cardholder was saved is not known: %s The program "
                           "connects again and reads the cardholder back; then this window "
                           "closes if it was saved, or stays open for another try."),
                         {error}));
    StartReadBack();
}

void TfrmCardHolder::StartReadBack() {
    if (!FUnsettled || FWrite)
        return;
    // Through the writer, whose connection met the lost commit: it connects again by itself.
    auto write = std::make_shared<TCardHolderReadBackWrite>();
    write->Record = *FUnsettled;
    StartWrite(write);
}

void TfrmCardHolder::ReadBack(const TCardHolderReadBackWrite& write) {
    if (!FUnsettled)
        return;
    if (write.Stored == TStoredCheck::Failed) {
        // Nothing is known yet: another try at reading, a little later, while Cancel stays free.
        MessageBoxes::ShowError(
            this, FormatText(_("The cardholder could not be read back yet: %s"), {write.Error}));
        QTimer::singleShot(2000, this, [this] { StartReadBack(); });
        return;
    }
    const TCardHolder record = *FUnsettled;
    FUnsettled.reset();
    UpdateOKButton();
    if (write.Stored == TStoredCheck::Saved) {
        MessageBoxes::ShowInformation(this, _("The cardholder was saved."));
        accept();
        return;
    }
    MessageBoxes::ShowInformation(this, _("The cardholder was not saved. Check what you typed "
                                          "and press OK to save it again."));
    // What is stored under the number may have changed meanwhile: the status says so.
    ShowCardNumber(record.CardNumber);
}

void TfrmCardHolder::ShowSaveFailure(const TCardHolderSave& saved) {
    // The database's own words, where it gave any: they are what tells a full disk from a lost
    // connection or a missing right.
    MessageBoxes::ShowError(
        this, saved.Outcome == TCardHolderSave::Failed && !saved.Error.isEmpty()
                  ? FormatText(_("Got an error while adding the card to the database!\n%s"),
                               {saved.Error})
                  : _("Got an error while adding the card to the database!"));
}

void TfrmCardHolder::ShowNumberTaken() {
    lblCardStatusVal->setText(_("Card already in database"));
    FNumberTaken = true;
    UpdateOKButton();
}

void TfrmCardHolder::cmdHistoryClick() {
    // The loaded card, not one being presented as its replacement: the history follows the holder
    // back through the cards they had before.
    ShowCardHolderHistory(this, FSession.Database(), FDesktop, CardEditNumber, FLoaded.CardHolder);
}

void TfrmCardHolder::cmdPrintListClick() {
    PrintCardHolderSheet(this, FDesktop);
}

void TfrmCardHolder::cmdSavePDFClick() {
    SaveCardHolderSheetAsPdf(this, FDesktop);
}
