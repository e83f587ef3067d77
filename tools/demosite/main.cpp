// vyr-demosite: puts the demo site into the data directory ($XDG_DATA_HOME), for ./run.sh. It is
// a developer's tool beside the program and is never installed.
//
//   vyr-demosite                         the site in a SQLite file, as the wizard makes one
//   vyr-demosite --server CONNECTION     the site in an empty database on a server
#include "demosite.h"

#include "shared/errors.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    try {
        const QStringList arguments = application.arguments();
        if (arguments.size() > 1 && !(arguments.size() == 3 && arguments[1] == "--server")) {
            std::fprintf(stderr, "usage: vyr-demosite [--server CONNECTION]\n");
            return 2;
        }
        const TProfilePaths paths =
            arguments.size() == 3 ? MakeServerDemoSite(arguments[2]) : MakeDemoSite();
        std::printf("Demo site made: %s\n", qPrintable(paths.ProfileFile));
        return 0;
    } catch (const VyrError& error) {
        std::fprintf(stderr, "vyr-demosite: %s\n", qPrintable(error.Message()));
        return 1;
    }
}
