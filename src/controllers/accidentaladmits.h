#pragma once

#include "controllers/keycontents.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

class TMyDBConnector;
class TStandController;

// A key holds only the first four characters of each granted card, so a controller admits every
// card that begins like a granted one. The cards it admits that way without being granted there
// are what the operator must see: they include the cards of deleted holders and cards granted at
// other controllers only. Letter case does not matter (the key holds bytes, not characters), and
// a card whose first four characters are not hexadecimal can never be admitted or granted on a
// key.

// A card of the site: every row of the cardholders, deleted holders included.
struct TSiteCard {
    QString CardNumber;
    QString CardHolder;
    bool Deleted = false;
    friend bool operator==(const TSiteCard&, const TSiteCard&) = default;
};

// A card's zone at one controller (1 or 2; 0 gives no access).
struct TCardGrant {
    QString CardNumber;
    int Zone = 0;
};

// A card admitted without being granted.
struct TAccidentalAdmit {
    TSiteCard Card;
    QString Entry;       // the four characters it shares with the key's entry
    QList<int> Zones;    // the zones it is admitted in, ascending
    QStringList Through; // the granted cards that bring it in; none when read from a key
};

// The cards that the controller with these grants admits without being granted there, in the
// order of `cards`.
QList<TAccidentalAdmit> AccidentalAdmits(const QList<TCardGrant>& grants,
                                         const QList<TSiteCard>& cards);

// The cards that a key read back admits and that `grants` (the database's grants of the key's
// controller; none for a key of no controller of this site) do not grant there.
QList<TAccidentalAdmit> KeyAdmitsWithoutGrant(const TDecodedKey& key,
                                              const QList<TCardGrant>& grants,
                                              const QList<TSiteCard>& cards);

// The cards whose number begins with an entry's four characters, in the order of `cards`.
QList<TSiteCard> CardsOfEntry(const QString& entry, const QList<TSiteCard>& cards);

// The accidental admits that concern one card after its zone at a controller changed: the cards
// it now brings in, or the card itself when it stays admitted through another granted card.
QList<TAccidentalAdmit> AdmitsConcerning(const QString& cardNumber, const QList<TCardGrant>& grants,
                                         const QList<TSiteCard>& cards);

// The status-line note for AdmitsConcerning; empty when there are none.
QString ZoneChangeNote(const QString& conName, const QString& cardNumber,
                       const QList<TAccidentalAdmit>& admits);

// From the database. Nothing when a statement failed; the reason is in the connector's last
// error.
std::optional<QList<TSiteCard>> ReadSiteCards(TMyDBConnector& database);
// Only the cards whose number begins with these four characters.
std::optional<QList<TSiteCard>> ReadSiteCardsOfEntry(TMyDBConnector& database,
                                                     const QString& entry);
// The cards with a zone above 0 at the controller.
std::optional<QList<TCardGrant>> ReadCardGrants(TMyDBConnector& database, int32_t conId);

// The whole rule for one controller from the database.
std::optional<QList<TAccidentalAdmit>> ReadAccidentalAdmits(TMyDBConnector& database,
                                                            int32_t conId);

// The note after a zone click changed `cardNumber` at `controller`; empty when there is nothing
// to say or the database did not answer.
QString ZoneChangeNote(TMyDBConnector& database, const TStandController& controller,
                       const QString& cardNumber);
