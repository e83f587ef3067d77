// How long the cardholder list takes to open on a large site, and how much memory it needs:
// a profile database with many cardholders and controllers, each card holding a zone row at about
// a third of the controllers. The database is built in a child process, so the peak memory
// reported is the list's and the program's own. Then the list is sorted by name and by number.
// For comparison it also times the alternative the list does not use: one zone statement per
// card.
//
//   bench_cardholders [cardholders = 20000] [controllers = 32] [openings = 3]
//
// Runs offscreen unless QT_QPA_PLATFORM says otherwise.

#include "cardholders/cardholdermodel.h"
#include "cardholders/cardholders.h"
#include "db/MySQLite.h"
#include "profiles/profilesession.h"
#include "shared/datadir.h"
#include "shared/messagebox.h"
#include "shared/publictypes.h"
#include "shared/systemdesktop.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTreeView>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const char* const FirstNames[] = {
    "Anna",  "Bert",  "Carla",   "Dirk", "Émile", "Femke", "Gerrit",  "Hanna", "Ivo",    "Joke",
    "Karel", "Lotte", "Maarten", "Noor", "Otto",  "Petra", "Quinten", "Ria",   "Sander", "Tineke"};
const char* const LastNames[] = {"de Vries", "Jansen",  "van Dijk", "Bakker",   "Visser",
                                 "Smit",     "Meijer",  "de Boer",  "Mulder",   "de Groot",
                                 "Bos",      "Vos",     "Peters",   "Hendriks", "van Leeuwen",
                                 "Dekker",   "Brouwer", "de Wit",   "Dijkstra", "Smits"};

long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long CurrentKilobytes() {
    QFile statm("/proc/self/statm");
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : 0;
}

void Must(bool ok, TMyDBConnector& database, const TMyStatement& statement) {
    if (!ok)
        qFatal("%s: %s", qPrintable(statement.Sql), qPrintable(database.GetLastError()));
}

// Fills the copy of the template; runs in the child process.
void BuildDatabase(const QString& file, int cardholders, int controllers) {
    TMySQLite database;
    database.ConnectionString = JetConnectionString(file);
    if (!database.Connect())
        qFatal("connect: %s", qPrintable(database.GetLastError()));
    TBulkWork bulk(&database);
    QRandomGenerator random(4816);
    std::vector<int> ids;
    for (int c = 0; c < controllers; ++c) {
        const TMyStatement sql(
            "INSERT INTO Controllers (ConType, ConName, ConCode, ConByte1, ConByte2) "
            "VALUES(\"VYR292\", ?, \"A1B2C3\", 0, 0)",
            {QString("Door %1").arg(c + 1, 2, 10, QChar('0'))});
        Must(database.ExecuteQuery(sql), database, sql);
        ids.push_back(database.Query("SELECT @@Identity")->Fields(0).AsInteger());
    }
    for (int h = 0; h < cardholders; ++h) {
        const QString number =
            QString("%1")
                .arg(quint64(random.generate64() & 0xFFFFFFFFFFull), 10, 16, QChar('0'))
                .toUpper();
        const QString name =
            QString::fromUtf8(FirstNames[random.bounded(20)]) + " " + LastNames[random.bounded(20)];
        const TMyStatement sql(
            "INSERT INTO CardHolders (CardNumber, CardHolder, CardCustom1, CardCustom2, "
            "CardCustom3, CardCustom4, CardAdded, CardLastEdit) VALUES(?, ?, ?, ?, \"\", \"\", "
            "NOW(), NOW())",
            {number, name, QString("Department %1").arg(random.bounded(40)),
             QString("Badge %1").arg(h)});
        Must(database.ExecuteQuery(sql), database, sql);
        for (int id : ids)
            if (random.bounded(3) == 0) {
                const TMyStatement zone(
                    "INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES(?, ?, ?)",
                    {id, number, 1 + int(random.bounded(2))});
                Must(database.ExecuteQuery(zone), database, zone);
            }
    }
}

void LoadControllerList(TMyDBConnector& database, TControllerRecords& controllers) {
    controllers.clear();
    if (const auto rows = database.Query("SELECT * FROM Controllers ORDER BY ConName ASC"))
        for (rows->First(); !rows->Eof(); rows->Next()) {
            auto controller = std::make_unique<TStandController>();
            controller->ConID = rows->FieldByName("ConID").AsInteger();
            controller->ConName = rows->FieldByName("ConName").AsString();
            controllers.push_back(std::move(controller));
        }
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int cardholders = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int controllers = argc > 2 ? std::atoi(argv[2]) : 32;
    const int openings = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;

    QTemporaryDir folder;
    const QString file = folder.path() + "/bench.accdb";
    {
        // ProgramDirectory() needs the application object; the path is all we take from it here.
        const QString templateFile =
            QString::fromLocal8Bit(argv[0]).section('/', 0, -2) + "/default.accdb";
        if (!QFile::copy(templateFile, file))
            qFatal("no template at %s", qPrintable(templateFile));
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
    }
    QElapsedTimer clock;
    clock.start();
    const pid_t child = fork();
    if (child == 0) {
        BuildDatabase(file, cardholders, controllers);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        qFatal("building the database failed");
    std::printf("database: %d cardholders, %d controllers, built in %.1f s\n", cardholders,
                controllers, clock.elapsed() / 1000.0);

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    MessageBoxes::SetAnsweringMode(true);
    auto database = std::make_unique<TMySQLite>();
    database->ConnectionString = JetConnectionString(file);
    if (!database->Connect())
        qFatal("connect: %s", qPrintable(database->GetLastError()));
    TProfileSession session(TVYRStandProfile(file), std::move(database));
    TMyDBConnector& db = session.Database();
    LoadControllerList(db, session.Controllers());
    {
        const auto rows = db.Query("SELECT COUNT(*) FROM CardZones");
        std::printf("zone rows: %d (%.1f per card)\n", rows->Fields(0).AsInteger(),
                    double(rows->Fields(0).AsInteger()) / std::max(1, cardholders));
    }

    const long baseline = PeakKilobytes();
    std::printf("before opening: peak %.1f MB, resident %.1f MB\n", baseline / 1024.0,
                CurrentKilobytes() / 1024.0);

    TSystemDesktop desktop;
    const TRunSettings settings;
    std::vector<double> opening, shown, byName, byNumber;
    for (int run = 0; run < openings; ++run) {
        clock.restart();
        TfrmCardHolders list(desktop, session, settings);
        opening.push_back(clock.nsecsElapsed() / 1e6);
        auto* view = list.findChild<QTreeView*>("VSTCardHolders");
        list.show();
        QApplication::processEvents();
        view->viewport()->repaint();
        shown.push_back(clock.nsecsElapsed() / 1e6);
        if (view->model()->rowCount() != cardholders)
            qFatal("loaded %d of %d", view->model()->rowCount(), cardholders);
        if (run == 0)
            std::printf("after opening: peak %.1f MB, resident %.1f MB\n", PeakKilobytes() / 1024.0,
                        CurrentKilobytes() / 1024.0);

        // A click on "Name" (already the sort column) flips it; then "Cardnumber" twice.
        clock.restart();
        list.VSTCardHoldersHeaderClick(TCardHolderModel::CardHolderColumn);
        view->viewport()->repaint();
        byName.push_back(clock.nsecsElapsed() / 1e6);
        clock.restart();
        list.VSTCardHoldersHeaderClick(TCardHolderModel::CardNumberColumn);
        view->viewport()->repaint();
        byNumber.push_back(clock.nsecsElapsed() / 1e6);
        clock.restart();
        list.VSTCardHoldersHeaderClick(TCardHolderModel::CardNumberColumn);
        view->viewport()->repaint();
        byNumber.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::printf("open (create and load): median %.0f ms, min %.0f ms over %d\n", Median(opening),
                *std::min_element(opening.begin(), opening.end()), openings);
    std::printf("open and first paint:   median %.0f ms, min %.0f ms\n", Median(shown),
                *std::min_element(shown.begin(), shown.end()));
    std::printf("sort by name:           median %.0f ms\n", Median(byName));
    std::printf("sort by number:         median %.0f ms\n", Median(byNumber));
    std::printf("peak memory: %.1f MB in all, %.1f MB more than before opening\n",
                PeakKilobytes() / 1024.0, (PeakKilobytes() - baseline) / 1024.0);

    // Where the opening's time goes.
    clock.restart();
    db.Query("SELECT CardNumber, CardHolder, CardCustom1, CardCustom2, CardCustom3, "
             "CardCustom4, CardInactive, CardAdded, CardLastEdit FROM CardHolders "
             "WHERE (NOT Deleted)  ORDER BY CardHolder ASC");
    std::printf("  of which the cardholder statement: %.0f ms\n", clock.nsecsElapsed() / 1e6);
    clock.restart();
    db.Query("SELECT CardNumber, ConID, ZoneID FROM CardZones ORDER BY CardNumber "
             "ASC, ConID ASC, ZoneID ASC");
    std::printf("  of which the zone statement: %.0f ms\n", clock.nsecsElapsed() / 1e6);
    clock.restart();
    {
        std::vector<std::unique_ptr<TCardHolder>> records;
        ReadCardHolders(db, {}, session.Controllers(), records);
    }
    std::printf("  reading and joining both: %.0f ms\n", clock.nsecsElapsed() / 1e6);

    // The road not taken: one zone statement per card.
    std::vector<QString> numbers;
    {
        const auto rows = db.Query("SELECT CardNumber FROM CardHolders");
        for (rows->First(); !rows->Eof(); rows->Next())
            numbers.push_back(rows->Fields(0).AsString());
    }
    clock.restart();
    for (const QString& number : numbers) {
        db.Query({"SELECT ConID, ZoneID FROM CardZones WHERE (CardNumber = ?)", {number}});
    }
    std::printf("for comparison, one zone statement per card: %.0f ms for %zu cards\n",
                clock.nsecsElapsed() / 1e6, numbers.size());

    return 0;
}
