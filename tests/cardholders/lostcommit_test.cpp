// A connection that breaks just after COMMIT went out: the change may well be stored. The windows
// say that its outcome is unknown, read what is stored, and take another try only then; a try
// before would move a zone on twice or find a new cardholder "taken" by their own record.

#include "readerfixture.h"

#include "app/main.h"
#include "cardholders/cardholder.h"
#include "cardholders/cardholdermodel.h"
#include "cardholders/cardholders.h"
#include "db/MyPostgreSQL.h"
#include "shared/messagebox.h"

#include "faultproxy.h"
#include "modal.h"
#include "pgcluster.h"

#include <QAction>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// The site on the server, with the session's connection (and every other the windows make)
// going through a proxy that can cut one at its COMMIT.
class LostCommitTest : public CardReaderTest {
protected:
    TEngine Engine() const override { return TEngine::PostgreSQL; }
    void SetUp() override {
        CardReaderTest::SetUp();
        if (HasFatalFailure())
            return;
        Proxy = std::make_unique<TFaultProxy>(TTestCluster::Shared().Socket());
        ASSERT_TRUE(Proxy->Listening()) << Proxy->Error().toStdString();
        auto engine = std::make_unique<TMyPostgreSQL>();
        engine->ConnectionString = Proxy->Through(ServerConnection);
        ASSERT_TRUE(engine->Connect()) << engine->GetLastError().toStdString();
        OwnedSession = RecordedSession(std::move(engine), {});
        Session = OwnedSession.get();
    }
    void TearDown() override {
        CardReaderTest::TearDown();
        Proxy.reset();
    }
    static bool Said(const char* piece) {
        for (const QString& text : MessageBoxes::ShownTexts())
            if (text.contains(QString::fromLatin1(piece)))
                return true;
        return false;
    }

    std::unique_ptr<TFaultProxy> Proxy;
};

TEST_F(LostCommitTest, AZoneClickCutAtItsCommitShowsTheStoredZoneBeforeTheNextClick) {
    const TStandController& gate = AddController("Gate");
    AddCardHolder("1111111111", "Anna");
    TfrmCardHolders list(Desktop, *Session, RunSettings);
    list.resize(1000, 500);
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    QTreeView& view = Control<QTreeView>(list, "VSTCardHolders");
    TCardHolderModel& model = Control<TCardHolderModel>(list, "CardHolders");
    ASSERT_EQ(model.rowCount(), 1);
    const auto click = [&] {
        QTest::mouseClick(
            view.viewport(), Qt::LeftButton, {},
            view.visualRect(model.index(0, TCardHolderModel::FirstZoneColumn)).center());
    };
    const auto shown = [&] { return model.Record(0)->CardZones.value(0); };

    Proxy->SetMode(TFaultProxy::TMode::CutAtCommit);
    click();
    ASSERT_TRUE(Proxy->WaitForCommitCuts(1, 10000));
    ASSERT_TRUE(WritesDone());
    EXPECT_THAT(Zones(gate, "1111111111"), ElementsAre("1")) << "the server kept the click";
    EXPECT_TRUE(Said("Whether the zone was changed is not known"))
        << MessageBoxes::ShownTexts().join("\n").toStdString();
    EXPECT_FALSE(Said("could not be changed"));

    // The list comes to show what is stored, and the next click moves on from there.
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown() == 1; }, 20000)) << shown();
    // The stored zone may show before the list takes clicks again (another read heard of the
    // change first): a click meanwhile is refused, and changes nothing.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            MessageBoxes::ClearShown();
            click();
            EXPECT_TRUE(WritesDone());
            return !Said("The list is being read again");
        },
        20000));
    EXPECT_THAT(Zones(gate, "1111111111"), ElementsAre("2"))
        << MessageBoxes::ShownTexts().join("\n").toStdString();
    // A read that began before the click was stored may land after it: the list then reads the
    // card once more, and never stays on the zone as it was.
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown() == 2; }, 20000)) << shown();
}

TEST_F(LostCommitTest, ANewCardholderCutAtTheCommitIsFoundSavedNotTakenByThemselves) {
    TfrmCardHolder dialog(Desktop, *Session, RunSettings);
    dialog.show();
    Control<QLineEdit>(dialog, "txtCustomCardNumber").setText("0A1B2C3D4E");
    QTest::mouseClick(&Control<QPushButton>(dialog, "cmdCustomNumberCheck"), Qt::LeftButton);
    Control<QLineEdit>(dialog, "txtCardHolder").setText("Bert");
    QPushButton& ok = Control<QPushButton>(dialog, "cmdOK");
    ASSERT_TRUE(ok.isEnabled());

    Proxy->SetMode(TFaultProxy::TMode::CutAtCommit);
    QTest::mouseClick(&ok, Qt::LeftButton);
    ASSERT_TRUE(Proxy->WaitForCommitCuts(1, 10000));
    // The save's outcome, and the read-back it starts: the dialog settles once that is in.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Said("Whether the cardholder was saved is not known"); }, 20000));
    EXPECT_TRUE(Said("Whether the cardholder was saved is not known"))
        << MessageBoxes::ShownTexts().join("\n").toStdString();
    EXPECT_FALSE(ok.isEnabled()) << "no second try before the record was read back";

    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.result() == QDialog::Accepted; }, 20000))
        << MessageBoxes::ShownTexts().join("\n").toStdString();
    EXPECT_TRUE(Said("The cardholder was saved."));
    EXPECT_FALSE(Said("belongs to"));
    EXPECT_FALSE(Said("Got an error"));
    EXPECT_EQ(Count({"SELECT COUNT(*) FROM CardHolders WHERE CardNumber = ? AND CardHolder = ? "
                     "AND Deleted = False",
                     {"0A1B2C3D4E", "Bert"}}),
              1);
}

// A delete cut at its commit went through on the server. The operator is told that its outcome is
// unknown, never that it failed, and the list then shows the row gone.
TEST_F(LostCommitTest, ACardholderDeleteCutAtItsCommitIsUnknownAndTheListShowsItGone) {
    const TStandController& gate = AddController("Gate");
    AddCardHolder("1111111111", "Anna");
    AddCardHolder("2222222222", "Bert");
    AddZone(gate, "1111111111", 1);
    TfrmCardHolders list(Desktop, *Session, RunSettings);
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    QTreeView& view = Control<QTreeView>(list, "VSTCardHolders");
    TCardHolderModel& model = Control<TCardHolderModel>(list, "CardHolders");
    ASSERT_EQ(model.rowCount(), 2);
    view.setCurrentIndex(model.index(0, 1));
    ASSERT_EQ(model.Record(list.SelectedRow())->CardHolder, "Anna");

    Proxy->SetMode(TFaultProxy::TMode::CutAtCommit);
    MessageBoxes::SetNextAnswer(true);
    Control<QAction>(list, "mnuDelete").trigger();
    ASSERT_TRUE(Proxy->WaitForCommitCuts(1, 10000));
    ASSERT_TRUE(WritesDone());
    // The cut may reach the program before the server has finished the commit.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return Count("SELECT COUNT(*) FROM CardHolders WHERE (CardNumber = '1111111111') AND "
                         "(NOT Deleted)") == 0;
        },
        10000))
        << "the server kept the delete";
    EXPECT_EQ(Count("SELECT COUNT(*) FROM CardZones WHERE CardNumber = '1111111111'"), 0);
    EXPECT_TRUE(Said("Whether the card was deleted is not known"))
        << MessageBoxes::ShownTexts().join("\n").toStdString();
    EXPECT_FALSE(Said("Got an error"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return model.rowCount() == 1; }, 20000));
    EXPECT_EQ(model.Record(0)->CardHolder, "Bert");
}

TEST_F(LostCommitTest, AControllerDeleteCutAtItsCommitIsUnknownAndTheListShowsItGone) {
    // Its records are read anew when the window opens.
    const int32_t gate = AddController("Gate").ConID;
    AddController("Hall");
    AddCardHolder("1111111111", "Anna");
    AddZone(gate, "1111111111", 1);
    TfrmMain main(Desktop, RunSettings);
    main.OpenSession(std::move(OwnedSession));
    QTreeWidget& view = Control<QTreeWidget>(main, "VSTControllers");
    ASSERT_EQ(view.topLevelItemCount(), 2);
    for (int row = 0; row < view.topLevelItemCount(); ++row)
        if (view.topLevelItem(row)->text(1) == "Gate")
            view.setCurrentItem(view.topLevelItem(row));
    ASSERT_NE(view.currentItem(), nullptr);

    Proxy->SetMode(TFaultProxy::TMode::CutAtCommit);
    MessageBoxes::SetNextAnswer(true);
    Control<QAction>(main, "mnuDelete").trigger();
    ASSERT_TRUE(Proxy->WaitForCommitCuts(1, 10000));
    ASSERT_TRUE(WritesDone());
    // The cut may reach the program before the server has finished the commit.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return Count({"SELECT COUNT(*) FROM Controllers WHERE ConID = ?", {gate}}) == 0;
        },
        10000))
        << "the server kept the delete";
    EXPECT_TRUE(Said("Whether the controller was deleted is not known"))
        << MessageBoxes::ShownTexts().join("\n").toStdString();
    EXPECT_FALSE(Said("could not be deleted"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return view.topLevelItemCount() == 1; }, 20000));
    EXPECT_EQ(view.topLevelItem(0)->text(1), "Hall");
    Session = nullptr; // the window ended it
}

} // namespace
