#include "app/main.h"
#include "cardholders/cardholdermodel.h"
#include "cardholders/cardholderreload.h"
#include "cardholders/cardholders.h"
#include "controllers/controllerrecords.h"
#include "controllers/controllerstatements.h"
#include "controllers/pendingchanges.h"
#include "db/MyDBConnector.h"
#include "db/changewatch.h"
#include "journal/journal.h"

#include "faultproxy.h"
#include "listsettle.h"
#include "modal.h"
#include "pgcluster.h"
#include "profiledb.h"

#include <QDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>

#include <gmock/gmock.h>

#include <functional>

namespace {

QString Number(int i) {
    return QStringLiteral("10000000%1").arg(i, 2, 10, QChar(u'0'));
}

QString Name(int i) {
    return QStringLiteral("Holder %1").arg(i, 2, 10, QChar(u'0'));
}

// Both lists open on a site, and a second connection to it that makes the changes another
// workstation (or another copy of the program on the same file) would make.
class LiveLists : public EngineProfileDbTest {
protected:
    void SetUp() override {
        ProfileDbTest::SetUp();
        if (HasFatalFailure())
            return;
        Other = NewConnectorOfKind(Database().GetDBTypeName(), Database().ConnectionString);
        ASSERT_TRUE(Other && Other->Connect()) << Other->GetLastError().toStdString();
    }
    void TearDown() override {
        List.reset();
        Main.reset();
        Other.reset();
        ProfileDbTest::TearDown();
    }

    // The change watch is made with the first window; one that listens on a connection of its
    // own first tells that anything may have changed, which the lists show at once. The cases
    // start once that has passed.
    void Settle() const {
        ASSERT_TRUE(QTest::qWaitFor([this] { return ListsSettled(Session->Changes(), List.get()); },
                                    10000));
    }

public:
    void OtherRuns(const TMyStatement& statement) const {
        EXPECT_TRUE(Other->ExecuteQuery(statement))
            << ::testing::PrintToString(statement) << ": " << Other->GetLastError().toStdString();
    }
    void OtherAddsCardHolder(const QString& number, const QString& name) const {
        OtherRuns({"INSERT INTO CardHolders (CardNumber, CardHolder, CardCustom1, CardCustom2, "
                   "CardCustom3, CardCustom4, CardAdded, CardLastEdit, Deleted) VALUES(?, ?, \"\", "
                   "\"\", \"\", \"\", NOW(), NOW(), ?)",
                   {number, name, false}});
    }
    void OtherRenamesCardHolder(const QString& number, const QString& name) const {
        OtherRuns({"UPDATE CardHolders SET CardHolder = ? WHERE CardNumber = ?", {name, number}});
    }

    // The cardholder list, over sixty holders at one controller.
    void OpenCardHolders() {
        Door = AddController("Door");
        for (int i = 0; i < 60; ++i)
            AddCardHolder(Number(i), Name(i));
        Session->LoadControllers();
        List = std::make_unique<TfrmCardHolders>(Desktop, *Session, RunSettings);
        List->resize(900, 400);
        List->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(List.get()));
        Settle();
    }
    QTreeView* HolderView() const { return &Control<QTreeView>(*List, "VSTCardHolders"); }
    TCardHolderModel* Holders() const { return &Control<TCardHolderModel>(*List, "CardHolders"); }
    QString HolderText(int row, int column) const {
        return Holders()->index(row, column).data().toString();
    }
    int HolderRow(const QString& number) const { return Holders()->RowOf(number); }
    QString HolderName(const QString& number) const {
        const int row = HolderRow(number);
        return row < 0 ? QString() : HolderText(row, TCardHolderModel::CardHolderColumn);
    }
    QString SelectedHolder() const {
        const TCardHolder* record = Holders()->Record(List->SelectedRow());
        return record ? record->CardNumber : QString();
    }
    QString TopHolder() const {
        return HolderText(HolderView()->indexAt(QPoint(1, 1)).row(),
                          TCardHolderModel::CardNumberColumn);
    }

    // The controller list in the main window, over forty controllers.
    void OpenControllers() {
        for (int i = 0; i < 40; ++i)
            ConIDs << AddController(QStringLiteral("Door %1").arg(i, 2, 10, QChar(u'0')));
        Main = std::make_unique<TfrmMain>(Desktop, RunSettings);
        Main->OpenSession(TakeSession());
        Main->resize(689, 447);
        Main->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Main.get()));
        Settle();
    }
    QTreeWidget* ControllerView() const { return &Control<QTreeWidget>(*Main, "VSTControllers"); }
    int ControllerRow(int32_t conId) const {
        for (int row = 0; row < ControllerView()->topLevelItemCount(); ++row)
            if (const TStandController* controller = Main->RowController(row);
                controller && controller->ConID == conId)
                return row;
        return -1;
    }
    QString ControllerText(int32_t conId, int column) const {
        const int row = ControllerRow(conId);
        return row < 0 ? QString() : ControllerView()->topLevelItem(row)->text(column);
    }
    bool ControllerMarked(int32_t conId) const {
        const int row = ControllerRow(conId);
        return row >= 0 &&
               !ControllerView()->topLevelItem(row)->data(4, Qt::DecorationRole).isNull();
    }
    int32_t TopController() const {
        const TStandController* controller = Main->RowController(
            ControllerView()->indexOfTopLevelItem(ControllerView()->itemAt(1, 1)));
        return controller ? controller->ConID : -1;
    }

    std::unique_ptr<TMyDBConnector> Other;
    std::unique_ptr<TfrmCardHolders> List;
    std::unique_ptr<TfrmMain> Main;
    int32_t Door = 0;
    QList<int32_t> ConIDs;
};

TEST_P(LiveLists, TheCardholderListShowsAnotherWorkstationsChangesWhereTheOperatorLeftIt) {
    ASSERT_NO_FATAL_FAILURE(OpenCardHolders());
    HolderView()->setCurrentIndex(Holders()->index(HolderRow(Number(40)), 1));
    HolderView()->scrollTo(Holders()->index(HolderRow(Number(30)), 0),
                           QAbstractItemView::PositionAtTop);
    ASSERT_EQ(TopHolder(), Number(30));
    // A filter being typed, not yet applied, and the focus where the typing goes on.
    auto& filter = Control<QLineEdit>(*List, "txtFilterCardHolder");
    filter.setFocus();
    QTest::keyClicks(&filter, "Hold");

    // One holder comes in above the top row, one below it; one is renamed, one gets a zone.
    OtherAddsCardHolder("1000000105", "Holder 05b");
    OtherAddsCardHolder("1000000135", "Holder 35b");
    OtherRenamesCardHolder(Number(45), "Holder 45 renamed");
    OtherRuns({"INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES(?, ?, ?)",
               {Door, Number(40), 2}});

    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return Holders()->rowCount() == 62 && HolderName(Number(45)) == "Holder 45 renamed" &&
                   Holders()
                           ->index(HolderRow(Number(40)), TCardHolderModel::FirstZoneColumn)
                           .data(TCardHolderModel::ZoneRole)
                           .toInt() == 2;
        },
        5000));
    EXPECT_EQ(HolderName("1000000135"), "Holder 35b");
    EXPECT_EQ(HolderRow("1000000105"), HolderRow(Number(5)) + 1) << "in name order";
    EXPECT_EQ(SelectedHolder(), Number(40));
    EXPECT_EQ(TopHolder(), Number(30));
    EXPECT_EQ(filter.text(), "Hold");
    EXPECT_EQ(QApplication::focusWidget(), &filter);
    EXPECT_EQ(Control<QLabel>(*List, "StatusPanel").text(), "Loaded 62 cardholders");
}

TEST_P(LiveLists, TheCardholderListKeepsTheAppliedFilterAndTheSortOfTheOperator) {
    ASSERT_NO_FATAL_FAILURE(OpenCardHolders());
    Control<QLineEdit>(*List, "txtFilterCardHolder").setText("Holder 1");
    Control<QPushButton>(*List, "cmdFilterApply").click();
    ASSERT_EQ(Holders()->rowCount(), 10);
    // Descending by name.
    List->VSTCardHoldersHeaderClick(TCardHolderModel::CardHolderColumn);
    ASSERT_EQ(HolderText(0, TCardHolderModel::CardHolderColumn), Name(19));
    // Typed since, not applied: the list stays with what it shows.
    Control<QLineEdit>(*List, "txtFilterCardHolder").setText("Holder 2");

    OtherAddsCardHolder("1000000115", "Holder 15b");
    OtherAddsCardHolder("1000000125", "Holder 25b");

    ASSERT_TRUE(QTest::qWaitFor([&] { return HolderRow("1000000115") >= 0; }, 5000));
    EXPECT_EQ(Holders()->rowCount(), 11);
    EXPECT_EQ(HolderRow("1000000125"), -1);
    EXPECT_EQ(HolderText(0, TCardHolderModel::CardHolderColumn), Name(19));
    EXPECT_EQ(HolderRow("1000000115"), HolderRow(Number(15)) - 1) << "descending";
    EXPECT_EQ(HolderView()->header()->sortIndicatorOrder(), Qt::DescendingOrder);
}

// The zone columns are the controllers of the site as they are now: one added elsewhere comes in
// where its name puts it, a renamed one changes its title, a deleted one goes, and every column
// keeps its own zones and acts on its own controller.
TEST_P(LiveLists, TheCardholderListsZoneColumnsFollowTheControllersOfAnotherWorkstation) {
    ASSERT_NO_FATAL_FAILURE(OpenCardHolders());
    OtherRuns({"INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES(?, ?, ?)",
               {Door, Number(40), 2}});
    HolderView()->setCurrentIndex(Holders()->index(HolderRow(Number(40)), 1));
    const auto titles = [this] {
        QStringList names;
        for (int column = TCardHolderModel::FirstZoneColumn; column < Holders()->columnCount();
             ++column)
            names << Holders()->headerData(column, Qt::Horizontal).toString();
        return names;
    };
    const auto zone = [this](const QString& number, int column) {
        return Holders()
            ->index(HolderRow(number), TCardHolderModel::FirstZoneColumn + column)
            .data(TCardHolderModel::ZoneRole)
            .toInt();
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return zone(Number(40), 0) == 2; }, 5000));

    OtherRuns(InsertControllerStatement("Annex", "A1B2C3", 2, 4));
    const std::unique_ptr<TMyResultSet> found = Other->Query(
        {"SELECT ConID FROM Controllers WHERE ConName = ?", {QStringLiteral("Annex")}});
    ASSERT_TRUE(found && found->RecordCount() == 1);
    const int32_t annex = found->Fields(0).AsInteger();
    OtherRuns({"INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES(?, ?, ?)",
               {annex, Number(7), 1}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return titles() == QStringList({"Annex", "Door"}); }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return zone(Number(7), 0) == 1; }, 5000));
    EXPECT_EQ(zone(Number(40), 0), 0);
    EXPECT_EQ(zone(Number(40), 1), 2);
    EXPECT_EQ(SelectedHolder(), Number(40));

    // A click in the new column changes the card's zone at the new controller.
    auto click = std::make_shared<TZoneClickWrite>();
    click->CardNumber = Number(40);
    click->ConID = annex;
    click->Author = Session->Author();
    Holders()->ZoneWritten(Written(click));
    EXPECT_EQ(click->Zone, 1);
    EXPECT_EQ(zone(Number(40), 0), 1);
    EXPECT_EQ(Zones(annex, Number(40)), QStringList{"1"});
    EXPECT_EQ(Zones(Door, Number(40)), QStringList{"2"});

    OtherRuns(UpdateControllerStatement(Door, "Yard", "000000", 2, 4));
    ASSERT_TRUE(QTest::qWaitFor([&] { return titles() == QStringList({"Annex", "Yard"}); }, 5000));
    EXPECT_EQ(zone(Number(40), 1), 2);

    EXPECT_EQ(DeleteController(*Other, annex, {"other", "desk-2"}), TControllerDelete::Deleted);
    ASSERT_TRUE(QTest::qWaitFor([&] { return titles() == QStringList{"Yard"}; }, 5000));
    EXPECT_EQ(zone(Number(40), 0), 2);
    EXPECT_EQ(zone(Number(7), 0), 0);
    EXPECT_EQ(Holders()->columnCount(), TCardHolderModel::FirstZoneColumn + 1);
    EXPECT_EQ(SelectedHolder(), Number(40));
}

TEST_P(LiveLists, TheControllerListShowsNamesCountsAndMarksOfAnotherWorkstation) {
    ASSERT_NO_FATAL_FAILURE(OpenControllers());
    const int32_t selected = ConIDs[25];
    ControllerView()->setCurrentItem(ControllerView()->topLevelItem(ControllerRow(selected)));
    ControllerView()->scrollToItem(ControllerView()->topLevelItem(ControllerRow(ConIDs[20])),
                                   QAbstractItemView::PositionAtTop);
    ASSERT_EQ(TopController(), ConIDs[20]);
    ASSERT_FALSE(ControllerMarked(ConIDs[22]));

    OtherRuns({"UPDATE Controllers SET ConName = ? WHERE ConID = ?",
               {QStringLiteral("Back gate"), ConIDs[30]}});
    OtherAddsCardHolder(Number(1), Name(1));
    OtherRuns({"INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES(?, ?, ?)",
               {selected, Number(1), 1}});
    ASSERT_TRUE(StoreMarks(*Other, {ConIDs[22]}));

    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return ControllerText(ConIDs[30], 1) == "Back gate" &&
                   ControllerText(selected, 3) == "1" && ControllerMarked(ConIDs[22]);
        },
        5000));
    EXPECT_EQ(Main->SelectedController() ? Main->SelectedController()->ConID : -1, selected);
    EXPECT_EQ(TopController(), ConIDs[20]);
}

// A key written and verified on another workstation changes the journal, and the marks only when
// there was one to clear: the journal alone must wake the list.
TEST_P(LiveLists, TheControllerListShowsAKeyWrittenOnAnotherWorkstation) {
    ASSERT_NO_FATAL_FAILURE(OpenControllers());
    constexpr int KeyWritten = 6, By = 7;
    ASSERT_EQ(ControllerText(ConIDs[12], KeyWritten), "No verified write recorded");
    QSignalSpy told(&Session->Changes(), &TChangeWatch::Changed);

    TJournalEntry write;
    write.Action = TJournalAction::KeyWritten;
    write.ConID = ConIDs[12];
    write.ConName = "Door 12";
    write.Changes = {{"CRC8", "", "3C"}};
    ASSERT_TRUE(AppendJournal(*Other, write, {"bert", "gatehouse"}))
        << Other->GetLastError().toStdString();

    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return ControllerText(ConIDs[12], By) == "bert on gatehouse"; }, 5000))
        << ControllerText(ConIDs[12], KeyWritten).toStdString();
    EXPECT_NE(ControllerText(ConIDs[12], KeyWritten), "No verified write recorded");
    EXPECT_EQ(ControllerText(ConIDs[13], KeyWritten), "No verified write recorded");
    // The server names the table it heard of; the list did not wait for anything else.
    if (GetParam() == TEngine::PostgreSQL) {
        EXPECT_EQ(told.value(0).value(0).toStringList(), QStringList{"journal"});
    }
}

// A dialog over a list works on its rows by position: the rows stay as they are while it is
// open, and show the change once it is closed.
TEST_P(LiveLists, ADialogOverAListHoldsItsRefreshUntilItCloses) {
    struct TCase {
        const char* Name;
        std::function<void(LiveLists&)> Open;
        std::function<void(LiveLists&)> Change;
        std::function<bool(const LiveLists&)> Shown;
    };
    const TCase cases[] = {
        {"cardholders", [](LiveLists& test) { test.OpenCardHolders(); },
         [](LiveLists& test) { test.OtherRenamesCardHolder(Number(3), "Renamed"); },
         [](const LiveLists& test) { return test.HolderName(Number(3)) == "Renamed"; }},
        {"controllers", [](LiveLists& test) { test.OpenControllers(); },
         [](LiveLists& test) {
             test.OtherRuns({"UPDATE Controllers SET ConName = ? WHERE ConID = ?",
                             {QStringLiteral("Renamed"), test.ConIDs[3]}});
         },
         [](const LiveLists& test) { return test.ControllerText(test.ConIDs[3], 1) == "Renamed"; }},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Name);
        ASSERT_NO_FATAL_FAILURE(test.Open(*this));
        QWidget* owner = List ? static_cast<QWidget*>(List.get()) : Main.get();
        QDialog dialog(owner);
        dialog.setModal(true);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        QSignalSpy told(&Session->Changes(), &TChangeWatch::Changed);
        test.Change(*this);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !told.isEmpty(); }, 5000));
        // Several tries of the list pass while the dialog is open.
        QTest::qWait(750);
        EXPECT_FALSE(test.Shown(*this));
        dialog.close();
        EXPECT_TRUE(QTest::qWaitFor([&] { return test.Shown(*this); }, 5000));
    }
}

// On a file the burst's changes all land before the watch's next look, which the window's thread
// (busy with the changes) takes after them. On the server the notices reach the watch's listener
// through a proxy that gathers the burst's and lets them go together, so that the test does not
// depend on how the machine schedules the listener's thread meanwhile.
TEST_P(LiveLists, ABurstOfChangesRefreshesTheCardholderListOnce) {
    const int burst = 20;
    std::unique_ptr<TFaultProxy> proxy;
    if (Engine() == TEngine::PostgreSQL) {
        proxy = std::make_unique<TFaultProxy>(Cluster().Socket());
        ASSERT_TRUE(proxy->Listening()) << proxy->Error().toStdString();
        // The watch made with the list listens on a connection of its own, made from this text.
        Database().Inner->ConnectionString = proxy->Through(Database().Inner->ConnectionString);
    }
    ASSERT_NO_FATAL_FAILURE(OpenCardHolders());
    int reads = 0;
    QObject::connect(&Control<TCardHolderReload>(*List, "CardHolderReload"),
                     &TCardHolderReload::Loaded, [&] { ++reads; });
    QSignalSpy resets(Holders(), &QAbstractItemModel::modelReset);
    const int noticesBefore = proxy ? proxy->Notices() : 0;
    if (proxy)
        proxy->SetMode(TFaultProxy::TMode::HoldToClients);
    for (int i = 0; i < burst; ++i)
        OtherRenamesCardHolder(Number(i), Name(i) + " renamed");
    if (proxy) {
        ASSERT_TRUE(proxy->WaitForNotices(noticesBefore + burst, 30000));
        proxy->SetMode(TFaultProxy::TMode::Pass);
    }
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return HolderName(Number(burst - 1)) == Name(burst - 1) + " renamed"; }, 30000));
    EXPECT_EQ(reads, 1);
    for (int i = 0; i < burst; ++i)
        EXPECT_EQ(HolderName(Number(i)), Name(i) + " renamed") << "read at once with the rest";
    // The rows changed in place.
    EXPECT_TRUE(resets.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Engines, LiveLists, ::testing::ValuesIn(BothEngines), EngineCaseName);

} // namespace
