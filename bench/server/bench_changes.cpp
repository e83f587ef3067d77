// How long a change on one workstation takes to show on another, on one machine: a site in a
// SQLite file (two copies of the program on it) and the same site on a PostgreSQL server.
//
// Workstation B renames one cardholder, with the journal entry a save writes; workstation A's
// change watch tells, and A reads its cardholder list again on the reload thread and takes the rows
// into its list's model, as the open list does: only the cards the notice names when it names them,
// else the whole list (both are measured on the server). One run ends when A's model holds the new
// name. Both workstations are connectors in this process, each with a connection of its own.
//
//   bench_changes [runs = 21] [holders in the list = 2000]
//
// The server is a throwaway cluster on a Unix socket (tests/support/pgcluster.sh), or the
// database that VYR_BENCH_SERVER names (a libpq connection text to an empty database). The
// figures are printed; nothing is asserted.

#include "cardholders/cardholdermodel.h"
#include "cardholders/cardholderreload.h"
#include "db/MyPostgreSQL.h"
#include "db/MySQLite.h"
#include "db/changewatch.h"
#include "journal/journal.h"

#include "benchsites.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

void FillList(TMyDBConnector& db, int holders) {
    TBulkWork bulk(&db);
    for (int i = 0; i < holders; ++i)
        Must(db.ExecuteQuery({"INSERT INTO CardHolders (CardNumber, CardHolder, CardCustom1, "
                              "CardCustom2, CardCustom3, CardCustom4, CardAdded, CardLastEdit, "
                              "Deleted) VALUES(?, ?, \"\", \"\", \"\", \"\", NOW(), NOW(), ?)",
                              {QStringLiteral("%1").arg(1000000000 + i),
                               QStringLiteral("Holder %1").arg(i), false}}),
             db, "fill the list");
}

struct TFigures {
    double Told = 0;  // milliseconds from the start of B's statement to A's watch telling
    double Shown = 0; // ... to A's fresh rows
};

// What the list reads for a change: the cards named, or all.
TCardHolderRead ReadFor(const TChangedCards& cards, bool named) {
    TCardHolderRead read;
    if (named && cards.Known) {
        read.Cards.emplace();
        for (const QString& number : cards.Numbers)
            read.Cards->insert(CardNumberKey(number));
    }
    return read;
}

TFigures OneRun(TMyDBConnector& b, TChangeWatch& watch, TCardHolderReload& reload,
                TCardHolderModel& model, bool named, int run) {
    const QString number = QStringLiteral("%1").arg(1000000000 + run);
    const QString name = QStringLiteral("Renamed %1").arg(run);
    QElapsedTimer timer;
    QEventLoop loop;
    TFigures figures;
    bool told = false;
    TCardHolderRead asked;
    const auto onTold = QObject::connect(&watch, &TChangeWatch::Changed, &loop,
                                         [&](const QStringList&, const TChangedCards& cards) {
                                             if (told)
                                                 return;
                                             told = true;
                                             figures.Told = double(timer.nsecsElapsed()) / 1e6;
                                             asked = ReadFor(cards, named);
                                             reload.Load(asked);
                                         });
    const auto onLoaded =
        QObject::connect(&reload, &TCardHolderReload::Loaded, &loop,
                         [&](const std::shared_ptr<TCardHolderRows>& rows) {
                             model.Merge(std::move(rows->Records), rows->Within);
                             const int row = model.RowOf(number);
                             if (row >= 0 && model.Record(row)->CardHolder == name) {
                                 figures.Shown = double(timer.nsecsElapsed()) / 1e6;
                                 loop.quit();
                                 return;
                             }
                             reload.Load(asked); // told before the commit was visible: read again
                         });
    QTimer::singleShot(10000, &loop, [&] { qFatal("run %d: the change never showed", run); });
    timer.start();
    {
        // As a save makes it: the change and its journal entry, which names the card.
        TTransaction change(b);
        Must(b.ExecuteQuery(
                 {"UPDATE CardHolders SET CardHolder = ? WHERE CardNumber = ?", {name, number}}),
             b, "rename");
        TJournalEntry entry;
        entry.Action = TJournalAction::CardHolderEdited;
        entry.CardNumber = number;
        entry.CardHolder = name;
        entry.Changes = {{"CardHolder", {}, name}};
        Must(AppendJournal(b, entry, {"bench", "desk"}), b, "journal the rename");
        Must(change.Commit(), b, "commit the rename");
    }
    loop.exec();
    QObject::disconnect(onTold);
    QObject::disconnect(onLoaded);
    return figures;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void Measure(const char* engine, TMyDBConnector& a, TMyDBConnector& b, int runs, bool named) {
    const std::unique_ptr<TChangeWatch> watch = a.WatchChanges();
    QEventLoop settle;
    QTimer::singleShot(1500, &settle, &QEventLoop::quit); // the watch begins to listen
    settle.exec();
    TCardHolderReload reload(a.GetDBTypeName(), a.ConnectionString);
    std::vector<std::unique_ptr<TStandController>> controllers;
    TCardHolderModel model(controllers);
    Must(model.Load(&a, {}), a, "load the list");
    std::vector<double> told;
    std::vector<double> shown;
    for (int run = 0; run < runs; ++run) {
        const TFigures figures = OneRun(b, *watch, reload, model, named, run);
        told.push_back(figures.Told);
        shown.push_back(figures.Shown);
        // Apart, so that the runs fall at different moments of a polling watch's period.
        QEventLoop pause;
        QTimer::singleShot(97, &pause, &QEventLoop::quit);
        pause.exec();
    }
    std::printf("%-24s  told: median %7.1f ms (min %6.1f, max %6.1f)   shown: median %7.1f ms "
                "(min %6.1f, max %6.1f)\n",
                engine, Median(told), *std::min_element(told.begin(), told.end()),
                *std::max_element(told.begin(), told.end()), Median(shown),
                *std::min_element(shown.begin(), shown.end()),
                *std::max_element(shown.begin(), shown.end()));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
    const int holders = std::max(runs, argc > 2 ? std::atoi(argv[2]) : 2000);
    std::printf("%d runs, %d holders in the list\n", runs, holders);

    QTemporaryDir folder;
    const QString file = folder.filePath("site.accdb");
    if (!QFile::copy(QCoreApplication::applicationDirPath() + "/default.accdb", file))
        qFatal("no template beside the benchmark");
    QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    {
        TMySQLite a;
        TMySQLite b;
        a.ConnectionString = b.ConnectionString = JetConnectionString(file);
        Must(a.Connect(), a, "open the file");
        Must(b.Connect(), b, "open the file again");
        FillList(b, holders);
        Measure("SQLite", a, b, runs, false);
    }

    const QString server = StartCluster();
    {
        TMyPostgreSQL a;
        TMyPostgreSQL b;
        a.ConnectionString = b.ConnectionString = server;
        Must(a.ConnectMakingSite(), a, "connect to the server");
        Must(b.Connect(), b, "connect to the server again");
        FillList(b, holders);
        Measure("PostgreSQL, whole list", a, b, runs, false);
        Measure("PostgreSQL, named cards", a, b, runs, true);
    }
    StopCluster();
    return 0;
}
