#pragma once

#include "db/statement.h"

#include <QByteArray>
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

// The channel a site's notices go on: the site's schema name after a fixed prefix, cut to the
// server's 63 bytes on a character boundary. Two schemas whose names agree in all that is kept
// share a channel, which costs their workstations a needless reading now and then, no more.
QByteArray SiteChannelName(const QString& schema);

// The text a notice of a change carries: the tables it changed (lower case, comma-separated). The
// server adds where the journal entries of the change are (see TNoticeDraft::CardsInJournal); the
// records themselves never go into a notice, which any role that may connect can listen to, or
// send.
QString ChangeNoticeText(const QStringList& tables);

struct TChangeNotice {
    QStringList Tables; // empty: any table
    // Unknown when the notice concerns cardholders or their zones: only the journal can tell which
    // (CardsInJournal), read with the reader's own rights.
    TChangedCards Cards;
    // The stretch of journal entries that the changes wrote; 0 when the notice names none.
    qint64 JournalFrom = 0;
    qint64 JournalTo = 0;
    // The cards are worth reading from the journal: they are unknown, and the notice names a
    // stretch of entries short enough to read.
    bool CardsInJournal() const;
};
// Reads a notice's text back. Whatever it claims costs its reader at most a reading of the lists.
TChangeNotice ReadChangeNotice(const QString& text);

// The cards that the journal entries of a notice name (their CardNumber and OldCardNumber, empty
// for none): unknown when there are too many to read one by one, or when one is outside ASCII.
TChangedCards CardsOfJournalEntries(const QStringList& numbers);

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
    // True when the journal entries written with the changes name every card the changes touched,
    // so that the notice may point its readers to those entries instead of to all cards.
    bool CardsInJournal() const;

private:
    QSet<QString> FTables;
    TChangedCards FCards = TChangedCards::None();
    // The cards the journal entries name, upper case, while every entry's could be read.
    QSet<QString> FJournalCards;
    bool FJournalNamesAll = true;
};
