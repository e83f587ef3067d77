// vyr-demosite: puts the demo site into the data directory ($XDG_DATA_HOME), for ./run.sh. It is
// a developer's tool beside the program and is never installed.
#include "demosite.h"

#include "shared/errors.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    try {
        const TProfilePaths paths = MakeDemoSite();
        std::printf("Demo site made: %s\n", qPrintable(paths.ProfileFile));
        return 0;
    } catch (const VyrError& error) {
        std::fprintf(stderr, "vyr-demosite: %s\n", qPrintable(error.Message()));
        return 1;
    }
}
