// A list that cannot be read must not pass for an empty site: it keeps what it showed, says that it
// is out of date and why, and reads again once the site is back. The site goes away as it does in
// use: on the server the server stops (a cluster of this test's own, so that no other test loses
// its server); on a file another connection renames the table the list reads.

#include "app/main.h"
#include "cardholders/cardholdermodel.h"
#include "cardholders/cardholders.h"
#include "controllers/pendingchanges.h"
#include "db/MyDBConnector.h"
#include "db/changewatch.h"
#include "shared/messagebox.h"

#include "listsettle.h"
#include "modal.h"
#include "pgcluster.h"
#include "profiledb.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

#include <gmock/gmock.h>

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

class FailedReads : public EngineProfileDbTest {
protected:
    TTestCluster& Cluster() const override { return TTestCluster::Private(); }

    void SetUp() override {
        ProfileDbTest::SetUp();
        if (HasFatalFailure())
            return;
        Other = NewConnectorOfKind(Database().GetDBTypeName(), Database().ConnectionString);
        ASSERT_TRUE(Other && Other->Connect()) << Other->GetLastError().toStdString();
        MessageBoxes::ClearShown();
    }
    void TearDown() override {
        List.reset();
        Main.reset();
        Other.reset();
        if (Engine() == TEngine::PostgreSQL)
            Cluster().Start();
        ProfileDbTest::TearDown();
    }

    // The site can no longer be read: the server is gone, or the file's `table` is.
    void Break(const QString& table) {
        if (Engine() == TEngine::PostgreSQL) {
            ASSERT_TRUE(Cluster().Kill()) << Cluster().Error().toStdString();
            return;
        }
        ASSERT_GE(Other->ExecuteCounted({"ALTER TABLE " + table + " RENAME TO " + table + "Gone"}),
                  0)
            << Other->GetLastError().toStdString();
        Broken << table;
    }
    // And back, without a word to the program: it learns of it as it would in use.
    void Mend() {
        if (Engine() == TEngine::PostgreSQL) {
            ASSERT_TRUE(Cluster().Start()) << Cluster().Error().toStdString();
            return;
        }
        for (const QString& table : std::as_const(Broken))
            ASSERT_GE(Other->ExecuteCounted({"ALTER TABLE " + table + "Gone RENAME TO " + table}),
                      0)
                << Other->GetLastError().toStdString();
        Broken.clear();
    }

    // The change watch of a window first tells that anything may have changed, once it listens;
    // the cases start after that, and after the windows' reading that it brings.
    void Settle() const {
        ASSERT_TRUE(QTest::qWaitFor([this] { return ListsSettled(Session->Changes(), List.get()); },
                                    10000));
    }

    static void Show(QWidget& window) {
        window.resize(900, 450);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    // The band over a list: its text when it is shown, "" when it is not.
    static std::string Band(const QWidget& window) {
        const auto& panel = Control<QWidget>(window, "pnlReadFailure");
        const auto& text = Control<QLabel>(window, "lblReadFailure");
        if (!panel.isVisible())
            return {};
        // What a screen reader reads out is what the band says.
        EXPECT_EQ(text.accessibleName(), text.text());
        return text.text().toStdString();
    }
    // The band's button is shown, and Tab reaches it.
    static void ExpectRetryReachable(QWidget& window) {
        auto& retry = Control<QPushButton>(window, "cmdReadAgain");
        EXPECT_TRUE(retry.isVisible());
        EXPECT_TRUE(retry.isEnabled());
        EXPECT_TRUE(retry.focusPolicy() & Qt::TabFocus);
        bool inChain = false;
        for (QWidget* next = window.nextInFocusChain(); next != &window && !inChain;
             next = next->nextInFocusChain())
            inChain = next == &retry;
        EXPECT_TRUE(inChain);
    }

    QStringList ControllerRows() const {
        QStringList rows;
        const auto& view = Control<QTreeWidget>(*Main, "VSTControllers");
        for (int row = 0; row < view.topLevelItemCount(); ++row)
            rows << view.topLevelItem(row)->text(1) + " " + view.topLevelItem(row)->text(3);
        return rows;
    }
    TCardHolderModel& Holders() const { return Control<TCardHolderModel>(*List, "CardHolders"); }

    std::unique_ptr<TMyDBConnector> Other;
    std::unique_ptr<TfrmMain> Main;
    std::unique_ptr<TfrmCardHolders> List;
    QStringList Broken;
};

TEST_P(FailedReads, TheControllerListKeepsItsRowsAndSaysItIsOutOfDateUntilTheSiteIsBack) {
    const int32_t front = AddController("Front");
    const int32_t gate = AddController("Gate");
    AddCardHolder("1000000001", "Anna");
    AddZone(front, "1000000001", 1);
    ASSERT_TRUE(StoreMarks(*Database().Inner, {gate}));
    Main = std::make_unique<TfrmMain>(Desktop, RunSettings);
    Main->OpenSession(TakeSession());
    ASSERT_NO_FATAL_FAILURE(Show(*Main));
    ASSERT_NO_FATAL_FAILURE(Settle());
    const QStringList shown{"Front 1", "Gate 0"};
    ASSERT_EQ(ControllerRows(), shown);
    EXPECT_EQ(Band(*Main), "");

    // A reload, as after a save; the marks go with the rest of the site.
    ASSERT_NO_FATAL_FAILURE(Break("Controllers"));
    ASSERT_NO_FATAL_FAILURE(Break("PendingChanges"));
    Main->ReloadControllers();
    EXPECT_EQ(ControllerRows(), shown);
    const QString reason = Session->Database().GetLastError();
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_THAT(Band(*Main), StartsWith("This list is out of date."));
    EXPECT_THAT(Band(*Main), HasSubstr(reason.toStdString()));
    ExpectRetryReachable(*Main);

    // Closing: which keys are unwritten cannot be told, and the operator decides.
    MessageBoxes::SetNextAnswer(false);
    EXPECT_FALSE(Main->close());
    ASSERT_EQ(MessageBoxes::ShownTexts().size(), 1);
    EXPECT_THAT(MessageBoxes::ShownTexts().first().toStdString(), HasSubstr("cannot be told"));
    EXPECT_TRUE(Main->isVisible());

    ASSERT_NO_FATAL_FAILURE(Mend());
    EXPECT_TRUE(QTest::qWaitFor([&] { return Band(*Main).empty(); }, 20000)) << Band(*Main);
    EXPECT_EQ(ControllerRows(), shown);

    // The band's button reads again by itself, with no change to hear of.
    Database().FailWhenContaining = "FROM Controllers";
    Main->ReloadControllers();
    ASSERT_THAT(Band(*Main), StartsWith("This list is out of date."));
    Database().FailWhenContaining.clear();
    Control<QPushButton>(*Main, "cmdReadAgain").click();
    EXPECT_EQ(Band(*Main), "");
    EXPECT_EQ(ControllerRows(), shown);

    // A server restarted while the list read nothing: the list's connection broke meanwhile, and
    // the read that the server's return brings about is no reason for a band.
    if (Engine() == TEngine::PostgreSQL) {
        QSignalSpy told(&Session->Changes(), &TChangeWatch::Changed);
        ASSERT_TRUE(Cluster().Kill()) << Cluster().Error().toStdString();
        ASSERT_TRUE(Cluster().Start()) << Cluster().Error().toStdString();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !told.isEmpty(); }, 20000));
        EXPECT_EQ(Band(*Main), "");
        EXPECT_EQ(ControllerRows(), shown);
    }
}

TEST_P(FailedReads, TheCardholderListOpenedWhileTheSiteIsGoneSaysItCouldNotBeRead) {
    const int32_t front = AddController("Front");
    AddCardHolder("1000000041", "Anna");
    AddCardHolder("1000000042", "Bert");
    AddCardHolder("1000000043", "Carl");
    AddZone(front, "1000000041", 2);
    Session->LoadControllers();
    // The main window's watch listens before the site goes.
    Session->Changes();
    ASSERT_NO_FATAL_FAILURE(Settle());

    ASSERT_NO_FATAL_FAILURE(Break("CardHolders"));
    List = std::make_unique<TfrmCardHolders>(Desktop, *Session, RunSettings);
    ASSERT_NO_FATAL_FAILURE(Show(*List));
    EXPECT_EQ(Holders().rowCount(), 0);
    EXPECT_THAT(Band(*List), StartsWith("The cardholders could not be read from the database: "));
    EXPECT_THAT(Control<QLabel>(*List, "StatusPanel").text().toStdString(),
                Not(HasSubstr("Loaded")));
    ExpectRetryReachable(*List);

    ASSERT_NO_FATAL_FAILURE(Mend());
    ASSERT_TRUE(QTest::qWaitFor([&] { return Holders().rowCount() == 3; }, 20000)) << Band(*List);
    EXPECT_EQ(Band(*List), "");
    EXPECT_EQ(Holders().columnCount(), TCardHolderModel::FirstZoneColumn + 1);
    EXPECT_EQ(Holders()
                  .index(Holders().RowOf("1000000041"), TCardHolderModel::FirstZoneColumn)
                  .data(TCardHolderModel::ZoneRole)
                  .toInt(),
              2);

    // Gone again while the rows show: they stay, out of date.
    ASSERT_NO_FATAL_FAILURE(Break("CardHolders"));
    Control<QPushButton>(*List, "cmdFilterApply").click();
    EXPECT_EQ(Holders().rowCount(), 3);
    EXPECT_THAT(Band(*List), StartsWith("This list is out of date."));
    ASSERT_NO_FATAL_FAILURE(Mend());
    EXPECT_TRUE(QTest::qWaitFor([&] { return Band(*List).empty(); }, 20000)) << Band(*List);
    EXPECT_EQ(Holders().rowCount(), 3);
}

INSTANTIATE_TEST_SUITE_P(Engines, FailedReads, ::testing::ValuesIn(BothEngines), EngineCaseName);

} // namespace
