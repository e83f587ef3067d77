#include "app/main.h"
#include "controllers/controller.h"
#include "controllers/controllerrecords.h"
#include "controllers/keyimage.h"
#include "controllers/pendingchanges.h"
#include "controllers/programdevice.h"
#include "controllers/readkey.h"
#include "db/MyDBConnector.h"
#include "onewire/crc8.h"
#include "reader/cardpoller.h"
#include "shared/messagebox.h"
#include "shared/publictypes.h"

#include "adapterkeys.h"
#include "controllerdb.h"
#include "modal.h"
#include "pofile.h"
#include "samplekeyimage.h"
#include "virtualadapter.h"

#include <QAccessible>
#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gmock/gmock.h>

#include <atomic>

namespace {

using ::testing::HasSubstr;

// The rows of a list, each as its column texts joined by " | ".
QStringList ListRows(const QTreeWidget* list) {
    QStringList rows;
    for (int row = 0; list && row < list->topLevelItemCount(); ++row) {
        QStringList texts;
        for (int column = 0; column < list->columnCount(); ++column)
            texts << list->topLevelItem(row)->text(column);
        rows << texts.join(" | ");
    }
    return rows;
}

class ReadKeyTest : public ControllerDbTest {
protected:
    void SetUp() override {
        ControllerDbTest::SetUp();
        Adapter = std::make_unique<VirtualAdapter>();
        ASSERT_TRUE(Adapter->Ready()) << Adapter->Problem().toStdString();
        RunSettings = Adapter->Settings;
    }
    void TearDown() override {
        Window.reset();
        WaitForAdapterThread();
        Adapter.reset();
        ControllerDbTest::TearDown();
    }

    // The controller list as the main window holds it after a reload.
    void LoadControllerList() { Session->LoadControllers(); }

    // A site: Front door (A1B2C3) grants Anna in zone 1 and Dirk in the blue zone; Bert's card
    // begins like Anna's, and so does the card of Cas, whose holder was deleted.
    void Site() {
        FrontDoor = AddController("Front door", "A1B2C3", 2, 4);
        AddCardHolder("12AB000001", "Anna");
        AddCardHolder("12AB000002", "Bert");
        AddCardHolder("12ab000003", "Cas", {}, {}, true);
        AddCardHolder("34CD000001", "Dirk");
        AddCardHolder("56EF000001", "Eva");
        AddZone(FrontDoor, "12AB000001", 1);
        AddZone(FrontDoor, "34CD000001", 2);
        LoadControllerList();
    }
    // What the database gives the controller now, as a key image.
    TKeyImage ImageNow(int32_t conId) const {
        const TStandController record = Record(conId);
        TKeyImageInput input;
        input.ConCode = record.ConCode;
        input.ConByte1 = record.ConByte1;
        input.ConByte2 = record.ConByte2;
        input.Zone1Cards = *ReadZoneCards(*Database().Inner, conId, 1);
        input.Zone2Cards = *ReadZoneCards(*Database().Inner, conId, 2);
        return BuildKeyImage(input);
    }
    void LayKey(const QByteArray& memory) {
        ASSERT_TRUE(Adapter->SetMemory(MemoryKey, memory));
        ASSERT_TRUE(Adapter->Put(MemoryKey));
    }

    void Open() {
        Window = std::make_unique<TfrmReadKey>(*Session, RunSettings);
        if (auto* poller = Window->findChild<TCardPollerLink*>("CardPoller"))
            poller->SetInterval(10);
        Window->show();
    }
    template <typename T> T* Part(const char* name) const { return &Control<T>(*Window, name); }
    QString Text(const char* label) const { return Part<QLabel>(label)->text(); }
    // Waits until the window has read a key or told why it could not.
    bool Done() const {
        return QTest::qWaitFor(
            [this] {
                return Text("lblStatusText") == "Key read" ||
                       !MessageBoxes::ShownMessages().isEmpty();
            },
            30000);
    }

    // The programming dialog for Front door, looking at the adapter at its own pace: the virtual
    // serial adapter now and then misses a session opened right behind the last exchange of one
    // that looked every 10 ms, which the read window's session would be here.
    std::unique_ptr<TfrmProgramDevice> Programming(TStandController& controller) {
        auto dialog = std::make_unique<TfrmProgramDevice>(*Session, RunSettings);
        dialog->Controller = &controller;
        return dialog;
    }
    static TCardPollerLink* ProgrammingPoller(const TfrmProgramDevice& dialog) {
        return dialog.findChild<TCardPollerLink*>("CardPoller", Qt::FindDirectChildrenOnly);
    }
    // The read window the programming dialog opened over itself, once it is shown.
    static TfrmReadKey* ReadWindowOver(const TfrmProgramDevice& dialog) {
        TfrmReadKey* window = nullptr;
        const bool shown = QTest::qWaitFor(
            [&] {
                window = dialog.findChild<TfrmReadKey*>("frmReadKey");
                return window && window->isVisible();
            },
            10000);
        if (!shown)
            return nullptr;
        if (auto* poller = window->findChild<TCardPollerLink*>("CardPoller"))
            poller->SetInterval(10);
        return window;
    }
    static QString StatusOf(const TfrmReadKey& window) {
        return Control<QLabel>(window, "lblStatusText").text();
    }

    std::unique_ptr<VirtualAdapter> Adapter;
    std::unique_ptr<TfrmReadKey> Window;
    int32_t FrontDoor = 0;
};

TEST_F(ReadKeyTest, AProgrammedKeyReadsAsUpToDateUntilACardChanges) {
    Site();
    // Programmed as the operator does it.
    LayKey(QByteArray(KeyImageSize, char(0x5A)));
    {
        TStandController controller = Record(FrontDoor);
        TfrmProgramDevice programming(*Session, RunSettings);
        programming.Controller = &controller;
        QTimer::singleShot(30000, &programming, &QDialog::reject); // a guard
        ASSERT_EQ(programming.exec(), QDialog::Accepted);
    }
    WaitForAdapterThread();
    MessageBoxes::ClearShown();

    Open();
    ASSERT_TRUE(Done());
    EXPECT_TRUE(MessageBoxes::ShownMessages().isEmpty());
    EXPECT_EQ(Text("lblController"), "This key is for the controller Front door.");
    EXPECT_EQ(Text("lblKey"), "Memory key " + VirtualAdapter::CardNumberOf(MemoryKey) +
                                  ": controller code A1B2C3, option bytes 02 and 04.");
    EXPECT_EQ(Text("lblMatch"), "The key matches what the database gives this controller now.");
    EXPECT_EQ(ListRows(Part<QTreeWidget>("lstEntries")),
              (QStringList{"1 | 12AB | 12AB000001 Anna; 12AB000002 Bert; 12ab000003 Cas (deleted)",
                           "2 | 34CD | 34CD000001 Dirk"}));
    EXPECT_TRUE(ListRows(Part<QTreeWidget>("lstDifferences")).isEmpty());
    // Bert's card and the deleted holder's: the key lets them in, the database grants neither.
    EXPECT_EQ(ListRows(Part<QTreeWidget>("lstAdmits")),
              (QStringList{"12AB000002 | Bert | 1", "12ab000003 | Cas (deleted) | 1"}));

    // The operator changes cards: Eva gets zone 1, Dirk moves to zone 1, the relay time changes.
    AddZone(FrontDoor, "56EF000001", 1);
    Exec(TMyStatement("UPDATE CardZones SET ZoneID = 1 WHERE CardNumber = ?", {"34CD000001"}));
    Exec(TMyStatement("UPDATE Controllers SET ConByte2 = 8 WHERE ConID = ?", {FrontDoor}));
    LoadControllerList();
    QTest::mouseClick(Part<QPushButton>("cmdReadAgain"), Qt::LeftButton);
    EXPECT_EQ(Text("lblStatusText"), "Lay a memory key on the adapter to read it");
    ASSERT_TRUE(Done());
    EXPECT_EQ(Text("lblMatch"),
              "The key is out of date: the database gives this controller another list now.");
    EXPECT_EQ(ListRows(Part<QTreeWidget>("lstDifferences")),
              (QStringList{"Option byte 2 (relay time): 04 on the key, 08 in the database | ",
                           "34CD moved from zone 2 to zone 1 | 34CD000001 Dirk",
                           "56EF added in zone 1 | 56EF000001 Eva"}));

    // Written again, it matches; reading it changed nothing.
    const QByteArray memory = ImageBytes(ImageNow(FrontDoor));
    ASSERT_TRUE(Adapter->SetMemory(MemoryKey, memory));
    MessageBoxes::ClearShown();
    QTest::mouseClick(Part<QPushButton>("cmdReadAgain"), Qt::LeftButton);
    ASSERT_TRUE(Done());
    EXPECT_EQ(Text("lblMatch"), "The key matches what the database gives this controller now.");
    EXPECT_TRUE(ListRows(Part<QTreeWidget>("lstDifferences")).isEmpty());
    EXPECT_EQ(Adapter->Memory(MemoryKey), memory);
}

// The end-to-end check on the USB adapter: the test runs again under the virtual DS9490.
TEST_F(ReadKeyTest, OnTheUsbAdapterAChangedCardAForeignKeyAndADeletedHoldersCardAreShown) {
    if (!VirtualAdapter::RunsUnderVirtualUsb())
        return;
    Adapter.reset();
    Adapter = std::make_unique<VirtualAdapter>(VirtualAdapter::Usb{});
    ASSERT_TRUE(Adapter->Ready()) << Adapter->Problem().toStdString();
    RunSettings = Adapter->Settings;
    Site();
    LayKey(QByteArray(KeyImageSize, char(0x5A)));
    {
        TStandController controller = Record(FrontDoor);
        TfrmProgramDevice programming(*Session, RunSettings);
        programming.Controller = &controller;
        QTimer::singleShot(30000, &programming, &QDialog::reject); // a guard
        ASSERT_EQ(programming.exec(), QDialog::Accepted);
    }
    WaitForAdapterThread();
    MessageBoxes::ClearShown();
    Exec(TMyStatement("UPDATE CardZones SET ZoneID = 1 WHERE CardNumber = ?", {"34CD000001"}));
    LoadControllerList();

    Open();
    ASSERT_TRUE(Done());
    EXPECT_TRUE(MessageBoxes::ShownMessages().isEmpty());
    EXPECT_EQ(Text("lblMatch"),
              "The key is out of date: the database gives this controller another list now.");
    EXPECT_EQ(ListRows(Part<QTreeWidget>("lstDifferences")),
              QStringList{"34CD moved from zone 2 to zone 1 | 34CD000001 Dirk"});
    EXPECT_EQ(ListRows(Part<QTreeWidget>("lstAdmits")),
              (QStringList{"12AB000002 | Bert | 1", "12ab000003 | Cas (deleted) | 1"}));

    TKeyImageInput foreign;
    foreign.ConCode = "FFEEDD";
    foreign.ConByte1 = 6;
    foreign.ConByte2 = 4;
    foreign.Zone1Cards = {"77770000AA"};
    ASSERT_TRUE(Adapter->SetMemory(MemoryKey, ImageBytes(BuildKeyImage(foreign))));
    QTest::mouseClick(Part<QPushButton>("cmdReadAgain"), Qt::LeftButton);
    ASSERT_TRUE(
        QTest::qWaitFor([this] { return Text("lblController").contains("FFEEDD"); }, 30000));
    EXPECT_EQ(Text("lblController"),
              "The code FFEEDD is none of this site's controllers: this key is for another site.");
    EXPECT_EQ(ListRows(Part<QTreeWidget>("lstEntries")),
              QStringList{"1 | 7777 | no card of this site"});
}

TEST_F(ReadKeyTest, AKeyOfAnotherSiteIsRecognisedAndItsEntriesMatchedToThisSitesCards) {
    Site();
    TKeyImageInput foreign;
    foreign.ConCode = "FFEEDD";
    foreign.ConByte1 = 6;
    foreign.ConByte2 = 4;
    foreign.Zone1Cards = {"77770000AA", "12AB0000BB"};
    LayKey(ImageBytes(BuildKeyImage(foreign)));
    Open();
    ASSERT_TRUE(Done());
    EXPECT_TRUE(MessageBoxes::ShownMessages().isEmpty());
    EXPECT_EQ(Text("lblController"),
              "The code FFEEDD is none of this site's controllers: this key is for another site.");
    EXPECT_EQ(Text("lblMatch"), "Not compared: no controller of this site has this code.");
    EXPECT_EQ(
        ListRows(Part<QTreeWidget>("lstEntries")),
        (QStringList{"1 | 7777 | no card of this site",
                     "1 | 12AB | 12AB000001 Anna; 12AB000002 Bert; 12ab000003 Cas (deleted)"}));
    EXPECT_EQ(ListRows(Part<QTreeWidget>("lstAdmits")),
              (QStringList{"12AB000001 | Anna | 1", "12AB000002 | Bert | 1",
                           "12ab000003 | Cas (deleted) | 1"}));
}

TEST_F(ReadKeyTest, KeysThatCannotBeShownAreToldAndNothingChanges) {
    Site();
    ASSERT_TRUE(StoreMarks(*Database().Inner, {FrontDoor}));
    QByteArray damaged = ImageBytes(ImageNow(FrontDoor));
    damaged[9] = char(damaged[9] ^ 0x10);
    QByteArray otherUse(KeyImageSize, 0);
    otherUse[0] = 0x42;
    otherUse[KeyCrcOffset] = char(onewire::crc8(std::span<const uint8_t>(
        reinterpret_cast<const uint8_t*>(otherUse.constData()), KeyCrcOffset)));
    const struct {
        const char* name;
        QByteArray memory; // empty: the DS1990 instead of a key
        int liftedAfter;   // pages; 0: the key stays
        QString told;
    } cases[] = {
        {"a blank key", QByteArray(KeyImageSize, 0), 0,
         "This memory key is blank: no controller's list was ever written to it."},
        {"a key from the factory", QByteArray(KeyImageSize, char(0xFF)), 0,
         "This memory key is blank: no controller's list was ever written to it."},
        {"a damaged key", damaged, 0,
         "This memory key's contents are damaged: its check byte does not match. A controller "
         "refuses such a key; program it again."},
        {"a key used otherwise", otherUse, 0, "This memory key holds no controller's access list."},
        {"a key of another family",
         {},
         0,
         "The device on the adapter (DS1990) is not a memory key."},
        {"a key lifted while it is read", ImageBytes(ImageNow(FrontDoor)), 6,
         "The key was taken away while it was read. Lay it on again and read it again."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MessageBoxes::ClearShown();
        if (c.memory.isEmpty())
            ASSERT_TRUE(Adapter->Put(PlainCard));
        else
            LayKey(c.memory);
        Open();
        std::atomic<bool> lifted = false;
        if (c.liftedAfter) {
            TCardPoller* poller = Window->findChild<TCardPollerLink*>("CardPoller")->Poller();
            QObject::connect(
                poller, &TCardPoller::JobStep, poller,
                [&](quint64, int step) {
                    if (step == c.liftedAfter)
                        lifted = Adapter->Remove(MemoryKey);
                },
                Qt::DirectConnection);
        }
        ASSERT_TRUE(Done());
        EXPECT_EQ(MessageBoxes::ShownTexts(), QStringList{c.told});
        EXPECT_EQ(MessageBoxes::ShownMessages().first().kind, MessageBoxes::Error);
        EXPECT_EQ(Text("lblStatusText"), c.told);
        EXPECT_EQ(lifted, c.liftedAfter > 0);
        for (const char* list : {"lstEntries", "lstDifferences", "lstAdmits"})
            EXPECT_TRUE(ListRows(Part<QTreeWidget>(list)).isEmpty()) << list;
        EXPECT_TRUE(Text("lblController").isEmpty());
        EXPECT_TRUE(Part<QPushButton>("cmdReadAgain")->isEnabled());
        // Nothing was written: not the key, not the mark.
        if (!c.memory.isEmpty() && !c.liftedAfter) {
            EXPECT_EQ(Adapter->Memory(MemoryKey), c.memory);
        }
        EXPECT_EQ(StoredMarks(&Session->Database()), QSet<int32_t>{FrontDoor});
        Window.reset();
        WaitForAdapterThread();
        Adapter->Remove(MemoryKey);
        Adapter->Remove(PlainCard);
    }

    // Laid on again after all that, a good key is read.
    LayKey(ImageBytes(ImageNow(FrontDoor)));
    MessageBoxes::ClearShown();
    Open();
    ASSERT_TRUE(Done());
    EXPECT_EQ(Text("lblMatch"), "The key matches what the database gives this controller now.");
}

TEST_F(ReadKeyTest, TwoControllersWithOneCodeAreBothNamedAndTheMatchingOneIsChosen) {
    Site();
    const int32_t copy = AddController("Back door", "a1b2c3", 2, 4);
    AddZone(copy, "56EF000001", 2);
    LoadControllerList();
    LayKey(ImageBytes(ImageNow(copy)));
    Open();
    ASSERT_TRUE(Done());
    EXPECT_EQ(Text("lblController"),
              "This key is for the controller Back door (the controllers Back door, Front door "
              "share its code).");
    EXPECT_EQ(Text("lblMatch"), "The key matches what the database gives this controller now.");
    EXPECT_TRUE(ListRows(Part<QTreeWidget>("lstAdmits")).isEmpty());
}

TEST_F(ReadKeyTest, TheWindowIsReadableAndWorksFromTheKeyboard) {
    Site();
    Open();
    EXPECT_EQ(Window->windowTitle(), "Read key");
    EXPECT_EQ(UntranslatedWindowTexts(Window.get()), QStringList());
    // Every list follows its label's letter and carries the label's words as its name.
    const struct {
        const char* label;
        const char* list;
        const char* name;
    } lists[] = {{"lblEntries", "lstEntries", "Entries on the key:"},
                 {"lblDifferences", "lstDifferences", "Differences from the database:"},
                 {"lblAdmits", "lstAdmits", "Admitted without access there:"}};
    for (const auto& l : lists) {
        auto* list = Part<QTreeWidget>(l.list);
        EXPECT_EQ(Part<QLabel>(l.label)->buddy(), list);
        EXPECT_EQ(list->accessibleName(), l.name);
        EXPECT_EQ(list->focusPolicy(), Qt::StrongFocus);
    }
    for (const char* button : {"cmdReadAgain", "cmdClose"})
        EXPECT_NE(Part<QPushButton>(button)->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(UntranslatedTexts(
                  {"no card of this site", "%s added in zone %s", "%s removed from zone %s",
                   "%s moved from zone %s to zone %s", "Reading the key...", "Key read",
                   "The adapter failed; nothing was read.", "The database did not answer:\n%s",
                   "This key is for the controller %s.",
                   "This key is for the controller %s (the controllers %s share its code).",
                   "Controller code %s on the key, %s in the database",
                   "Option byte 1: %s on the key, %s in the database", "%s (deleted)",
                   "The key matches what the database gives this controller now.",
                   "Not compared: the database cannot give this controller a key now (a card "
                   "number that does not begin with four hexadecimal characters, or more cards "
                   "than a key holds).",
                   "%s still admits card %s: another card granted there begins with the same "
                   "four characters."}),
              QStringList());

    QTest::keyClick(Window.get(), Qt::Key_Escape);
    EXPECT_FALSE(Window->isVisible());
}

// From the programming dialog: the key laid on while the read window is open over it is read and
// left as it is; once the window is closed the dialog writes the key as it always does.
TEST_F(ReadKeyTest, TheProgrammingDialogReadsTheKeyWithoutWritingItAndWritesItAfterwards) {
    Site();
    const QByteArray programmedBefore = ImageBytes(ImageNow(FrontDoor));
    AddZone(FrontDoor, "56EF000001", 1); // the card changed after the key was programmed
    LoadControllerList();
    TStandController controller = Record(FrontDoor);
    const std::unique_ptr<TfrmProgramDevice> programming = Programming(controller);
    programming->show();
    programming->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(programming.get()));
    QPushButton& readKey = Control<QPushButton>(*programming, "cmdReadKey");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&readKey)->text(QAccessible::Name),
              "Read key...");
    EXPECT_NE(readKey.focusPolicy(), Qt::NoFocus);
    TCardPollerLink* link = ProgrammingPoller(*programming);
    ASSERT_TRUE(link->Polling());

    // Its letter opens the window, which reads through the dialog's link: the adapter's session
    // stays open, and the dialog hears nothing of the key meanwhile.
    QTest::keyClick(programming.get(), Qt::Key_R, Qt::AltModifier);
    TfrmReadKey* window = ReadWindowOver(*programming);
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isModal());
    EXPECT_EQ(window->findChild<TCardPollerLink*>(), nullptr);
    LayKey(programmedBefore);
    ASSERT_TRUE(QTest::qWaitFor([&] { return StatusOf(*window) == "Key read"; }, 30000))
        << StatusOf(*window).toStdString() << MessageBoxes::ShownTexts().join("/").toStdString();
    EXPECT_EQ(Control<QLabel>(*window, "lblMatch").text(),
              "The key is out of date: the database gives this controller another list now.");
    EXPECT_EQ(ListRows(&Control<QTreeWidget>(*window, "lstDifferences")),
              QStringList{"56EF added in zone 1 | 56EF000001 Eva"});
    WaitForAdapterThread();
    EXPECT_EQ(ProgrammingPoller(*programming), link);
    EXPECT_EQ(Adapter->Memory(MemoryKey), programmedBefore);
    EXPECT_TRUE(MessageBoxes::ShownMessages().isEmpty());

    // Closed, the dialog looks again and programs the key still lying there.
    QTest::mouseClick(&Control<QPushButton>(*window, "cmdClose"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !programming->isVisible(); }, 30000));
    EXPECT_EQ(programming->result(), QDialog::Accepted);
    EXPECT_EQ(MessageBoxes::ShownTexts(), QStringList{"Operation finished"});
    EXPECT_EQ(Adapter->Memory(MemoryKey).toHex(), ImageBytes(ImageNow(FrontDoor)).toHex());
    EXPECT_EQ(programming->findChild<TfrmReadKey*>(), nullptr);
}

// "Read key..." waits while a key is written: a key half written reads as nothing useful. And a
// dialog that stopped over a controller it cannot program stays stopped after a reading.
TEST_F(ReadKeyTest, TheProgrammingDialogOffersNoReadingWhileWritingAndStaysStalledAfterOne) {
    Site();
    {
        TStandController controller = Record(FrontDoor);
        const std::unique_ptr<TfrmProgramDevice> programming = Programming(controller);
        programming->show();
        QPushButton& readKey = Control<QPushButton>(*programming, "cmdReadKey");
        bool enabledWhileWriting = true;
        bool openedWhileWriting = false;
        QObject::connect(&Control<QProgressBar>(*programming, "ProgressBar"),
                         &QProgressBar::valueChanged, [&](int value) {
                             if (value != 3)
                                 return;
                             enabledWhileWriting = readKey.isEnabled();
                             readKey.click(); // as a queued press would arrive
                             openedWhileWriting = programming->findChild<TfrmReadKey*>() != nullptr;
                         });
        LayKey(QByteArray(KeyImageSize, char(0x5A)));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !programming->isVisible(); }, 30000));
        EXPECT_EQ(programming->result(), QDialog::Accepted);
        EXPECT_FALSE(enabledWhileWriting);
        EXPECT_FALSE(openedWhileWriting);
        EXPECT_EQ(Adapter->Memory(MemoryKey).toHex(), ImageBytes(ImageNow(FrontDoor)).toHex());
    }
    WaitForAdapterThread();
    MessageBoxes::ClearShown();

    // A code no key can carry: the dialog tells it and stops looking until Cancel.
    Exec(TMyStatement("UPDATE Controllers SET ConCode = ? WHERE ConID = ?", {"XYZ", FrontDoor}));
    TStandController controller = Record(FrontDoor);
    const std::unique_ptr<TfrmProgramDevice> programming = Programming(controller);
    programming->show();
    ASSERT_TRUE(QTest::qWaitFor([] { return !MessageBoxes::ShownMessages().isEmpty(); }, 30000));
    EXPECT_FALSE(ProgrammingPoller(*programming)->Polling());
    const QByteArray written = Adapter->Memory(MemoryKey);
    QTest::mouseClick(&Control<QPushButton>(*programming, "cmdReadKey"), Qt::LeftButton);
    TfrmReadKey* window = ReadWindowOver(*programming);
    ASSERT_TRUE(window);
    ASSERT_TRUE(QTest::qWaitFor([&] { return StatusOf(*window) == "Key read"; }, 30000))
        << StatusOf(*window).toStdString() << MessageBoxes::ShownTexts().join("/").toStdString();
    EXPECT_EQ(Control<QLabel>(*window, "lblController").text(),
              "This key is for the controller Front door.");
    QTest::keyClick(window, Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !programming->findChild<TfrmReadKey*>(); }, 10000));
    WaitForAdapterThread();
    QCoreApplication::sendPostedEvents();
    ASSERT_TRUE(ProgrammingPoller(*programming));
    EXPECT_FALSE(ProgrammingPoller(*programming)->Polling());
    EXPECT_TRUE(Control<QPushButton>(*programming, "cmdReadKey").isEnabled());
    EXPECT_EQ(Adapter->Memory(MemoryKey), written);
}

TEST_F(ReadKeyTest, TheControllerListsMenuOpensTheWindow) {
    Site();
    TfrmMain main(Desktop, RunSettings);
    main.OpenSession(TakeSession());
    main.ReloadControllers();
    QAction* item = &Control<QAction>(main, "mnuReadKey");
    EXPECT_TRUE(Control<QMenu>(main, "PopupMenu").actions().contains(item));
    QString opened;
    WhenModal([&](QWidget* window) {
        opened = window->objectName();
        window->close();
    });
    item->trigger();
    EXPECT_EQ(opened, "frmReadKey");
}

TEST_F(ReadKeyTest, TheControllerDialogListsTheCardsItsControllerAdmitsWithoutAccess) {
    Site();
    TStandController record = Record(FrontDoor);
    TfrmController dialog(*Session);
    auto* part = dialog.findChild<QWidget*>("pnlAdmits");
    ASSERT_TRUE(part);
    EXPECT_FALSE(part->isVisibleTo(&dialog)); // a new controller has no cards yet
    dialog.ConEdit(&record);
    EXPECT_TRUE(part->isVisibleTo(&dialog));
    EXPECT_EQ(dialog.findChild<QLabel*>("lblAdmits")->text(),
              "&Admitted without access here (2 cards, through the first four characters of a "
              "granted card):");
    EXPECT_EQ(ListRows(dialog.findChild<QTreeWidget*>("lstAdmits")),
              (QStringList{"12AB000002 | Bert | 1 | 12AB000001",
                           "12ab000003 | Cas (deleted) | 1 | 12AB000001"}));
}

} // namespace
