#include "cardholders/cardident.h"

#include "cardholders/cardholder.h"
#include "cardholders/cardnumber.h"
#include "cardholders/cardnumberedit.h"
#include "db/MyDBConnector.h"
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
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TfrmCardIdent::TfrmCardIdent(TDesktop& desktop, TProfileSession& session,
                             const TRunSettings& settings, QWidget* parent)
    : QDialog(parent), FDesktop(desktop), FSession(session), FSettings(settings) {
    setObjectName("frmCardIdent");
    setWindowTitle(N_("Card identification"));
    ShowOnlyCloseButton(this);

    const TTitleBand band =
        NewTitleBand(this, N_("Card identification"), N_("This option lets you identify a card"));
    pnlTop = band.Panel;
    lblTitle = band.Title;
    lblSubTitle = band.SubTitle;
    Label1 = NewLabel("Label1", N_("Present a card or supply the cardnumber below:"), this);
    QHBoxLayout* number = BuildNumberRow();
    QHBoxLayout* database = BuildDatabaseRow();
    QGroupBox* cardInfo = BuildCardInfoGroup();
    QHBoxLayout* buttons = BuildButtonRow();
    auto* body = new QVBoxLayout;
    body->addWidget(Label1);
    body->addLayout(number);
    body->addLayout(database);
    body->addWidget(cardInfo);
    body->addStretch();
    body->addLayout(buttons);
    StackBelowBand(this, pnlTop, body);

    FormCreate();
    resize(sizeHint().expandedTo(QSize(539, 215)));
}

QHBoxLayout* TfrmCardIdent::BuildNumberRow() {
    lblCardnum = NewLabel("lblCardnum", N_("Card number:"), this);
    txtCardnum = NewEdit("txtCardnum", this);
    MakeCardNumberEdit(txtCardnum, FDesktop);
    txtCardnum->setFixedWidth(110);
    cmdIdent = NewButton("cmdIdent", N_("Go"), this);
    cmdIdent->setDefault(true);
    chkReverse = Named(new QCheckBox(N_("Reverse"), this), "chkReverse");
    connect(cmdIdent, &QPushButton::clicked, this, [this] { cmdIdentClick(); });

    auto* row = new QHBoxLayout;
    row->addWidget(lblCardnum);
    row->addWidget(txtCardnum);
    row->addWidget(cmdIdent);
    row->addWidget(chkReverse);
    row->addStretch();
    return row;
}

QHBoxLayout* TfrmCardIdent::BuildDatabaseRow() {
    lblDatabase = NewLabel("lblDatabase", N_("Database:"), this);
    lblDatabaseVal = BoldLabel("lblDatabaseVal", QString(), this);
    lblDatabaseVal->setProperty("vyrNoTranslate", true);
    auto* row = new QHBoxLayout;
    row->addWidget(lblDatabase);
    row->addWidget(lblDatabaseVal, 1);
    return row;
}

QGroupBox* TfrmCardIdent::BuildCardInfoGroup() {
    grpCardInfo = Named(new QGroupBox(N_("Card information"), this), "grpCardInfo");
    Label2 = NewLabel("Label2", N_("Card:"), grpCardInfo);
    lblCard = NewLabel("lblCard", QString(), grpCardInfo);
    lblCard->setProperty("vyrNoTranslate", true);
    // Shows "Name: %s" filled in with the holder's name after each lookup that finds one.
    lblName = NewLabel("lblName", QString(), grpCardInfo);
    lblName->setProperty("vyrNoTranslate", true);
    auto* info = new QGridLayout(grpCardInfo);
    info->addWidget(Label2, 0, 0);
    info->addWidget(lblCard, 0, 1);
    info->addWidget(lblName, 1, 0, 1, 2);
    info->setColumnStretch(1, 1);
    grpCardInfo->hide();
    return grpCardInfo;
}

QHBoxLayout* TfrmCardIdent::BuildButtonRow() {
    cmdEdit = NewButton("cmdEdit", N_("Edit..."), this);
    cmdEdit->hide();
    cmdClose = NewButton("cmdClose", N_("Close window"), this);
    connect(cmdEdit, &QPushButton::clicked, this, [this] { cmdEditClick(); });
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::reject);
    return RightAlignedRow({cmdEdit, cmdClose});
}

TfrmCardIdent::~TfrmCardIdent() = default;

void TfrmCardIdent::FormCreate() {
    TranslateWindow(this);
    CloseByEdit = false;
    chkReverse->setChecked(ReadReverseOption());
    // Without a reader typed numbers still work; nothing polls.
    FPoller = OpenCardPoller(this, FSettings);
    if (!FPoller)
        return;
    connect(FPoller, &TCardPollerLink::CardRead, this,
            [this](const TCardOnAdapter& card) { CardRead(card.Number); });
    FPoller->Start();
}

void TfrmCardIdent::CardRead(const QString& number) {
    // A card that stays on the reader is looked up once, not at every look.
    if (number == txtCardnum->text())
        return;
    FDesktop.Beep();
    txtCardnum->setText(number);
    // The reader's number is the card's own: Reverse is for numbers copied by hand, so a card
    // from the reader is looked up as read and the setting is left alone.
    lblDatabaseVal->clear();
    grpCardInfo->hide();
    cmdEdit->hide();
    ShowLookup(number);
}

void TfrmCardIdent::cmdIdentClick() {
    lblDatabaseVal->clear();
    grpCardInfo->hide();
    cmdEdit->hide();
    const TTypedCardNumber typed =
        NormaliseTypedNumber(txtCardnum->text(), chkReverse->isChecked());
    if (!typed.Accepted) {
        MessageBoxes::ShowInformation(this, _("A valid card number consists of 10 characters"));
        return;
    }
    txtCardnum->setText(typed.FieldText);
    if (const QString problem = WriteReverseOption(chkReverse->isChecked()); !problem.isEmpty())
        MessageBoxes::ShowWarning(this, problem);
    ShowLookup(typed.Number);
}

void TfrmCardIdent::ShowLookup(const QString& number) {
    const TCardLookup lookup = LookUpCardNumber(&FSession.Database(), number);
    if (lookup.Answered) {
        lblCard->setText(number);
        if (lookup.Found) {
            lblDatabaseVal->setText(_("Found!"));
            lblName->setText(FormatText(_("Name: %s"), {lookup.CardHolder}));
            grpCardInfo->show();
            cmdEdit->show();
        } else {
            lblDatabaseVal->setText(_("Not found!"));
        }
    } else {
        lblDatabaseVal->setText(_("Not found!"));
    }
}

void TfrmCardIdent::cmdEditClick() {
    // One reader at a time: the cardholder dialog makes its own. This one's session ends on the
    // adapter thread before the next one's begins there.
    delete FPoller;
    FPoller = nullptr;
    {
        TfrmCardHolder dialog(FDesktop, FSession, FSettings, this);
        dialog.LoadCard(lblCard->text());
        dialog.exec();
    }
    CloseByEdit = true;
    reject();
}
