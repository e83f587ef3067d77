// A server that stops answering while a window saves: the window thread goes on serving events
// (a timer keeps firing, the window says that it is saving and takes no second save), and once
// the answer limit gave the server up, the window says that the change failed or that its outcome
// is unknown; never that it was saved. Each write a window starts is tried here.

#include "cardholderfixture.h"

#include "app/main.h"
#include "cardholders/cardholder.h"
#include "cardholders/cardholdermodel.h"
#include "cardholders/cardholders.h"
#include "controllers/controller.h"
#include "db/MyPostgreSQL.h"
#include "db/sitewriter.h"
#include "shared/messagebox.h"

#include "faultproxy.h"
#include "modal.h"
#include "pgcluster.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>

namespace {

// The site on the server, with every connection of the session (its writer's included) going
// through a proxy that can fall silent.
class SilentServerTest : public CardholderTest {
protected:
    TEngine Engine() const override { return TEngine::PostgreSQL; }
    void SetUp() override {
        CardholderTest::SetUp();
        if (HasFatalFailure())
            return;
        Proxy = std::make_unique<TFaultProxy>(TTestCluster::Shared().Socket());
        ASSERT_TRUE(Proxy->Listening()) << Proxy->Error().toStdString();
        auto engine = std::make_unique<TMyPostgreSQL>();
        engine->ConnectionString = Proxy->Through(ServerConnection);
        ASSERT_TRUE(engine->Connect()) << engine->GetLastError().toStdString();
        // Short, so that the server is given up soon: the tests wait for that, never for a time.
        engine->SetAnswerLimit(2000);
        OwnedSession = RecordedSession(std::move(engine), {});
        Session = OwnedSession.get();
        // As the session's own connector would: its reads never connect again on the window
        // thread (its reconnect worker does), also behind the test's recorder.
        Database().Inner->ReconnectOnUse = false;
        // The writer connects while the server answers; what it meets later is the silence.
        ASSERT_TRUE(QTest::qWaitFor([this] { return Session->Writes().Ready(); }, 30000));
    }
    void TearDown() override {
        Proxy->SetMode(TFaultProxy::TMode::Pass);
        CardholderTest::TearDown();
        Proxy.reset();
    }

    // What a window did while the server was silent.
    struct TSilence {
        // Shots of a timer on the window thread before the window told the outcome; none when
        // the window thread waited for the server.
        int Shots = 0;
        // The window said it was busy at every one of those shots.
        bool BusyShown = true;
        MessageBoxes::Shown Outcome{MessageBoxes::Information, {}, {}};
    };
    // Silences the server, runs `start` (which has a window start a write, after `questions`
    // answered questions), and waits for the window's next message: the outcome.
    TSilence WhileSilent(const std::function<void()>& start, const std::function<bool()>& busy,
                         int questions = 0) {
        TSilence silence;
        Proxy->SetMode(TFaultProxy::TMode::Hold);
        const qsizetype before = MessageBoxes::ShownMessages().size() + questions;
        const auto told = [before] { return MessageBoxes::ShownMessages().size() > before; };
        QTimer probe;
        probe.setInterval(1);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            if (told())
                return;
            ++silence.Shots;
            silence.BusyShown = silence.BusyShown && busy();
        });
        probe.start();
        start();
        EXPECT_TRUE(QTest::qWaitFor(told, 60000));
        probe.stop();
        Proxy->SetMode(TFaultProxy::TMode::Pass);
        if (told())
            silence.Outcome = MessageBoxes::ShownMessages()[before];
        return silence;
    }
    // The outcome says that the server was given up, and names no success.
    static void ExpectGivenUp(const TSilence& silence) {
        EXPECT_GT(silence.Shots, 0) << "the window thread waited for the server";
        EXPECT_TRUE(silence.BusyShown);
        EXPECT_TRUE(silence.Outcome.kind == MessageBoxes::Error ||
                    silence.Outcome.kind == MessageBoxes::Warning);
        EXPECT_TRUE(silence.Outcome.text.contains("did not answer"))
            << silence.Outcome.text.toStdString();
    }
    // A count as the server holds it, read past the proxy and the session.
    int Stored(const TMyStatement& statement) const {
        TMyPostgreSQL direct;
        direct.ConnectionString = ServerConnection;
        if (!direct.Connect())
            return -1;
        const std::unique_ptr<TMyResultSet> rows = direct.Query(statement);
        return rows && rows->RecordCount() == 1 ? rows->Fields(0).AsInteger() : -1;
    }
    static bool Shown(const QWidget& window, const char* label) {
        return Control<QLabel>(window, label).isVisible();
    }

    std::unique_ptr<TFaultProxy> Proxy;
};

TEST_F(SilentServerTest, TheCardholderDialogStaysResponsiveAndKeepsWhatWasTyped) {
    TfrmCardHolder dialog(Desktop, *Session, RunSettings);
    dialog.show();
    Control<QLineEdit>(dialog, "txtCustomCardNumber").setText("0A1B2C3D4E");
    QTest::mouseClick(&Control<QPushButton>(dialog, "cmdCustomNumberCheck"), Qt::LeftButton);
    Control<QLineEdit>(dialog, "txtCardHolder").setText("Bert");
    QPushButton& ok = Control<QPushButton>(dialog, "cmdOK");
    ASSERT_TRUE(ok.isEnabled());

    const TSilence silence =
        WhileSilent([&] { QTest::mouseClick(&ok, Qt::LeftButton); },
                    [&] { return !ok.isEnabled() && Shown(dialog, "lblSaving"); });
    ExpectGivenUp(silence);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(Control<QLineEdit>(dialog, "txtCardHolder").text(), "Bert");

    // The server answers again: the next OK saves.
    ASSERT_TRUE(QTest::qWaitFor([&] { return ok.isEnabled(); }, 30000));
    QTest::mouseClick(&ok, Qt::LeftButton);
    EXPECT_TRUE(WritesDone());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(Stored({"SELECT COUNT(*) FROM CardHolders WHERE CardHolder = ?", {"Bert"}}), 1);
}

// The list of cardholders, as the operator has it open over a silent server.
class SilentListTest : public SilentServerTest {
protected:
    void SetUp() override {
        SilentServerTest::SetUp();
        if (HasFatalFailure())
            return;
        Gate = &AddController("Gate");
        AddCardHolder("1111111111", "Anna");
        AddZone(*Gate, "1111111111", 1);
        List = std::make_unique<TfrmCardHolders>(Desktop, *Session, RunSettings);
        List->resize(1000, 500);
        List->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(List.get()));
        ASSERT_EQ(Model().rowCount(), 1);
    }
    void TearDown() override {
        List.reset();
        SilentServerTest::TearDown();
    }
    TCardHolderModel& Model() const { return Control<TCardHolderModel>(*List, "CardHolders"); }
    void ClickZone() const {
        QTreeView& view = Control<QTreeView>(*List, "VSTCardHolders");
        QTest::mouseClick(
            view.viewport(), Qt::LeftButton, {},
            view.visualRect(Model().index(0, TCardHolderModel::FirstZoneColumn)).center());
    }

    TStandController* Gate = nullptr;
    std::unique_ptr<TfrmCardHolders> List;
};

TEST_F(SilentListTest, AZoneClickKeepsTheListAnsweringAndChangesNothingShown) {
    ExpectGivenUp(WhileSilent([&] { ClickZone(); }, [&] { return Shown(*List, "lblSaving"); }));
    EXPECT_EQ(Model().Record(0)->CardZones.value(0), 1);
    EXPECT_FALSE(Gate->ChangesMade);
}

TEST_F(SilentListTest, ADeletionKeepsTheListAnsweringAndTheCardholderListed) {
    Control<QTreeView>(*List, "VSTCardHolders")
        .selectionModel()
        ->select(Model().index(0, 0),
                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QAction& remove = Control<QAction>(*List, "mnuDelete");
    MessageBoxes::SetNextAnswer(true);
    ExpectGivenUp(WhileSilent([&] { remove.trigger(); },
                              [&] { return !remove.isEnabled() && Shown(*List, "lblSaving"); }, 1));
    EXPECT_EQ(Model().rowCount(), 1);
    EXPECT_TRUE(remove.isEnabled());
    EXPECT_EQ(Stored("SELECT COUNT(*) FROM CardHolders WHERE Deleted = False"), 1);
}

TEST_F(SilentServerTest, TheControllerDialogStaysResponsiveAndGrantsNothing) {
    AddCardHolder("1111111111", "Anna");
    TfrmController dialog(*Session);
    dialog.show();
    Control<QLineEdit>(dialog, "txtConName").setText("Door");
    Control<QComboBox>(dialog, "cboAccess").setCurrentIndex(1);
    QPushButton& ok = Control<QPushButton>(dialog, "cmdOK");
    ExpectGivenUp(WhileSilent([&] { QTest::mouseClick(&ok, Qt::LeftButton); },
                              [&] { return !ok.isEnabled() && Shown(dialog, "lblSaving"); }));
    EXPECT_FALSE(dialog.Saved.Saved);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(Stored("SELECT COUNT(*) FROM CardZones"), 0);
}

TEST_F(SilentServerTest, DeletingAControllerKeepsTheMainWindowAnswering) {
    const int32_t gate = AddController("Gate", "000000");
    TfrmMain main(Desktop, RunSettings);
    main.OpenSession(TakeSession());
    main.show();
    auto& view = Control<QTreeWidget>(main, "VSTControllers");
    ASSERT_EQ(view.topLevelItemCount(), 1);
    view.setCurrentItem(view.topLevelItem(0));
    QAction& remove = Control<QAction>(main, "mnuDelete");
    MessageBoxes::SetNextAnswer(true);
    ExpectGivenUp(WhileSilent([&] { remove.trigger(); },
                              [&] { return !remove.isEnabled() && Shown(main, "lblSaving"); }, 1));
    EXPECT_EQ(Stored({"SELECT COUNT(*) FROM Controllers WHERE ConID = ?", {gate}}), 1);
}

} // namespace
