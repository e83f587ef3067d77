// The legacy import against a site of realistic size: 128 controllers and 10,000 cards with about
// 10 % of the zone flags set (about 128,000 zone rows), then the worst case with every flag set
// (1.28 million rows). Each run is the whole import as the wizard starts it: read and decode both
// files, insert, commit. Beside it, in the same run, the statement-at-a-time way: one statement
// per row through ExecuteQuery, once inside one transaction and once with every statement
// committed on its own (as the older program did; measured on the first cards only, since each
// commit waits for the disk, and scaled up).
//
//   bench_legacyimport [cards = 10000] [cards committed one at a time = 30]

#include "db/MySQLite.h"
#include "profiles/legacyimport.h"
#include "profiles/legacyrecords.h"

#include "legacyfiles.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>
#include <random>

namespace {

long PeakResidentKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

QString FreshDatabase(const QTemporaryDir& folder, const QString& name) {
    const QString file = folder.filePath(name);
    QFile::remove(file);
    if (!QFile::copy(QCoreApplication::applicationDirPath() + "/default.accdb", file))
        qFatal("no template beside the benchmark");
    QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return file;
}

// One statement per row through the connector, as the import was first described; `cardLimit`
// stops early. Returns the number of statements sent.
qint64 StatementAtATime(const QString& autonoom, const QString& database, int cardLimit,
                        bool oneTransaction) {
    TMySQLite db;
    db.ConnectionString = JetConnectionString(database);
    if (!db.Connect())
        qFatal("connect: %s", qPrintable(db.GetLastError()));
    if (oneTransaction && !db.StartTransaction())
        qFatal("begin: %s", qPrintable(db.GetLastError()));
    qint64 statements = 0;
    auto controllers = TLegacyRecordReader::OpenFile(autonoom, ControllerRecordSize);
    std::array<int, LegacyPositions> conIdAt{};
    QByteArrayView record;
    int recordNum = 0;
    while (controllers->Next(record)) {
        const auto controller = DecodeControllerRecord(record, ++recordNum);
        if (!controller)
            continue;
        db.ExecuteQuery({"INSERT INTO Controllers (ConType, ConName, ConCode, ConByte1, ConByte2) "
                         "VALUES(\"VYR292\", ?, ?, ?, ?)",
                         {controller->ConName, controller->ConCode, int(controller->ConByte1),
                          int(controller->ConByte2)}});
        if (const auto identity = db.Query("SELECT @@Identity"))
            conIdAt[size_t(recordNum - 1)] = identity->Fields(0).AsInteger();
        statements += 2;
    }
    auto cards = TLegacyRecordReader::OpenFile(LegacyCardFilePath(autonoom), CardRecordSize);
    for (int c = 0; c < cardLimit && cards->Next(record); ++c) {
        const TLegacyCard card = DecodeCardRecord(record);
        if (!card.HoldsCard())
            continue;
        const QString& number = card.CardNumber;
        db.ExecuteQuery({"INSERT INTO CardHolders (CardNumber, CardHolder, CardCustom1, "
                         "CardCustom2, CardCustom3, CardCustom4, CardAdded, CardLastEdit) "
                         "VALUES(?, ?, ?, ?, \"\", \"\", NOW(), NOW())",
                         {number, card.CardHolder, card.CardCustom1, card.CardCustom2}});
        ++statements;
        for (int p = 0; p < LegacyPositions; ++p) {
            if (card.Zones[size_t(p)] == 0 || conIdAt[size_t(p)] == 0)
                continue;
            db.ExecuteQuery({"INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES(?, ?, ?)",
                             {conIdAt[size_t(p)], number, card.Zones[size_t(p)]}});
            ++statements;
        }
    }
    if (oneTransaction && !db.CommitTransaction())
        qFatal("commit: %s", qPrintable(db.GetLastError()));
    return statements;
}

// The process's CPU time (user and system) in ms. The machine is shared, so the wall-clock time
// says as much about the neighbours as about us; both are printed.
double CpuMilliseconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

double CpuStart = 0;

void Report(const char* what, double ms, qint64 zoneRows) {
    std::printf("%-50s %7.0f ms wall %7.0f ms CPU %8lld zone rows  peak RSS %4ld MB\n", what, ms,
                CpuMilliseconds() - CpuStart, static_cast<long long>(zoneRows),
                PeakResidentKilobytes() / 1024);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int cards = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int autocommitCards = argc > 2 ? std::atoi(argv[2]) : 30;
    // "bulk": only the import itself, for profiling it.
    const bool bulkOnly = argc > 3 && qstrcmp(argv[3], "bulk") == 0;
    QTemporaryDir folder;
    std::printf("legacy import: 128 controllers, %d cards; peak RSS at start %ld MB\n", cards,
                PeakResidentKilobytes() / 1024);

    for (const auto& [label, flagChance] :
         {std::pair<const char*, double>{"10 % of the flags", 0.10},
          {"every flag (worst case)", 1.0}}) {
        const QString autonoom = WriteSampleLegacySite(folder.path(), cards, flagChance);
        std::printf("\n-- %s\n", label);

        QElapsedTimer timer;
        const QString bulkFile = FreshDatabase(folder, "bulk.accdb");
        CpuStart = CpuMilliseconds();
        timer.start();
        const TLegacyImportSummary summary = ImportLegacyFiles(autonoom, bulkFile);
        Report("import (multi-row statements, one transaction)", timer.nsecsElapsed() / 1e6,
               summary.ZoneRowsWritten);

        if (bulkOnly)
            continue;
        const QString singleFile = FreshDatabase(folder, "single.accdb");
        CpuStart = CpuMilliseconds();
        timer.restart();
        const qint64 statements = StatementAtATime(autonoom, singleFile, cards, true);
        Report("statement at a time, one transaction", timer.nsecsElapsed() / 1e6,
               statements - 256 - cards);

        if (autocommitCards > 0) {
            timer.restart();
            const qint64 sent = StatementAtATime(autonoom, FreshDatabase(folder, "auto.accdb"),
                                                 autocommitCards, false);
            const double ms = timer.nsecsElapsed() / 1e6;
            std::printf("statement at a time, each committed: %lld statements for %d cards in "
                        "%.0f ms (%.2f ms each); scaled to all %lld statements: %.0f s\n",
                        static_cast<long long>(sent), autocommitCards, ms, ms / double(sent),
                        static_cast<long long>(summary.ZoneRowsWritten + cards + 256),
                        ms / double(sent) * double(summary.ZoneRowsWritten + cards + 256) / 1000);
        }
    }
    return 0;
}
