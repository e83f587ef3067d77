// Every text the operator can see must have a Dutch translation: the texts marked in the sources,
// and every text the window translator meets in a window that is actually built. In every window
// and menu, in either language, each shortcut letter leads to one place.
#include "app/About.h"
#include "app/main.h"
#include "app/options.h"
#include "cardholders/cardholder.h"
#include "cardholders/cardholders.h"
#include "cardholders/cardident.h"
#include "controllers/controller.h"
#include "controllers/programdevice.h"
#include "controllers/readkey.h"
#include "journal/history.h"
#include "profiles/login.h"
#include "profiles/movetoserver.h"
#include "profiles/profilemanagement.h"
#include "profiles/profilewizard.h"
#include "reader/pickadapter.h"
#include "shared/messagebox.h"
#include "shared/translation.h"
#include "shared/windowtranslation.h"

#include "modal.h"
#include "pofile.h"
#include "profiledb.h"
#include "testenv.h"

#include <QAbstractButton>
#include <QAction>
#include <QDir>
#include <QDirIterator>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QSet>
#include <QStackedWidget>
#include <QTabBar>
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

using TWindowList = std::vector<std::pair<const char*, std::function<QWidget*()>>>;

// The windows are made on a profile session, with the run's settings and an empty profile list.
class WindowTextsTest : public ProfileDbTest {
protected:
    // Every window of the program that speaks the operator's language.
    TWindowList TranslatedWindows() {
        TDesktop& desktop = Desktop;
        TProfileSession& session = *Session;
        return {
            {"main window", [&] { return new TfrmMain(desktop, RunSettings); }},
            {"profile selection", [&] { return new TfrmLogin(desktop, Profiles); }},
            {"profile wizard", [&] { return new TfrmProfileWizard(desktop); }},
            {"profile management", [&] { return new TfrmProfileManagement(desktop, Profiles); }},
            {"move to server", [] { return new TfrmMoveToServer(TVYRStandProfile("site.ini")); }},
            {"about box", [] { return new TfrmAbout; }},
            {"options", [&] { return new TfrmOptions(desktop); }},
            {"controller", [&] { return new TfrmController(session); }},
            {"memory key programming", [&] { return new TfrmProgramDevice(session, RunSettings); }},
            {"key reading", [&] { return new TfrmReadKey(session, RunSettings); }},
            {"cardholder list", [&] { return new TfrmCardHolders(desktop, session, RunSettings); }},
            {"cardholder", [&] { return new TfrmCardHolder(desktop, session, RunSettings); }},
            {"card identification",
             [&] { return new TfrmCardIdent(desktop, session, RunSettings); }},
            {"site history",
             [&] {
                 return new TfrmHistory(session.Database(), desktop, THistoryScope::Site, {}, {},
                                        {{1, "Gate"}});
             }},
            {"controller history",
             [&] {
                 TJournalFilter gate;
                 gate.ConID = 1;
                 return new TfrmHistory(session.Database(), desktop, THistoryScope::Controller,
                                        gate, "Gate");
             }},
        };
    }

    TProfileList Profiles;
};

TEST_F(WindowTextsTest, EveryWindowTextHasADutchTranslation) {
    for (const auto& [name, create] : TranslatedWindows()) {
        std::unique_ptr<QWidget> window(create());
        const QStringList ids = TranslateWindow(window.get());
        EXPECT_FALSE(ids.isEmpty()) << name;
        EXPECT_EQ(UntranslatedTexts(ids), QStringList()) << name;
    }
}

TEST_F(WindowTextsTest, TheAdapterDialogStaysEnglish) {
    TfrmPickAdapter dialog(RunSettings);
    EXPECT_EQ(TranslateWindow(&dialog), QStringList());
}

// One shortcut letter and the text that carries it.
struct TMnemonic {
    QWidget* Control;
    QString Text;
    QChar Letter;
};

// The letter that Qt itself binds: the one after a single '&', as a capital ("&&" is an ampersand).
QChar MnemonicLetter(const QString& text) {
    const QKeySequence key = QKeySequence::mnemonic(text);
    return key.isEmpty() ? QChar() : QChar(char16_t(key[0].key()));
}

// The texts whose letters a control answers to with Alt.
QStringList MnemonicTexts(QWidget* control) {
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        return {button->text()};
    if (auto* label = qobject_cast<QLabel*>(control))
        return label->buddy() ? QStringList{label->text()} : QStringList();
    if (auto* group = qobject_cast<QGroupBox*>(control))
        return {group->title()};
    QStringList texts;
    if (auto* tabs = qobject_cast<QTabBar*>(control))
        for (int i = 0; i < tabs->count(); ++i)
            texts << tabs->tabText(i);
    if (auto* bar = qobject_cast<QMenuBar*>(control))
        for (QAction* menu : bar->actions())
            texts << menu->text();
    return texts;
}

// The stacked pages a control lies on: controls on two pages of one stack are never shown
// together, so they may share a letter.
QList<std::pair<QStackedWidget*, int>> Pages(QWidget* control) {
    QList<std::pair<QStackedWidget*, int>> pages;
    for (QWidget* page = control; page && !page->isWindow(); page = page->parentWidget())
        if (auto* stack = qobject_cast<QStackedWidget*>(page->parentWidget()))
            pages << std::pair{stack, stack->indexOf(page)};
    return pages;
}

bool ShownTogether(QWidget* one, QWidget* other) {
    const auto otherPages = Pages(other);
    for (const auto& [stack, page] : Pages(one))
        for (const auto& [otherStack, otherPage] : otherPages)
            if (stack == otherStack && page != otherPage)
                return false;
    return true;
}

void ExpectDistinctLetters(const QString& where, const QList<TMnemonic>& found) {
    for (qsizetype i = 0; i < found.size(); ++i)
        for (qsizetype j = i + 1; j < found.size(); ++j)
            if (found[i].Letter == found[j].Letter &&
                ShownTogether(found[i].Control, found[j].Control))
                ADD_FAILURE() << where.toStdString() << ": the letter "
                              << QString(found[i].Letter).toStdString() << " is on \""
                              << found[i].Text.toStdString() << "\" and on \""
                              << found[j].Text.toStdString() << "\"";
}

// Checks a built window: its controls (menu bar titles included) among themselves, and the items
// of each of its menus, submenus and context menus among themselves.
void ExpectDistinctLetters(const QString& where, QWidget* window) {
    QList<TMnemonic> controls;
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    widgets.prepend(window);
    QList<QMenu*> menus;
    for (QWidget* widget : widgets) {
        if (auto* menu = qobject_cast<QMenu*>(widget))
            menus << menu;
        if (widget->window() != window)
            continue; // a menu's own widgets, or another window
        for (const QString& text : MnemonicTexts(widget))
            if (const QChar letter = MnemonicLetter(text); !letter.isNull())
                controls << TMnemonic{widget, text, letter};
        if (auto* bar = qobject_cast<QMenuBar*>(widget))
            for (QAction* title : bar->actions())
                if (title->menu())
                    menus << title->menu();
    }
    ExpectDistinctLetters(where, controls);

    QSet<QMenu*> seen;
    while (!menus.isEmpty()) {
        QMenu* menu = menus.takeFirst();
        if (seen.contains(menu))
            continue;
        seen.insert(menu);
        QList<TMnemonic> items;
        for (QAction* item : menu->actions()) {
            if (const QChar letter = MnemonicLetter(item->text()); !letter.isNull())
                items << TMnemonic{menu, item->text(), letter};
            if (item->menu())
                menus << item->menu();
        }
        const QString title = menu->title().isEmpty() ? QString() : " \"" + menu->title() + "\"";
        ExpectDistinctLetters(where + ", menu " + menu->objectName() + title, items);
    }
}

TEST_F(WindowTextsTest, EveryMenuAndWindowGivesEachShortcutLetterOnePlace) {
    TWindowList windows = TranslatedWindows();
    windows.emplace_back("adapter selection", [this] { return new TfrmPickAdapter(RunSettings); });
    for (const char* language : {"en", "nl"}) {
        UseLanguage(language);
        for (const auto& [name, create] : windows) {
            std::unique_ptr<QWidget> window(create());
            TranslateWindow(window.get()); // the main window translates itself only when it opens
            ExpectDistinctLetters(QString("%1 (%2)").arg(name, language), window.get());
        }

        MessageBoxes::SetAnsweringMode(false);
        WhenModal([language](QWidget* box) {
            ExpectDistinctLetters(QString("question box (%1)").arg(language), box);
            if (auto* question = qobject_cast<QMessageBox*>(box);
                question && question->escapeButton())
                question->escapeButton()->click();
            else
                box->close();
        });
        MessageBoxes::Confirm(nullptr, "?");
        MessageBoxes::SetAnsweringMode(true);
    }
    UseLanguage("en");
}

} // namespace
