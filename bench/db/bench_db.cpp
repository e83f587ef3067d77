// What the connector costs over SQLite itself: the same statements, sent once through
// TMySQLite (Access dialect, translation, fully fetched result sets) and once straight through
// the sqlite3 C API (SQLite dialect, prepared, stepped and finalized per statement, the values
// read into QStrings as any caller would). Both files are copies of the template with the same
// pragmas; each workload runs inside one transaction and, for the writes, also one statement at a
// time, where the disk's sync decides everything.
//
//   bench_db [rows in one transaction = 10000] [rows one at a time = 300]

#include "db/MySQLite.h"
#include "db/sqlitetext.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>

namespace {

QString CardNumber(int i) {
    return QStringLiteral("%1").arg(i, 10, 16, QLatin1Char('0')).toUpper();
}

QString Holder(int i) {
    return QStringLiteral("Holder %1 O'Neil").arg(i);
}

QString SQLiteQuoted(const QString& value) {
    QString quoted = value;
    quoted.replace(u'\'', QStringLiteral("''"));
    return u'\'' + quoted + u'\'';
}

const QString SelectColumns =
    QStringLiteral("SELECT CardNumber, CardHolder, CardCustom1, CardCustom2, CardCustom3, "
                   "CardCustom4, CardInactive, CardAdded, CardLastEdit FROM CardHolders ");

// --- the connector --------------------------------------------------------------------------

class TConnectorSide {
public:
    explicit TConnectorSide(const QString& file) {
        FDb.ConnectionString = JetConnectionString(file);
        if (!FDb.Connect())
            qFatal("connect: %s", qPrintable(FDb.GetLastError()));
    }

    void Insert(int i) {
        if (!FDb.ExecuteQuery({"INSERT INTO CardHolders (CardNumber, CardHolder, CardCustom1, "
                               "CardCustom2, CardCustom3, CardCustom4, CardAdded, CardLastEdit) "
                               "VALUES (?, ?, \"a\", \"b\", \"\", \"\", NOW(), NOW())",
                               {CardNumber(i), Holder(i)}}))
            qFatal("insert: %s", qPrintable(FDb.GetLastError()));
    }

    void InsertZone(int controller, int card) {
        FDb.ExecuteQuery({"INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES (?, ?, ?)",
                          {controller, CardNumber(card), card % 3}});
    }

    // One cardholder row, every field read as the cardholder dialog does.
    qsizetype SelectOne(int i) {
        qsizetype size = 0;
        if (const auto result = FDb.Query(
                {SelectColumns + "WHERE (CardNumber = ?) AND (NOT Deleted)", {CardNumber(i)}})) {
            for (int f = 0; f < result->FieldCount(); ++f)
                size += result->Fields(f).AsString().size();
        }
        return size;
    }

    // The cardholder list: all rows by holder, then each card's zones.
    qsizetype LoadList() {
        qsizetype size = 0;
        if (const auto result =
                FDb.Query(SelectColumns + "WHERE (NOT Deleted)  ORDER BY CardHolder ASC")) {
            for (result->First(); !result->Eof(); result->Next()) {
                const QString number = result->FieldByName("CardNumber").AsString();
                size += number.size() + result->FieldByName("CardHolder").AsString().size() +
                        result->FieldByName("CardCustom1").AsString().size() +
                        result->FieldByName("CardCustom2").AsString().size() +
                        result->FieldByName("CardCustom3").AsString().size() +
                        result->FieldByName("CardCustom4").AsString().size();
                size += result->FieldByName("CardInactive").AsDateTime().isValid();
                if (const auto zones = FDb.Query(
                        {"SELECT ConID, ZoneID FROM CardZones WHERE (CardNumber = ?)", {number}})) {
                    for (zones->First(); !zones->Eof(); zones->Next())
                        size += zones->Fields(0).AsInteger() + zones->Fields(1).AsInteger();
                }
            }
        }
        return size;
    }

    TMySQLite& Db() { return FDb; }

private:
    TMySQLite FDb;
};

// --- SQLite itself ---------------------------------------------------------------------------

class TRawSide {
public:
    explicit TRawSide(const QString& file) {
        if (sqlite3_open_v2(QFile::encodeName(file).constData(), &FDb, SQLITE_OPEN_READWRITE,
                            nullptr) != SQLITE_OK)
            qFatal("open: %s", sqlite3_errmsg(FDb));
        sqlite3_busy_timeout(FDb, 5000);
        RegisterTextRules(FDb, nullptr);
        Exec("PRAGMA synchronous = FULL");
    }
    ~TRawSide() { sqlite3_close(FDb); }

    void Exec(const char* sql) {
        if (sqlite3_exec(FDb, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            qFatal("%s: %s", sql, sqlite3_errmsg(FDb));
    }

    void Insert(int i) {
        Run("INSERT INTO CardHolders (CardNumber, CardHolder, CardCustom1, CardCustom2, "
            "CardCustom3, CardCustom4, CardAdded, CardLastEdit) VALUES (" +
                SQLiteQuoted(CardNumber(i)) + ", " + SQLiteQuoted(Holder(i)) +
                ", 'a', 'b', '', '', datetime('now', 'localtime'), datetime('now', 'localtime'))",
            nullptr);
    }

    void InsertZone(int controller, int card) {
        Run("INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES (" +
                QString::number(controller) + ", " + SQLiteQuoted(CardNumber(card)) + ", " +
                QString::number(card % 3) + ")",
            nullptr);
    }

    qsizetype SelectOne(int i) {
        qsizetype size = 0;
        Run(SelectColumns + "WHERE (CardNumber = " + SQLiteQuoted(CardNumber(i)) +
                ") AND (NOT Deleted)",
            [&](sqlite3_stmt* statement) {
                for (int f = 0; f < sqlite3_column_count(statement); ++f)
                    size += Text(statement, f).size();
            });
        return size;
    }

    // Fetched whole first, as the connector hands it over, so both sides take the engine's read
    // lock the same number of times.
    qsizetype LoadList() {
        qsizetype size = 0;
        QStringList numbers;
        Run(SelectColumns + "WHERE (NOT Deleted)  ORDER BY CardHolder ASC",
            [&](sqlite3_stmt* statement) {
                numbers << Text(statement, 0);
                size += numbers.back().size();
                for (int f = 1; f <= 5; ++f)
                    size += Text(statement, f).size();
                size += sqlite3_column_type(statement, 6) != SQLITE_NULL;
                size += Text(statement, 7).size() + Text(statement, 8).size();
            });
        for (const QString& number : numbers) {
            Run("SELECT ConID, ZoneID FROM CardZones WHERE (CardNumber = " + SQLiteQuoted(number) +
                    ")",
                [&](sqlite3_stmt* zones) {
                    size += sqlite3_column_int(zones, 0) + sqlite3_column_int(zones, 1);
                });
        }
        return size;
    }

private:
    static QString Text(sqlite3_stmt* statement, int column) {
        return QString::fromUtf8(
            reinterpret_cast<const char*>(sqlite3_column_text(statement, column)),
            sqlite3_column_bytes(statement, column));
    }

    void Run(const QString& sql, const std::function<void(sqlite3_stmt*)>& row) {
        const QByteArray text = sql.toUtf8();
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(FDb, text.constData(), int(text.size()), &statement, nullptr) !=
            SQLITE_OK)
            qFatal("prepare: %s", sqlite3_errmsg(FDb));
        int rc;
        while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
            if (row)
                row(statement);
        }
        if (rc != SQLITE_DONE)
            qFatal("step: %s", sqlite3_errmsg(FDb));
        sqlite3_finalize(statement);
    }

    sqlite3* FDb = nullptr;
};

// --- measuring -------------------------------------------------------------------------------

// Wall time tells what the user waits for, sync included; the process's CPU time is what the
// comparison rests on, since other work on a shared machine inflates wall times at random.
struct TTimes {
    double Wall = 1e9;
    double Cpu = 1e9;
    void KeepBest(const TTimes& other) {
        Wall = std::min(Wall, other.Wall);
        Cpu = std::min(Cpu, other.Cpu);
    }
};

double CpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

TTimes Measure(const std::function<void()>& work) {
    QElapsedTimer timer;
    const double cpuStart = CpuSeconds();
    timer.start();
    work();
    return {double(timer.nsecsElapsed()) / 1e9, CpuSeconds() - cpuStart};
}

void Report(const char* what, int count, const TTimes& connector, const TTimes& raw) {
    std::printf("%-50s %6d | cpu: connector %8.2f us, sqlite %8.2f us, overhead %+6.1f %% | wall: "
                "connector %9.2f us, sqlite %9.2f us\n",
                what, count, connector.Cpu / count * 1e6, raw.Cpu / count * 1e6,
                (connector.Cpu / raw.Cpu - 1.0) * 100.0, connector.Wall / count * 1e6,
                raw.Wall / count * 1e6);
    std::fflush(stdout);
}

QString FreshCopy(const QTemporaryDir& folder, const QString& name) {
    const QString file = folder.filePath(name);
    QFile::remove(file);
    if (!QFile::copy(QCoreApplication::applicationDirPath() + "/default.accdb", file))
        qFatal("no template beside the benchmark");
    QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return file;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const int bulkRows = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int singleRows = argc > 2 ? std::atoi(argv[2]) : 300;
    QTemporaryDir folder(QDir::currentPath() + "/bench_db-XXXXXX");
    std::printf("SQLite %s, files in %s\n", sqlite3_libversion(), qPrintable(folder.path()));

    // Five rounds, each side on a fresh file; the best round counts (the machine is shared).
    const int rounds = 5;
    TTimes insertBulk[2], selectBulk[2], selectSingle[2], insertSingle[2];
    for (int round = 0; round < rounds; ++round) {
        {
            TConnectorSide connector(FreshCopy(folder, "connector.accdb"));
            insertBulk[0].KeepBest(Measure([&] {
                TBulkWork bulk(&connector.Db());
                for (int i = 0; i < bulkRows; ++i)
                    connector.Insert(i);
            }));
            qsizetype sink = 0;
            selectBulk[0].KeepBest(Measure([&] {
                TBulkWork bulk(&connector.Db());
                for (int i = 0; i < bulkRows; ++i)
                    sink += connector.SelectOne(i);
            }));
            selectSingle[0].KeepBest(Measure([&] {
                for (int i = 0; i < bulkRows; ++i)
                    sink += connector.SelectOne(i);
            }));
            insertSingle[0].KeepBest(Measure([&] {
                for (int i = 0; i < singleRows; ++i)
                    connector.Insert(bulkRows + i);
            }));
            if (sink == 0)
                std::printf("nothing read\n");
        }
        {
            TRawSide raw(FreshCopy(folder, "raw.accdb"));
            insertBulk[1].KeepBest(Measure([&] {
                raw.Exec("BEGIN IMMEDIATE");
                for (int i = 0; i < bulkRows; ++i)
                    raw.Insert(i);
                raw.Exec("COMMIT");
            }));
            qsizetype sink = 0;
            selectBulk[1].KeepBest(Measure([&] {
                raw.Exec("BEGIN IMMEDIATE");
                for (int i = 0; i < bulkRows; ++i)
                    sink += raw.SelectOne(i);
                raw.Exec("COMMIT");
            }));
            selectSingle[1].KeepBest(Measure([&] {
                for (int i = 0; i < bulkRows; ++i)
                    sink += raw.SelectOne(i);
            }));
            insertSingle[1].KeepBest(Measure([&] {
                for (int i = 0; i < singleRows; ++i)
                    raw.Insert(bulkRows + i);
            }));
            if (sink == 0)
                std::printf("nothing read\n");
        }
    }
    Report("INSERT, one transaction", bulkRows, insertBulk[0], insertBulk[1]);
    Report("single-row SELECT, one transaction", bulkRows, selectBulk[0], selectBulk[1]);
    Report("single-row SELECT, one at a time", bulkRows, selectSingle[0], selectSingle[1]);
    Report("INSERT, one at a time (full sync each)", singleRows, insertSingle[0], insertSingle[1]);

    // The cardholder list as the program loads it: 20,000 cards, 10 zone rows each.
    {
        const int cards = 20000;
        const int controllers = 10;
        TConnectorSide connector(FreshCopy(folder, "connector.accdb"));
        {
            TBulkWork bulk(&connector.Db());
            for (int i = 0; i < cards; ++i) {
                connector.Insert(i);
                for (int c = 1; c <= controllers; ++c)
                    connector.InsertZone(c, i);
            }
        }
        connector.Db().Disconnect();
        const QString rawFile = folder.filePath("raw.accdb");
        QFile::remove(rawFile);
        QFile::copy(folder.filePath("connector.accdb"), rawFile);
        connector.Db().Connect();
        TRawSide raw(rawFile);
        TTimes list[2], listBulk[2];
        qsizetype sink = 0;
        for (int round = 0; round < rounds; ++round) {
            list[0].KeepBest(Measure([&] { sink += connector.LoadList(); }));
            list[1].KeepBest(Measure([&] { sink += raw.LoadList(); }));
            listBulk[0].KeepBest(Measure([&] {
                TBulkWork bulk(&connector.Db());
                sink += connector.LoadList();
            }));
            listBulk[1].KeepBest(Measure([&] {
                raw.Exec("BEGIN IMMEDIATE");
                sink += raw.LoadList();
                raw.Exec("COMMIT");
            }));
        }
        Report("cardholder list (20,000 + zones), one at a time", 1, list[0], list[1]);
        Report("cardholder list (20,000 + zones), one transaction", 1, listBulk[0], listBulk[1]);
        if (sink == 0)
            std::printf("nothing read\n");
    }
    return 0;
}
