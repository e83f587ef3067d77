// The mover for the kill tests of "Move to server...": moves the profile "site.ini" of the data
// directory ($XDG_DATA_HOME's, as for the program) to a server and dies by SIGKILL just before the
// chosen step, as at a power cut: no destructor, no rollback, no cleanup runs.
//
//   vyr-site-move-crash commit|profile|rename|marker CONNECTION
//
// Exit status 3 when the move ended without reaching the step, 2 when it failed.

#include "profiles/VYRStandProfile.h"
#include "profiles/sitemove.h"
#include "shared/datadir.h"
#include "shared/errors.h"

#include <QCoreApplication>
#include <QTextStream>

#include <csignal>
#include <optional>

namespace {

class TKillAt : public TSiteMoveSteps {
public:
    explicit TKillAt(TSiteMoveStep step) : FStep(step) {}
    void Reached(TSiteMoveStep step) override {
        if (step == FStep)
            std::raise(SIGKILL);
    }

private:
    TSiteMoveStep FStep;
};

std::optional<TSiteMoveStep> StepNamed(const QString& name) {
    if (name == "commit")
        return TSiteMoveStep::Commit;
    if (name == "profile")
        return TSiteMoveStep::ProfileRewrite;
    if (name == "rename")
        return TSiteMoveStep::Rename;
    if (name == "marker")
        return TSiteMoveStep::MarkerRemoval;
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const std::optional<TSiteMoveStep> step = StepNamed(arguments.value(1));
    if (arguments.size() != 3 || !step) {
        QTextStream(stderr) << "usage: vyr-site-move-crash commit|profile|rename|marker "
                               "CONNECTION\n";
        return 2;
    }
    TKillAt killer(*step);
    try {
        TVYRStandProfile profile(DataDirectory() + "/profiles/site.ini");
        if (!profile.LoadINI())
            throw VyrError("no profile site.ini");
        MoveSiteToServer(profile, arguments[2], {}, &killer);
    } catch (const VyrError& error) {
        QTextStream(stderr) << error.Message() << "\n";
        return 2;
    }
    return 3;
}
