// How long the window thread fails to answer while a card-reading window is open and its adapter
// hangs. Each of the three windows that read the adapter (card identification, the cardholder
// dialog, key programming) is opened on the virtual DS2480B; a probe timer on the window thread
// fires every millisecond and records the longest gap between two of its shots, first with the
// adapter answering, then while it hangs (the simulator stopped with SIGSTOP), then once it
// answers again. A gap is time the window could not repaint or take a key press.
//
// Run: bench_windowstall [seconds hanging = 10]
//
// Runs offscreen unless QT_QPA_PLATFORM says otherwise.
#include "cardholders/cardholder.h"
#include "cardholders/cardident.h"
#include "controllers/programdevice.h"
#include "db/MySQLite.h"
#include "profiles/profilesession.h"
#include "shared/messagebox.h"
#include "shared/publictypes.h"
#include "shared/systemdesktop.h"

#include "benchadapter.h"

#include "windowstall.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

namespace {

struct Window {
    const char* name;
    std::function<std::unique_ptr<QWidget>(TDesktop&)> open;
};

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int hangingMs = (argc > 1 ? std::max(1, std::atoi(argv[1])) : 10) * 1000;
    QApplication app(argc, argv);
    // The adapter news boxes are recorded, not shown: nobody is there to close them.
    MessageBoxes::SetAnsweringMode(true);

    BenchAdapter adapter;
    ibsim::SimulatorProcess& simulator = adapter.simulator();
    // The windows' own settings go to the throwaway folder too, never to the user's.
    setenv("XDG_DATA_HOME", (adapter.folder() / "data").c_str(), 1);
    TRunSettings settings;
    settings.Driver.DriverAdapter = 5;
    settings.Driver.DriverPort = 1;
    // No database: what is measured is the adapter's hold on the window thread.
    TProfileSession session(TVYRStandProfile("bench.ini"), std::make_unique<TMySQLite>());

    TSystemDesktop desktop;
    const Window windows[] = {
        {"card identification",
         [&](TDesktop& d) -> std::unique_ptr<QWidget> {
             return std::make_unique<TfrmCardIdent>(d, session, settings);
         }},
        {"cardholder dialog",
         [&](TDesktop& d) -> std::unique_ptr<QWidget> {
             return std::make_unique<TfrmCardHolder>(d, session, settings);
         }},
        {"key programming",
         [&](TDesktop&) -> std::unique_ptr<QWidget> {
             return std::make_unique<TfrmProgramDevice>(session, settings);
         }},
    };
    std::printf("longest window-thread gap (ms)      answering    hanging   answering again\n");
    for (const Window& w : windows) {
        std::unique_ptr<QWidget> window = w.open(desktop);
        window->show();
        // The cardholder dialog reads the adapter only while it is the active window.
        QApplication::setActiveWindow(window.get());
        const double answering = LongestWindowStallMs(3000);
        kill(simulator.pid(), SIGSTOP);
        const double hanging = LongestWindowStallMs(hangingMs);
        kill(simulator.pid(), SIGCONT);
        const double again = LongestWindowStallMs(5000);
        std::printf("  %-30s %10.1f %10.1f %10.1f\n", w.name, answering, hanging, again);
        std::fflush(stdout);
        window.reset();
        // Whatever the window left to the event loop (its adapter's end included) is done
        // before the next one opens.
        LongestWindowStallMs(500);
    }
    std::printf("adapter news shown: %lld\n",
                static_cast<long long>(MessageBoxes::ShownMessages().size()));
    return 0;
}
