#pragma once

#include "db/statement.h"

#include <QMetaType>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

// Which cardholders a change of the site concerned, so that a list of tens of thousands reads
// again only the cards another workstation touched instead of all of them.
struct TChangedCards {
    // False: any card may have changed, and only reading everything again is safe.
    bool Known = false;
    // The card numbers as the changing statements wrote them (their letter case may differ from
    // the stored rows').
    QSet<QString> Numbers;

    static TChangedCards None() { return {true, {}}; }
    // Both changes together: unknown when either is.
    void Add(const TChangedCards& other);
};
Q_DECLARE_METATYPE(TChangedCards)

// The most cards one notice names; a change of more is told as "any card".
constexpr int MaxNamedCards = 100;

// The numbers of the cards whose rows in CardHolders or CardZones `statement` may have changed:
// an empty list for a statement on another table, nothing when it may have changed rows of other
// cards too (one over all cards or over a controller, or a form this reading does not know).
// A number outside ASCII counts as unknown: the engines fold its letter case differently, so its
// rows could not be found again by it alike.
std::optional<QStringList> ChangedCardNumbers(const TMyStatement& statement);

// The text a notice of a change carries: the tables it changed (lower case, comma-separated) and,
// when the cards are known, each changed card as an item of its own. A reader that only knows
// tables takes the card items for tables it does not care about.
QString ChangeNoticeText(const QStringList& tables, const TChangedCards& cards);

struct TChangeNotice {
    QStringList Tables; // empty: any table
    TChangedCards Cards;
};
// Reads a notice's text back. A notice about cardholders or their zones that names no card (as
// an older program sends it) leaves the cards unknown.
TChangeNotice ReadChangeNotice(const QString& text);

// What a connection changed since it last told the others: the tables, and the cards as long as
// every statement named them.
class TNoticeDraft {
public:
    // `statement` changed rows of `table` (lower case).
    void Note(const QString& table, const TMyStatement& statement);
    bool isEmpty() const { return FTables.isEmpty(); }
    void clear();
    // The notice's text (ChangeNoticeText).
    QString Text() const;

private:
    QSet<QString> FTables;
    TChangedCards FCards = TChangedCards::None();
};
