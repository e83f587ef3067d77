#include "controllers/accidentaladmits.h"

#include "db/MyDBConnector.h"
#include "db/statement.h"
#include "shared/publictypes.h"
#include "shared/translation.h"

#include <QHash>
#include <QSet>

#include <algorithm>

namespace {

// What one entry of a key lets in: its zones and the granted cards it came from.
struct TEntrySource {
    QList<int> Zones;
    QStringList Through;
};

void AddZone(QList<int>& zones, int zone) {
    if (!zones.contains(zone)) {
        zones << zone;
        std::sort(zones.begin(), zones.end());
    }
}

QList<TAccidentalAdmit> AdmittedWithout(const QHash<QString, TEntrySource>& entries,
                                        const QSet<QString>& granted,
                                        const QList<TSiteCard>& cards) {
    QList<TAccidentalAdmit> admits;
    for (const TSiteCard& card : cards) {
        const QString entry = KeyEntryOf(card.CardNumber);
        if (entry.isEmpty() || granted.contains(card.CardNumber.toUpper()))
            continue;
        const auto source = entries.constFind(entry);
        if (source == entries.constEnd())
            continue;
        admits << TAccidentalAdmit{card, entry, source->Zones, source->Through};
    }
    return admits;
}

QSet<QString> GrantedNumbers(const QList<TCardGrant>& grants) {
    QSet<QString> granted;
    for (const TCardGrant& grant : grants)
        if (grant.Zone > 0)
            granted.insert(grant.CardNumber.toUpper());
    return granted;
}

QHash<QString, TEntrySource> EntriesOfGrants(const QList<TCardGrant>& grants) {
    QHash<QString, TEntrySource> entries;
    for (const TCardGrant& grant : grants) {
        const QString entry = KeyEntryOf(grant.CardNumber);
        if (grant.Zone <= 0 || entry.isEmpty())
            continue;
        TEntrySource& source = entries[entry];
        AddZone(source.Zones, grant.Zone);
        source.Through << grant.CardNumber;
    }
    return entries;
}

} // namespace

QList<TAccidentalAdmit> AccidentalAdmits(const QList<TCardGrant>& grants,
                                         const QList<TSiteCard>& cards) {
    return AdmittedWithout(EntriesOfGrants(grants), GrantedNumbers(grants), cards);
}

QList<TAccidentalAdmit> KeyAdmitsWithoutGrant(const TDecodedKey& key,
                                              const QList<TCardGrant>& grants,
                                              const QList<TSiteCard>& cards) {
    QHash<QString, TEntrySource> entries;
    for (int zone : {1, 2})
        for (const QString& entry : key.Zone(zone))
            AddZone(entries[entry.toUpper()].Zones, zone);
    return AdmittedWithout(entries, GrantedNumbers(grants), cards);
}

QList<TSiteCard> CardsOfEntry(const QString& entry, const QList<TSiteCard>& cards) {
    QList<TSiteCard> found;
    const QString wanted = entry.toUpper();
    for (const TSiteCard& card : cards)
        if (!wanted.isEmpty() && KeyEntryOf(card.CardNumber) == wanted)
            found << card;
    return found;
}

QList<TAccidentalAdmit> AdmitsConcerning(const QString& cardNumber, const QList<TCardGrant>& grants,
                                         const QList<TSiteCard>& cards) {
    const QString entry = KeyEntryOf(cardNumber);
    if (entry.isEmpty())
        return {};
    QList<TAccidentalAdmit> concerning;
    for (const TAccidentalAdmit& admit : AccidentalAdmits(grants, CardsOfEntry(entry, cards)))
        concerning << admit;
    return concerning;
}

QString ZoneChangeNote(const QString& conName, const QString& cardNumber,
                       const QList<TAccidentalAdmit>& admits) {
    if (admits.isEmpty())
        return QString();
    QStringList numbers;
    bool itself = false;
    for (const TAccidentalAdmit& admit : admits) {
        if (admit.Card.CardNumber.compare(cardNumber, Qt::CaseInsensitive) == 0)
            itself = true;
        else
            numbers << admit.Card.CardNumber;
    }
    // The card itself stays admitted only through another card, so then no other card is new.
    if (itself)
        return FormatText(_("%s still admits card %s: another card granted there begins with the "
                            "same four characters."),
                          {conName, cardNumber});
    return FormatText(TranslatePlural("%s now also admits card %s, which begins with the same "
                                      "four characters as card %s but is not granted there.",
                                      "%s now also admits cards %s, which begin with the same "
                                      "four characters as card %s but are not granted there.",
                                      numbers.size()),
                      {conName, numbers.join(", "), cardNumber});
}

std::optional<QList<TSiteCard>> ReadSiteCards(TMyDBConnector& database) {
    const std::unique_ptr<TMyResultSet> rows =
        database.Query("SELECT CardNumber, CardHolder, Deleted FROM CardHolders");
    if (!rows)
        return std::nullopt;
    QList<TSiteCard> cards;
    cards.reserve(rows->RecordCount());
    for (rows->First(); !rows->Eof(); rows->Next())
        cards << TSiteCard{rows->Fields(0).AsString(), rows->Fields(1).AsString(),
                           rows->Fields(2).AsInteger() != 0};
    return cards;
}

std::optional<QList<TSiteCard>> ReadSiteCardsOfEntry(TMyDBConnector& database,
                                                     const QString& entry) {
    // An entry is four hexadecimal characters, so it holds no wildcard. The number column
    // compares without regard to case; the check afterwards holds whatever the engine does.
    const std::unique_ptr<TMyResultSet> rows =
        database.Query(TMyStatement("SELECT CardNumber, CardHolder, Deleted FROM CardHolders WHERE "
                                    "(CardNumber LIKE ?)",
                                    {entry + "%"}));
    if (!rows)
        return std::nullopt;
    QList<TSiteCard> cards;
    for (rows->First(); !rows->Eof(); rows->Next())
        cards << TSiteCard{rows->Fields(0).AsString(), rows->Fields(1).AsString(),
                           rows->Fields(2).AsInteger() != 0};
    return CardsOfEntry(entry, cards);
}

std::optional<QList<TCardGrant>> ReadCardGrants(TMyDBConnector& database, int32_t conId) {
    const std::unique_ptr<TMyResultSet> rows = database.Query(TMyStatement(
        "SELECT CardNumber, ZoneID FROM CardZones WHERE (ConID = ?) AND (ZoneID > 0)", {conId}));
    if (!rows)
        return std::nullopt;
    QList<TCardGrant> grants;
    for (rows->First(); !rows->Eof(); rows->Next())
        grants << TCardGrant{rows->Fields(0).AsString(), rows->Fields(1).AsInteger()};
    return grants;
}

std::optional<QList<TAccidentalAdmit>> ReadAccidentalAdmits(TMyDBConnector& database,
                                                            int32_t conId) {
    const std::optional<QList<TCardGrant>> grants = ReadCardGrants(database, conId);
    if (!grants)
        return std::nullopt;
    if (grants->isEmpty())
        return QList<TAccidentalAdmit>();
    const std::optional<QList<TSiteCard>> cards = ReadSiteCards(database);
    if (!cards)
        return std::nullopt;
    return AccidentalAdmits(*grants, *cards);
}

QString ZoneChangeNote(TMyDBConnector& database, const TStandController& controller,
                       const QString& cardNumber) {
    const QString entry = KeyEntryOf(cardNumber);
    if (entry.isEmpty())
        return QString();
    const std::optional<QList<TCardGrant>> grants = ReadCardGrants(database, controller.ConID);
    const std::optional<QList<TSiteCard>> cards = ReadSiteCardsOfEntry(database, entry);
    if (!grants || !cards)
        return QString();
    return ZoneChangeNote(controller.ConName, cardNumber,
                          AdmitsConcerning(cardNumber, *grants, *cards));
}
