// Every text the operator can see must have a Dutch translation: the texts marked in the sources,
// and every text the window translator meets in a window that is actually built.
#include "app/About.h"
#include "app/main.h"
#include "app/options.h"
#include "profiles/login.h"
#include "profiles/profilemanagement.h"
#include "profiles/profilewizard.h"
#include "reader/pickadapter.h"
#include "shared/windowtranslation.h"

#include "pofile.h"
#include "testenv.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <functional>

namespace {

TEST(DutchCatalogue, CoversEveryMarkedTextOfTheSources) {
    QTemporaryDir work;
    QStringList sources;
    QDirIterator it(QStringLiteral(VYR_SOURCE_DIR) + "/src", {"*.cpp", "*.h"}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        sources << it.next();
    const QString pot = work.path() + "/all.pot";
    QProcess xgettext;
    xgettext.start("xgettext",
                   QStringList{"--from-code=UTF-8", "--language=C++", "--keyword=_", "--keyword=N_",
                               "--keyword=TranslatePlural:1,2", "-o", pot} +
                       sources);
    ASSERT_TRUE(xgettext.waitForFinished(60000));
    ASSERT_EQ(xgettext.exitCode(), 0) << xgettext.readAllStandardError().constData();
    const QList<TPoEntry> marked = ReadPoEntries(pot);
    ASSERT_GT(marked.size(), 1);
    EXPECT_TRUE(std::any_of(marked.begin(), marked.end(), [](const TPoEntry& entry) {
        return !entry.PluralId.isEmpty();
    })) << "no text with a count was found in the sources";
    EXPECT_EQ(UntranslatedEntries(marked).join("\n").toStdString(), "");
}

class WindowTextsTest : public HomeTest {};

TEST_F(WindowTextsTest, EveryWindowTextHasADutchTranslation) {
    const std::vector<std::pair<const char*, std::function<QWidget*()>>> windows = {
        {"main window", [] { return new TfrmMain; }},
        {"profile selection", [] { return new TfrmLogin; }},
        {"profile wizard", [] { return new TfrmProfileWizard; }},
        {"profile management", [] { return new TfrmProfileManagement; }},
        {"about box", [] { return new TfrmAbout; }},
        {"options", [] { return new TfrmOptions; }},
    };
    for (const auto& [name, create] : windows) {
        std::unique_ptr<QWidget> window(create());
        const QStringList ids = TranslateWindow(window.get());
        EXPECT_FALSE(ids.isEmpty()) << name;
        EXPECT_EQ(UntranslatedTexts(ids), QStringList()) << name;
    }
}

TEST_F(WindowTextsTest, TheAdapterDialogStaysEnglish) {
    TfrmPickAdapter dialog;
    EXPECT_EQ(TranslateWindow(&dialog), QStringList());
}

} // namespace
