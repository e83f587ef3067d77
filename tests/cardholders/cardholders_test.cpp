#include "readerfixture.h"

#include "cardholders/cardholder.h"
#include "cardholders/cardholdermodel.h"
#include "cardholders/cardholders.h"
#include "cardholders/cardident.h"
#include "shared/datadir.h"
#include "shared/ini.h"
#include "shared/messagebox.h"

#include "modal.h"
#include "pofile.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class CardHolderListTest : public CardReaderTest {
protected:
    void TearDown() override {
        List.reset();
        CardReaderTest::TearDown();
    }
    void Open() {
        List = std::make_unique<TfrmCardHolders>(Desktop, *Session, RunSettings);
        List->resize(1000, 500);
        List->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(List.get()));
    }
    QTreeView* View() const { return &Control<QTreeView>(*List, "VSTCardHolders"); }
    TCardHolderModel* Model() const { return &Control<TCardHolderModel>(*List, "CardHolders"); }
    QString Text(int row, int column) const {
        return Model()->index(row, column).data().toString();
    }
    QStringList ColumnTexts(int column) const {
        QStringList texts;
        for (int row = 0; row < Model()->rowCount(); ++row)
            texts << Text(row, column);
        return texts;
    }
    int RowOf(const QString& number) const { return int(ColumnTexts(0).indexOf(number)); }
    QStringList Headers() const {
        QStringList headers;
        for (int column = 0; column < Model()->columnCount(); ++column)
            headers << Model()->headerData(column, Qt::Horizontal).toString();
        return headers;
    }
    QPoint CellCentre(int row, int column) const {
        return View()->visualRect(Model()->index(row, column)).center();
    }
    void ClickCell(int row, int column, Qt::MouseButton button = Qt::LeftButton) const {
        QTest::mouseClick(View()->viewport(), button, {}, CellCentre(row, column));
        // A zone click is written off the window thread; the list shows it once it is stored.
        EXPECT_TRUE(WritesDone());
    }
    // The colour in the middle of a cell, as one of the zone colours when it is that (the style
    // may lay a faint focus tint over the selected row).
    QColor PaintedColour(int row, int column) const {
        const QColor painted =
            View()->viewport()->grab().toImage().pixelColor(CellCentre(row, column));
        for (int zone = 0; zone <= 2; ++zone) {
            const QColor colour = ZoneColour(zone);
            if (qAbs(painted.red() - colour.red()) < 48 &&
                qAbs(painted.green() - colour.green()) < 48 &&
                qAbs(painted.blue() - colour.blue()) < 48)
                return colour;
        }
        return painted;
    }
    void ClickHeader(int column) const {
        QHeaderView* header = View()->header();
        QTest::mouseClick(
            header->viewport(), Qt::LeftButton, {},
            QPoint(header->sectionViewportPosition(column) + 10, header->height() / 2));
    }
    void Select(int row) const {
        View()->setCurrentIndex(Model()->index(row, 1));
        ASSERT_EQ(List->SelectedRow(), row);
    }
    QString Status() const { return Control<QLabel>(*List, "StatusPanel").text(); }
    QList<TMyStatement> LoadsSent() const {
        return Database().Sent("SELECT CardNumber, CardHolder, CardCustom1, CardCustom2, "
                               "CardCustom3, CardCustom4, CardInactive");
    }

    std::unique_ptr<TfrmCardHolders> List;
};

TEST_F(CardHolderListTest, OpensWithAZoneColumnPerControllerAndTheCardholdersByName) {
    IniFile(SettingsFileName()).WriteString("settings", "custom1", "Department");
    TStandController& gate = AddController("Gate");
    AddController("Hall");
    TStandController& shed = AddController("Shed");
    AddCardHolder("2222222222", "bert", "Sales", "x");
    AddCardHolder("1111111111", "Anna", "Office", "y");
    AddCardHolder("3333333333", "Gone", {}, {}, true);
    AddZone(gate, "1111111111", 1);
    AddZone(shed, "1111111111", 2);
    Open();

    EXPECT_EQ(List->windowTitle(), "Cardholders");
    EXPECT_THAT(Headers(), ElementsAre("Cardnumber", "Name", "Department", "Custom 2", "Gate",
                                       "Hall", "Shed"));
    EXPECT_EQ(Control<QLabel>(*List, "lblFilterCustom1").text(), "Department:");
    EXPECT_EQ(Control<QLabel>(*List, "lblFilterCustom2").text(), "Custom 2:");
    EXPECT_THAT(ColumnTexts(1), ElementsAre("Anna", "bert"));
    EXPECT_THAT(ColumnTexts(2), ElementsAre("Office", "Sales"));
    EXPECT_EQ(Status(), "Loaded 2 cardholders");
    EXPECT_EQ(View()->header()->sortIndicatorSection(), 1);
    EXPECT_EQ(View()->header()->sortIndicatorOrder(), Qt::AscendingOrder);
    EXPECT_EQ(PaintedColour(0, 4), QColor(0, 128, 0));
    EXPECT_EQ(PaintedColour(0, 5), QColor(255, 128, 128));
    EXPECT_EQ(PaintedColour(0, 6), QColor(0, 0, 255));
    EXPECT_EQ(View()->header()->sectionSize(0), 100);
    EXPECT_EQ(View()->header()->sectionResizeMode(0), QHeaderView::Fixed);

    EXPECT_THAT(UntranslatedWindowTexts(List.get()), IsEmpty());
    EXPECT_THAT(UntranslatedTexts({"Cardnumber", "Name", "Loaded %d cardholders",
                                   "Are you sure you want to delete this card? (%s)",
                                   "Got an error while deleting the card!",
                                   "The zone could not be changed: %s"}),
                IsEmpty());
    EXPECT_EQ(Control<QLabel>(*List, "lblFilterCustom1").text(), "Department:");
}

TEST_F(CardHolderListTest, ThreeClicksOnACellWriteZonesOneTwoAndZeroAndMarkTheController) {
    AddController("Gate");
    TStandController& hall = AddController("Hall");
    AddCardHolder("1111111111", "Anna");
    Open();
    Database().Statements.clear();

    const QColor colours[] = {QColor(0, 128, 0), QColor(0, 0, 255), QColor(255, 128, 128)};
    const char* zones[] = {"1", "2", "0"};
    for (int click = 0; click < 3; ++click) {
        ClickCell(0, 5);
        EXPECT_THAT(Zones(hall, "1111111111"), ElementsAre(zones[click]));
        EXPECT_EQ(PaintedColour(0, 5), colours[click]);
        EXPECT_THAT(MarkedControllers(), ElementsAre("Hall"));
    }
    EXPECT_EQ(Database().Sent("DELETE * FROM CardZones").size(), 3);
    EXPECT_EQ(Database().Sent("INSERT INTO CardZones").size(), 3);
    EXPECT_EQ(Database().Sent("INSERT INTO PendingChanges").size(), 3);
    EXPECT_EQ(Database().Sent("INSERT INTO Journal").size(), 3);
    // Besides the five changes, each click claims the card and the controller, reads the stored
    // zone it moves on from (with the names its journal entry keeps), and reads the controller's
    // grants and the cards that begin like the clicked one, for the status line's note.
    EXPECT_EQ(Database().Sent("UPDATE").size(), 6);
    EXPECT_EQ(Database().Sent("SELECT").size(), 9);
    EXPECT_EQ(Database().Statements.size(), 27);

    // The texts of a row are no zone cells.
    ClickCell(0, 1);
    ClickCell(0, 3);
    EXPECT_EQ(Database().Statements.size(), 27);
}

TEST_F(CardHolderListTest, AZoneClickThatLetsInCardsThatBeginAlikeSaysSoInTheStatusLine) {
    AddController("Gate");
    AddCardHolder("12AB000001", "Anna");
    AddCardHolder("12ab000002", "Bert");
    AddCardHolder("12AB000003", "Cas", {}, {}, true); // deleted: not listed, still admitted
    AddCardHolder("34CD000001", "Dirk");
    Open();
    const auto note = [this]() -> QString {
        auto* label = List->findChild<QLabel*>("StatusAdmitNote");
        return label && label->isVisible() ? label->text() : QString();
    };
    const struct {
        const char* card;
        const char* zone;
        QString note;
    } clicks[] = {
        {"12AB000001", "1",
         "Gate now also admits cards 12ab000002, 12AB000003, which begin with the same four "
         "characters as card 12AB000001 but are not granted there."},
        {"12ab000002", "1",
         "Gate now also admits card 12AB000003, which begins with the same four characters as "
         "card 12ab000002 but is not granted there."},
        {"34CD000001", "1", ""},
        {"12ab000002", "2",
         "Gate now also admits card 12AB000003, which begins with the same four characters as "
         "card 12ab000002 but is not granted there."},
        {"12ab000002", "0",
         "Gate still admits card 12ab000002: another card granted there begins with the same "
         "four characters."},
        {"12AB000001", "2",
         "Gate now also admits cards 12ab000002, 12AB000003, which begin with the same four "
         "characters as card 12AB000001 but are not granted there."},
        {"12AB000001", "0", ""},
    };
    for (const auto& click : clicks) {
        SCOPED_TRACE(std::string(click.card) + " to zone " + click.zone);
        ClickCell(RowOf(click.card), 4);
        EXPECT_THAT(Zones(*Session->Controller(0), click.card), ElementsAre(click.zone));
        EXPECT_EQ(note(), click.note);
        EXPECT_EQ(Status(), "Loaded 3 cardholders"); // stays in sight beside the note
    }
}

TEST_F(CardHolderListTest, ARightClickChangesTheZoneSelectsTheRowAndOpensTheMenu) {
    TStandController& gate = AddController("Gate");
    AddCardHolder("1111111111", "Anna");
    AddCardHolder("2222222222", "Bert");
    Open();
    Select(0);
    ClickCell(1, 4, Qt::RightButton);
    EXPECT_THAT(Zones(gate, "2222222222"), ElementsAre("1"));
    EXPECT_EQ(List->SelectedRow(), 1);
    EXPECT_TRUE(Control<QMenu>(*List, "PopupMenu").isVisible());
    EXPECT_EQ(Control<QMenu>(*List, "PopupMenu").defaultAction(),
              &Control<QAction>(*List, "mnuProperties"));
    Control<QMenu>(*List, "PopupMenu").hide();

    // The middle button changes zones too.
    ClickCell(0, 4, Qt::MiddleButton);
    EXPECT_THAT(Zones(gate, "1111111111"), ElementsAre("1"));
}

TEST_F(CardHolderListTest, ADraggedColumnKeepsItsControllerAndTheNumberColumnStaysFirst) {
    AddController("Gate");
    TStandController& hall = AddController("Hall");
    AddCardHolder("1111111111", "Anna");
    Open();
    QHeaderView* header = View()->header();
    header->moveSection(5, 1); // Hall dragged next to the number
    ASSERT_EQ(header->visualIndex(5), 1);
    ClickCell(0, 5);
    EXPECT_THAT(Zones(hall, "1111111111"), ElementsAre("1"));
    EXPECT_THAT(MarkedControllers(), ElementsAre("Hall"));

    header->moveSection(0, 3);
    EXPECT_EQ(header->visualIndex(0), 0);
    header->moveSection(2, 0);
    EXPECT_EQ(header->visualIndex(0), 0);
}

TEST_F(CardHolderListTest, HeaderClicksSortStablyAndFlipTheDirection) {
    AddController("Gate");
    AddCardHolder("3333333333", "anna");
    AddCardHolder("1111111111", "Bert");
    AddCardHolder("2222222222", "ANNA");
    Open();
    const QStringList loaded = ColumnTexts(0);
    ClickHeader(1);
    EXPECT_EQ(View()->header()->sortIndicatorOrder(), Qt::DescendingOrder);
    EXPECT_EQ(ColumnTexts(1).first(), "Bert");
    EXPECT_EQ(ColumnTexts(0).mid(1), loaded.mid(0, 2)); // the two Annas keep their order

    ClickHeader(0);
    EXPECT_EQ(View()->header()->sortIndicatorSection(), 0);
    EXPECT_EQ(View()->header()->sortIndicatorOrder(), Qt::DescendingOrder);
    EXPECT_THAT(ColumnTexts(0), ElementsAre("3333333333", "2222222222", "1111111111"));
    ClickHeader(0);
    EXPECT_EQ(View()->header()->sortIndicatorOrder(), Qt::AscendingOrder);
    EXPECT_THAT(ColumnTexts(0), ElementsAre("1111111111", "2222222222", "3333333333"));

    ClickHeader(1);
    EXPECT_THAT(ColumnTexts(0), ElementsAre("2222222222", "3333333333", "1111111111"));
    ClickHeader(4); // a controller's column leaves the rows as they are
    EXPECT_THAT(ColumnTexts(0), ElementsAre("2222222222", "3333333333", "1111111111"));
}

TEST_F(CardHolderListTest, DeletingAsksFirstAndMarksTheControllersWhereTheCardHadAccess) {
    TStandController& gate = AddController("Gate");
    TStandController& hall = AddController("Hall");
    AddController("Shed");
    AddCardHolder("1111111111", "Anna");
    AddCardHolder("2222222222", "Bert");
    AddZone(gate, "1111111111", 2);
    AddZone(hall, "1111111111", 1);
    Open();
    Select(0);

    MessageBoxes::SetNextAnswer(false);
    Control<QAction>(*List, "mnuDelete").trigger();
    EXPECT_TRUE(WritesDone());
    EXPECT_THAT(MessageBoxes::ShownTexts(),
                ElementsAre("Are you sure you want to delete this card? (Anna)"));
    EXPECT_EQ(Model()->rowCount(), 2);

    MessageBoxes::SetNextAnswer(true);
    Control<QAction>(*List, "mnuDelete").trigger();
    EXPECT_TRUE(WritesDone());
    EXPECT_THAT(ColumnTexts(1), ElementsAre("Bert"));
    EXPECT_EQ(Status(), "Loaded 1 cardholder");
    EXPECT_THAT(MarkedControllers(), ElementsAre("Gate", "Hall"));
    EXPECT_EQ(Count("SELECT COUNT(*) FROM CardZones"), 0);

    // Deleted meanwhile on another workstation: no error, but the operator hears so, and the
    // row leaves.
    Exec("UPDATE CardHolders SET Deleted = 1 WHERE CardNumber = \"2222222222\"");
    MessageBoxes::ClearShown();
    Select(0);
    Control<QAction>(*List, "mnuDelete").trigger();
    EXPECT_TRUE(WritesDone());
    EXPECT_THAT(MessageBoxes::ShownTexts(),
                ElementsAre("Are you sure you want to delete this card? (Bert)",
                            "This card was already deleted on another workstation."));
    EXPECT_EQ(MessageBoxes::ShownMessages().last().kind, MessageBoxes::Information);
    EXPECT_EQ(Model()->rowCount(), 0);
}

// A delete the database refuses changes nothing: the holder stays listed and stored with their
// zones, no key is marked, and the operator reads the engine's words.
TEST_F(CardHolderListTest, ADeleteTheDatabaseRefusesKeepsTheHolderAndSaysWhy) {
    TStandController& gate = AddController("Gate");
    AddCardHolder("1111111111", "Anna");
    AddZone(gate, "1111111111", 1);
    Open();
    Select(0);
    Database().FailWhenContaining = "UPDATE CardHolders SET Deleted = 1";
    Control<QAction>(*List, "mnuDelete").trigger();
    EXPECT_TRUE(WritesDone());
    Database().FailWhenContaining.clear();
    EXPECT_THAT(ColumnTexts(1), ElementsAre("Anna"));
    EXPECT_EQ(Count("SELECT COUNT(*) FROM CardHolders WHERE NOT Deleted"), 1);
    EXPECT_THAT(Zones(gate, "1111111111"), ElementsAre("1"));
    EXPECT_THAT(MarkedControllers(), IsEmpty());
    ASSERT_EQ(MessageBoxes::ShownMessages().size(), 2);
    EXPECT_EQ(MessageBoxes::ShownMessages()[1].kind, MessageBoxes::Error);
    EXPECT_EQ(MessageBoxes::ShownMessages()[1].text,
              "Got an error while deleting the card!\nrefused by the test: " +
                  Database().Sent("UPDATE CardHolders SET Deleted = 1").value(0).Sql);
    EXPECT_THAT(UntranslatedTexts({"Got an error while deleting the card!\n%s"}), IsEmpty());
}

// A zone click is one change: when the database refuses any part of it, the card keeps its zone
// in the database and on the screen, no key is marked, and the operator reads the engine's words.
TEST_F(CardHolderListTest, AZoneChangeTheDatabaseRefusesChangesNothingAndSaysWhy) {
    for (const char* refused : {"DELETE * FROM CardZones", "INSERT INTO CardZones"}) {
        SCOPED_TRACE(refused);
        List.reset();
        Controllers().clear();
        Database().Inner->ExecuteQuery("DELETE * FROM CardZones");
        Database().Inner->ExecuteQuery("DELETE * FROM CardHolders");
        Database().FailWhenContaining.clear();
        MessageBoxes::ClearShown();
        TStandController& gate = AddController("Gate");
        AddCardHolder("1111111111", "Anna");
        AddZone(gate, "1111111111", 1);
        Open();
        Database().FailWhenContaining = refused;
        ClickCell(0, 4);
        EXPECT_THAT(Zones(gate, "1111111111"), ElementsAre("1"));
        EXPECT_EQ(Model()->Record(0)->CardZones[0], 1);
        EXPECT_EQ(PaintedColour(0, 4), QColor(0, 128, 0));
        EXPECT_THAT(MarkedControllers(), IsEmpty());
        ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1);
        EXPECT_EQ(MessageBoxes::ShownMessages()[0].kind, MessageBoxes::Error);
        EXPECT_TRUE(MessageBoxes::ShownMessages()[0].text.startsWith(
            "The zone could not be changed: refused by the test: " + QString(refused)))
            << MessageBoxes::ShownMessages()[0].text.toStdString();
        // Once the database takes it again, the click works as ever.
        Database().FailWhenContaining.clear();
        ClickCell(0, 4);
        EXPECT_THAT(Zones(gate, "1111111111"), ElementsAre("2"));
        EXPECT_THAT(MarkedControllers(), ElementsAre("Gate"));
    }
}

// An older database can still hold a deleted row under a live holder's number. Deleting the live
// holder leaves one deleted row, no zone of the number, and marks where the card had access.
TEST_F(CardHolderListTest, DeletingAHolderWhoseNumberHasADeletedTwinTakesAllItsAccess) {
    MakeOlderDatabase();
    TStandController& gate = AddController("Gate");
    TStandController& hall = AddController("Hall");
    TStandController& shed = AddController("Shed");
    AddCardHolder("1111111111", "Old", {}, {}, true);
    AddCardHolder("1111111111", "Anna");
    AddZone(gate, "1111111111", 2);
    AddZone(hall, "1111111111", 0);
    AddZone(shed, "1111111111", 1);
    AddZone(shed, "1111111111", 0); // the older database's second row at one controller
    Open();
    Select(RowOf("1111111111"));
    MessageBoxes::SetNextAnswer(true);
    Control<QAction>(*List, "mnuDelete").trigger();
    EXPECT_TRUE(WritesDone());
    EXPECT_THAT(MessageBoxes::ShownTexts(),
                ElementsAre("Are you sure you want to delete this card? (Anna)"));
    EXPECT_EQ(Model()->rowCount(), 0);
    EXPECT_THAT(Column("SELECT CardHolder || \" \" || Deleted FROM CardHolders"),
                ElementsAre("Anna 1"));
    EXPECT_EQ(Count("SELECT COUNT(*) FROM CardZones"), 0);
    EXPECT_THAT(MarkedControllers(), ElementsAre("Gate", "Shed"));
}

TEST_F(CardHolderListTest, FiltersHoldingQuotesAndPercentSignsMatchThemselves) {
    AddCardHolder("1111111111", "Ann \"The Boss\" Smith", "50% part-time");
    AddCardHolder("2222222222", "Annabel", "500 full");
    AddCardHolder("3333333333", "Bert", "50% part-time");
    Open();
    Control<QLineEdit>(*List, "txtFilterCardHolder").setText("\"the boss\"");
    // The default button applies.
    QTest::keyClick(&Control<QLineEdit>(*List, "txtFilterCardHolder"), Qt::Key_Return);
    EXPECT_THAT(ColumnTexts(1), ElementsAre("Ann \"The Boss\" Smith"));
    EXPECT_EQ(Status(), "Loaded 1 cardholder");

    Control<QLineEdit>(*List, "txtFilterCardHolder").setText("ann");
    Control<QLineEdit>(*List, "txtFilterCustom1").setText("50%");
    QTest::mouseClick(&Control<QPushButton>(*List, "cmdFilterApply"), Qt::LeftButton);
    EXPECT_THAT(ColumnTexts(1), ElementsAre("Ann \"The Boss\" Smith"));

    QTest::mouseClick(&Control<QPushButton>(*List, "cmdFilterReset"), Qt::LeftButton);
    EXPECT_EQ(Control<QLineEdit>(*List, "txtFilterCustom1").text(), "");
    EXPECT_EQ(Model()->rowCount(), 3);
    EXPECT_TRUE(Control<QPushButton>(*List, "cmdFilterApply").isEnabled());
}

// A reload is whole: what is queued for the window while it loads (here a look at the list and a
// second reload with another filter) runs after it, on the list as loaded, never on one half
// replaced or under the hourglass.
TEST_F(CardHolderListTest, WhatIsQueuedDuringAReloadRunsAfterItOnTheLoadedList) {
    AddCardHolder("1111111111", "Anna");
    AddCardHolder("2222222222", "Bert");
    AddCardHolder("3333333333", "Carla");
    Open();
    struct Seen {
        QStringList names;
        QString status;
        bool hourglass;
    };
    std::vector<Seen> seen;
    const auto look = [&] {
        seen.push_back({ColumnTexts(1), Status(), QApplication::overrideCursor() != nullptr});
    };
    QTimer::singleShot(0, List.get(), look);
    QTimer::singleShot(0, List.get(), [&] {
        Control<QLineEdit>(*List, "txtFilterCardHolder").setText("anna");
        Control<QPushButton>(*List, "cmdFilterApply").click();
        look();
    });
    Control<QLineEdit>(*List, "txtFilterCardHolder").setText("bert");
    Control<QPushButton>(*List, "cmdFilterApply").click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() == 2; }, 10000));
    EXPECT_EQ(seen[0].names, QStringList{"Bert"});
    EXPECT_EQ(seen[0].status, "Loaded 1 cardholder");
    EXPECT_FALSE(seen[0].hourglass);
    EXPECT_EQ(seen[1].names, QStringList{"Anna"});
    EXPECT_FALSE(seen[1].hourglass);
    EXPECT_THAT(ColumnTexts(1), ElementsAre("Anna"));
    EXPECT_EQ(View()->header()->sortIndicatorSection(), TCardHolderModel::CardHolderColumn);
    EXPECT_TRUE(Control<QPushButton>(*List, "cmdFilterApply").isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(CardHolderListTest, AClosedDatabaseLeavesTheListEmptyAndTheStatusAlone) {
    AddCardHolder("1111111111", "Anna");
    Session->Database().Disconnect();
    Open();
    EXPECT_EQ(Model()->rowCount(), 0);
    EXPECT_EQ(Status(), "");
    EXPECT_THAT(LoadsSent(), IsEmpty());
}

TEST_F(CardHolderListTest, AnAddedCardholderIsListedAfterTheReload) {
    AddController("Gate");
    AddCardHolder("1111111111", "Bert");
    Open();
    WhenModal([this](QWidget* modal) {
        auto* dialog = qobject_cast<TfrmCardHolder*>(modal);
        ASSERT_TRUE(dialog);
        Control<QLineEdit>(*dialog, "txtCustomCardNumber").setText("0a1b2c3d4e");
        QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdCustomNumberCheck"), Qt::LeftButton);
        Control<QLineEdit>(*dialog, "txtCardHolder").setText("Anna");
        QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdOK"), Qt::LeftButton);
        EXPECT_TRUE(WritesDone());
    });
    QTest::mouseClick(&Control<QPushButton>(*List, "cmdCardHoldersNew"), Qt::LeftButton);
    EXPECT_THAT(ColumnTexts(1), ElementsAre("Anna", "Bert"));
    EXPECT_THAT(ColumnTexts(0), ElementsAre("0A1B2C3D4E", "1111111111"));
    EXPECT_EQ(Status(), "Loaded 2 cardholders");

    // Cancelled: nothing is loaded again.
    const qsizetype loads = LoadsSent().size();
    WhenModal([](QWidget* modal) { modal->close(); });
    QTest::mouseClick(&Control<QPushButton>(*List, "cmdCardHoldersNew"), Qt::LeftButton);
    EXPECT_EQ(LoadsSent().size(), loads);
}

TEST_F(CardHolderListTest, PropertiesTakeOverWhatWasSavedAndAReplacedCardLosesItsZones) {
    TStandController& gate = AddController("Gate");
    AddCardHolder("1111111111", "Anna");
    AddCardHolder("2222222222", "Bert");
    AddZone(gate, "1111111111", 1);
    Open();
    Present(&CardA);
    Select(0);
    WhenModal([this](QWidget* modal) {
        auto* dialog = qobject_cast<TfrmCardHolder*>(modal);
        ASSERT_TRUE(dialog);
        EXPECT_EQ(Control<QLabel>(*dialog, "lblCardNumberVal").text(), "1111111111");
        Control<QLineEdit>(*dialog, "txtCardHolder").setText("Anna B.");
        QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdReplaceCard"), Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor(
            [dialog] {
                return Control<QLabel>(*dialog, "lblCardNumberVal").text() == "A1B2C3D4E5";
            },
            10000));
        QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdOK"), Qt::LeftButton);
        EXPECT_TRUE(WritesDone());
    });
    Control<QAction>(*List, "mnuProperties").trigger();
    EXPECT_EQ(Text(0, 0), "A1B2C3D4E5");
    EXPECT_EQ(Text(0, 1), "Anna B.");
    EXPECT_EQ(Model()->Record(0)->CardZones, QVector<int32_t>{0});
    EXPECT_EQ(PaintedColour(0, 4), QColor(255, 128, 128));
    EXPECT_EQ(Count("SELECT COUNT(*) FROM CardZones"), 0);
    EXPECT_EQ(LoadsSent().size(), 1); // neither reloaded nor re-sorted

    // A double click on a row is Properties too.
    WhenModal([](QWidget* modal) {
        auto* dialog = qobject_cast<TfrmCardHolder*>(modal);
        ASSERT_TRUE(dialog);
        EXPECT_EQ(Control<QLineEdit>(*dialog, "txtCardHolder").text(), "Bert");
        modal->close();
    });
    QTest::mouseClick(View()->viewport(), Qt::LeftButton, {}, CellCentre(1, 1));
    QTest::mouseDClick(View()->viewport(), Qt::LeftButton, {}, CellCentre(1, 1));
    EXPECT_EQ(Text(1, 1), "Bert");
}

TEST_F(CardHolderListTest, IdentifyOpensTheIdentificationAndLeavesTheListAsItWas) {
    AddCardHolder("1111111111", "Anna");
    Open();
    bool opened = false;
    WhenModal([&opened](QWidget* modal) {
        opened = qobject_cast<TfrmCardIdent*>(modal) != nullptr;
        modal->close();
    });
    QTest::mouseClick(&Control<QPushButton>(*List, "cmdIdentify"), Qt::LeftButton);
    EXPECT_TRUE(opened);
    EXPECT_EQ(LoadsSent().size(), 1);
}

} // namespace
