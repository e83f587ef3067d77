// The writer side of the kill -9 trials (kill-trials.sh): makes profiles or rewrites one profile
// in a loop until it is killed, and checks afterwards that no profile was left broken.
//
//   vyr-profile-crash create   new profiles, one after the other, as the wizard's Finish does
//   vyr-profile-crash rewrite  one profile rewritten with alternating name/database pairs
//   vyr-profile-crash check    exit 1 when a profile is broken; prints what it found
//
// The data directory is $XDG_DATA_HOME's, as for the program.

#include "db/databasecheck.h"
#include "profiles/VYRStandProfile.h"
#include "profiles/profilecreation.h"
#include "shared/datadir.h"
#include "shared/errors.h"
#include "shared/systemdesktop.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

namespace {

// The pairs a rewrite alternates between: any other combination is a torn rewrite.
const QList<QPair<QString, QString>> RewritePairs = {{"Alpha", "data/alpha.accdb"},
                                                     {"Beta", "data/beta.accdb"}};

int Create() {
    const QString source = ProgramDirectory() + "/default.accdb";
    TSystemDesktop desktop;
    for (int i = 0;; ++i) {
        const QString name = "Site " + QString::number(i);
        if (NameClash(name) != TNameClash::None)
            continue; // made before, or left by a killed run: the wizard would ask
        CreateProfile({name, source, nullptr, {}}, desktop);
    }
}

int Rewrite() {
    CreateDataFolders();
    const QString path = DataDirectory() + "/profiles/rewritten.ini";
    for (qint64 i = 0;; ++i) {
        TVYRStandProfile profile(path);
        profile.ProfileName = RewritePairs[i % 2].first;
        profile.DBFileName = RewritePairs[i % 2].second;
        profile.SaveToINI(path);
    }
}

int Check() {
    QTextStream out(stdout);
    int broken = 0, profiles = 0;
    const QString folder = DataDirectory() + "/profiles";
    for (const QString& entry : QDir(folder).entryList({"*.ini"}, QDir::Files | QDir::Hidden)) {
        const QString path = folder + "/" + entry;
        TVYRStandProfile profile(path);
        QString problem;
        try {
            if (!profile.LoadINI())
                problem = "no name";
        } catch (const VyrError& error) {
            problem = error.Message();
        }
        if (problem.isEmpty() && entry == "rewritten.ini") {
            if (!RewritePairs.contains({profile.ProfileName, profile.DBFileName}))
                problem = "torn rewrite: " + profile.ProfileName + " with " + profile.DBFileName;
        } else if (problem.isEmpty()) {
            problem = ProfileDatabaseProblem(ResolveDatabasePath(profile.DBFileName));
        }
        ++profiles;
        if (!problem.isEmpty()) {
            ++broken;
            out << "broken " << entry << ": " << problem << "\n";
        }
    }
    int leftovers = 0, temporaries = 0;
    for (const QString& entry :
         QDir(DataDirectory() + "/data").entryList(QDir::Files | QDir::Hidden)) {
        if (entry.endsWith(".new") || entry.endsWith(".new-journal"))
            ++temporaries;
        else if (entry.endsWith(".accdb") &&
                 !QFileInfo::exists(folder + "/" + QFileInfo(entry).completeBaseName() + ".ini"))
            ++leftovers;
    }
    out << "profiles " << profiles << " broken " << broken << " leftover-databases " << leftovers
        << " temporaries " << temporaries << "\n";
    return broken == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    try {
        if (mode == "create")
            return Create();
        if (mode == "rewrite")
            return Rewrite();
        if (mode == "check")
            return Check();
    } catch (const VyrError& error) {
        QTextStream(stderr) << error.Message() << "\n";
        return 2;
    }
    QTextStream(stderr) << "usage: vyr-profile-crash create|rewrite|check\n";
    return 2;
}
