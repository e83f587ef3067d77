#include "app/main.h"
#include "cardholders/cardholder.h"
#include "cardholders/cardholdermodel.h"
#include "cardholders/cardholders.h"
#include "journal/history.h"
#include "journal/journal.h"

#include "modal.h"
#include "profiledb.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>

#include <gmock/gmock.h>

namespace {

using ::testing::ElementsAre;

constexpr const char* FirstCard = "12AB000001";
constexpr const char* SecondCard = "12AB000002";
constexpr const char* ThirdCard = "12AB000003";
constexpr const char* BobsCard = "34CD000001";

// What a history window showed when it opened: its title and the card of each row.
struct TShownHistory {
    QString Title;
    QStringList Cards;
    QStringList Controllers; // the site history's controller filter
};

// Ann's card was replaced twice; Bob's changes lie between hers, and Dave has her first card now.
// The main window is open on the site.
class HistoryRoutesTest : public ProfileDbTest {
protected:
    void SetUp() override {
        ProfileDbTest::SetUp();
        Front = AddController("Front door");
        Back = AddController("Back door");
        AddCardHolder(ThirdCard, "Ann");
        AddCardHolder(BobsCard, "Bob");
        Journal(TJournalAction::CardHolderAdded, FirstCard, "", "Ann");
        Journal(TJournalAction::ZoneChanged, FirstCard, "", "Ann", Front, "Front door");
        Journal(TJournalAction::CardHolderAdded, BobsCard, "", "Bob");
        Journal(TJournalAction::CardReplaced, SecondCard, FirstCard, "Ann");
        Journal(TJournalAction::ZoneChanged, SecondCard, "", "Ann", Back, "Back door");
        Journal(TJournalAction::ZoneChanged, BobsCard, "", "Bob", Back, "Back door");
        Journal(TJournalAction::CardReplaced, ThirdCard, SecondCard, "Ann");
        Journal(TJournalAction::CardHolderEdited, ThirdCard, "", "Ann");
        // Ann's first card is handed out again.
        Journal(TJournalAction::CardHolderAdded, FirstCard, "", "Dave");
        Journal(TJournalAction::ZoneChanged, FirstCard, "", "Dave", Front, "Front door");
        Main = std::make_unique<TfrmMain>(Desktop, RunSettings);
        Main->OpenSession(TakeSession());
    }
    void TearDown() override {
        Main.reset();
        ProfileDbTest::TearDown();
    }

    void Journal(TJournalAction action, const QString& card, const QString& oldCard,
                 const QString& holder, int32_t conId = 0, const QString& conName = {}) const {
        TJournalEntry entry;
        entry.Action = action;
        entry.CardNumber = card;
        entry.OldCardNumber = oldCard;
        entry.CardHolder = holder;
        entry.ConID = conId;
        entry.ConName = conName;
        ASSERT_TRUE(AppendJournal(*Database().Inner, entry, {"anna", "reception"}))
            << Database().Inner->GetLastError().toStdString();
    }

    // Runs `open`, which must bring up a history window, and closes that window again. A button
    // pressed by its letter shows itself pressed a moment before it acts.
    static TShownHistory HistoryOpenedBy(const std::function<void()>& open) {
        TShownHistory shown{"(no history window)", {}, {}};
        bool closed = false;
        WhenModal([&](QWidget* modal) {
            auto* window = qobject_cast<TfrmHistory*>(modal);
            ASSERT_TRUE(window) << modal->metaObject()->className();
            shown.Title = window->windowTitle();
            auto& list = Control<QTreeWidget>(*window, "lstEntries");
            for (int row = 0; row < list.topLevelItemCount(); ++row)
                shown.Cards << list.topLevelItem(row)->text(4);
            if (auto* controllers = window->findChild<QComboBox*>("cboController"))
                for (int i = 0; i < controllers->count(); ++i)
                    shown.Controllers << controllers->itemText(i);
            QTest::mouseClick(&Control<QPushButton>(*window, "cmdClose"), Qt::LeftButton);
            closed = true;
        });
        open();
        EXPECT_TRUE(QTest::qWaitFor([&] { return closed; }, 5000));
        return shown;
    }

    std::unique_ptr<TfrmMain> Main;
    int32_t Front = 0, Back = 0;
};

// Ann's history from her dialog: every card she had, none of Bob's or Dave's changes, newest
// first.
TEST_F(HistoryRoutesTest, TheCardholderDialogOpensTheHistoryOfEveryCardTheHolderHad) {
    {
        TfrmCardHolder added(Desktop, *Session, RunSettings);
        EXPECT_FALSE(Control<QPushButton>(added, "cmdHistory").isEnabled())
            << "a cardholder not yet saved has no history";
    }
    TfrmCardHolder dialog(Desktop, *Session, RunSettings);
    dialog.LoadCard(ThirdCard);
    auto& history = Control<QPushButton>(dialog, "cmdHistory");
    EXPECT_TRUE(history.isEnabled());
    EXPECT_EQ(history.text(), "&History...");
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));

    // From the keyboard, by its shortcut letter.
    const TShownHistory shown =
        HistoryOpenedBy([&] { QTest::keyClick(&dialog, Qt::Key_H, Qt::AltModifier); });
    EXPECT_EQ(shown.Title, QString("History of cardholder Ann (") + ThirdCard + ")");
    EXPECT_THAT(shown.Cards,
                ElementsAre(ThirdCard, ThirdCard, SecondCard, SecondCard, FirstCard, FirstCard));
}

TEST_F(HistoryRoutesTest, EachMenuOpensTheHistoryOfWhatItIsFor) {
    // The main menu: the whole site, filterable by each controller.
    const TShownHistory site =
        HistoryOpenedBy([&] { Control<QAction>(*Main, "mnuFileHistory").trigger(); });
    EXPECT_EQ(site.Title, "Site history");
    EXPECT_EQ(site.Cards.size(), 10);
    EXPECT_THAT(site.Controllers, ElementsAre("All controllers", "Back door", "Front door"));

    // The controller list's menu: the selected controller's.
    auto& controllers = Control<QTreeWidget>(*Main, "VSTControllers");
    ASSERT_EQ(controllers.topLevelItemCount(), 2);
    ASSERT_EQ(Main->RowController(0)->ConID, Back);
    controllers.setCurrentItem(controllers.topLevelItem(0));
    const TShownHistory back =
        HistoryOpenedBy([&] { Control<QAction>(*Main, "mnuHistory").trigger(); });
    EXPECT_EQ(back.Title, "History of controller Back door");
    EXPECT_THAT(back.Cards, ElementsAre(BobsCard, SecondCard));

    // The cardholder list's menu: the selected holder's, with the cards they had.
    TfrmCardHolders list(Desktop, *Session, RunSettings);
    list.show();
    auto& holders = Control<TCardHolderModel>(list, "CardHolders");
    ASSERT_TRUE(QTest::qWaitFor([&] { return holders.RowOf(BobsCard) >= 0; }, 5000));
    auto& view = Control<QTreeView>(list, "VSTCardHolders");
    view.setCurrentIndex(holders.index(holders.RowOf(BobsCard), 1));
    ASSERT_EQ(list.SelectedRow(), holders.RowOf(BobsCard));
    const TShownHistory bob =
        HistoryOpenedBy([&] { Control<QAction>(list, "mnuHistory").trigger(); });
    EXPECT_EQ(bob.Title, QString("History of cardholder Bob (") + BobsCard + ")");
    EXPECT_THAT(bob.Cards, ElementsAre(BobsCard, BobsCard));

    view.setCurrentIndex(holders.index(holders.RowOf(ThirdCard), 1));
    EXPECT_EQ(HistoryOpenedBy([&] { Control<QAction>(list, "mnuHistory").trigger(); }).Cards.size(),
              6);
}

} // namespace
