#include "controllers/admitslist.h"

#include "db/MyDBConnector.h"
#include "shared/publictypes.h"
#include "shared/translation.h"
#include "shared/windowparts.h"

#include <QHeaderView>
#include <QLabel>
#include <QStatusBar>
#include <QTreeWidget>
#include <QVBoxLayout>

QTreeWidget* NewAdmitsList(const char* objectName, bool withThrough, QWidget* parent) {
    QStringList columns = {N_("Card number"), N_("Cardholder"), N_("Zone")};
    if (withThrough)
        columns << N_("Begins like");
    return NewRowList(objectName, columns, parent);
}

QString ZonesText(const QList<int>& zones) {
    QStringList texts;
    for (int zone : zones)
        texts << QString::number(zone);
    return texts.join(", ");
}

QString HolderText(const TSiteCard& card) {
    return card.Deleted ? FormatText(_("%s (deleted)"), {card.CardHolder}) : card.CardHolder;
}

void ShowAdmits(QTreeWidget* list, const QList<TAccidentalAdmit>& admits) {
    list->clear();
    const bool withThrough = list->columnCount() > 3;
    for (const TAccidentalAdmit& admit : admits) {
        QStringList texts = {admit.Card.CardNumber, HolderText(admit.Card), ZonesText(admit.Zones)};
        if (withThrough)
            texts << admit.Through.join(", ");
        new QTreeWidgetItem(list, texts);
    }
    for (int column = 0; column < list->columnCount(); ++column)
        list->resizeColumnToContents(column);
}

QWidget* NewControllerAdmitsPart(QWidget* parent) {
    auto* part = Named(new QWidget(parent), "pnlAdmits");
    QTreeWidget* list = NewAdmitsList("lstAdmits", true, part);
    QLabel* label = NewLabel("lblAdmits", N_("&Admitted without access here:"), part);
    label->setBuddy(list);
    auto* layout = new QVBoxLayout(part);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label);
    layout->addWidget(list);
    part->hide();
    return part;
}

void ShowControllerAdmits(QWidget* part, TMyDBConnector* database, int32_t conId) {
    auto* list = part->findChild<QTreeWidget*>("lstAdmits");
    auto* label = part->findChild<QLabel*>("lblAdmits");
    const std::optional<QList<TAccidentalAdmit>> admits =
        database ? ReadAccidentalAdmits(*database, conId) : std::nullopt;
    if (!list || !label || !admits) {
        part->hide();
        return;
    }
    label->setText(FormatText(TranslatePlural("&Admitted without access here (%d card, through "
                                              "the first four characters of a granted card):",
                                              "&Admitted without access here (%d cards, through "
                                              "the first four characters of a granted card):",
                                              admits->size()),
                              {QString::number(admits->size())}));
    list->setAccessibleName(QString(label->text()).remove(u'&'));
    ShowAdmits(list, *admits);
    part->show();
}

void ShowAdmitNote(QStatusBar* status, TMyDBConnector& database, const TStandController& controller,
                   const QString& cardNumber) {
    const QString note = ZoneChangeNote(database, controller, cardNumber);
    // A label of its own beside the status line's others, which stay in sight.
    auto* label = status->findChild<QLabel*>("StatusAdmitNote");
    if (!label) {
        if (note.isEmpty())
            return;
        label = Named(new QLabel(status), "StatusAdmitNote");
        label->setProperty("vyrNoTranslate", true);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        status->addWidget(label, 1);
    }
    label->setText(note);
    label->setToolTip(note);
    label->setVisible(!note.isEmpty());
}
