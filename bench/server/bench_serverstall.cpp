// How long the window thread fails to answer while the site's server goes silent: a proxy in front
// of the throwaway cluster stops forwarding (the server's host hangs, the network stays up), and
// a probe timer on the window thread fires every millisecond and records the longest gap between
// two of its shots, as bench_windowstall does for a hanging adapter. Measured: an open profile
// whose notice listener loses its server, the reconnect after a lost connection, closing the
// profile, and calling off the move to a server while it connects.
//
// Run: bench_serverstall [seconds silent = 5]
//
// Runs offscreen unless QT_QPA_PLATFORM says otherwise.
#include "cardholders/cardholdersave.h"
#include "controllers/controllerrecords.h"
#include "db/MyPostgreSQL.h"
#include "db/changewatch.h"
#include "db/reconnect.h"
#include "db/sitewriter.h"
#include "profiles/movetoserver.h"
#include "profiles/profilesession.h"
#include "shared/messagebox.h"

#include "benchsites.h"
#include "faultproxy.h"

#include "windowstall.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

void Report(const char* what, double answering, double silent) {
    std::printf("  %-44s %10.1f %10.1f\n", what, answering, silent);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int silentMs = (argc > 1 ? std::max(1, std::atoi(argv[1])) : 5) * 1000;
    QApplication app(argc, argv);
    MessageBoxes::SetAnsweringMode(true);
    QTemporaryDir home;
    setenv("XDG_DATA_HOME", qPrintable(home.filePath("data")), 1);

    const QString server = StartCluster();
    const QString socket =
        server.section("host=", 1).section(' ', 0, 0) + QStringLiteral("/.s.PGSQL.5432");
    TFaultProxy proxy(socket);
    if (!proxy.Listening())
        qFatal("%s", qPrintable(proxy.Error()));
    const QString site = NewServerSite(server)->ConnectionString;

    const auto openSession = [&] {
        auto db = std::make_unique<TMyPostgreSQL>();
        db->ConnectionString = proxy.Through(site);
        Must(db->Connect(), *db, "connect through the proxy");
        auto session =
            std::make_unique<TProfileSession>(TVYRStandProfile("bench.ini"), std::move(db));
        TChangeWatch& watch = session->Changes();
        QElapsedTimer waited;
        waited.start();
        while (!watch.Listening() && waited.elapsed() < 10000)
            LongestWindowStallMs(50);
        return session;
    };

    std::printf("longest window-thread gap (ms)                answering     silent\n");
    {
        auto session = openSession();
        const double answering = LongestWindowStallMs(1000);
        proxy.SetMode(TFaultProxy::TMode::Hold);
        const double silent = LongestWindowStallMs(silentMs);
        proxy.SetMode(TFaultProxy::TMode::Pass);
        Report("profile open, notice listener waiting", answering, silent);

        // A statement meets the broken connection; the session connects again on its worker
        // while the server stays silent.
        proxy.CutAll();
        proxy.SetMode(TFaultProxy::TMode::Hold);
        const double reconnecting = LongestWindowStallMs(
            silentMs, [&] { session->Database().Query({"SELECT COUNT(*) FROM Controllers"}); });
        Report("statement on a lost connection, reconnect", answering, reconnecting);

        double closingMs = 0;
        const double closed = LongestWindowStallMs(200, [&] {
            QElapsedTimer closing;
            closing.start();
            session.reset();
            closingMs = double(closing.nsecsElapsed()) / 1e6;
        });
        std::printf("  closing the profile took %.1f ms\n", closingMs);
        Report("closing the profile", answering, closed);
        proxy.SetMode(TFaultProxy::TMode::Pass);
    }
    {
        // The changes the windows start, each handed to the writer while the server is silent; the
        // window thread goes on until the writer reports.
        auto session = openSession();
        TMyDBConnector& db = session->Database();
        Must(db.ExecuteQuery({"INSERT INTO Controllers (ConType, ConName, ConCode, ConByte1, "
                              "ConByte2) VALUES('VYR292', 'Gate', '000000', 2, 4)"}),
             db, "add a controller");
        const std::unique_ptr<TMyResultSet> gate =
            db.Query({"SELECT ConID FROM Controllers WHERE ConName = 'Gate'"});
        Must(gate && gate->RecordCount() == 1, db, "find the controller");
        const int32_t gateId = gate->Fields(0).AsInteger();
        TCardHolder anna;
        anna.CardNumber = "1111111111";
        anna.CardHolder = "Anna";
        Must(db.ExecuteQuery({"INSERT INTO CardHolders (CardNumber, CardHolder, Deleted) "
                              "VALUES(?, ?, False)",
                              {anna.CardNumber, anna.CardHolder}}),
             db, "add a cardholder");
        TSiteWriter& writer = session->Writes();
        QElapsedTimer connecting;
        connecting.start();
        while (!writer.Ready() && connecting.elapsed() < 10000)
            LongestWindowStallMs(50);
        db.SetAnswerLimit(silentMs / 2);
        // The writer connects again with its next change after one gave the server up: a read
        // while the server answers makes it ready before the next silence.
        const auto connected = [&] {
            auto read = std::make_shared<TCardHolderReadBackWrite>();
            read->Record = anna;
            writer.Start(read);
            QElapsedTimer waited;
            waited.start();
            while (writer.Busy() && waited.elapsed() < 30000)
                LongestWindowStallMs(50);
        };
        const auto silentWrite = [&](const char* what, const std::shared_ptr<TSiteWrite>& write) {
            connected();
            proxy.SetMode(TFaultProxy::TMode::Hold);
            bool reported = false;
            const QMetaObject::Connection told = QObject::connect(
                &writer, &TSiteWriter::Written, [&](const std::shared_ptr<TSiteWrite>& done) {
                    reported = reported || done == write;
                });
            const double stall = LongestWindowStallMs(silentMs, [&] { writer.Start(write); });
            QObject::disconnect(told);
            proxy.SetMode(TFaultProxy::TMode::Pass);
            std::printf("  %s: outcome %s within the silence\n", what,
                        reported ? "reported" : "not reported");
            Report(what, 0, stall);
        };
        auto holder = std::make_shared<TCardHolderSaveWrite>();
        holder->Record.CardNumber = "2222222222";
        holder->Record.CardHolder = "Bert";
        silentWrite("new cardholder", holder);
        auto click = std::make_shared<TZoneClickWrite>();
        click->CardNumber = anna.CardNumber;
        click->ConID = gateId;
        silentWrite("zone click", click);
        auto deletion = std::make_shared<TCardHolderDeleteWrite>();
        deletion->Chosen = anna;
        silentWrite("deleting a cardholder", deletion);
        auto controller = std::make_shared<TControllerSaveWrite>();
        controller->Input = {"Door", "000000", 2, 4};
        controller->GrantZone = 1;
        silentWrite("new controller granted to all", controller);
        auto gone = std::make_shared<TControllerDeleteWrite>();
        gone->ConID = gateId;
        silentWrite("deleting a controller", gone);
        double closingMs = 0;
        LongestWindowStallMs(200, [&] {
            QElapsedTimer closing;
            closing.start();
            session.reset();
            closingMs = double(closing.nsecsElapsed()) / 1e6;
        });
        std::printf("  closing the profile after the writes took %.1f ms\n", closingMs);
    }
    {
        // The move to a server (the proxy's, held) from a site file, called off while connecting.
        QDir().mkpath(home.filePath("data/Tessaloom/VYR/Standalone/data"));
        const QString file = home.filePath("site.accdb");
        QFile::copy(QCoreApplication::applicationDirPath() + "/default.accdb", file);
        QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        TVYRStandProfile profile(home.filePath("site.ini"));
        profile.ProfileName = "Bench";
        profile.DBFileName = file;
        profile.SaveToINI(profile.ProfileFileName);
        proxy.SetMode(TFaultProxy::TMode::Hold);
        const QString target = proxy.Through(server) + " options='-c search_path=bench_move_" +
                               QString::number(QCoreApplication::applicationPid()) + "'";
        TfrmMoveToServer dialog(profile);
        dialog.show();
        dialog.findChild<QLineEdit*>("txtConnection")->setText(target);
        QElapsedTimer cancel;
        const double moving = LongestWindowStallMs(silentMs, [&] {
            dialog.findChild<QPushButton*>("cmdMove")->click();
            QTimer::singleShot(silentMs / 2, &dialog, [&] {
                cancel.start();
                dialog.findChild<QPushButton*>("cmdCancel")->click();
                std::printf("  the move dialog closed %.1f ms after Cancel (visible: %s)\n",
                            double(cancel.nsecsElapsed()) / 1e6, dialog.isVisible() ? "yes" : "no");
            });
        });
        Report("move to server connecting, then Cancel", 0, moving);
        proxy.SetMode(TFaultProxy::TMode::Pass);
        LongestWindowStallMs(500);
    }
    StopCluster();
    return 0;
}
