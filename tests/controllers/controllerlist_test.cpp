#include "app/main.h"
#include "controllers/controller.h"
#include "controllers/controllerrecords.h"
#include "controllers/pendingchanges.h"
#include "controllers/programdevice.h"
#include "db/MyDBConnector.h"
#include "journal/journal.h"
#include "journal/journaltext.h"
#include "shared/messagebox.h"
#include "shared/publictypes.h"

#include "controllerdb.h"
#include "modal.h"
#include "pofile.h"
#include "virtualadapter.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gmock/gmock.h>

#include <functional>

using ::testing::ElementsAre;

namespace {

class ControllerListTest : public ControllerDbTest {
protected:
    void SetUp() override {
        ControllerDbTest::SetUp();
        Main = std::make_unique<TfrmMain>(Desktop, RunSettings);
        Main->OpenSession(TakeSession());
    }
    void TearDown() override {
        Main.reset();
        ControllerDbTest::TearDown();
    }

    QTreeWidget* View() const { return &Control<QTreeWidget>(*Main, "VSTControllers"); }
    QString SubTitle() const { return Control<QLabel>(*Main, "lblSubTitle").text(); }
    QStringList RowTexts(int row) const {
        QStringList texts;
        for (int column = 0; column < 4; ++column)
            texts << View()->topLevelItem(row)->text(column);
        return texts;
    }
    // A mark as a change of this program sets it: stored in the database, shown on the record.
    void MarkChanged(int index) {
        ASSERT_TRUE(StoreMarks(*Database().Inner, {Controllers()[size_t(index)]->ConID}));
        Controllers()[size_t(index)]->ChangesMade = true;
    }
    bool Marked(int row) const {
        return !View()->topLevelItem(row)->data(4, Qt::DecorationRole).isNull();
    }
    void Select(int row) { View()->setCurrentItem(View()->topLevelItem(row)); }
    QList<QPushButton*> RowButtons() const {
        QList<QPushButton*> buttons;
        for (QPushButton* button :
             View()->parentWidget()->findChildren<QPushButton*>(Qt::FindDirectChildrenOnly))
            if (button->text() == "Load programmer")
                buttons << button;
        return buttons;
    }
    // A row button's place in the view's viewport, where the rows are drawn.
    QRect OnViewport(const QPushButton* button) const {
        return QRect(View()->viewport()->mapFrom(button->parentWidget(), button->pos()),
                     button->size());
    }
    QStringList MarkedNames() const {
        QStringList names;
        for (int row = 0; row < View()->topLevelItemCount(); ++row)
            if (Marked(row))
                names << RowTexts(row)[1];
        return names;
    }
    void ShowWindow() {
        Main->resize(689, 447);
        Main->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Main.get()));
        View()->setFocus();
        QTest::qWait(20);
    }

    // Three controllers; Beta has two cards with a zone and one with zone 0.
    void ThreeControllers() {
        Gamma = AddController("Gamma");
        Alpha = AddController("alpha");
        Beta = AddController("Beta");
        AddZone(Beta, "12AB000001", 1);
        AddZone(Beta, "34CD000002", 2);
        AddZone(Beta, "56EF000003", 0);
        AddZone(Gamma, "12AB000001", 2);
        Main->ReloadControllers();
    }

    std::unique_ptr<TfrmMain> Main;
    int32_t Alpha = 0, Beta = 0, Gamma = 0;
};

TEST_F(ControllerListTest, TheListShowsEveryControllerByNameWithItsCards) {
    ThreeControllers();
    ASSERT_EQ(View()->topLevelItemCount(), 3);
    EXPECT_EQ(RowTexts(0), (QStringList{"1", "alpha", "VYR292", "0"}));
    EXPECT_EQ(RowTexts(1), (QStringList{"2", "Beta", "VYR292", "2"}));
    EXPECT_EQ(RowTexts(2), (QStringList{"3", "Gamma", "VYR292", "1"}));
    EXPECT_EQ(SubTitle(), "Currently listing 3 controllers");
    EXPECT_EQ(Controllers().size(), 3u);
    EXPECT_EQ(RowButtons().size(), 3);
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(Main->RowButton(row)->text(), "Load programmer");
    QHeaderView* header = View()->header();
    EXPECT_EQ(View()->headerItem()->text(1), "Controller");
    EXPECT_EQ(View()->headerItem()->text(3), "Number of cards");
    EXPECT_EQ(header->sectionSize(4), 25);
    EXPECT_EQ(header->sectionResizeMode(4), QHeaderView::Fixed);
    EXPECT_EQ(header->sectionResizeMode(0), QHeaderView::Fixed);
    EXPECT_TRUE(header->sectionsMovable());
    header->resizeSection(1, 40);
    EXPECT_EQ(header->sectionSize(1), 130);
}

TEST_F(ControllerListTest, AnEmptyDatabaseListsNothingAndClosesWithoutAQuestion) {
    Main->ReloadControllers();
    EXPECT_EQ(View()->topLevelItemCount(), 0);
    EXPECT_EQ(SubTitle(), "Currently listing 0 controllers");
    EXPECT_TRUE(Main->FormCloseQuery());
    EXPECT_TRUE(MessageBoxes::ShownMessages().isEmpty());
}

TEST_F(ControllerListTest, AReloadStartsFromTheDatabaseAndLeavesNothingOfTheOldList) {
    ThreeControllers();
    MarkChanged(1);
    QPointer<QPushButton> oldButton = Main->RowButton(1);
    Session->Database().ExecuteQuery("DELETE * FROM Controllers WHERE ConID = " +
                                     QString::number(Alpha));
    Main->ReloadControllers();
    EXPECT_TRUE(oldButton.isNull());
    EXPECT_EQ(RowButtons().size(), 2);
    EXPECT_EQ(RowTexts(0), (QStringList{"1", "Beta", "VYR292", "2"}));
    // New records, but Beta's key still has to be written.
    EXPECT_EQ(Main->ChangedControllerCount(), 1);
    EXPECT_TRUE(Marked(0));
    // Drawing the rows after the reload reads only the new records.
    ShowWindow();
    Select(1);
    QTest::qWait(20);
    EXPECT_TRUE(Main->RowButton(1)->isVisible());
}

TEST_F(ControllerListTest, DeletingAsksFirstThenRemovesTheControllerAndItsZones) {
    ThreeControllers();
    MarkChanged(2);

    Control<QAction>(*Main, "mnuDelete").trigger(); // nothing selected: nothing asked
    EXPECT_TRUE(MessageBoxes::ShownMessages().isEmpty());

    Select(1);
    MessageBoxes::SetNextAnswer(false);
    Control<QAction>(*Main, "mnuDelete").trigger();
    EXPECT_TRUE(WritesDone());
    EXPECT_EQ(MessageBoxes::ShownTexts(),
              QStringList{"Are you sure you want to delete this controller (Beta)?"});
    EXPECT_EQ(View()->topLevelItemCount(), 3);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM CardZones WHERE ConID = " + QString::number(Beta)), 3);

    MessageBoxes::SetNextAnswer(true);
    Control<QAction>(*Main, "mnuDelete").trigger();
    EXPECT_TRUE(WritesDone());
    EXPECT_EQ(Count("SELECT COUNT(*) FROM Controllers WHERE ConID = " + QString::number(Beta)), 0);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM CardZones WHERE ConID = " + QString::number(Beta)), 0);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM CardZones WHERE ConID = " + QString::number(Gamma)), 1);
    ASSERT_EQ(View()->topLevelItemCount(), 2);
    EXPECT_EQ(RowTexts(0), (QStringList{"1", "alpha", "VYR292", "0"}));
    EXPECT_EQ(RowTexts(1), (QStringList{"2", "Gamma", "VYR292", "1"}));
    EXPECT_THAT(MarkedNames(), ElementsAre("Gamma"));
    EXPECT_EQ(SubTitle(), "Currently listing 2 controllers");
}

// A delete the database refuses changes nothing, and the operator reads the engine's words.
TEST_F(ControllerListTest, ADeleteTheDatabaseRefusesKeepsTheControllerAndSaysWhy) {
    ThreeControllers();
    Select(1);
    Database().FailWhenContaining = "DELETE * FROM CardZones";
    Control<QAction>(*Main, "mnuDelete").trigger();
    EXPECT_TRUE(WritesDone());
    Database().FailWhenContaining.clear();
    ASSERT_EQ(MessageBoxes::ShownMessages().size(), 2);
    EXPECT_EQ(MessageBoxes::ShownMessages()[1].kind, MessageBoxes::Error);
    EXPECT_TRUE(MessageBoxes::ShownTexts()[1].startsWith(
        "The controller could not be deleted: refused by the test: DELETE * FROM CardZones"))
        << MessageBoxes::ShownTexts()[1].toStdString();
    EXPECT_EQ(Count("SELECT COUNT(*) FROM Controllers WHERE ConID = " + QString::number(Beta)), 1);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM CardZones WHERE ConID = " + QString::number(Beta)), 3);
    EXPECT_EQ(View()->topLevelItemCount(), 3);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM Journal"), 0);
    EXPECT_EQ(UntranslatedTexts({"The controller could not be deleted: %s"}), QStringList());
}

TEST_F(ControllerListTest, MarkedControllersShowTheImageAndMakeClosingAsk) {
    ThreeControllers();
    EXPECT_FALSE(Marked(0));
    MarkChanged(0);
    MarkChanged(2);
    EXPECT_TRUE(Marked(0));
    EXPECT_FALSE(Marked(1));
    EXPECT_TRUE(Marked(2));
    for (int column : {0, 1, 2, 3, 5})
        EXPECT_TRUE(View()->topLevelItem(0)->data(column, Qt::DecorationRole).isNull());
    EXPECT_EQ(Main->ChangedControllerCount(), 2);

    MessageBoxes::SetNextAnswer(false);
    EXPECT_FALSE(Main->close());
    EXPECT_EQ(MessageBoxes::ShownTexts(),
              QStringList{"There are controllers (2) that need to be updated, are you sure you "
                          "want to close the application?"});
    MessageBoxes::SetNextAnswer(true);
    EXPECT_TRUE(Main->FormCloseQuery());
}

TEST_F(ControllerListTest, OneControllerIsCountedInTheSingularInEitherLanguage) {
    AddController("Front door");
    Main->ReloadControllers();
    EXPECT_EQ(SubTitle(), "Currently listing 1 controller");
    MarkChanged(0);
    MessageBoxes::SetNextAnswer(false);
    EXPECT_FALSE(Main->close());
    EXPECT_EQ(MessageBoxes::ShownTexts(),
              QStringList{"There is a controller (1) that needs to be updated, are you sure you "
                          "want to close the application?"});

    Control<QAction>(*Main, "mnuLanguageDutch").trigger();
    EXPECT_EQ(SubTitle(), "Er wordt 1 controller getoond");
    Control<QAction>(*Main, "mnuLanguageEnglish").trigger();
    EXPECT_EQ(SubTitle(), "Currently listing 1 controller");
}

TEST_F(ControllerListTest, TheCardholderListsMarksSurviveAndTheCountsAreRenewed) {
    ThreeControllers();
    int opened = 0;
    WhenModal([&](QWidget* list) {
        ++opened;
        EXPECT_EQ(list->objectName(), "frmCardHolders");
        EXPECT_EQ(list->parentWidget(), Main.get());
        AddZone(Alpha, "12AB000001", 1);
        MarkChanged(0);
        list->close();
    });
    QTest::mouseClick(&Control<QPushButton>(*Main, "cmdCardholders"), Qt::LeftButton);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(RowTexts(0), (QStringList{"1", "alpha", "VYR292", "1"}));
    EXPECT_TRUE(Marked(0));
    EXPECT_EQ(Main->ChangedControllerCount(), 1);
}

TEST_F(ControllerListTest, OnlyTheSelectedRowShowsItsButtonInTheLastColumn) {
    ThreeControllers();
    ShowWindow();
    for (int row = 0; row < 3; ++row)
        EXPECT_FALSE(Main->RowButton(row)->isVisible());

    auto expectButtonOn = [&](int row) {
        QTest::qWait(30);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(Main->RowButton(i)->isVisible(), i == row) << "row " << i;
        const QRect cell = View()->visualRect(View()->model()->index(row, 5));
        const QRect rowRect = View()->visualRect(View()->model()->index(row, 0));
        const QRect button = OnViewport(Main->RowButton(row));
        EXPECT_EQ(button.left(), cell.left());
        EXPECT_EQ(button.width(), cell.width());
        EXPECT_EQ(button.top(), rowRect.top());
        EXPECT_EQ(button.height(), rowRect.height());
    };
    Select(0);
    expectButtonOn(0);
    Select(2);
    expectButtonOn(2);
    // The column can be dragged elsewhere; the button goes with it.
    View()->header()->moveSection(5, 1);
    expectButtonOn(2);
}

TEST_F(ControllerListTest, ARightClickSelectsTheRowUnderTheMouse) {
    ThreeControllers();
    ShowWindow();
    Select(0);
    const QPoint onRow = View()->visualRect(View()->model()->index(2, 1)).center();
    QTest::mousePress(View()->viewport(), Qt::RightButton, {}, onRow);
    QTest::mouseRelease(View()->viewport(), Qt::RightButton, {}, onRow);
    Control<QMenu>(*Main, "PopupMenu").hide();
    EXPECT_EQ(Main->SelectedController(), Controllers()[2].get());

    const QList<QAction*> items = Control<QMenu>(*Main, "PopupMenu").actions();
    ASSERT_EQ(items.size(), 6);
    EXPECT_EQ(items[0], &Control<QAction>(*Main, "mnuDelete"));
    EXPECT_TRUE(items[1]->isSeparator());
    EXPECT_EQ(items[2], &Control<QAction>(*Main, "mnuProperties"));
    EXPECT_TRUE(items[3]->isSeparator());
    EXPECT_EQ(items[4], &Control<QAction>(*Main, "mnuReadKey"));
    EXPECT_EQ(items[4]->text(), "&Read key...");
    EXPECT_EQ(items[5], &Control<QAction>(*Main, "mnuHistory"));
    EXPECT_EQ(items[5]->text(), "&History...");
    EXPECT_EQ(Control<QMenu>(*Main, "PopupMenu").defaultAction(),
              &Control<QAction>(*Main, "mnuProperties"));
    EXPECT_EQ(Control<QAction>(*Main, "mnuDelete").text(), "&Delete");
    EXPECT_EQ(Control<QAction>(*Main, "mnuProperties").text(), "&Properties...");
}

TEST_F(ControllerListTest, PropertiesAndDoubleClickEditTheSelectedController) {
    ThreeControllers();
    ShowWindow();
    Control<QAction>(*Main, "mnuProperties").trigger(); // nothing selected: no dialog
    Select(2);

    TStandController* seen = nullptr;
    WhenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<TfrmController*>(modal);
        ASSERT_TRUE(dialog);
        seen = dialog->Controller;
        EXPECT_TRUE(dialog->ControllerEdit);
        EXPECT_EQ(Control<QLineEdit>(*dialog, "txtConName").text(), "Gamma");
        Control<QLineEdit>(*dialog, "txtConName").setText("Gamma 2");
        QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdOK"), Qt::LeftButton);
        EXPECT_TRUE(WritesDone());
    });
    const QPoint onRow = View()->visualRect(View()->model()->index(2, 1)).center();
    QTest::mouseDClick(View()->viewport(), Qt::LeftButton, {}, onRow);
    EXPECT_NE(seen, nullptr);
    EXPECT_EQ(RowTexts(2), (QStringList{"3", "Gamma 2", "VYR292", "1"}));

    // Cancel: no reload, the same records stay.
    Select(0);
    const TStandController* before = Controllers()[0].get();
    WhenModal([](QWidget* modal) {
        QTest::mouseClick(&Control<QPushButton>(*modal, "cmdCancel"), Qt::LeftButton);
    });
    Control<QAction>(*Main, "mnuProperties").trigger();
    EXPECT_EQ(Controllers()[0].get(), before);
}

TEST_F(ControllerListTest, AddingAControllerReloadsTheList) {
    ThreeControllers();
    WhenModal([](QWidget* modal) {
        auto* dialog = qobject_cast<TfrmController*>(modal);
        ASSERT_TRUE(dialog);
        EXPECT_FALSE(dialog->ControllerEdit);
        Control<QLineEdit>(*dialog, "txtConName").setText("Delta");
        QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdOK"), Qt::LeftButton);
    });
    QTest::mouseClick(&Control<QPushButton>(*Main, "cmdAddController"), Qt::LeftButton);
    ASSERT_EQ(View()->topLevelItemCount(), 4);
    EXPECT_EQ(RowTexts(2), (QStringList{"3", "Delta", "VYR292", "0"}));
    EXPECT_EQ(SubTitle(), "Currently listing 4 controllers");
}

TEST_F(ControllerListTest, TheRowButtonProgramsThatRowsController) {
    ThreeControllers();
    ShowWindow();
    Select(1);
    QTest::qWait(30);
    TStandController* programmed = nullptr;
    WhenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<TfrmProgramDevice*>(modal);
        ASSERT_TRUE(dialog);
        programmed = dialog->Controller;
        QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdCancel"), Qt::LeftButton);
    });
    QTest::mouseClick(Main->RowButton(1), Qt::LeftButton);
    EXPECT_EQ(programmed, Controllers()[1].get());
}

// What the list tells of each key: in words where no verified write is on record, the time and
// who once the programmer's dialog wrote one (through the program's own connection, which the
// change watch does not report), and whether the controller changed since; every cell and column
// named for a screen reader.
TEST_F(ControllerListTest, EachRowTellsWhenAndByWhomItsKeyWasLastWritten) {
    ThreeControllers();
    MarkChanged(1);
    ShowWindow();
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(View());
    ASSERT_TRUE(table && table->tableInterface());
    const auto cellName = [&](int row, int column) {
        QAccessibleInterface* cell = table->tableInterface()->cellAt(row, column);
        return cell ? cell->text(QAccessible::Name) : QString("(no cell)");
    };
    EXPECT_EQ(View()->headerItem()->text(6), "Key written");
    EXPECT_EQ(View()->headerItem()->text(7), "By");
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(cellName(row, 6), "No verified write recorded") << row;
        EXPECT_EQ(cellName(row, 7), "") << row;
    }
    EXPECT_EQ(cellName(1, 4), "Changes not yet on a key");
    EXPECT_EQ(cellName(0, 4), "");

    Select(1);
    QTest::qWait(30);
    WhenModal([&](QWidget* dialog) {
        // The entry a verified write of Beta's key leaves; the mark stays, as when the cardholder
        // list changed Beta once more while the key was being written.
        TJournalEntry write;
        write.Action = TJournalAction::KeyWritten;
        write.ConID = Beta;
        write.ConName = "Beta";
        write.Changes = {{"CRC8", "", "5A"}};
        EXPECT_TRUE(AppendJournal(Session->Database(), write, {"anna", "reception"}));
        QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdCancel"), Qt::LeftButton);
    });
    QTest::mouseClick(Main->RowButton(1), Qt::LeftButton);
    const std::optional<QHash<int32_t, TJournalEntry>> writes = LastKeyWrites(*Database().Inner);
    ASSERT_TRUE(writes && writes->contains(Beta));
    EXPECT_EQ(cellName(1, 6), JournalTimeText(writes->value(Beta)));
    EXPECT_EQ(cellName(1, 7), "anna on reception");
    EXPECT_EQ(cellName(1, 4), "Changed since the key was written");
    EXPECT_EQ(View()->topLevelItem(1)->data(4, Qt::ToolTipRole).toString(),
              "Changed since the key was written");
    EXPECT_EQ(cellName(0, 6), "No verified write recorded");

    // The mark goes with a verified write of everything: the key is up to date.
    ASSERT_TRUE(Session->Database().ExecuteQuery("DELETE * FROM PendingChanges"));
    Main->ReloadControllers();
    QTest::qWait(30); // the view lays its new rows out
    EXPECT_EQ(cellName(1, 4), "Key up to date");
    EXPECT_EQ(cellName(1, 7), "anna on reception");

    QStringList headers;
    for (int i = 0; i < table->childCount(); ++i)
        if (QAccessibleInterface* child = table->child(i);
            child && child->role() == QAccessible::ColumnHeader)
            headers << child->text(QAccessible::Name);
    EXPECT_EQ(headers, (QStringList{"Number", "Controller", "Type", "Number of cards", "Key status",
                                    "Load programmer", "Key written", "By"}));
}

TEST_F(ControllerListTest, ProgrammingAKeyToTheEndTakesTheMarkAwayWithoutAReload) {
    VirtualAdapter adapter;
    ASSERT_TRUE(adapter.Ready()) << adapter.Problem().toStdString();
    RunSettings = adapter.Settings; // the main window's run settings
    const QString key = VirtualAdapter::RomOf(0x06, QByteArray::fromHex("0A1B2C3D4E5F"));
    ASSERT_TRUE(adapter.Put(key));
    ThreeControllers();
    MarkChanged(1);
    MarkChanged(2);
    const TStandController* beta = Controllers()[1].get();
    ShowWindow();
    Select(1);
    QTest::qWait(30);
    // The key already lies there, so the dialog programs it and closes by itself; the guard only
    // ends a dialog that never would.
    WhenModal([](QWidget* dialog) { QTimer::singleShot(30000, dialog, &QWidget::close); });
    QTest::mouseClick(Main->RowButton(1), Qt::LeftButton);

    EXPECT_EQ(MessageBoxes::ShownTexts(), QStringList{"Operation finished"});
    EXPECT_EQ(Controllers()[1].get(), beta);
    EXPECT_FALSE(Marked(1));
    EXPECT_TRUE(Marked(2));
    EXPECT_EQ(Main->ChangedControllerCount(), 1);
    EXPECT_EQ(adapter.Memory(key).size(), 512);
    EXPECT_EQ(quint8(adapter.Memory(key)[5]), 2); // Beta: one zone-1 card, then zone 2
}

// A mark says that a controller's key no longer matches the database. Only a verified key write
// takes it away; what the list and the controller dialog do keeps it, and adds it where the key
// changed.
TEST_F(ControllerListTest, MarksLastUntilTheKeyIsWrittenAndFollowEveryChangeOfAKey) {
    struct Case {
        const char* what;
        std::function<void()> act;
        QStringList marked;
    };
    auto addController = [this](int access) {
        WhenModal([access](QWidget* modal) {
            auto* dialog = qobject_cast<TfrmController*>(modal);
            ASSERT_TRUE(dialog);
            Control<QLineEdit>(*dialog, "txtConName").setText("Delta");
            Control<QComboBox>(*dialog, "cboAccess").setCurrentIndex(access);
            QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdOK"), Qt::LeftButton);
        });
        QTest::mouseClick(&Control<QPushButton>(*Main, "cmdAddController"), Qt::LeftButton);
    };
    auto editGamma = [this](const std::function<void(TfrmController&)>& change) {
        Select(2);
        WhenModal([change](QWidget* modal) {
            auto* dialog = qobject_cast<TfrmController*>(modal);
            ASSERT_TRUE(dialog);
            change(*dialog);
            QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdOK"), Qt::LeftButton);
        });
        Control<QAction>(*Main, "mnuProperties").trigger();
    };
    const Case cases[] = {
        {"a controller added without a grant", [&] { addController(0); }, {"Beta"}},
        {"a controller added and granted to every cardholder",
         [&] { addController(1); },
         {"Beta", "Delta"}},
        {"a controller renamed",
         [&] {
             editGamma(
                 [](TfrmController& d) { Control<QLineEdit>(d, "txtConName").setText("Gamma 2"); });
         },
         {"Beta"}},
        {"the same code in other letters",
         [&] {
             editGamma(
                 [](TfrmController& d) { Control<QLineEdit>(d, "txtConCode").setText("a1b2c3"); });
         },
         {"Beta"}},
        {"a new code",
         [&] {
             editGamma(
                 [](TfrmController& d) { Control<QLineEdit>(d, "txtConCode").setText("C0FFEE"); });
         },
         {"Beta", "Gamma"}},
        {"another relay time",
         [&] {
             editGamma([](TfrmController& d) {
                 Control<QComboBox>(d, "cboRelaisTime").setCurrentIndex(9);
             });
         },
         {"Beta", "Gamma"}},
        {"an option",
         [&] {
             editGamma(
                 [](TfrmController& d) { Control<QCheckBox>(d, "chkInvert").setChecked(true); });
         },
         {"Beta", "Gamma"}},
        {"another controller deleted",
         [&] {
             Select(0);
             MessageBoxes::SetNextAnswer(true);
             Control<QAction>(*Main, "mnuDelete").trigger();
             EXPECT_TRUE(WritesDone());
         },
         {"Beta"}},
        {"the list read again while the database was away",
         [&] {
             Session->Database().Disconnect();
             Main->ReloadControllers();
             ASSERT_TRUE(Session->Database().Connect());
             Main->ReloadControllers();
         },
         {"Beta"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Database().Inner->ExecuteQuery("DELETE * FROM CardZones");
        Database().Inner->ExecuteQuery("DELETE * FROM Controllers");
        Database().Inner->ExecuteQuery("DELETE * FROM CardHolders");
        Database().Inner->ExecuteQuery("DELETE * FROM PendingChanges");
        AddCardHolder("12AB000001", "Ann");
        Gamma = AddController("Gamma", "A1B2C3");
        Alpha = AddController("alpha");
        Beta = AddController("Beta");
        Main->ReloadControllers();
        ShowWindow();
        // Beta: a zone changed in the cardholder list, which stores the mark with the change.
        ASSERT_TRUE(StoreMarks(*Database().Inner, {Beta}));
        Controllers()[1]->ChangesMade = true;
        c.act();
        EXPECT_EQ(MarkedNames(), c.marked);
        EXPECT_EQ(Main->ChangedControllerCount(), c.marked.size());
        // The program started again on this database shows the same marks.
        QStringList atNextStart;
        const std::optional<TControllerRecords> read = ReadControllers(&Session->Database(), {});
        ASSERT_TRUE(read);
        for (const auto& controller : *read)
            if (controller->ChangesMade)
                atNextStart << controller->ConName;
        EXPECT_EQ(atNextStart, c.marked);
        MessageBoxes::ClearShown();
        MessageBoxes::SetNextAnswer(false);
        EXPECT_FALSE(Main->close());
        EXPECT_EQ(MessageBoxes::ShownTexts().size(), 1);
        MessageBoxes::ClearShown();
    }
}

// The selected row's button is reached with Tab from the list, pressed with the space bar, and
// shown to assistive technology as a button with its caption for a name.
TEST_F(ControllerListTest, LoadProgrammerIsAButtonTheKeyboardAndAScreenReaderReach) {
    ThreeControllers();
    ShowWindow();
    Main->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Main.get()));
    View()->setFocus();
    QTest::keyClick(View(), Qt::Key_Home);
    QTest::keyClick(View(), Qt::Key_Down);
    QTest::qWait(30);
    ASSERT_EQ(Main->SelectedController(), Controllers()[1].get());
    QTest::keyClick(View(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), Main->RowButton(1));

    // Every visible push button an accessibility tool finds in the window, by name.
    QStringList buttons;
    std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* node) {
        if (!node)
            return;
        if (node->role() == QAccessible::Button && !node->state().invisible)
            buttons << node->text(QAccessible::Name);
        for (int i = 0; i < node->childCount(); ++i)
            walk(node->child(i));
    };
    walk(QAccessible::queryAccessibleInterface(Main.get()));
    EXPECT_EQ(buttons.count("Load programmer"), 1) << buttons.join(", ").toStdString();

    TStandController* programmed = nullptr;
    WhenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<TfrmProgramDevice*>(modal);
        ASSERT_TRUE(dialog);
        programmed = dialog->Controller;
        QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdCancel"), Qt::LeftButton);
    });
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_EQ(programmed, Controllers()[1].get());
}

// A lost database is no empty site: the rows stay, and the band says why they are out of date.
TEST_F(ControllerListTest, ALostDatabaseKeepsTheRowsAndNoSessionLeavesAnEmptyList) {
    ThreeControllers();
    Session->Database().Disconnect();
    Main->ReloadControllers();
    EXPECT_EQ(View()->topLevelItemCount(), 3);
    EXPECT_EQ(SubTitle(), "Currently listing 3 controllers");
    EXPECT_TRUE(Control<QWidget>(*Main, "pnlReadFailure").isVisibleTo(Main.get()));
    Main->OpenSession(nullptr);
    EXPECT_FALSE(Control<QWidget>(*Main, "pnlReadFailure").isVisibleTo(Main.get()));
    Main->ReloadControllers();
    Control<QAction>(*Main, "mnuDelete").trigger();
    EXPECT_EQ(View()->topLevelItemCount(), 0);
}

TEST_F(ControllerListTest, EveryTextHasItsDutchTranslation) {
    EXPECT_EQ(UntranslatedWindowTexts(Main.get()), QStringList());
    EXPECT_EQ(UntranslatedTexts({"Are you sure you want to delete this controller (%s)?",
                                 "Currently listing %d controllers",
                                 "There are controllers (%d) that need to be updated, are you "
                                 "sure you want to close the application?"}),
              QStringList());
}

} // namespace
