#include "db/changewatch.h"

TChangeWatch::TChangeWatch(QObject* parent) : QObject(parent) {
    FSettle.setSingleShot(true);
    FSettle.setInterval(0);
    connect(&FSettle, &QTimer::timeout, this, &TChangeWatch::Tell);
}

TChangeWatch::~TChangeWatch() = default;

bool TChangeWatch::Touches(const QStringList& tables, const QStringList& wanted) {
    if (tables.isEmpty())
        return true;
    for (const QString& table : wanted)
        if (tables.contains(table))
            return true;
    return false;
}

void TChangeWatch::Noticed(const QStringList& tables, const TChangedCards& cards) {
    if (tables.isEmpty())
        FAnyTable = true;
    FCards.Add(tables.isEmpty() ? TChangedCards() : cards);
    for (const QString& table : tables)
        FTables.insert(table.toLower());
    // The first news of a burst starts the wait; what follows joins it rather than pushing the
    // news further away, so a steady stream of changes is still told at the settle rate.
    if (!FSettle.isActive())
        FSettle.start();
}

void TChangeWatch::Tell() {
    QStringList tables;
    if (!FAnyTable) {
        tables = FTables.values();
        tables.sort();
    }
    const TChangedCards cards = FCards;
    FTables.clear();
    FAnyTable = false;
    FCards = TChangedCards::None();
    emit Changed(tables, cards);
}
