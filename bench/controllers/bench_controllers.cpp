// Figures for the controller list and the key programming; run by hand from the build's bin folder:
//   ./bench_controllers [repetitions]
// Everything happens in a temporary home: nothing touches the user's own settings or data.
#include "app/main.h"
#include "controllers/controllerstatements.h"
#include "controllers/keycontents.h"
#include "controllers/keyimage.h"
#include "controllers/keyreader.h"
#include "controllers/keyreport.h"
#include "controllers/keywriter.h"
#include "controllers/programdevice.h"
#include "db/MyDBConnector.h"
#include "db/MySQLite.h"
#include "profiles/profilesession.h"
#include "reader/CodeReaderInterface.h"
#include "reader/cardpoller.h"
#include "shared/datadir.h"
#include "shared/messagebox.h"
#include "shared/publictypes.h"
#include "shared/systemdesktop.h"
#include "shared/translation.h"

#include "virtualadapter.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int Controllers = 500;
constexpr int ZoneRows = 20000;

struct Figures {
    double Median = 0, Min = 0, Max = 0;
};

Figures Measure(int repetitions, const std::function<void()>& work) {
    std::vector<double> ms;
    for (int i = 0; i < repetitions; ++i) {
        QElapsedTimer clock;
        clock.start();
        work();
        ms.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.front(), ms.back()};
}

void Print(const char* what, const Figures& f) {
    std::printf("  %-52s median %8.2f ms  (min %.2f, max %.2f)\n", what, f.Median, f.Min, f.Max);
}

// A session on a fresh copy of the template database; none when it cannot be opened, with the
// reason in `problem`.
std::unique_ptr<TProfileSession> OpenDatabase(const QString& file, QString& problem) {
    QDir().mkpath(QFileInfo(file).absolutePath());
    if (!QFile::copy(ProgramDirectory() + "/default.accdb", file))
        return nullptr;
    QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    auto database = std::make_unique<TMySQLite>();
    database->ConnectionString = JetConnectionString(file);
    if (!database->Connect()) {
        problem = database->GetLastError();
        return nullptr;
    }
    return std::make_unique<TProfileSession>(TVYRStandProfile(file), std::move(database));
}

QString Card(int i) {
    return QStringLiteral("%1").arg(i, 10, 16, QLatin1Char('0')).toUpper();
}

void FillDatabase(TMyDBConnector& database) {
    TBulkWork bulk(&database);
    for (int c = 0; c < Controllers; ++c)
        database.ExecuteQuery(InsertControllerStatement(
            "Controller " + QString::number(c * 7919 % Controllers), "A1B2C3", 2, 4));
    // 40 rows per controller; one in five has zone 0 and does not count.
    for (int row = 0; row < ZoneRows; ++row)
        database.ExecuteQuery(InsertCardZoneStatement(1 + row % Controllers, Card(row),
                                                      row % 5 == 0 ? 0 : 1 + row % 2));
}

void BenchReload(TfrmMain& main, int repetitions) {
    std::printf("Controller list: %d controllers, %d zone rows\n", Controllers, ZoneRows);
    main.resize(689, 447);
    Print("reload (LoadControllers with the counts, ShowControllers)",
          Measure(repetitions, [&] { main.ReloadControllers(); }));
    Print("  LoadControllers", Measure(repetitions, [&] { main.LoadControllers(); }));
    Print("  ShowControllers", Measure(repetitions, [&] { main.ShowControllers(); }));
    Print("  CountCards (one GROUP BY statement)",
          Measure(repetitions, [&] { main.CountCards(); }));
    Print("  the same counts with one COUNT per controller", Measure(repetitions, [&] {
              TProfileSession& session = *main.Session();
              for (const auto& controller : session.Controllers()) {
                  if (const auto rows =
                          session.Database().Query(CountCardsStatement(controller->ConID)))
                      controller->CardCount = rows->Fields(0).AsInteger();
              }
          }));
    main.show();
    for (int i = 0; i < 10; ++i)
        QApplication::processEvents();
    auto* list = main.findChild<QTreeWidget*>("VSTControllers");
    list->setCurrentItem(list->topLevelItem(3));
    Print("reload and draw the shown window", Measure(repetitions, [&] {
              main.ReloadControllers();
              list->setCurrentItem(list->topLevelItem(3));
              main.repaint();
          }));
    Print("close the window's list (FreeControllers)", Measure(1, [&] { main.FreeControllers(); }));
}

// Reading a key back for the operator against the write's own read-back, on the same key.
void BenchReading(TMyDBConnector& database, TReaderInterface& reader, VirtualAdapter& adapter,
                  const TStandController& controller, int repetitions) {
    const auto traffic = [&](const std::function<void()>& work, VirtualAdapter::Traffic& used) {
        const VirtualAdapter::Traffic before = adapter.Counters();
        work();
        const VirtualAdapter::Traffic after = adapter.Counters();
        used = {after.BytesIn - before.BytesIn, after.BytesOut - before.BytesOut,
                after.RoundTrips - before.RoundTrips, 0};
    };
    VirtualAdapter::Traffic readBackTraffic{}, readTraffic{};
    std::vector<uint8_t> page;
    QString card;
    const Figures readBack = Measure(repetitions, [&] {
        traffic(
            [&] {
                for (int p = 0; p < KeyPageCount; ++p)
                    reader.ReadPage(p * KeyPageSize, page);
                reader.ReadRom(card, false);
            },
            readBackTraffic);
    });
    Print("the write's read-back (16 pages + ROM check)", readBack);
    // The poller's look found the key before either job; both start from what it found.
    TCardOnAdapter looked;
    reader.ReadRom(looked.Number, false);
    looked.FamilyCode = reader.FamilyCode;
    looked.FamilyType = reader.FamilyType;
    auto read = std::make_shared<TKeyRead>();
    int valid = 0;
    const Figures reading = Measure(repetitions, [&] {
        traffic(
            [&] {
                KeyReadJob(read, looked)(reader, [](int) {});
                valid += DecodeKeyImage(read->Image).State == TKeyImageState::Valid ? 1 : 0;
            },
            readTraffic);
    });
    Print("reading a key (16 pages, ROM check) + decoding", reading);
    std::printf("  bytes to/from the adapter, round trips: read-back %llu/%llu/%llu, reading "
                "%llu/%llu/%llu; %d of %d keys decoded valid\n",
                readBackTraffic.BytesIn, readBackTraffic.BytesOut, readBackTraffic.RoundTrips,
                readTraffic.BytesIn, readTraffic.BytesOut, readTraffic.RoundTrips, valid,
                repetitions);
    // What the window adds after the adapter's part: the database's image and the site's cards.
    std::vector<std::unique_ptr<TStandController>> owners;
    owners.push_back(std::make_unique<TStandController>(controller));
    const TDecodedKey key = DecodeKeyImage(read->Image);
    Print("the report (compare with the database, cards per entry)",
          Measure(repetitions, [&] { MakeKeyReport(database, owners, key); }));
}

void BenchProgramming(TProfileSession& session, int repetitions, int cards) {
    VirtualAdapter adapter;
    if (!adapter.Ready()) {
        std::printf("Key programming: no virtual adapter (%s)\n", qPrintable(adapter.Problem()));
        return;
    }
    TMyDBConnector& database = session.Database();
    database.ExecuteQuery(InsertControllerStatement("Programmed", "A1B2C3", 2, 4));
    int32_t conId = 0;
    if (const auto identity = database.Query(LastIdentityStatement()))
        conId = identity->Fields(0).AsInteger();
    {
        TBulkWork bulk(&database);
        for (int i = 0; i < cards; ++i)
            database.ExecuteQuery(InsertCardZoneStatement(conId, Card(0x100000 + i), 1 + i % 2));
    }
    TStandController controller;
    controller.ConID = conId;
    controller.ConCode = "A1B2C3";
    controller.ConByte1 = 2;
    controller.ConByte2 = 4;
    const QString key = VirtualAdapter::RomOf(0x06, QByteArray::fromHex("0A1B2C3D4E5F"));
    adapter.Put(key);

    std::printf("Key programming on the virtual adapter, %d cards:\n", cards);
    std::vector<double> ms;
    VirtualAdapter::Traffic total{};
    int programmed = 0;
    for (int i = 0; i < repetitions; ++i) {
        adapter.SetMemory(key, QByteArray(KeyImageSize, char(0x5A)));
        controller.ChangesMade = true;
        WaitForAdapterThread(); // the last dialog's session is over
        const VirtualAdapter::Traffic before = adapter.Counters();
        QElapsedTimer clock;
        clock.start();
        {
            TfrmProgramDevice dialog(session, adapter.Settings);
            dialog.Controller = &controller;
            // The first look at once instead of after the usual interval.
            if (auto* poller = dialog.findChild<TCardPollerLink*>("CardPoller"))
                poller->SetInterval(0);
            QEventLoop untilDone;
            QObject::connect(&dialog, &QDialog::finished, &untilDone, &QEventLoop::quit);
            QTimer::singleShot(30000, &untilDone, &QEventLoop::quit);
            untilDone.exec();
        }
        ms.push_back(double(clock.nsecsElapsed()) / 1e6);
        const VirtualAdapter::Traffic after = adapter.Counters();
        total.BytesIn += after.BytesIn - before.BytesIn;
        total.BytesOut += after.BytesOut - before.BytesOut;
        total.RoundTrips += after.RoundTrips - before.RoundTrips;
        programmed += controller.ChangesMade ? 0 : 1;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("  %-52s median %8.2f ms  (min %.2f, max %.2f), %d of %d keys programmed\n",
                "session, read ROM, query, 16 writes, read-back", ms[ms.size() / 2], ms.front(),
                ms.back(), programmed, repetitions);
    std::printf("  per key: %llu bytes to the adapter, %llu bytes back, %llu round trips\n",
                total.BytesIn / quint64(repetitions), total.BytesOut / quint64(repetitions),
                total.RoundTrips / quint64(repetitions));

    // The read-back's share, measured on its own.
    WaitForAdapterThread();
    const TAppSettings& driver = adapter.Settings.Driver;
    TReaderInterface reader(adapter.Settings.ReaderName, driver.DriverArc, driver.DriverAdapter,
                            driver.DriverPort);
    QString card;
    reader.ReadRom(card, false);
    const VirtualAdapter::Traffic before = adapter.Counters();
    QElapsedTimer clock;
    clock.start();
    std::vector<uint8_t> page;
    for (int p = 0; p < KeyPageCount; ++p)
        reader.ReadPage(p * KeyPageSize, page);
    reader.ReadRom(card, false);
    const double readBack = double(clock.nsecsElapsed()) / 1e6;
    const VirtualAdapter::Traffic after = adapter.Counters();
    std::printf("  of which the read-back (16 pages + ROM check): %.2f ms, %llu + %llu bytes, "
                "%llu round trips\n",
                readBack, after.BytesIn - before.BytesIn, after.BytesOut - before.BytesOut,
                after.RoundTrips - before.RoundTrips);
    BenchReading(database, reader, adapter, controller, repetitions);
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int repetitions = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    InitTranslation(ProgramDirectory() + "/locale");
    UseLanguage("en");
    MessageBoxes::SetAnsweringMode(true);

    QString problem;
    std::unique_ptr<TProfileSession> session =
        OpenDatabase(DataDirectory() + "/data/bench.accdb", problem);
    if (!session) {
        std::printf("cannot open the database: %s\n", qPrintable(problem));
        return 1;
    }
    QElapsedTimer fill;
    fill.start();
    FillDatabase(session->Database());
    std::printf("(filling the database took %.0f ms)\n", double(fill.elapsed()));
    TSystemDesktop desktop;
    TRunSettings settings;
    TfrmMain main(desktop, settings);
    main.OpenSession(std::move(session));
    BenchReload(main, repetitions);
    BenchProgramming(*main.Session(), std::max(3, repetitions / 2), 100);
    BenchProgramming(*main.Session(), std::max(3, repetitions / 2), 251);
    const QStringList shown = MessageBoxes::ShownTexts();
    std::printf("messages shown: %lld (%s)\n", static_cast<long long>(shown.size()),
                qPrintable(shown.isEmpty() ? QString() : shown.last()));
    return 0;
}
