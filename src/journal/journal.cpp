#include "journal/journal.h"

#include "db/MyDBConnector.h"
#include "db/statement.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSysInfo>

#include <pwd.h>
#include <unistd.h>

#include <array>
#include <memory>
#include <utility>

namespace {

// The stored names never change: journals outlive the program's versions.
constexpr std::array<std::pair<TJournalAction, const char*>, 10> ActionCodes{{
    {TJournalAction::CardHolderAdded, "cardholder-added"},
    {TJournalAction::CardHolderEdited, "cardholder-edited"},
    {TJournalAction::CardReplaced, "card-replaced"},
    {TJournalAction::CardHolderDeleted, "cardholder-deleted"},
    {TJournalAction::ZoneChanged, "zone-changed"},
    {TJournalAction::ControllerAdded, "controller-added"},
    {TJournalAction::ControllerEdited, "controller-edited"},
    {TJournalAction::ControllerDeleted, "controller-deleted"},
    {TJournalAction::KeyWritten, "key-written"},
    {TJournalAction::LegacyImport, "legacy-import"},
}};

// ISO 8601 in UTC with milliseconds: a fixed width, so that text order is time order on every
// engine.
QString TimeText(const QDateTime& moment) {
    return moment.toUTC().toString(Qt::ISODateWithMs);
}

QString ChangesText(const QList<TJournalChange>& changes) {
    QJsonArray array;
    for (const TJournalChange& change : changes)
        array.append(QJsonArray{change.Field, change.Old, change.New});
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

QList<TJournalChange> ChangesFromText(const QString& text) {
    QList<TJournalChange> changes;
    const QJsonArray array = QJsonDocument::fromJson(text.toUtf8()).array();
    for (const QJsonValue& item : array) {
        const QJsonArray change = item.toArray();
        changes.append({change.at(0).toString(), change.at(1).toString(), change.at(2).toString()});
    }
    return changes;
}

QVariant OptionalText(const QString& text) {
    return text.isEmpty() ? QVariant() : QVariant(text);
}

bool IsServer(TMyDBConnector& database) {
    return database.GetDBTypeName() == QLatin1String("postgresql");
}

// On a server the entry's database role comes last; a file has none.
QString SelectColumns(TMyDBConnector& database) {
    return QStringLiteral("SELECT JournalID, EntryTime, Operator, Workstation, Action, ConID, "
                          "ConName, CardNumber, OldCardNumber, CardHolder, Changes%1 FROM Journal")
        .arg(IsServer(database) ? QStringLiteral(", DatabaseRole") : QString());
}

// The card and every card it replaced before, following the replacements back.
std::optional<QStringList> CardAndItsPredecessors(TMyDBConnector& database, const QString& card) {
    QStringList cards{card};
    for (int i = 0; i < cards.size(); ++i) {
        const std::unique_ptr<TMyResultSet> rows = database.Query(
            {"SELECT OldCardNumber FROM Journal WHERE (Action = ?) AND (CardNumber = ?)",
             {JournalActionCode(TJournalAction::CardReplaced), cards[i]}});
        if (!rows)
            return std::nullopt;
        for (rows->First(); !rows->Eof(); rows->Next()) {
            const QString old = rows->Fields(0).AsString();
            // A card handed back and forth must not loop.
            if (!old.isEmpty() && !cards.contains(old, Qt::CaseInsensitive))
                cards << old;
        }
    }
    return cards;
}

// A stretch of the journal during which one holder had one card: entries from From (0: from the
// journal's start) to before Until (0: to now).
struct TCardTenure {
    QString Card;
    int64_t From = 0;
    int64_t Until = 0;
};

// The present holder's stretches with this card and, going back through the replacements, with
// each card they had before. A stretch begins with the entry that gave the holder the card; a
// journal begun while they had it begins the stretch.
std::optional<QList<TCardTenure>> HolderTenures(TMyDBConnector& database, const QString& card) {
    QList<TCardTenure> tenures;
    TCardTenure tenure{card, 0, 0};
    // Each step looks strictly further back, so the walk ends even where a card came back.
    for (;;) {
        QString sql = QStringLiteral("SELECT JournalID, Action, OldCardNumber FROM Journal WHERE "
                                     "(CardNumber = ?) AND (Action IN (?, ?))");
        QVariantList values{tenure.Card, JournalActionCode(TJournalAction::CardHolderAdded),
                            JournalActionCode(TJournalAction::CardReplaced)};
        if (tenure.Until > 0) {
            sql += " AND (JournalID < ?)";
            values << qlonglong(tenure.Until);
        }
        sql += " ORDER BY JournalID DESC LIMIT 1";
        const std::unique_ptr<TMyResultSet> rows = database.Query({sql, values});
        if (!rows)
            return std::nullopt;
        rows->First();
        if (rows->Eof()) {
            tenures << tenure;
            return tenures;
        }
        tenure.From = rows->Fields(0).AsString().toLongLong();
        tenures << tenure;
        const QString old = rows->Fields(2).AsString();
        if (rows->Fields(1).AsString() != JournalActionCode(TJournalAction::CardReplaced) ||
            old.isEmpty())
            return tenures;
        tenure = {old, 0, tenure.From};
    }
}

// The entries of a result set read with SelectColumns, in its order.
QList<TJournalEntry> EntriesOf(TMyResultSet& rows) {
    QList<TJournalEntry> entries;
    for (rows.First(); !rows.Eof(); rows.Next()) {
        TJournalEntry entry;
        entry.Id = rows.Fields(0).AsString().toLongLong();
        entry.Time = QDateTime::fromString(rows.Fields(1).AsString(), Qt::ISODateWithMs);
        entry.Operator = rows.Fields(2).AsString();
        entry.Workstation = rows.Fields(3).AsString();
        const std::optional<TJournalAction> action =
            JournalActionFromCode(rows.Fields(4).AsString());
        if (!action)
            continue; // written by a newer version: it knows how to show it, this one does not
        entry.Action = *action;
        entry.ConID = rows.Fields(5).AsInteger();
        entry.ConName = rows.Fields(6).AsString();
        entry.CardNumber = rows.Fields(7).AsString();
        entry.OldCardNumber = rows.Fields(8).AsString();
        entry.CardHolder = rows.Fields(9).AsString();
        entry.Changes = ChangesFromText(rows.Fields(10).AsString());
        if (rows.FieldCount() > 11)
            entry.DatabaseRole = rows.Fields(11).AsString();
        entries << entry;
    }
    return entries;
}

} // namespace

TJournalAuthor CurrentJournalAuthor() {
    TJournalAuthor author;
    // The account, not $USER: a changed environment must not sign for someone else.
    if (const passwd* account = getpwuid(geteuid()))
        author.Operator = QString::fromLocal8Bit(account->pw_name);
    if (author.Operator.isEmpty())
        author.Operator = QString::number(geteuid());
    author.Workstation = QSysInfo::machineHostName();
    return author;
}

QString JournalActionCode(TJournalAction action) {
    for (const auto& [known, code] : ActionCodes)
        if (known == action)
            return QString::fromLatin1(code);
    return QString();
}

std::optional<TJournalAction> JournalActionFromCode(const QString& code) {
    for (const auto& [action, known] : ActionCodes)
        if (code == QLatin1String(known))
            return action;
    return std::nullopt;
}

TMyStatement AppendJournalStatement(const TJournalEntry& entry, const TJournalAuthor& author,
                                    const QDateTime& now) {
    return {"INSERT INTO Journal (EntryTime, Operator, Workstation, Action, ConID, ConName, "
            "CardNumber, OldCardNumber, CardHolder, Changes) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
            {TimeText(now), author.Operator, author.Workstation, JournalActionCode(entry.Action),
             entry.ConID ? QVariant(entry.ConID) : QVariant(), OptionalText(entry.ConName),
             OptionalText(entry.CardNumber), OptionalText(entry.OldCardNumber),
             OptionalText(entry.CardHolder), ChangesText(entry.Changes)}};
}

bool AppendJournal(TMyDBConnector& database, const TJournalEntry& entry,
                   const TJournalAuthor& author) {
    // The change is nothing without its entry: the entry may go with the change's commit.
    return database.ExecuteWithTransaction(
        AppendJournalStatement(entry, author, QDateTime::currentDateTimeUtc()));
}

bool AppendJournal(TMyDBConnector& database, const QList<TJournalEntry>& entries,
                   const TJournalAuthor& author) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const TJournalEntry& entry : entries)
        if (!database.ExecuteQuery(AppendJournalStatement(entry, author, now)))
            return false;
    return true;
}

TMyStatement AppendGrantedZonesStatement(int32_t conId, const QString& conName, int zone,
                                         const TJournalAuthor& author, const QDateTime& now) {
    // The controller's number comes from the zone rows, not from a value: a server cannot tell
    // what type a bare value in a select list is meant to be.
    return {"INSERT INTO Journal (EntryTime, Operator, Workstation, Action, ConID, ConName, "
            "CardNumber, OldCardNumber, CardHolder, Changes) SELECT ?, ?, ?, ?, CardZones.ConID, "
            "?, CardZones.CardNumber, NULL, CardHolders.CardHolder, ? FROM CardZones INNER JOIN "
            "CardHolders ON CardHolders.CardNumber = CardZones.CardNumber WHERE (CardZones.ConID "
            "= ?) AND (CardZones.ZoneID = ?) AND (NOT CardHolders.Deleted) ORDER BY "
            "CardZones.CardNumber",
            {TimeText(now), author.Operator, author.Workstation,
             JournalActionCode(TJournalAction::ZoneChanged), OptionalText(conName),
             ChangesText({{"ZoneID", "0", QString::number(zone)}}), conId, zone}};
}

std::optional<QList<TJournalEntry>>
ReadJournal(TMyDBConnector& database, const TJournalFilter& filter, int limit, int64_t before) {
    QString sql = SelectColumns(database);
    QStringList conditions;
    QVariantList values;
    if (filter.From.isValid()) {
        conditions << "(EntryTime >= ?)";
        values << TimeText(filter.From);
    }
    if (filter.Until.isValid()) {
        conditions << "(EntryTime < ?)";
        values << TimeText(filter.Until);
    }
    if (!filter.Operator.isEmpty()) {
        conditions << "(Operator = ?)";
        values << filter.Operator;
    }
    if (filter.ConID) {
        conditions << "(ConID = ?)";
        values << filter.ConID;
    }
    if (!filter.CardNumber.isEmpty() && filter.HolderOnly) {
        const std::optional<QList<TCardTenure>> tenures =
            HolderTenures(database, filter.CardNumber);
        if (!tenures)
            return std::nullopt;
        QStringList stretches;
        for (const TCardTenure& tenure : *tenures) {
            QString stretch = QStringLiteral("(CardNumber = ?)");
            values << tenure.Card;
            if (tenure.From > 0) {
                stretch += " AND (JournalID >= ?)";
                values << qlonglong(tenure.From);
            }
            if (tenure.Until > 0) {
                stretch += " AND (JournalID < ?)";
                values << qlonglong(tenure.Until);
            }
            stretches << "(" + stretch + ")";
        }
        conditions << "(" + stretches.join(" OR ") + ")";
    } else if (!filter.CardNumber.isEmpty()) {
        const std::optional<QStringList> cards =
            CardAndItsPredecessors(database, filter.CardNumber);
        if (!cards)
            return std::nullopt;
        QStringList places;
        for (const QString& card : *cards) {
            places << "?";
            values << card;
        }
        conditions << "(CardNumber IN (" + places.join(", ") + "))";
    }
    if (before > 0) {
        conditions << "(JournalID < ?)";
        values << qlonglong(before);
    }
    if (!conditions.isEmpty())
        sql += " WHERE " + conditions.join(" AND ");
    // The order entries were made in: workstations' clocks may disagree, the database does not.
    sql += " ORDER BY JournalID DESC";
    if (limit > 0) {
        sql += " LIMIT ?";
        values << limit;
    }
    const std::unique_ptr<TMyResultSet> rows = database.Query({sql, values});
    if (!rows)
        return std::nullopt;
    return EntriesOf(*rows);
}

std::optional<QHash<int32_t, TJournalEntry>> LastKeyWrites(TMyDBConnector& database) {
    const std::unique_ptr<TMyResultSet> rows = database.Query(
        {SelectColumns(database) +
             " WHERE JournalID IN (SELECT MAX(JournalID) FROM Journal WHERE Action = ? GROUP BY "
             "ConID)",
         {JournalActionCode(TJournalAction::KeyWritten)}});
    if (!rows)
        return std::nullopt;
    QHash<int32_t, TJournalEntry> writes;
    for (const TJournalEntry& entry : EntriesOf(*rows))
        writes.insert(entry.ConID, entry);
    return writes;
}

QStringList JournalOperators(TMyDBConnector& database) {
    QStringList operators;
    if (const std::unique_ptr<TMyResultSet> rows =
            database.Query("SELECT DISTINCT Operator FROM Journal ORDER BY Operator"))
        for (rows->First(); !rows->Eof(); rows->Next())
            operators << rows->Fields(0).AsString();
    return operators;
}

namespace {

bool HasJournalTable(TMyDBConnector& database) {
    const std::unique_ptr<TMyResultSet> rows = database.Query(
        IsServer(database) ? "SELECT COUNT(*) FROM pg_tables WHERE (schemaname = "
                             "current_schema()) AND (tablename = \"journal\")"
                           : "SELECT COUNT(*) FROM sqlite_master WHERE (type = \"table\") AND "
                             "(name = \"Journal\")");
    return rows && rows->RecordCount() == 1 && rows->Fields(0).AsInteger() == 1;
}

const char* const KeyWritesIndex =
    "CREATE INDEX IF NOT EXISTS JournalByAction ON Journal (Action, ConID, JournalID)";

// The indexes the histories and the controller list read through, as the two schema files make
// them.
const char* const JournalIndexes[] = {
    "CREATE INDEX IF NOT EXISTS JournalByTime ON Journal (EntryTime)",
    "CREATE INDEX IF NOT EXISTS JournalByController ON Journal (ConID, JournalID)",
    "CREATE INDEX IF NOT EXISTS JournalByCard ON Journal (CardNumber, JournalID)",
    "CREATE INDEX IF NOT EXISTS JournalByOperator ON Journal (Operator, JournalID)",
    KeyWritesIndex,
};

bool HasIndex(TMyDBConnector& database, const QString& name) {
    const std::unique_ptr<TMyResultSet> rows =
        IsServer(database) ? database.Query({"SELECT COUNT(*) FROM pg_indexes WHERE (schemaname = "
                                             "current_schema()) AND (indexname = ?)",
                                             {name.toLower()}})
                           : database.Query({"SELECT COUNT(*) FROM sqlite_master WHERE (type = "
                                             "\"index\") AND (name = ?)",
                                             {name}});
    return rows && rows->RecordCount() == 1 && rows->Fields(0).AsInteger() == 1;
}

// A journal made before the key writes had an index of their own gets it, in place of the index
// of replacements that the cards' index serves as well: one index fewer to write with every
// change. Only the table's owner may change its indexes on a server; for anyone else the journal
// works as it is until the owner opens the site.
void UpdateJournalIndexes(TMyDBConnector& database) {
    // A server site's owner got the new index when connecting; the old one may still be there.
    if (HasIndex(database, QStringLiteral("JournalByAction")) &&
        !HasIndex(database, QStringLiteral("JournalReplacements")))
        return;
    TTransaction change(database);
    if (!change.Started())
        return;
    if (database.ExecuteCounted(QString::fromLatin1(KeyWritesIndex)) < 0 ||
        database.ExecuteCounted(QStringLiteral("DROP INDEX IF EXISTS JournalReplacements")) < 0)
        return;
    change.Commit();
}

} // namespace

bool AddJournalTable(TMyDBConnector& database) {
    if (HasJournalTable(database)) {
        UpdateJournalIndexes(database);
        return true;
    }
    // As the two schema files make it. Creating changes no row, so only the catalog tells whether
    // it worked.
    const bool server = IsServer(database);
    QStringList statements{
        server ? "CREATE TABLE IF NOT EXISTS Journal (JournalID bigint GENERATED ALWAYS AS "
                 "IDENTITY PRIMARY KEY, EntryTime text NOT NULL, Operator text NOT NULL, "
                 "Workstation text NOT NULL, Action text NOT NULL, ConID integer, ConName text, "
                 "CardNumber text COLLATE vyr_nocase, OldCardNumber text COLLATE vyr_nocase, "
                 "CardHolder text, Changes text NOT NULL, DatabaseRole text)"
               : "CREATE TABLE IF NOT EXISTS Journal (JournalID INTEGER PRIMARY KEY "
                 "AUTOINCREMENT, EntryTime TEXT NOT NULL, Operator TEXT NOT NULL, Workstation "
                 "TEXT NOT NULL, Action TEXT NOT NULL, ConID INTEGER, ConName TEXT, CardNumber "
                 "TEXT COLLATE NOCASE, OldCardNumber TEXT COLLATE NOCASE, CardHolder TEXT, "
                 "Changes TEXT NOT NULL)",
    };
    for (const char* index : JournalIndexes)
        statements << QString::fromLatin1(index);
    database.StartTransaction();
    for (const QString& statement : statements)
        database.ExecuteQuery(statement);
    if (!HasJournalTable(database)) {
        database.RollbackTransaction();
        return false;
    }
    return database.CommitTransaction();
}
