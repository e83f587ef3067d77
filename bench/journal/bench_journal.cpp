// The change journal at size, on SQLite and on the PostgreSQL server in the same run:
//
//   - a journal of 1,000,000 entries (32 controllers, 20,000 cards, 5 operators, two years);
//   - the site-wide history's first page, the next page, and the first page filtered by operator,
//     by controller, by card (with the cards it replaced) and by a month a year back;
//   - a zone click's round trip (one zone row changed, committed on its own) with and without
//     its journal entry.
//
//   bench_journal [entries = 1000000] [repetitions = 7]
//
// Medians are printed; nothing is asserted.

#include "db/statement.h"
#include "journal/journal.h"

#include "benchsites.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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

void ZoneClicks(TMyDBConnector& db, int repetitions) {
    Must(db.ExecuteQuery({"INSERT INTO CardHolders (CardNumber, CardHolder) VALUES (?, ?)",
                          {Card(1), "Holder 1"}}),
         db, "holder");
    Must(db.ExecuteQuery(
             {"INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES (1, ?, 1)", {Card(1)}}),
         db, "zone");
    int zone = 1;
    const auto click = [&](bool journal) {
        const int next = zone % 2 + 1;
        Must(db.StartTransaction(), db, "begin");
        Must(db.ExecuteQuery({"UPDATE CardZones SET ZoneID = ? WHERE (ConID = 1) AND "
                              "(CardNumber = ?)",
                              {next, Card(1)}}),
             db, "click");
        if (journal) {
            TJournalEntry entry;
            entry.Action = TJournalAction::ZoneChanged;
            entry.ConID = 1;
            entry.ConName = "Door 1";
            entry.CardNumber = Card(1);
            entry.CardHolder = "Holder 1";
            entry.Changes = {{"ZoneID", QString::number(zone), QString::number(next)}};
            Must(AppendJournal(db, entry, {"anna", "desk"}), db, "entry");
        }
        Must(db.CommitTransaction(), db, "commit");
        zone = next;
    };
    // Alternating, so that both meet the same caches and disk.
    std::vector<double> without, with;
    for (int i = 0; i < repetitions * 5; ++i)
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

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int entries = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const int repetitions = argc > 2 ? std::atoi(argv[2]) : 7;
    const QString server = StartCluster();
    QTemporaryDir folder;
    for (int engine = 0; engine < 2; ++engine) {
        std::unique_ptr<TMyDBConnector> db;
        if (engine == 0)
            db = NewFileSite(folder, "journal.accdb");
        else
            db = NewServerSite(server);
        std::printf("%s, %d entries:\n", engine == 0 ? "SQLite" : "PostgreSQL", entries);
        QElapsedTimer timer;
        timer.start();
        FillJournal(*db, entries);
        std::printf("  %-44s %8.0f ms\n", "filling the journal", timer.nsecsElapsed() / 1e6);
        ZoneClicks(*db, repetitions);
        Page(*db, "site-wide, first page", {}, repetitions);
        const auto first = ReadJournal(*db, {}, 200);
        Page(*db, "site-wide, next page", {}, repetitions, first->back().Id);
        Page(*db, "operator cas", {{}, {}, "cas", 0, {}}, repetitions);
        Page(*db, "controller 17", {{}, {}, {}, 17, {}}, repetitions);
        Page(*db, "one card", {{}, {}, {}, 0, Card(4242)}, repetitions);
        Page(*db, "one month a year back", {Start.addMonths(12), Start.addMonths(13), {}, 0, {}},
             repetitions);
    }
    StopCluster();
    return 0;
}
