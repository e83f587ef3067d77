// A site on the PostgreSQL server against the same site in a SQLite file, in the same run:
//
//   - the legacy import of 128 controllers and 10,000 cards, about 10 % of the zone flags set
//     (about 128,000 zone rows), as the wizard runs it: one transaction, multi-row statements;
//   - the cardholder list's database work for 20,000 holders and 32 controllers (each card with
//     a zone at about a third of them): the list's statement and the zones, read as the list
//     reads them;
//   - a zone click's round trip: one zone row changed, committed on its own.
//
//   bench_server [cards to import = 10000] [holders in the list = 20000] [controllers = 32]
//
// The server is a throwaway cluster on a Unix socket (tests/support/pgcluster.sh, fsync off), or
// the database that VYR_BENCH_SERVER names (a libpq connection text to an empty database or
// schema). The figures are printed; nothing is asserted.

#include "cardholders/cardholdermodel.h"
#include "db/MyPostgreSQL.h"
#include "db/MySQLite.h"
#include "journal/journal.h"
#include "profiles/legacyimport.h"
#include "profiles/legacyrecords.h"
#include "shared/publictypes.h"

#include "benchsites.h"
#include "legacyfiles.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <libpq-fe.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

double Import(TMyDBConnector& db, const QString& autonoom, qint64& zoneRows) {
    QElapsedTimer timer;
    timer.start();
    const auto controllers = TLegacyRecordReader::OpenFile(autonoom, ControllerRecordSize);
    Must(db.StartTransaction(), db, "begin");
    const TLegacyImportSummary summary = ImportLegacyRecords(
        db, *controllers,
        [&] { return TLegacyRecordReader::OpenFile(LegacyCardFilePath(autonoom), CardRecordSize); },
        TJournalAuthor{"bench", "desk"});
    Must(db.CommitTransaction(), db, "commit");
    zoneRows = summary.ZoneRowsWritten;
    return timer.nsecsElapsed() / 1e6;
}

// The list's site: holders with names, a zone at about a third of the controllers each, sent in
// multi-row statements inside one transaction.
std::vector<std::unique_ptr<TStandController>> FillListSite(TMyDBConnector& db, int holders,
                                                            int controllerCount) {
    std::vector<std::unique_ptr<TStandController>> controllers;
    Must(db.StartTransaction(), db, "begin");
    for (int i = 0; i < controllerCount; ++i) {
        Must(db.ExecuteQuery({"INSERT INTO Controllers (ConType, ConName, ConCode, ConByte1, "
                              "ConByte2) VALUES (\"VYR292\", ?, ?, 2, 4)",
                              {QStringLiteral("Door %1").arg(i), QStringLiteral("A%1").arg(i)}}),
             db, "controller");
        const auto identity = db.Query("SELECT @@Identity");
        auto controller = std::make_unique<TStandController>();
        controller->ConID = identity->Fields(0).AsInteger();
        controllers.push_back(std::move(controller));
    }
    std::mt19937 random(7);
    const char* const names[] = {"Anna", "Bert", "Émile", "Femke", "Joke", "Ria", "Zoë"};
    TMyStatement cards;
    TMyStatement zones;
    auto flush = [&](TMyStatement& statement, const char* head) {
        if (statement.Values.isEmpty())
            return;
        statement.Sql.prepend(head);
        statement.Sql.chop(1);
        Must(db.ExecuteCounted(statement) > 0, db, head);
        statement = {};
    };
    for (int h = 0; h < holders; ++h) {
        const QString number = QStringLiteral("%1").arg(0x200000000LL + h, 10, 16, QChar(u'0'));
        cards.Sql += "(?, ?, \"\", \"\", \"\", \"\", NOW(), NOW()),";
        cards.Values << number.toUpper()
                     << QStringLiteral("%1 %2").arg(QString::fromUtf8(names[h % 7])).arg(h);
        for (const auto& controller : controllers) {
            if (random() % 3 != 0)
                continue;
            zones.Sql += "(?, ?, ?),";
            zones.Values << controller->ConID << number.toUpper() << int(1 + random() % 2);
        }
        if (cards.Values.size() > 1000)
            flush(cards, "INSERT INTO CardHolders (CardNumber, CardHolder, CardCustom1, "
                         "CardCustom2, CardCustom3, CardCustom4, CardAdded, CardLastEdit) VALUES ");
        if (zones.Values.size() > 3000)
            flush(zones, "INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES ");
    }
    flush(cards, "INSERT INTO CardHolders (CardNumber, CardHolder, CardCustom1, CardCustom2, "
                 "CardCustom3, CardCustom4, CardAdded, CardLastEdit) VALUES ");
    flush(zones, "INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES ");
    Must(db.CommitTransaction(), db, "commit");
    return controllers;
}

// The best of a few runs: the machine is shared.
double ListOpening(TMyDBConnector& db,
                   const std::vector<std::unique_ptr<TStandController>>& controllers,
                   size_t& rows) {
    double best = 1e18;
    for (int run = 0; run < 3; ++run) {
        std::vector<std::unique_ptr<TCardHolder>> records;
        QElapsedTimer timer;
        timer.start();
        Must(ReadCardHolders(db, {}, controllers, records), db, "list");
        best = std::min(best, timer.nsecsElapsed() / 1e6);
        rows = records.size();
    }
    return best;
}

double ZoneClick(TMyDBConnector& db, int conId, const QString& number) {
    constexpr int Clicks = 200;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < Clicks; ++i)
        db.ExecuteQuery({"UPDATE CardZones SET ZoneID = ? WHERE (ConID = ?) AND (CardNumber = ?)",
                         {1 + i % 2, conId, number}});
    return timer.nsecsElapsed() / 1e6 / Clicks;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int cards = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int holders = argc > 2 ? std::atoi(argv[2]) : 20000;
    const int controllerCount = argc > 3 ? std::atoi(argv[3]) : 32;
    const QString server = StartCluster();
    QTemporaryDir folder;

    const QString autonoom = WriteSampleLegacySite(folder.path(), cards, 0.10);
    qint64 zoneRows = 0;
    {
        const auto file = NewFileSite(folder, "import.accdb");
        const double ms = Import(*file, autonoom, zoneRows);
        std::printf("legacy import, 128 x %d, SQLite:      %7.0f ms (%lld zone rows)\n", cards, ms,
                    static_cast<long long>(zoneRows));
    }
    {
        const auto site = NewServerSite(server);
        const double ms = Import(*site, autonoom, zoneRows);
        std::printf("legacy import, 128 x %d, PostgreSQL:  %7.0f ms (%lld zone rows)\n", cards, ms,
                    static_cast<long long>(zoneRows));
    }

    double sqliteList = 0;
    for (int engine = 0; engine < 2; ++engine) {
        std::unique_ptr<TMyDBConnector> db;
        if (engine == 0)
            db = NewFileSite(folder, "list.accdb");
        else
            db = NewServerSite(server);
        const auto controllers = FillListSite(*db, holders, controllerCount);
        size_t rows = 0;
        const double ms = ListOpening(*db, controllers, rows);
        if (engine == 0)
            sqliteList = ms;
        std::printf(
            "cardholder list, %d x %d, %-10s  %7.0f ms (%zu rows)%s\n", holders, controllerCount,
            engine == 0 ? "SQLite:" : "PostgreSQL:", ms, rows,
            engine == 0
                ? ""
                : qPrintable(
                      QStringLiteral("  = %1 x SQLite's time").arg(ms / sqliteList, 0, 'f', 2)));
        const QString first =
            QStringLiteral("%1").arg(0x200000000LL, 10, 16, QChar(u'0')).toUpper();
        std::printf("zone click round trip, %-10s      %7.2f ms\n",
                    engine == 0 ? "SQLite:" : "PostgreSQL:",
                    ZoneClick(*db, controllers.front()->ConID, first));
    }
    StopCluster();
    return 0;
}
