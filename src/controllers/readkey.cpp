#include "controllers/readkey.h"

#include "controllers/admitslist.h"
#include "controllers/keycontents.h"
#include "controllers/keyreader.h"
#include "controllers/keyreport.h"
#include "db/MyDBConnector.h"
#include "profiles/profilesession.h"
#include "reader/adapternews.h"
#include "reader/cardpoller.h"
#include "shared/messagebox.h"
#include "shared/publictypes.h"
#include "shared/translation.h"
#include "shared/windowparts.h"
#include "shared/windowtranslation.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

const char* const LayKeyText = N_("Lay a memory key on the adapter to read it");

QString Hex(uint8_t byte) {
    return QString::number(byte, 16).rightJustified(2, u'0').toUpper();
}

// A label whose text comes from the key: set after the translation, in the operator's language.
QLabel* DataLabel(const char* objectName, QWidget* parent) {
    auto* label = Named(new QLabel(parent), objectName);
    label->setProperty("vyrNoTranslate", true);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    return label;
}

QTreeWidget* NewList(const char* objectName, const QStringList& columns, QWidget* parent) {
    auto* list = Named(new QTreeWidget(parent), objectName);
    list->setHeaderLabels(columns);
    list->setRootIsDecorated(false);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setFocusPolicy(Qt::StrongFocus);
    list->header()->setSectionsMovable(false);
    return list;
}

// A label that names the list below it; its letter moves the focus there.
QLabel* ListLabel(const char* objectName, const char* text, QWidget* list, QWidget* parent) {
    QLabel* label = NewLabel(objectName, text, parent);
    label->setBuddy(list);
    return label;
}

QString CardsText(const QList<TSiteCard>& cards) {
    if (cards.isEmpty())
        return _("no card of this site");
    QStringList texts;
    for (const TSiteCard& card : cards)
        texts << card.CardNumber + " " + HolderText(card);
    return texts.join("; ");
}

QString ControllerNames(const QList<const TStandController*>& controllers) {
    QStringList names;
    for (const TStandController* controller : controllers)
        names << controller->ConName;
    return names.join(", ");
}

QString ChangeText(const TKeyEntryChange& change) {
    const QString from = QString::number(change.OnKey);
    const QString to = QString::number(change.InDatabase);
    if (change.OnKey == 0)
        return FormatText(_("%s added in zone %s"), {change.Entry, to});
    if (change.InDatabase == 0)
        return FormatText(_("%s removed from zone %s"), {change.Entry, from});
    return FormatText(_("%s moved from zone %s to zone %s"), {change.Entry, from, to});
}

} // namespace

TfrmReadKey::TfrmReadKey(TProfileSession& session, const TRunSettings& settings,
                         TCardPollerLink* borrowedPoller, QWidget* parent)
    : QDialog(parent), FSession(session), FSettings(settings), FPoller(borrowedPoller),
      FRead(std::make_shared<TKeyRead>()) {
    setObjectName("frmReadKey");
    setWindowTitle(N_("Read key"));
    ShowOnlyCloseButton(this);

    const TTitleBand band = NewTitleBand(this, N_("Read key"),
                                         N_("Which controller a memory key is for and whom it "
                                            "lets in"));
    auto* body = new QVBoxLayout;
    body->addLayout(BuildKeyRows());
    body->addLayout(BuildLists(), 1);
    body->addLayout(BuildButtonRow());
    BandOverBody(this, band.Panel, body, {12, 8, 12, 0}, 8);

    FormCreate();
    resize(sizeHint().expandedTo(QSize(640, 560)));
}

TfrmReadKey::~TfrmReadKey() = default;

QLayout* TfrmReadKey::BuildKeyRows() {
    lblStatusText = BoldLabel("lblStatusText", LayKeyText, this, 1.2);
    lblStatusText->setProperty("vyrNoTranslate", true);
    lblKey = DataLabel("lblKey", this);
    lblController = DataLabel("lblController", this);
    lblMatch = DataLabel("lblMatch", this);
    auto* rows = new QVBoxLayout;
    for (QLabel* label : {lblStatusText, lblKey, lblController, lblMatch})
        rows->addWidget(label);
    return rows;
}

QLayout* TfrmReadKey::BuildLists() {
    lstEntries = NewList("lstEntries", {N_("Zone"), N_("Entry"), N_("Cards that begin so")}, this);
    lblEntries = ListLabel("lblEntries", N_("&Entries on the key:"), lstEntries, this);
    lstDifferences = NewList("lstDifferences", {N_("Difference"), N_("Cards")}, this);
    lblDifferences =
        ListLabel("lblDifferences", N_("D&ifferences from the database:"), lstDifferences, this);
    lstAdmits = NewAdmitsList("lstAdmits", false, this);
    lblAdmits = ListLabel("lblAdmits", N_("&Admitted without access there:"), lstAdmits, this);
    auto* lists = new QVBoxLayout;
    for (auto [label, list] : {std::pair<QLabel*, QTreeWidget*>{lblEntries, lstEntries},
                               {lblDifferences, lstDifferences},
                               {lblAdmits, lstAdmits}}) {
        lists->addWidget(label);
        lists->addWidget(list, 1);
    }
    return lists;
}

QHBoxLayout* TfrmReadKey::BuildButtonRow() {
    cmdReadAgain = NewButton("cmdReadAgain", N_("&Read again"), this);
    cmdReadAgain->setEnabled(false);
    cmdClose = NewButton("cmdClose", N_("&Close"), this);
    connect(cmdReadAgain, &QPushButton::clicked, this, [this] { Wait(); });
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::reject);
    return RightAlignedRow({cmdReadAgain, cmdClose});
}

void TfrmReadKey::FormCreate() {
    TranslateWindow(this);
    // The list names follow the operator's language.
    for (auto [label, list] : {std::pair<QLabel*, QTreeWidget*>{lblEntries, lstEntries},
                               {lblDifferences, lstDifferences},
                               {lblAdmits, lstAdmits}})
        list->setAccessibleName(QString(label->text()).remove(u'&'));
    lblStatusText->setText(_(LayKeyText));
    if (!FPoller)
        FPoller = OpenCardPoller(this, FSettings);
    if (!FPoller)
        return;
    connect(FPoller, &TCardPollerLink::CardRead, this, &TfrmReadKey::CardRead);
    connect(FPoller, &TCardPollerLink::JobDone, this, &TfrmReadKey::KeyRead);
    connect(FPoller, &TCardPollerLink::ReaderFailed, this, &TfrmReadKey::ReaderFailed);
    Wait();
}

void TfrmReadKey::Wait() {
    if (!FPoller || FPoller->ReaderFailedOnce())
        return;
    cmdReadAgain->setEnabled(false);
    lblStatusText->setText(_(LayKeyText));
    FPoller->Start();
}

void TfrmReadKey::CardRead(const TCardOnAdapter& card) {
    if (card.FamilyCode != MemoryKeyFamily) {
        FPoller->Stop();
        NothingShown(FormatText(_("The device on the adapter (%s) is not a memory key."),
                                {card.FamilyType}));
        return;
    }
    lblStatusText->setText(_("Reading the key..."));
    FPoller->RunJob(KeyReadJob(FRead, card));
}

void TfrmReadKey::ReaderFailed() {
    // The error was shown; this reader is not asked again.
    cmdReadAgain->setEnabled(false);
    lblStatusText->setText(_("The adapter failed; nothing was read."));
}

void TfrmReadKey::NothingShown(const QString& status) {
    for (QLabel* label : {lblKey, lblController, lblMatch})
        label->clear();
    for (QTreeWidget* list : {lstEntries, lstDifferences, lstAdmits})
        list->clear();
    lblStatusText->setText(status);
    cmdReadAgain->setEnabled(true);
    MessageBoxes::ShowError(this, status);
}

void TfrmReadKey::KeyRead(int result) {
    const TKeyRead read = *FRead;
    switch (static_cast<TKeyReadResult>(result)) {
    case TKeyReadResult::Lifted:
        NothingShown(_("The key was taken away while it was read. Lay it on again and read it "
                       "again."));
        return;
    case TKeyReadResult::OtherFamily:
        NothingShown(FormatText(_("The device on the adapter (%s) is not a memory key."),
                                {read.FamilyType}));
        return;
    case TKeyReadResult::Read:
        break;
    }
    const TDecodedKey key = DecodeKeyImage(read.Image);
    switch (key.State) {
    case TKeyImageState::Blank:
        NothingShown(_("This memory key is blank: no controller's list was ever written to it."));
        return;
    case TKeyImageState::BadCrc:
        NothingShown(_("This memory key's contents are damaged: its check byte does not match. "
                       "A controller refuses such a key; program it again."));
        return;
    case TKeyImageState::NoAccessList:
        NothingShown(_("This memory key holds no controller's access list."));
        return;
    case TKeyImageState::Valid:
        break;
    }
    const std::optional<TKeyReport> report =
        MakeKeyReport(FSession.Database(), FSession.Controllers(), key);
    if (!report) {
        NothingShown(FormatText(_("The database did not answer:\n%s"),
                                {FSession.Database().GetLastError()}));
        return;
    }
    lblKey->setText(FormatText(_("Memory key %s: controller code %s, option bytes %s and %s."),
                               {read.Number, key.ConCode, Hex(key.ConByte1), Hex(key.ConByte2)}));
    ShowReport(*report);
    lblStatusText->setText(_("Key read"));
    cmdReadAgain->setEnabled(true);
}

void TfrmReadKey::ShowReport(const TKeyReport& report) {
    if (report.Owners.isEmpty())
        lblController->setText(FormatText(
            _("The code %s is none of this site's controllers: this key is for another site."),
            {report.Key.ConCode}));
    else if (report.Owners.size() == 1)
        lblController->setText(
            FormatText(_("This key is for the controller %s."), {report.Owner->ConName}));
    else
        lblController->setText(
            FormatText(_("This key is for the controller %s (the controllers %s share its code)."),
                       {report.Owner->ConName, ControllerNames(report.Owners)}));

    lstEntries->clear();
    for (const TKeyReport::TEntryCards& entry : report.Entries)
        new QTreeWidgetItem(lstEntries,
                            {QString::number(entry.Zone), entry.Entry, CardsText(entry.Cards)});

    lstDifferences->clear();
    if (!report.Owner)
        lblMatch->setText(_("Not compared: no controller of this site has this code."));
    else if (!report.Comparison)
        lblMatch->setText(_("Not compared: the database cannot give this controller a key now "
                            "(a card number that does not begin with four hexadecimal "
                            "characters, or more cards than a key holds)."));
    else if (report.Comparison->Matches())
        lblMatch->setText(_("The key matches what the database gives this controller now."));
    else {
        lblMatch->setText(_("The key is out of date: the database gives this controller another "
                            "list now."));
        const TKeyComparison& comparison = *report.Comparison;
        const TDecodedKey& key = report.Key;
        const TStandController& owner = *report.Owner;
        if (comparison.CodeDiffers)
            new QTreeWidgetItem(lstDifferences,
                                {FormatText(_("Controller code %s on the key, %s in the database"),
                                            {key.ConCode, owner.ConCode.toUpper()}),
                                 QString()});
        if (comparison.ConByte1Differs)
            new QTreeWidgetItem(lstDifferences,
                                {FormatText(_("Option byte 1: %s on the key, %s in the database"),
                                            {Hex(key.ConByte1), Hex(owner.ConByte1)}),
                                 QString()});
        if (comparison.ConByte2Differs)
            new QTreeWidgetItem(lstDifferences,
                                {FormatText(_("Option byte 2 (relay time): %s on the key, %s in "
                                              "the database"),
                                            {Hex(key.ConByte2), Hex(owner.ConByte2)}),
                                 QString()});
        for (const TKeyEntryChange& change : comparison.Changes) {
            new QTreeWidgetItem(
                lstDifferences,
                {ChangeText(change), CardsText(CardsOfEntry(change.Entry, report.Cards))});
        }
    }
    ShowAdmits(lstAdmits, report.Admits);
    for (QTreeWidget* list : {lstEntries, lstDifferences})
        for (int column = 0; column < list->columnCount(); ++column)
            list->resizeColumnToContents(column);
}
