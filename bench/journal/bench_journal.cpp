// The change journal at size, on SQLite and on the PostgreSQL server in the same run:
//
//   - a site of 20,000 cardholders on 32 controllers, and a journal of 1,000,000 entries on it
//     (5 operators, two years);
//   - the cardholder list and the controller list (with each key's last verified write) loaded
//     before and after the journal is filled;
//   - a zone click (the statements of one click on the cardholder list, in one transaction) with
//     and without its journal entry, on the empty and on the full journal;
//   - the site-wide history's first page, the next page, and the first page filtered by operator,
//     by controller, by card (with the cards it replaced) and by a month a year back;
//   - with `plans`, how each engine means to answer those pages.
//
//   bench_journal [entries = 1000000] [repetitions = 7] [plans]
//
// VYR_BENCH_SERVER names a server database to use instead of the throwaway cluster (fsync off):
// an empty one, for the site is made in it. Medians are printed; nothing is asserted.

#include "cardholders/cardholdermodel.h"
#include "cardholders/cardholderstatements.h"
#include "controllers/controllerrecords.h"
#include "controllers/controllerstatements.h"
#include "controllers/pendingchanges.h"
#include "db/statement.h"
#include "journal/journal.h"

#include "benchsites.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

namespace {

constexpr int Controllers = 32;
constexpr int Cards = 20000;
const char* const Operators[] = {"anna", "bert", "cas", "dirk", "eva"};

QString Card(int i) {
    return QStringLiteral("%1").arg(0x300000000LL + i, 10, 16, QChar(u'0')).toUpper();
}

const QDateTime Start(QDate(2025, 1, 1), QTime(8, 0), Qt::UTC);

// The cards and controllers the journal speaks of; a card has a zone on about one controller in
// eight.
void FillSite(TMyDBConnector& db) {
    Must(db.StartTransaction(), db, "begin");
    for (int c = 1; c <= Controllers; ++c)
        Must(db.ExecuteQuery({"INSERT INTO Controllers (ConType, ConName, ConCode, ConByte1, "
                              "ConByte2) VALUES(\"VYR292\", ?, \"A1B2C3\", 0, 0)",
                              {QStringLiteral("Door %1").arg(c, 2, 10, QChar(u'0'))}}),
             db, "controller");
    const auto ids = db.Query("SELECT ConID FROM Controllers ORDER BY ConID");
    Must(ids != nullptr, db, "controllers");
    std::vector<int> conIds;
    for (ids->First(); !ids->Eof(); ids->Next())
        conIds.push_back(ids->Fields(0).AsInteger());
    QRandomGenerator random(2311);
    for (int h = 0; h < Cards; ++h) {
        Must(db.ExecuteQuery({"INSERT INTO CardHolders (CardNumber, CardHolder, CardCustom1, "
                              "CardCustom2, CardCustom3, CardCustom4, CardAdded, CardLastEdit) "
                              "VALUES(?, ?, ?, ?, \"\", \"\", NOW(), NOW())",
                              {Card(h), QStringLiteral("Holder %1").arg(h),
                               QStringLiteral("Department %1").arg(h % 40),
                               QStringLiteral("Badge %1").arg(h)}}),
             db, "holder");
        for (int conId : conIds)
            if (random.bounded(8) == 0)
                Must(db.ExecuteQuery(
                         InsertCardZoneStatement(conId, Card(h), 1 + int(random.bounded(2)))),
                     db, "zone");
    }
    Must(db.CommitTransaction(), db, "commit");
}

void FillJournal(TMyDBConnector& db, int entries) {
    // Multi-row statements inside one transaction, as the legacy import writes.
    const TMyStatement one = AppendJournalStatement({}, {}, Start);
    const QString head = one.Sql.left(one.Sql.indexOf(QStringLiteral("VALUES")) + 6);
    const QString row = "(" + QStringList(one.Values.size(), "?").join(", ") + ")";
    const int rowsPerStatement = std::max(1, db.MaxBoundValues() / int(one.Values.size()));
    Must(db.StartTransaction(), db, "begin");
    TMyStatement batch;
    int inBatch = 0;
    const auto flush = [&] {
        if (inBatch == 0)
            return;
        batch.Sql = head + batch.Sql;
        Must(db.ExecuteCounted(batch) == inBatch, db, "journal rows");
        batch = {};
        inBatch = 0;
    };
    for (int i = 0; i < entries; ++i) {
        TJournalEntry entry;
        entry.Action = i % 50 == 0 ? TJournalAction::CardHolderEdited : TJournalAction::ZoneChanged;
        if (i % 997 == 0)
            entry.Action = TJournalAction::KeyWritten;
        entry.ConID = 1 + i % Controllers;
        entry.ConName = QStringLiteral("Door %1").arg(entry.ConID);
        entry.CardNumber = Card((i * 7919) % Cards);
        entry.CardHolder = QStringLiteral("Holder %1").arg((i * 7919) % Cards);
        entry.Changes = {{"ZoneID", QString::number(i % 3), QString::number((i + 1) % 3)}};
        // Two years of changes, in order.
        const QDateTime at = Start.addSecs(qint64(i) * (2 * 365 * 86400LL / entries));
        const TMyStatement statement =
            AppendJournalStatement(entry, {Operators[i % 5], "desk"}, at);
        batch.Sql += (inBatch ? ", " : "") + row;
        batch.Values += statement.Values;
        if (++inBatch == rowsPerStatement)
            flush();
    }
    flush();
    Must(db.CommitTransaction(), db, "commit");
}

double Median(int repetitions, const std::function<void()>& work) {
    std::vector<double> ms;
    for (int i = 0; i < repetitions; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        ms.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

void Page(TMyDBConnector& db, const char* what, const TJournalFilter& filter, int repetitions,
          int64_t before = 0) {
    int rows = 0;
    const double ms = Median(repetitions, [&] {
        const auto page = ReadJournal(db, filter, 200, before);
        Must(page.has_value(), db, what);
        rows = int(page->size());
    });
    std::printf("  %-44s %8.2f ms (%d rows)\n", what, ms, rows);
}

// The two lists the operator opens most, as their windows read them.
void Lists(TMyDBConnector& db, int repetitions) {
    size_t holders = 0;
    const double cardholders = Median(repetitions, [&] {
        const std::optional<TControllerRecords> controllers = ReadControllers(&db, {});
        Must(controllers.has_value(), db, "controllers");
        std::vector<std::unique_ptr<TCardHolder>> records;
        Must(ReadCardHolders(db, {}, *controllers, records), db, "cardholder list");
        holders = records.size();
    });
    std::printf("  %-44s %8.2f ms (%zu rows)\n", "cardholder list", cardholders, holders);
    size_t listed = 0;
    const double controllers = Median(repetitions, [&] {
        std::optional<TControllerRecords> records = ReadControllers(&db, {});
        Must(records && CountControllerCards(&db, *records), db, "controller list");
        Must(LastKeyWrites(db).has_value(), db, "key writes");
        listed = records->size();
    });
    std::printf("  %-44s %8.2f ms (%zu rows)\n", "controller list with key provenance", controllers,
                listed);
}

// A zone click on the cardholder list: the statements CycleCardZone runs, in one transaction, and
// with `journal` the entry that records it.
void ZoneClicks(TMyDBConnector& db, int repetitions) {
    const int32_t conId = 1;
    const QString card = Card(1);
    int zone = 0;
    const auto click = [&](bool journal) {
        Must(db.StartTransaction(), db, "begin");
        Must(db.ExecuteCounted(ClaimCardHolderStatement(card)) == 1, db, "claim card");
        Must(db.ExecuteCounted(ClaimControllerStatement(conId)) == 1, db, "claim controller");
        const auto rows = db.Query(ZoneClickStatement(conId, card));
        Must(rows != nullptr, db, "zone");
        const int next = zone >= 2 ? 0 : zone + 1;
        Must(db.ExecuteCounted(DeleteCardZoneStatement(conId, card)) >= 0, db, "drop zone");
        Must(db.ExecuteQuery(InsertCardZoneStatement(conId, card, next)), db, "zone");
        Must(StoreMarks(db, {conId}), db, "mark");
        if (journal) {
            TJournalEntry entry;
            entry.Action = TJournalAction::ZoneChanged;
            entry.ConID = conId;
            entry.ConName = "Door 01";
            entry.CardNumber = card;
            entry.CardHolder = "Holder 1";
            entry.Changes = {{"ZoneID", QString::number(zone), QString::number(next)}};
            Must(AppendJournal(db, entry, {"anna", "desk"}), db, "entry");
        }
        Must(db.CommitTransaction(), db, "commit");
        zone = next;
    };
    // Alternating, so that both meet the same caches and disk.
    std::vector<double> without, with;
    for (int i = 0; i < repetitions * 30; ++i)
        for (bool journal : {false, true}) {
            QElapsedTimer timer;
            timer.start();
            click(journal);
            (journal ? with : without).push_back(timer.nsecsElapsed() / 1e6);
        }
    std::sort(without.begin(), without.end());
    std::sort(with.begin(), with.end());
    const double a = without[without.size() / 2];
    const double b = with[with.size() / 2];
    std::printf("  %-44s %8.3f ms\n  %-44s %8.3f ms (%+.1f %%)\n", "zone click without entry", a,
                "zone click with its entry", b, (b / a - 1) * 100);
}

// How the engine means to answer a history page: the statement ReadJournal makes for the filter.
void Plan(TMyDBConnector& db, const char* what, const QString& where, const QVariantList& values) {
    const bool server = db.GetDBTypeName() == QLatin1String("postgresql");
    const TMyStatement statement{
        (server ? "EXPLAIN " : "EXPLAIN QUERY PLAN ") +
            QStringLiteral("SELECT JournalID, EntryTime, Operator, Workstation, Action, ConID, "
                           "ConName, CardNumber, OldCardNumber, CardHolder, Changes FROM Journal") +
            (where.isEmpty() ? QString() : " WHERE " + where) + " ORDER BY JournalID DESC LIMIT ?",
        values + QVariantList{200}};
    const auto rows = db.Query(statement);
    Must(rows != nullptr, db, what);
    std::printf("  plan, %s:\n", what);
    for (rows->First(); !rows->Eof(); rows->Next())
        std::printf("    %s\n", qPrintable(rows->Fields(rows->FieldCount() - 1).AsString()));
}

void Plans(TMyDBConnector& db) {
    Plan(db, "site-wide", {}, {});
    Plan(db, "operator", "(Operator = ?)", {"cas"});
    Plan(db, "controller", "(ConID = ?)", {17});
    Plan(db, "card and its predecessors", "(CardNumber IN (?, ?))", {Card(4242), Card(4243)});
    Plan(db, "period", "(EntryTime >= ?) AND (EntryTime < ?)",
         {Start.addMonths(12).toString(Qt::ISODateWithMs),
          Start.addMonths(13).toString(Qt::ISODateWithMs)});
    Plan(db, "period and operator", "(EntryTime >= ?) AND (EntryTime < ?) AND (Operator = ?)",
         {Start.addMonths(12).toString(Qt::ISODateWithMs),
          Start.addMonths(13).toString(Qt::ISODateWithMs), "cas"});
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int entries = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const int repetitions = argc > 2 ? std::atoi(argv[2]) : 7;
    const bool plans = argc > 3 && std::strcmp(argv[3], "plans") == 0;
    const QString server = StartCluster();
    QTemporaryDir folder;
    for (int engine = 0; engine < 2; ++engine) {
        std::unique_ptr<TMyDBConnector> db;
        if (engine == 0)
            db = NewFileSite(folder, "journal.accdb");
        else
            db = NewServerSite(server);
        std::printf("%s, %d cards, %d controllers, %d entries:\n",
                    engine == 0 ? "SQLite" : "PostgreSQL", Cards, Controllers, entries);
        FillSite(*db);
        std::printf(" without a journal:\n");
        Lists(*db, repetitions);
        ZoneClicks(*db, repetitions);
        QElapsedTimer timer;
        timer.start();
        FillJournal(*db, entries);
        if (engine == 1)
            Must(db->ExecuteCounted("ANALYZE") >= 0, *db, "analyze");
        std::printf(" %-45s %8.0f ms\n", "filling the journal", timer.nsecsElapsed() / 1e6);
        std::printf(" with the journal:\n");
        Lists(*db, repetitions);
        ZoneClicks(*db, repetitions);
        Page(*db, "site-wide, first page", {}, repetitions);
        const auto first = ReadJournal(*db, {}, 200);
        Page(*db, "site-wide, next page", {}, repetitions, first->back().Id);
        Page(*db, "operator cas", {{}, {}, "cas", 0, {}}, repetitions);
        Page(*db, "controller 17", {{}, {}, {}, 17, {}}, repetitions);
        Page(*db, "one card", {{}, {}, {}, 0, Card(4242)}, repetitions);
        Page(*db, "one month a year back", {Start.addMonths(12), Start.addMonths(13), {}, 0, {}},
             repetitions);
        Page(*db, "operator cas, one month a year back",
             {Start.addMonths(12), Start.addMonths(13), "cas", 0, {}}, repetitions);
        if (plans)
            Plans(*db);
    }
    StopCluster();
    return 0;
}
