#include "cardholders/cardholdersave.h"
#include "controllers/keyimage.h"
#include "controllers/pendingchanges.h"
#include "controllers/programdevice.h"
#include "db/MyDBConnector.h"
#include "journal/journal.h"
#include "onewire/crc8.h"
#include "reader/cardpoller.h"
#include "shared/messagebox.h"
#include "shared/publictypes.h"

#include "adapterkeys.h"
#include "controllerdb.h"
#include "modal.h"
#include "pofile.h"
#include "virtualadapter.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSemaphore>
#include <QTest>
#include <QTimer>

#include <gmock/gmock.h>

#include <atomic>

namespace {

using ::testing::HasSubstr;

const QString SupplyKey = "Supply a memory key to program the device";

// What a key written earlier with something else holds: never a valid image.
QByteArray OldKeyContent() {
    return QByteArray(KeyImageSize, char(0x5A));
}

// The image a key must hold for code A1B2C3, bytes 2 and 4, two zone-1 and one zone-2 card.
QByteArray ExpectedImage() {
    QByteArray image(KeyImageSize, 0);
    const QByteArray head = QByteArray::fromHex("A1B2C3000103020412AB34CD56EF");
    image.replace(0, head.size(), head);
    image[511] = char(onewire::crc8(std::span<const uint8_t>(
        reinterpret_cast<const uint8_t*>(image.constData()), KeyImageSize - 1)));
    return image;
}

class ProgramDeviceTest : public ControllerDbTest {
protected:
    void TearDown() override {
        // The pollers of the dialogs the test closed end their sessions first.
        WaitForAdapterThread();
        ControllerDbTest::TearDown();
    }

    // A marked controller whose key image is ExpectedImage().
    void SampleController(const QString& code = "A1B2C3") {
        const int32_t id = AddController("Front door", code, 2, 4);
        AddZone(id, "12AB000001", 1);
        AddZone(id, "56EF000003", 2);
        AddZone(id, "34CD000002", 1);
        AddZone(id, "78AB000004", 0);
        Controller = Record(id);
        Controller.ChangesMade = true;
        ASSERT_TRUE(StoreMarks(*Database().Inner, {id}));
    }
    // The mark the database keeps for the next start of the program.
    bool MarkStored() const {
        return Count("SELECT COUNT(*) FROM PendingChanges WHERE Stamp >= 0 AND ConID = " +
                     QString::number(Controller.ConID)) == 1;
    }

    static TCardPollerLink* PollerOf(const TfrmProgramDevice& dialog) {
        return dialog.findChild<TCardPollerLink*>("CardPoller", Qt::FindDirectChildrenOnly);
    }
    // Holds the writing on the adapter thread once page 3 is written (the image built, the mark
    // not yet cleared): `reached` is released there, and the writing goes on once `go` is.
    static void HoldAtPage3(const TfrmProgramDevice& dialog, QSemaphore& reached, QSemaphore& go) {
        TCardPoller* poller = PollerOf(dialog)->Poller();
        QObject::connect(
            poller, &TCardPoller::JobStep, poller,
            [&reached, &go](quint64, int step) {
                if (step != 3)
                    return;
                reached.release();
                go.acquire();
            },
            Qt::DirectConnection);
    }
    static bool Polling(const TfrmProgramDevice& dialog) {
        return PollerOf(dialog) && PollerOf(dialog)->Polling();
    }
    static bool Waiting(const TfrmProgramDevice& dialog) {
        return Polling(dialog) && Control<QLabel>(dialog, "lblStatusText").text() == SupplyKey &&
               Control<QLabel>(dialog, "lblFamily").isHidden() &&
               Control<QLabel>(dialog, "lblROM").isHidden() &&
               Control<QProgressBar>(dialog, "ProgressBar").value() == 0;
    }
    // Waits until the operator has been shown `count` boxes in all.
    static bool Shown(qsizetype count) {
        return QTest::qWaitFor([count] { return MessageBoxes::ShownMessages().size() >= count; },
                               30000);
    }
    // Everything asked of the adapter so far is done and what it told has reached the dialog.
    static void Settle() {
        WaitForAdapterThread();
        QCoreApplication::sendPostedEvents();
    }

    TStandController Controller;
};

// Every test here runs the real 1-Wire library against the simulator.
class ProgramDeviceOnAdapterTest : public ProgramDeviceTest {
protected:
    void SetUp() override {
        ProgramDeviceTest::SetUp();
        Adapter = std::make_unique<VirtualAdapter>();
        ASSERT_TRUE(Adapter->Ready()) << Adapter->Problem().toStdString();
        RunSettings = Adapter->Settings;
    }
    void TearDown() override {
        WaitForAdapterThread();
        Adapter.reset();
        ProgramDeviceTest::TearDown();
    }
    // Lays the memory key on the adapter holding what an earlier use left in it.
    void LayOldKey() {
        ASSERT_TRUE(Adapter->SetMemory(MemoryKey, OldKeyContent()));
        ASSERT_TRUE(Adapter->Put(MemoryKey));
    }

    std::unique_ptr<VirtualAdapter> Adapter;
};

TEST_F(ProgramDeviceTest, TheDialogWaitsForAKeyFromTheStart) {
    SampleController();
    TfrmProgramDevice dialog(*Session, RunSettings);
    dialog.Controller = &Controller;
    EXPECT_EQ(dialog.windowTitle(), "Programming device");
    EXPECT_TRUE(Waiting(dialog));
    ASSERT_TRUE(PollerOf(dialog));
    EXPECT_EQ(PollerOf(dialog)->Interval(), 100);
    Settle(); // no adapter configured: nothing read, still waiting
    EXPECT_TRUE(Waiting(dialog));
    EXPECT_TRUE(MessageBoxes::ShownMessages().isEmpty());
}

TEST_F(ProgramDeviceTest, WithoutAReaderOnlyCancelIsLeft) {
    RunSettings.ReaderName = "maximreader";
    TfrmProgramDevice dialog(*Session, RunSettings);
    EXPECT_EQ(MessageBoxes::ShownTexts(), QStringList{"No valid reader"});
    EXPECT_EQ(PollerOf(dialog), nullptr);
    EXPECT_EQ(Control<QLabel>(dialog, "lblStatusText").text(), SupplyKey);
    dialog.show();
    QTest::mouseClick(&Control<QPushButton>(dialog, "cmdCancel"), Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(ProgramDeviceTest, EveryTextHasItsDutchTranslation) {
    TfrmProgramDevice dialog(*Session, RunSettings);
    EXPECT_EQ(UntranslatedWindowTexts(&dialog), QStringList());
    EXPECT_EQ(
        UntranslatedTexts({"This type (%s) cannot be programmed", "Please hold...", "Family: %s",
                           "ROM code: %s", "Write operation failed!", "Operation finished"}),
        QStringList());
    EXPECT_EQ(
        UntranslatedTexts(
            {"The controller code \"%s\" is not six hexadecimal characters. Correct it in the "
             "controller's properties; nothing was written to the key.",
             "This controller gives %d cards access, but a memory key holds at most %d. Nothing "
             "was written to the key.",
             "The card number \"%s\" does not begin with four hexadecimal characters. Nothing "
             "was written to the key.",
             "The cards of this controller could not be read from the database, so nothing was "
             "written to the key:\n%s"}),
        QStringList());
}

TEST_F(ProgramDeviceOnAdapterTest, AMemoryKeyGetsTheImageAndTheMarkGoes) {
    SampleController();
    TfrmProgramDevice dialog(*Session, RunSettings);
    dialog.Controller = &Controller;
    // Laid on while the dialog already waits, as an operator does.
    QTimer::singleShot(300, [&] { LayOldKey(); });
    QTimer::singleShot(30000, &dialog, &QDialog::reject); // a guard, never reached when it works
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);

    EXPECT_EQ(Adapter->Memory(MemoryKey).toHex(), ExpectedImage().toHex());
    EXPECT_FALSE(Controller.ChangesMade);
    EXPECT_FALSE(MarkStored());
    EXPECT_EQ(MessageBoxes::ShownTexts(), QStringList{"Operation finished"});
    EXPECT_EQ(MessageBoxes::ShownMessages().first().kind, MessageBoxes::Information);
    EXPECT_EQ(Control<QLabel>(dialog, "lblStatusText").text(), "Operation finished");
    EXPECT_EQ(Control<QLabel>(dialog, "lblFamily").text(), "Family: DS1993");
    EXPECT_EQ(Control<QLabel>(dialog, "lblROM").text(),
              "ROM code: " + VirtualAdapter::CardNumberOf(MemoryKey));
    EXPECT_EQ(Control<QProgressBar>(dialog, "ProgressBar").value(),
              Control<QProgressBar>(dialog, "ProgressBar").maximum());
}

// The journal says who wrote which image when: one entry for the verified write, none for a
// write that failed.
TEST_F(ProgramDeviceOnAdapterTest, OnlyAVerifiedWriteIsJournaledWithItsImageAndWhoWroteIt) {
    SampleController();
    LayOldKey();
    TfrmProgramDevice dialog(*Session, RunSettings);
    dialog.Controller = &Controller;
    std::atomic<bool> removed = false;
    TCardPoller* poller = PollerOf(dialog)->Poller();
    const QMetaObject::Connection lifting = QObject::connect(
        poller, &TCardPoller::JobStep, poller,
        [&](quint64, int step) {
            if (step == 8 && !removed)
                removed = Adapter->Remove(MemoryKey);
        },
        Qt::DirectConnection);
    ASSERT_TRUE(Shown(1));
    ASSERT_TRUE(removed);
    QObject::disconnect(lifting);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM Journal"), 0);

    MessageBoxes::ClearShown();
    LayOldKey();
    ASSERT_TRUE(Shown(1));
    EXPECT_EQ(MessageBoxes::ShownTexts(), QStringList{"Operation finished"});
    const std::optional<QList<TJournalEntry>> journal = ReadJournal(*Database().Inner, {}, 0);
    ASSERT_TRUE(journal);
    ASSERT_EQ(journal->size(), 1);
    const TJournalEntry& written = journal->first();
    EXPECT_EQ(written.Action, TJournalAction::KeyWritten);
    EXPECT_EQ(written.ConID, Controller.ConID);
    EXPECT_EQ(written.ConName, "Front door");
    EXPECT_EQ(written.Operator, Session->Author().Operator);
    EXPECT_EQ(written.Workstation, Session->Author().Workstation);
    EXPECT_EQ(written.Changes,
              (QList<TJournalChange>{{"CRC8", "", ExpectedImage().right(1).toHex().toUpper()},
                                     {"Zone1Cards", "", "2"},
                                     {"Zone2Cards", "", "1"}}));
}

// The same over the USB adapter: the test runs again under the virtual DS9490.
TEST_F(ProgramDeviceTest, AMemoryKeyOnTheUsbAdapterGetsTheImageAndTheMarkGoes) {
    if (!VirtualAdapter::RunsUnderVirtualUsb())
        return;
    VirtualAdapter adapter{VirtualAdapter::Usb{}};
    ASSERT_TRUE(adapter.Ready()) << adapter.Problem().toStdString();
    RunSettings = adapter.Settings;
    SampleController();
    TfrmProgramDevice dialog(*Session, RunSettings);
    dialog.Controller = &Controller;
    QTimer::singleShot(300, [&] {
        ASSERT_TRUE(adapter.SetMemory(MemoryKey, OldKeyContent()));
        ASSERT_TRUE(adapter.Put(MemoryKey));
    });
    QTimer::singleShot(30000, &dialog, &QDialog::reject); // a guard, never reached when it works
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);

    EXPECT_EQ(adapter.Memory(MemoryKey).toHex(), ExpectedImage().toHex());
    EXPECT_FALSE(Controller.ChangesMade);
    EXPECT_EQ(MessageBoxes::ShownTexts(), QStringList{"Operation finished"});
}

TEST_F(ProgramDeviceOnAdapterTest, AnotherFamilyIsRefusedAndTheMarkStays) {
    SampleController();
    ASSERT_TRUE(Adapter->Put(PlainCard));
    TfrmProgramDevice dialog(*Session, RunSettings);
    dialog.Controller = &Controller;
    ASSERT_TRUE(Shown(1));
    EXPECT_EQ(MessageBoxes::ShownTexts().first(), "This type (DS1990) cannot be programmed");
    EXPECT_EQ(MessageBoxes::ShownMessages().first().kind, MessageBoxes::Error);
    EXPECT_TRUE(Controller.ChangesMade);
    EXPECT_TRUE(Waiting(dialog));
    ASSERT_TRUE(Shown(2)); // still lying there: the box comes back
    EXPECT_EQ(MessageBoxes::ShownTexts()[1], "This type (DS1990) cannot be programmed");
    EXPECT_TRUE(Controller.ChangesMade);
}

TEST_F(ProgramDeviceOnAdapterTest, AKeyLiftedWhileWritingFailsAndTheNextAttemptWritesEverything) {
    // Lifted after 1, 8 and 15 pages, and after all 16 (only the read-back can tell).
    for (int lifted : {1, 8, 15, 16}) {
        SCOPED_TRACE(lifted);
        MessageBoxes::ClearShown();
        SampleController();
        LayOldKey();
        TfrmProgramDevice dialog(*Session, RunSettings);
        dialog.Controller = &Controller;
        // Lifted on the adapter thread right after the page, before the next one is written.
        std::atomic<bool> removed = false;
        TCardPoller* poller = PollerOf(dialog)->Poller();
        QObject::connect(
            poller, &TCardPoller::JobStep, poller,
            [&](quint64, int step) {
                if (step == lifted && !removed)
                    removed = Adapter->Remove(MemoryKey);
            },
            Qt::DirectConnection);
        ASSERT_TRUE(Shown(1));
        ASSERT_TRUE(removed);
        EXPECT_EQ(MessageBoxes::ShownTexts(), QStringList{"Write operation failed!"});
        EXPECT_TRUE(Controller.ChangesMade);
        EXPECT_TRUE(MarkStored());
        EXPECT_TRUE(Waiting(dialog));
        const QByteArray written = Adapter->Memory(MemoryKey);
        const qsizetype done = qsizetype(std::min(lifted, 16)) * 32;
        EXPECT_EQ(written.left(done).toHex(), ExpectedImage().left(done).toHex());
        EXPECT_EQ(written.mid(done), OldKeyContent().mid(done));

        // Laid on again with its old content: every page is written anew.
        MessageBoxes::ClearShown();
        LayOldKey();
        ASSERT_TRUE(Shown(1));
        EXPECT_EQ(MessageBoxes::ShownTexts(), QStringList{"Operation finished"});
        EXPECT_EQ(Adapter->Memory(MemoryKey).toHex(), ExpectedImage().toHex());
        EXPECT_FALSE(Controller.ChangesMade);
        EXPECT_FALSE(MarkStored());
        ASSERT_TRUE(Adapter->Remove(MemoryKey));
    }
}

TEST_F(ProgramDeviceOnAdapterTest, BadCodesAndCardsAreRefusedBeforeAnythingIsWritten) {
    struct Case {
        QString code;
        QString badCard; // empty: none
        QString named;
    };
    const std::vector<Case> cases = {
        {"12G4", "", "\"12G4\""},
        {"", "", "\"\""},
        {"ABCDEFG", "", "\"ABCDEFG\""},
        {"A1B2C3", "12G4000001", "\"12G4000001\""},
    };
    LayOldKey();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code.toStdString() + " " + c.badCard.toStdString());
        MessageBoxes::ClearShown();
        SampleController(c.code);
        if (!c.badCard.isEmpty())
            AddZone(Controller.ConID, c.badCard, 2);
        TfrmProgramDevice dialog(*Session, RunSettings);
        dialog.Controller = &Controller;
        ASSERT_TRUE(Shown(1));
        // Stalled: no more polling, so the box does not come back every tenth of a second.
        EXPECT_FALSE(Polling(dialog));
        Settle();
        ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1);
        EXPECT_EQ(MessageBoxes::ShownMessages().first().kind, MessageBoxes::Error);
        EXPECT_THAT(MessageBoxes::ShownTexts().first().toStdString(),
                    HasSubstr(c.named.toStdString()));
        EXPECT_EQ(Adapter->Memory(MemoryKey), OldKeyContent());
        EXPECT_TRUE(Controller.ChangesMade);
        EXPECT_EQ(Control<QLabel>(dialog, "lblStatusText").text(), "Please hold...");
        dialog.show();
        QTest::mouseClick(&Control<QPushButton>(dialog, "cmdCancel"), Qt::LeftButton);
        EXPECT_FALSE(dialog.isVisible());
    }
}

TEST_F(ProgramDeviceOnAdapterTest, MoreCardsThanAKeyHoldsAreRefusedWithTheirCount) {
    for (int cards : {251, 252}) {
        SCOPED_TRACE(cards);
        MessageBoxes::ClearShown();
        const int32_t id = AddController("Hall " + QString::number(cards), "A1B2C3");
        {
            TBulkWork bulk(&Session->Database());
            for (int i = 0; i < cards; ++i)
                AddZone(id, CardStartingWith("12AB", i), 1 + i % 2);
        }
        Controller = Record(id);
        Controller.ChangesMade = true;
        LayOldKey();
        TfrmProgramDevice dialog(*Session, RunSettings);
        dialog.Controller = &Controller;
        ASSERT_TRUE(Shown(1));
        if (cards == 251) {
            EXPECT_EQ(MessageBoxes::ShownTexts(), QStringList{"Operation finished"});
            EXPECT_EQ(quint8(Adapter->Memory(MemoryKey)[510]), 0);
            EXPECT_FALSE(Controller.ChangesMade);
            continue;
        }
        ASSERT_EQ(MessageBoxes::ShownTexts().size(), 1);
        EXPECT_THAT(MessageBoxes::ShownTexts().first().toStdString(), HasSubstr("252"));
        EXPECT_EQ(Adapter->Memory(MemoryKey), OldKeyContent());
        EXPECT_TRUE(Controller.ChangesMade);
        EXPECT_FALSE(Polling(dialog));
    }
}

TEST_F(ProgramDeviceOnAdapterTest, ADatabaseGoneInTheMiddleStopsBeforeWritingWithItsError) {
    SampleController();
    LayOldKey();
    {
        TfrmProgramDevice dialog(*Session, RunSettings);
        dialog.Controller = &Controller;
        Session->Database().Disconnect();
        ASSERT_TRUE(Shown(1));
        ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1);
        const QString shown = MessageBoxes::ShownTexts().first();
        EXPECT_THAT(shown.toStdString(), HasSubstr("could not be read from the database"));
        EXPECT_FALSE(Session->Database().GetLastError().isEmpty());
        EXPECT_THAT(shown.toStdString(),
                    HasSubstr(Session->Database().GetLastError().toStdString()));
        EXPECT_EQ(Adapter->Memory(MemoryKey), OldKeyContent());
        EXPECT_TRUE(Controller.ChangesMade);
        EXPECT_FALSE(Polling(dialog));
    }
}

TEST_F(ProgramDeviceOnAdapterTest, CancelWhileWritingClosesOnlyWhenTheKeyIsDone) {
    const struct {
        const char* what;
        int liftedAfter; // pages; 0: the key stays
        QString told;
        bool marked;
    } cases[] = {{"the key stays", 0, "Operation finished", false},
                 {"the key is lifted after page 5", 5, "Write operation failed!", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MessageBoxes::ClearShown();
        SampleController();
        LayOldKey();
        TfrmProgramDevice dialog(*Session, RunSettings);
        dialog.Controller = &Controller;
        dialog.show();
        TCardPoller* poller = PollerOf(dialog)->Poller();
        QObject::connect(
            poller, &TCardPoller::JobStep, poller,
            [&](quint64, int step) {
                if (step == c.liftedAfter)
                    Adapter->Remove(MemoryKey);
            },
            Qt::DirectConnection);
        bool stillOpenAfterCancel = false;
        QPushButton& cancel = Control<QPushButton>(dialog, "cmdCancel");
        QObject::connect(&Control<QProgressBar>(dialog, "ProgressBar"), &QProgressBar::valueChanged,
                         [&](int value) {
                             if (value == 3) {
                                 QTest::mouseClick(&cancel, Qt::LeftButton);
                                 stillOpenAfterCancel = dialog.isVisible();
                             }
                         });
        ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.isVisible(); }, 30000));
        EXPECT_TRUE(stillOpenAfterCancel);
        EXPECT_EQ(MessageBoxes::ShownTexts(), QStringList{c.told});
        EXPECT_EQ(Controller.ChangesMade, c.marked);
        EXPECT_EQ(MarkStored(), c.marked);
        if (!c.liftedAfter) {
            EXPECT_EQ(Adapter->Memory(MemoryKey).toHex(), ExpectedImage().toHex());
            ASSERT_TRUE(Adapter->Remove(MemoryKey));
        }
    }
}

// The dialog destroyed in the middle of the writing (the program closing, say): the key is
// written to the end on the adapter thread, but nobody saw it verified, so the mark stays.
TEST_F(ProgramDeviceOnAdapterTest, ADialogGoneWhileWritingLeavesAWholeKeyAndTheMark) {
    SampleController();
    LayOldKey();
    QSemaphore atPage3;
    QSemaphore dialogGone;
    auto dialog = std::make_unique<TfrmProgramDevice>(*Session, RunSettings);
    dialog->Controller = &Controller;
    HoldAtPage3(*dialog, atPage3, dialogGone);
    // The window thread goes on (it hands the key to the poller); the writing waits at page 3.
    ASSERT_TRUE(QTest::qWaitFor([&] { return atPage3.tryAcquire(); }, 30000));
    dialog.reset();
    dialogGone.release();
    Settle();
    EXPECT_EQ(Adapter->Memory(MemoryKey).toHex(), ExpectedImage().toHex());
    EXPECT_TRUE(Controller.ChangesMade);
    EXPECT_TRUE(MarkStored());
    EXPECT_TRUE(MessageBoxes::ShownMessages().isEmpty());

    // The adapter is free for the next dialog, which writes the key and takes the mark away.
    TfrmProgramDevice again(*Session, RunSettings);
    again.Controller = &Controller;
    ASSERT_TRUE(Shown(1));
    EXPECT_EQ(MessageBoxes::ShownTexts(), QStringList{"Operation finished"});
    EXPECT_FALSE(Controller.ChangesMade);
    EXPECT_FALSE(MarkStored());
}

// A verified write whose mark the database will not clear: the key is usable, but the records
// cannot say so. The operator is told exactly that, with the database's reason, and the
// controller stays marked, in the list and in the database.
TEST_F(ProgramDeviceOnAdapterTest, AMarkTheDatabaseWillNotClearIsSaidAndStays) {
    SampleController();
    LayOldKey();
    Database().FailWhenContaining = "INSERT INTO Journal";
    TfrmProgramDevice dialog(*Session, RunSettings);
    dialog.Controller = &Controller;
    dialog.show();
    ASSERT_TRUE(Shown(1));
    Database().FailWhenContaining.clear();

    EXPECT_EQ(Adapter->Memory(MemoryKey).toHex(), ExpectedImage().toHex());
    ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1);
    EXPECT_EQ(MessageBoxes::ShownMessages().first().kind, MessageBoxes::Error);
    EXPECT_TRUE(Database().GetLastError().startsWith("refused by the test"));
    EXPECT_EQ(MessageBoxes::ShownTexts().first(),
              "The key was written and verified, but the mark of this controller could not be "
              "cleared: " +
                  Database().GetLastError() +
                  "\nThe controller stays marked; write its key again once the database "
                  "answers.");
    EXPECT_TRUE(Controller.ChangesMade);
    EXPECT_TRUE(MarkStored());
    EXPECT_EQ(Count("SELECT COUNT(*) FROM Journal"), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog.isVisible(); }, 5000));
    EXPECT_EQ(UntranslatedTexts({"The key was written and verified, but the mark of this "
                                 "controller could not be cleared: %s\nThe controller stays "
                                 "marked; write its key again once the database answers."}),
              QStringList());
}

// Another workstation changes the controller while its key is being written: the key holds the
// list as it was when the writing began, so it is out of date the moment it is done. The operator
// is told, and the controller stays marked for the next write.
TEST_F(ProgramDeviceOnAdapterTest, AChangeElsewhereWhileWritingLeavesTheKeyOutOfDateAndMarked) {
    SampleController();
    AddCardHolder("78AB000004", "Dora"); // at zone 0: not on the key
    std::unique_ptr<TMyDBConnector> other =
        NewConnectorOfKind(Database().GetDBTypeName(), Database().ConnectionString);
    ASSERT_TRUE(other && other->Connect()) << other->GetLastError().toStdString();
    LayOldKey();
    QSemaphore atPage3;
    QSemaphore changed;
    TfrmProgramDevice dialog(*Session, RunSettings);
    dialog.Controller = &Controller;
    dialog.show();
    HoldAtPage3(dialog, atPage3, changed);
    ASSERT_TRUE(QTest::qWaitFor([&] { return atPage3.tryAcquire(); }, 30000));
    // A zone click at this controller on the other workstation.
    EXPECT_EQ(CycleCardZone(*other, "78AB000004", Controller.ConID, {"other", "desk-2"}), 1);
    changed.release();

    ASSERT_TRUE(Shown(1));
    EXPECT_EQ(MessageBoxes::ShownTexts(),
              QStringList{"The key was written, but this controller was changed on another "
                          "workstation while it was being written: the key just written is "
                          "already out of date. The controller stays marked; write its key "
                          "again."});
    EXPECT_EQ(MessageBoxes::ShownMessages().first().kind, MessageBoxes::Warning);
    EXPECT_EQ(Adapter->Memory(MemoryKey).toHex(), ExpectedImage().toHex()) << "as built";
    EXPECT_TRUE(Controller.ChangesMade);
    EXPECT_TRUE(MarkStored());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog.isVisible(); }, 5000));
}

} // namespace

namespace {

TEST_F(ProgramDeviceOnAdapterTest, AStalledAdapterIsReportedAndTheKeyWrittenWhenItIsBack) {
    const QString stopped =
        "The adapter stopped answering. Cards are read again as soon as it answers.";
    SampleController();
    ASSERT_TRUE(Adapter->SetAnswerTimeout(VirtualAdapter::StallTimeout));
    TfrmProgramDevice dialog(*Session, RunSettings);
    dialog.Controller = &Controller;
    Settle();
    EXPECT_TRUE(Waiting(dialog));

    // The search times out, the session is broken, and a new one finds no adapter either. The
    // sessions after it are given all the time they need again.
    ASSERT_TRUE(Adapter->Stall(true));
    ASSERT_TRUE(Shown(1));
    ASSERT_TRUE(Adapter->SetAnswerTimeout(VirtualAdapter::PatientTimeout));
    ASSERT_TRUE(Adapter->Stall(false));
    EXPECT_TRUE(Waiting(dialog));
    EXPECT_EQ(MessageBoxes::ShownTexts(), QStringList{stopped});

    LayOldKey();
    ASSERT_TRUE(Shown(3));
    EXPECT_EQ(Adapter->Memory(MemoryKey).toHex(), ExpectedImage().toHex());
    EXPECT_FALSE(Controller.ChangesMade);
    EXPECT_EQ(MessageBoxes::ShownTexts(),
              (QStringList{stopped, "The adapter answers again.", "Operation finished"}));
}

} // namespace
