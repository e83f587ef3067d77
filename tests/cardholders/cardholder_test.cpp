#include "readerfixture.h"

#include "app/options.h"
#include "cardholders/cardholder.h"
#include "cardholders/cardholdersave.h"
#include "cardholders/cardnumber.h"
#include "reader/MaximReader.h"
#include "reader/cardpoller.h"
#include "shared/datadir.h"
#include "shared/ini.h"
#include "shared/messagebox.h"

#include "modal.h"
#include "pofile.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <optional>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class CardHolderDialogTest : public CardReaderTest {
protected:
    // A dialog as the list opens it, activated (which starts polling for a new cardholder).
    std::unique_ptr<TfrmCardHolder> Open(const QString& loadCard = {}) {
        auto dialog = std::make_unique<TfrmCardHolder>(Desktop, *Session, RunSettings);
        LookOften(dialog.get());
        if (!loadCard.isNull())
            dialog->LoadCard(loadCard);
        dialog->show();
        dialog->FormActivate();
        return dialog;
    }
    // What the polling does meanwhile.
    void Ticks(TfrmCardHolder& dialog, int count) { Looks(&dialog, count); }
    static bool Polling(TfrmCardHolder& dialog) {
        return PollerOf(&dialog) && PollerOf(&dialog)->Polling();
    }
    static void Check(TfrmCardHolder& dialog, const QString& typed, bool reverse) {
        Control<QLineEdit>(dialog, "txtCustomCardNumber").setText(typed);
        Control<QCheckBox>(dialog, "chkReverse").setChecked(reverse);
        QTest::mouseClick(&Control<QPushButton>(dialog, "cmdCustomNumberCheck"), Qt::LeftButton);
    }
    static bool StoredReverse() {
        return IniFile(SettingsFileName()).ReadBool("cardnumbers", "reverseuserinput", false);
    }
    static bool ReverseStored() {
        return IniFile(SettingsFileName()).ValueExists("cardnumbers", "reverseuserinput");
    }
};

TEST_F(CardHolderDialogTest, ANewDialogWaitsForACardWithOKUnavailable) {
    IniFile(SettingsFileName()).WriteString("settings", "custom2", "Badge \"no\"");
    {
        TfrmCardHolder unchanged(Desktop, *Session, RunSettings);
        ASSERT_TRUE(PollerOf(&unchanged));
        EXPECT_EQ(PollerOf(&unchanged)->Interval(), 100);
    }
    auto dialog = Open();
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCardNumberVal").text(), "Waiting for card");
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCardStatusVal").text(), "");
    EXPECT_FALSE(Control<QPushButton>(*dialog, "cmdOK").isEnabled());
    EXPECT_TRUE(Polling(*dialog));
    EXPECT_TRUE(Control<QLineEdit>(*dialog, "txtCustomCardNumber").isVisible());
    EXPECT_FALSE(Control<QPushButton>(*dialog, "cmdReplaceCard").isVisible());
    EXPECT_FALSE(Control<QPushButton>(*dialog, "cmdReplaceCancel").isVisible());
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCustom1").text(), "Custom 1:");
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCustom2").text(), "Badge \"no\":");
    EXPECT_THAT(UntranslatedWindowTexts(dialog.get()), IsEmpty());
    EXPECT_THAT(
        UntranslatedTexts({"Waiting for card", "Checking status...", "Card already in database",
                           "Got an error while adding the card to the database!",
                           "Card %s already belongs to %s. Choose another card.",
                           "Card %s belongs to %s. Do you want to replace that cardholder with "
                           "this one?"}),
        IsEmpty());
    // Translating again (the test above does) leaves the captions from the settings alone.
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCustom2").text(), "Badge \"no\":");
}

TEST_F(CardHolderDialogTest, CaptionsSetInTheOptionsShowInTheNextDialog) {
    EXPECT_EQ(Control<QLabel>(*Open(), "lblCustom3").text(), "Custom 3:");
    TfrmOptions options(Desktop);
    Control<QLineEdit>(options, "txtCustom3").setText("Kenteken");
    Control<QLineEdit>(options, "txtCustom4").clear();
    Control<QPushButton>(options, "cmdOK").click();
    auto dialog = Open();
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCustom3").text(), "Kenteken:");
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCustom4").text(), ":");
}

TEST_F(CardHolderDialogTest, ACardLyingOnTheReaderIsTakenAndBeepedForOnce) {
    AddCardHolder("0A1B2C3D4E", "Bert");
    auto dialog = Open();
    Ticks(*dialog, 3);
    EXPECT_EQ(Desktop.Beeps(), 0);

    Present(&CardA);
    Ticks(*dialog, 5);
    EXPECT_EQ(Desktop.Beeps(), 1);
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCardNumberVal").text(), "A1B2C3D4E5");
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCardStatusVal").text(), "OK");
    EXPECT_TRUE(Control<QPushButton>(*dialog, "cmdOK").isEnabled());

    // Lifted and laid down again while it is still the number shown: not taken again.
    Present(nullptr);
    Ticks(*dialog, 2);
    Present(&CardA);
    Ticks(*dialog, 2);
    EXPECT_EQ(Desktop.Beeps(), 1);

    Present(&CardB);
    Ticks(*dialog, 4);
    EXPECT_EQ(Desktop.Beeps(), 2);
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCardNumberVal").text(), "0A1B2C3D4E");
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCardStatusVal").text(), "Card already in database");
}

TEST_F(CardHolderDialogTest, ATypedNumberIsCheckedAsTypedOrReversed) {
    AddCardHolder("4E3D2C1B0A", "Reversed");
    auto dialog = Open();
    Check(*dialog, "0a1b2c3d4", false);
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCardNumberVal").text(), "Waiting for card");
    EXPECT_FALSE(Control<QPushButton>(*dialog, "cmdOK").isEnabled());
    EXPECT_FALSE(ReverseStored());

    Check(*dialog, "0a1b2c3d4e", false);
    EXPECT_EQ(Control<QLineEdit>(*dialog, "txtCustomCardNumber").text(), "0A1B2C3D4E");
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCardNumberVal").text(), "0A1B2C3D4E");
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCardStatusVal").text(), "OK");
    EXPECT_TRUE(ReverseStored());
    EXPECT_FALSE(StoredReverse());
    EXPECT_TRUE(Control<QPushButton>(*dialog, "cmdOK").isEnabled());

    Check(*dialog, "0a1b2c3d4e", true);
    EXPECT_EQ(Control<QLineEdit>(*dialog, "txtCustomCardNumber").text(), "0A1B2C3D4E");
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCardNumberVal").text(), "4E3D2C1B0A");
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCardStatusVal").text(), "Card already in database");
    EXPECT_TRUE(StoredReverse());
    EXPECT_EQ(Desktop.Beeps(), 0);

    // The next dialog opens with the option as last submitted.
    TfrmCardHolder next(Desktop, *Session, RunSettings);
    EXPECT_TRUE(Control<QCheckBox>(next, "chkReverse").isChecked());

    // A card on the reader replaces a typed number on the next tick.
    Present(&CardA);
    Ticks(*dialog, 1);
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCardNumberVal").text(), "A1B2C3D4E5");
}

// The Reverse box's setting cannot be stored: the operator is told at the button, and the typed
// number is checked all the same.
TEST_F(CardHolderDialogTest, AReverseSettingThatCannotBeStoredIsToldAndTheNumberStillChecked) {
    AddCardHolder("4E3D2C1B0A", "Reversed");
    IniFile(SettingsFileName()).WriteBool("cardnumbers", "reverseuserinput", false);
    const QByteArray before = ReadWholeFile(SettingsFileName());
    QFile::setPermissions(SettingsFileName(), QFileDevice::ReadOwner);
    auto dialog = Open();
    Check(*dialog, "0a1b2c3d4e", true);
    EXPECT_THAT(MessageBoxes::ShownTexts(),
                ElementsAre("The Reverse choice could not be saved: Unable to write to " +
                            SettingsFileName()));
    EXPECT_EQ(MessageBoxes::ShownMessages().first().kind, MessageBoxes::Warning);
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCardNumberVal").text(), "4E3D2C1B0A");
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCardStatusVal").text(), "Card already in database");
    EXPECT_TRUE(Control<QCheckBox>(*dialog, "chkReverse").isChecked());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(ReadWholeFile(SettingsFileName()), before);
    EXPECT_THAT(UntranslatedTexts({"The Reverse choice could not be saved: %s"}), IsEmpty());
}

TEST_F(CardHolderDialogTest, TheNumberFieldTakesHexadecimalDigitsOnlyAndBeepsAtTheRest) {
    auto dialog = Open();
    QLineEdit* field = &Control<QLineEdit>(*dialog, "txtCustomCardNumber");
    field->setFocus();
    QTest::keyClicks(field, "0g a;F");
    EXPECT_EQ(field->text(), "0aF");
    EXPECT_EQ(Desktop.Beeps(), 3);
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_EQ(field->text(), "0aF");
    EXPECT_EQ(Desktop.Beeps(), 4);
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Desktop.Beeps(), 5);
    QTest::keyClick(field, Qt::Key_Left);
    QTest::keyClick(field, Qt::Key_Delete);
    EXPECT_EQ(field->text(), "0a");
    EXPECT_EQ(Desktop.Beeps(), 5);
    QTest::keyClicks(field, "123456789abc");
    EXPECT_EQ(field->text(), "0a12345678");
}

TEST_F(CardHolderDialogTest, SavingANewCardholderReplacesWhoeverHadTheNumber) {
    TStandController& front = AddController("Front");
    AddCardHolder("A1B2C3D4E5", "Old holder", {}, {}, true);
    AddZone(front, "A1B2C3D4E5", 1);
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    auto dialog = Open();
    Present(&CardA);
    Ticks(*dialog, 1);
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCardStatusVal").text(),
              "OK"); // the old holder was deleted
    const QString name = QString(25, 'x') + "O\"Brien \"Ünïcødé\" 中文 %_'" + QString(30, 'y');
    Control<QLineEdit>(*dialog, "txtCardHolder").setText(name);
    Control<QLineEdit>(*dialog, "txtCustom1").setText("a\"b");
    Control<QLineEdit>(*dialog, "txtCustom4").setText("Zoë");
    QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdOK"), Qt::LeftButton);
    EXPECT_TRUE(WritesDone());

    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_THAT(MessageBoxes::ShownTexts(), IsEmpty());
    EXPECT_THAT(Column("SELECT CardHolder FROM CardHolders"), ElementsAre(name.left(50)));
    EXPECT_THAT(Column("SELECT CardCustom1 || \"|\" || CardCustom2 || \"|\" || CardCustom4 || "
                       "\"|\" || Deleted FROM CardHolders"),
                ElementsAre("a\"b||Zoë|0"));
    EXPECT_EQ(Count("SELECT COUNT(*) FROM CardZones"), 0);
    for (const QString column : {"CardAdded", "CardLastEdit"}) {
        const QDateTime stored = QDateTime::fromString(
            Column("SELECT " + column + " FROM CardHolders").value(0), "yyyy-MM-dd HH:mm:ss");
        EXPECT_GE(stored, before) << column.toStdString();
    }
}

TEST_F(CardHolderDialogTest, EditingTheNameKeepsTheZonesAndReplacingTheCardDropsThem) {
    TStandController& front = AddController("Front");
    AddCardHolder("0A1B2C3D4E", "Anna", "one", "two");
    AddZone(front, "0A1B2C3D4E", 2);

    auto dialog = Open("0A1B2C3D4E");
    EXPECT_TRUE(dialog->CardEdit);
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCardNumberVal").text(), "0A1B2C3D4E");
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCardStatusVal").text(), "OK");
    EXPECT_EQ(Control<QLineEdit>(*dialog, "txtCustom2").text(), "two");
    EXPECT_TRUE(Control<QPushButton>(*dialog, "cmdReplaceCard").isVisible());
    EXPECT_FALSE(Control<QLineEdit>(*dialog, "txtCustomCardNumber").isVisible());
    EXPECT_FALSE(Control<QCheckBox>(*dialog, "chkReverse").isVisible());
    EXPECT_FALSE(Polling(*dialog));
    Control<QLineEdit>(*dialog, "txtCardHolder").setText("Anna B.");
    QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdOK"), Qt::LeftButton);
    EXPECT_TRUE(WritesDone());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_THAT(Column("SELECT CardHolder FROM CardHolders"), ElementsAre("Anna B."));
    EXPECT_THAT(Zones(front, "0A1B2C3D4E"), ElementsAre("2"));
    EXPECT_NE(Column("SELECT CardLastEdit FROM CardHolders").value(0), "2001-02-03 04:05:06");

    dialog = Open("0A1B2C3D4E");
    Present(&CardA);
    Ticks(*dialog, 2);
    EXPECT_EQ(Desktop.Beeps(), 0); // no polling before "Replace..."
    QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdReplaceCard"), Qt::LeftButton);
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCardStatusVal").text(), "Waiting for card");
    EXPECT_TRUE(Polling(*dialog));
    EXPECT_TRUE(Control<QPushButton>(*dialog, "cmdReplaceCancel").isVisible());
    EXPECT_FALSE(Control<QPushButton>(*dialog, "cmdReplaceCard").isVisible());
    Ticks(*dialog, 2);
    EXPECT_EQ(Desktop.Beeps(), 1);
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCardNumberVal").text(), "A1B2C3D4E5");
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCardStatusVal").text(), "OK");
    EXPECT_FALSE(Control<QPushButton>(*dialog, "cmdReplaceCancel").isVisible());
    QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdOK"), Qt::LeftButton);
    EXPECT_TRUE(WritesDone());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_THAT(Column("SELECT CardNumber || \" \" || CardHolder FROM CardHolders"),
                ElementsAre("A1B2C3D4E5 Anna B."));
    EXPECT_EQ(Count("SELECT COUNT(*) FROM CardZones"), 0);
    // The old card is still in Front's key: that key must be written again.
    EXPECT_THAT(MarkedControllers(), ElementsAre("Front"));
}

// A legacy import stores numbers as they were decoded, of any length.
TEST_F(CardHolderDialogTest, AnImportedNumberOfAnotherLengthStaysEditableUntilReplaced) {
    for (const QString imported : {"0a1b2c3d", "0A1B2C3D4E5F"}) {
        SCOPED_TRACE(imported.toStdString());
        Database().Inner->ExecuteQuery("DELETE * FROM CardZones");
        Database().Inner->ExecuteQuery("DELETE * FROM CardHolders");
        Controllers().clear();
        Database().Inner->ExecuteQuery("DELETE * FROM Controllers");
        TStandController& front = AddController("Front");
        AddCardHolder(imported, "Anna", "one");
        AddZone(front, imported, 1);
        Present(nullptr);

        auto dialog = Open(imported);
        ASSERT_TRUE(dialog->CardEdit);
        EXPECT_EQ(Control<QLabel>(*dialog, "lblCardNumberVal").text(), imported);
        EXPECT_TRUE(Control<QPushButton>(*dialog, "cmdOK").isEnabled());
        Control<QLineEdit>(*dialog, "txtCardHolder").setText("Anna B.");
        Control<QLineEdit>(*dialog, "txtCustom1").setText("two");
        QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdOK"), Qt::LeftButton);
        EXPECT_TRUE(WritesDone());
        EXPECT_EQ(dialog->result(), QDialog::Accepted);
        EXPECT_THAT(MessageBoxes::ShownTexts(), IsEmpty());
        EXPECT_THAT(Column("SELECT CardNumber || \" \" || CardHolder || \" \" || CardCustom1 "
                           "FROM CardHolders"),
                    ElementsAre(imported + " Anna B. two"));
        EXPECT_THAT(Zones(front, imported), ElementsAre("1"));
        EXPECT_THAT(MarkedControllers(), IsEmpty());

        // A card read in its place is a card number like any other.
        dialog = Open(imported);
        QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdReplaceCard"), Qt::LeftButton);
        Present(&CardA);
        Ticks(*dialog, 1);
        EXPECT_EQ(Control<QLabel>(*dialog, "lblCardNumberVal").text(), "A1B2C3D4E5");
        EXPECT_TRUE(Control<QPushButton>(*dialog, "cmdOK").isEnabled());
        QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdOK"), Qt::LeftButton);
        EXPECT_TRUE(WritesDone());
        EXPECT_EQ(dialog->result(), QDialog::Accepted);
        EXPECT_THAT(Column("SELECT CardNumber || \" \" || CardHolder FROM CardHolders"),
                    ElementsAre("A1B2C3D4E5 Anna B."));
        EXPECT_EQ(Count("SELECT COUNT(*) FROM CardZones"), 0);
        EXPECT_THAT(MarkedControllers(), ElementsAre("Front"));
    }
}

// What reaches the save without the dialog's checks: a replacement or a new number that is no
// card number is refused with nothing changed, and an imported number is kept as it is.
TEST_F(CardHolderDialogTest, ASaveRefusesANumberOfAnotherLengthUnlessItIsTheLoadedOne) {
    TStandController& front = AddController("Front");
    AddCardHolder("0a1b2c3d", "Anna");
    AddZone(front, "0a1b2c3d", 2);
    const TCardHolder loaded = LoadCardHolder(Database(), "0a1b2c3d").value();
    TCardHolder record;
    record.CardHolder = "Anna B.";
    struct {
        const char* number;
        bool edit;
        TCardHolderSave::TOutcome outcome;
    } cases[] = {
        {"0A1B2C3D4", true, TCardHolderSave::NotACardNumber},
        {"0A1B2C3D4E5F", true, TCardHolderSave::NotACardNumber},
        {"0A1B2C3D4", false, TCardHolderSave::NotACardNumber},
        {"0a1b2c3d", false, TCardHolderSave::NotACardNumber},
        {"0a1b2c3d", true, TCardHolderSave::Saved},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.number) + (c.edit ? " edited" : " new"));
        record.CardNumber = c.number;
        const TCardHolderSave saved =
            c.edit
                ? SaveEditedCardHolder(Database(), record, loaded, Controllers(), Session->Author())
                : SaveNewCardHolder(Database(), record, loaded, Controllers(), Session->Author());
        EXPECT_EQ(saved.Outcome, c.outcome);
        EXPECT_EQ(Count("SELECT COUNT(*) FROM CardHolders"), 1);
        EXPECT_THAT(Zones(front, "0a1b2c3d"), ElementsAre("2"));
        EXPECT_THAT(MarkedControllers(), IsEmpty());
    }
    EXPECT_THAT(Column("SELECT CardNumber || \" \" || CardHolder FROM CardHolders"),
                ElementsAre("0a1b2c3d Anna B."));
}

TEST_F(CardHolderDialogTest, CancelBesideReplaceGoesBackToTheLoadedCard) {
    AddCardHolder("0A1B2C3D4E", "Anna");
    AddCardHolder("A1B2C3D4E5", "Bert");
    auto dialog = Open("0A1B2C3D4E");
    QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdReplaceCard"), Qt::LeftButton);
    Present(&CardA);
    Ticks(*dialog, 1);
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCardStatusVal").text(), "Card already in database");
    EXPECT_TRUE(Control<QPushButton>(*dialog, "cmdReplaceCancel").isVisible());

    QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdReplaceCancel"), Qt::LeftButton);
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCardNumberVal").text(), "0A1B2C3D4E");
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCardStatusVal").text(), "OK");
    EXPECT_FALSE(Control<QPushButton>(*dialog, "cmdReplaceCancel").isVisible());
    EXPECT_TRUE(Control<QPushButton>(*dialog, "cmdReplaceCard").isVisible());
    EXPECT_FALSE(Polling(*dialog));
    dialog->FormActivate();
    EXPECT_FALSE(Polling(*dialog));
}

// A save the database refuses is said once, as an error with the database's reason; the dialog
// stays with what the operator typed, and OK saves it once the database takes it.
TEST_F(CardHolderDialogTest, ASaveTheDatabaseRefusesIsSaidWithItsReasonAndKeepsWhatWasTyped) {
    struct Case {
        const char* what;
        QString loaded; // empty: a new cardholder
        QString refused;
    };
    for (const Case& c : {
             Case{"an edit", "0A1B2C3D4E", "UPDATE CardHolders"},
             Case{"an edit's journal entry", "0A1B2C3D4E", "INSERT INTO Journal"},
             Case{"a new cardholder", "", "INSERT INTO CardHolders"},
             Case{"a new cardholder's journal entry", "", "INSERT INTO Journal"},
         }) {
        SCOPED_TRACE(c.what);
        Database().Inner->ExecuteQuery("DELETE * FROM CardHolders");
        MessageBoxes::ClearShown();
        if (!c.loaded.isEmpty())
            AddCardHolder(c.loaded, "Anna");
        auto dialog = c.loaded.isEmpty() ? Open() : Open(c.loaded);
        if (c.loaded.isEmpty())
            Check(*dialog, "0A1B2C3D4E", false);
        Control<QLineEdit>(*dialog, "txtCardHolder").setText("Anna B.");
        Database().FailWhenContaining = c.refused;
        QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdOK"), Qt::LeftButton);
        EXPECT_TRUE(WritesDone());
        Database().FailWhenContaining.clear();

        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(Control<QLineEdit>(*dialog, "txtCardHolder").text(), "Anna B.");
        ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1);
        EXPECT_EQ(MessageBoxes::ShownMessages()[0].kind, MessageBoxes::Error);
        EXPECT_TRUE(MessageBoxes::ShownMessages()[0].text.startsWith(
            "Got an error while adding the card to the database!\nrefused by the test: " +
            c.refused))
            << MessageBoxes::ShownMessages()[0].text.toStdString();
        EXPECT_EQ(Column("SELECT CardHolder FROM CardHolders"),
                  c.loaded.isEmpty() ? QStringList() : QStringList{"Anna"});

        QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdOK"), Qt::LeftButton);
        EXPECT_TRUE(WritesDone());
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(Column("SELECT CardHolder FROM CardHolders"), QStringList{"Anna B."});
    }
    EXPECT_THAT(UntranslatedTexts({"Got an error while adding the card to the database!\n%s"}),
                IsEmpty());
}

// Another workstation saved the cardholder after this dialog loaded it: OK says so and saves
// nothing; on request the dialog shows what the database holds now, and the next OK saves over
// that. Deleted elsewhere, the dialog says so (no error) and closes.
TEST_F(CardHolderDialogTest, AStaleDialogIsRefusedAndOffersTheCurrentValues) {
    const QString changed = "This cardholder was changed on another workstation after this window "
                            "opened it, so nothing was saved. Do you want to load the current "
                            "values? What you changed here is then lost.";
    for (const bool reload : {false, true}) {
        SCOPED_TRACE(reload ? "reloaded" : "kept");
        Database().Inner->ExecuteQuery("DELETE * FROM CardHolders");
        AddCardHolder("0A1B2C3D4E", "Anna");
        auto dialog = Open("0A1B2C3D4E");
        Exec("UPDATE CardHolders SET CardHolder = \"Anna (theirs)\", CardCustom1 = \"Desk 4\"");
        MessageBoxes::ClearShown();
        MessageBoxes::SetNextAnswer(reload);
        Control<QLineEdit>(*dialog, "txtCardHolder").setText("Anna (mine)");
        QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdOK"), Qt::LeftButton);
        EXPECT_TRUE(WritesDone());
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(MessageBoxes::ShownTexts(), QStringList{changed});
        EXPECT_EQ(Column("SELECT CardHolder FROM CardHolders"), QStringList{"Anna (theirs)"});
        EXPECT_EQ(Control<QLineEdit>(*dialog, "txtCardHolder").text(),
                  reload ? "Anna (theirs)" : "Anna (mine)");
        if (!reload)
            continue;
        EXPECT_EQ(Control<QLineEdit>(*dialog, "txtCustom1").text(), "Desk 4");
        Control<QLineEdit>(*dialog, "txtCardHolder").setText("Anna (mine)");
        QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdOK"), Qt::LeftButton);
        EXPECT_TRUE(WritesDone());
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(Column("SELECT CardHolder || \" \" || CardCustom1 FROM CardHolders"),
                  QStringList{"Anna (mine) Desk 4"});
    }

    auto dialog = Open("0A1B2C3D4E");
    Exec("UPDATE CardHolders SET Deleted = 1");
    MessageBoxes::ClearShown();
    QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdOK"), Qt::LeftButton);
    EXPECT_TRUE(WritesDone());
    EXPECT_FALSE(dialog->isVisible());
    ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1);
    EXPECT_EQ(MessageBoxes::ShownMessages()[0].kind, MessageBoxes::Information);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM CardHolders WHERE NOT Deleted"), 0);
}

TEST_F(CardHolderDialogTest, WithoutTheOneWireLibraryTypedNumbersStillWorkAndNothingPolls) {
    TMaximReader::SetLibraryName(FakeTmex::MissingFileName);
    auto dialog = Open();
    EXPECT_THAT(MessageBoxes::ShownTexts(), ElementsAre("Unable not load TMEX library"));
    EXPECT_EQ(PollerOf(dialog.get()), nullptr);
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCardNumberVal").text(), "Waiting for card");
    Check(*dialog, "0a1b2c3d4e", false);
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCardNumberVal").text(), "0A1B2C3D4E");
    QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdOK"), Qt::LeftButton);
    EXPECT_TRUE(WritesDone());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM CardHolders"), 1);
}

// One card, one cardholder: what a save does with a number that someone else has (or had).
TEST_F(CardHolderDialogTest, ANumberThatSomeoneElseHasOrHadIsNeverShared) {
    enum Mode { Replace, New };
    struct Case {
        const char* what;
        Mode mode;
        std::function<void(TStandController& front, TStandController& back)> rows;
        bool okAvailable;
        std::optional<bool> answer; // the reply to a question, when one is expected
        std::function<void()> meanwhile;
        bool accepted;
        QStringList holders; // "number name deleted", by name
        int zonesOfA;        // CardZones rows of A1B2C3D4E5 afterwards
        QStringList marked;
        QStringList shown;
    };
    const QString taken = "Card A1B2C3D4E5 already belongs to Carl. Choose another card.";
    const QString question =
        "Card A1B2C3D4E5 belongs to Bert. Do you want to replace that cardholder with this one?";
    const Case cases[] = {
        {"replaced by a deleted holder's card: the number is taken over with nothing left",
         Replace,
         [this](TStandController& front, TStandController& back) {
             AddCardHolder("A1B2C3D4E5", "Old", {}, {}, true);
             AddZone(back, "A1B2C3D4E5", 2);
             AddZone(front, "0A1B2C3D4E", 1);
         },
         true,
         {},
         nullptr,
         true,
         {"A1B2C3D4E5 Anna 0"},
         0,
         {"Front", "Back"},
         {}},
        {"replaced by a live holder's card: OK is not available",
         Replace,
         [this](TStandController&, TStandController& back) {
             AddCardHolder("A1B2C3D4E5", "Bert");
             AddZone(back, "A1B2C3D4E5", 1);
         },
         false,
         {},
         nullptr,
         false,
         {"0A1B2C3D4E Anna 0", "A1B2C3D4E5 Bert 0"},
         1,
         {},
         {}},
        {"replaced by a card that a holder took meanwhile: refused, naming both",
         Replace,
         [this](TStandController& front, TStandController&) { AddZone(front, "0A1B2C3D4E", 1); },
         true,
         {},
         [this] { AddCardHolder("A1B2C3D4E5", "Carl"); },
         false,
         {"0A1B2C3D4E Anna 0", "A1B2C3D4E5 Carl 0"},
         0,
         {},
         {taken}},
        {"a new holder of a deleted holder's card: no question, the old row and zones go",
         New,
         [this](TStandController&, TStandController& back) {
             AddCardHolder("A1B2C3D4E5", "Old", {}, {}, true);
             AddZone(back, "A1B2C3D4E5", 1);
         },
         true,
         {},
         nullptr,
         true,
         {"0A1B2C3D4E Anna 0", "A1B2C3D4E5 New 0"},
         0,
         {"Back"},
         {}},
        {"a new holder of a live holder's card, and the operator keeps the old one",
         New,
         [this](TStandController&, TStandController& back) {
             AddCardHolder("A1B2C3D4E5", "Bert");
             AddZone(back, "A1B2C3D4E5", 1);
         },
         true,
         false,
         nullptr,
         false,
         {"0A1B2C3D4E Anna 0", "A1B2C3D4E5 Bert 0"},
         1,
         {},
         {question}},
        {"a new holder of a live holder's card, replacing them",
         New,
         [this](TStandController&, TStandController& back) {
             AddCardHolder("A1B2C3D4E5", "Bert");
             AddZone(back, "A1B2C3D4E5", 1);
         },
         true,
         true,
         nullptr,
         true,
         {"0A1B2C3D4E Anna 0", "A1B2C3D4E5 New 0"},
         0,
         {"Back"},
         {question}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Database().Inner->ExecuteQuery("DELETE * FROM CardZones");
        Database().Inner->ExecuteQuery("DELETE * FROM CardHolders");
        Controllers().clear();
        Database().Inner->ExecuteQuery("DELETE * FROM Controllers");
        MessageBoxes::ClearShown();
        TStandController& front = AddController("Front");
        TStandController& back = AddController("Back");
        AddCardHolder("0A1B2C3D4E", "Anna");
        c.rows(front, back);

        Present(nullptr);
        auto dialog = Open(c.mode == Replace ? QString("0A1B2C3D4E") : QString());
        if (c.mode == Replace) {
            QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdReplaceCard"), Qt::LeftButton);
            Present(&CardA);
            Ticks(*dialog, 1);
        } else {
            Check(*dialog, "A1B2C3D4E5", false);
            Control<QLineEdit>(*dialog, "txtCardHolder").setText("New");
        }
        ASSERT_EQ(Control<QLabel>(*dialog, "lblCardNumberVal").text(), "A1B2C3D4E5");
        EXPECT_EQ(Control<QPushButton>(*dialog, "cmdOK").isEnabled(), c.okAvailable);
        if (c.meanwhile)
            c.meanwhile();
        if (c.answer)
            MessageBoxes::SetNextAnswer(*c.answer);
        // Pressed whether it is available or not: an unavailable OK must do nothing.
        Control<QPushButton>(*dialog, "cmdOK").click();
        EXPECT_TRUE(WritesDone());
        EXPECT_EQ(dialog->result() == QDialog::Accepted, c.accepted);
        EXPECT_EQ(Column("SELECT CardNumber || \" \" || CardHolder || \" \" || Deleted FROM "
                         "CardHolders ORDER BY CardHolder ASC"),
                  c.holders);
        EXPECT_EQ(Count("SELECT COUNT(*) FROM CardZones WHERE CardNumber = \"A1B2C3D4E5\""),
                  c.zonesOfA);
        EXPECT_EQ(MarkedControllers(), c.marked);
        EXPECT_EQ(MessageBoxes::ShownTexts(), c.shown);
        if (!c.accepted && c.mode == Replace) {
            // The operator can see why and go back to the holder's own card.
            EXPECT_EQ(Control<QLabel>(*dialog, "lblCardStatusVal").text(),
                      "Card already in database");
            EXPECT_FALSE(Control<QPushButton>(*dialog, "cmdOK").isEnabled());
            QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdReplaceCancel"), Qt::LeftButton);
            EXPECT_TRUE(Control<QPushButton>(*dialog, "cmdOK").isEnabled());
        }
    }
}

TEST_F(CardHolderDialogTest, NamesAndCustomTextsTakeFiftyCharactersAsTheyAreSeen) {
    const QString key = QString::fromUtf8("\xF0\x9F\x94\x91"); // one character, two UTF-16 units
    struct {
        QString typed;
        QString kept;
    } cases[] = {
        {key.repeated(50), key.repeated(50)},
        {key.repeated(51), key.repeated(50)},
        {QString(49, 'x') + key, QString(49, 'x') + key},
        {QString(49, 'x') + key + key, QString(49, 'x') + key},
        {QString(50, 'x') + key, QString(50, 'x')},
    };
    auto dialog = Open();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        for (QLineEdit* edit : {&Control<QLineEdit>(*dialog, "txtCardHolder"),
                                &Control<QLineEdit>(*dialog, "txtCustom1"),
                                &Control<QLineEdit>(*dialog, "txtCustom4")}) {
            edit->clear();
            // Typed a character at a time (an emoji comes as one key event with two units).
            for (const uint codePoint : c.typed.toUcs4()) {
                QKeyEvent press(
                    QEvent::KeyPress, 0, Qt::NoModifier,
                    QString::fromUcs4(reinterpret_cast<const char32_t*>(&codePoint), 1));
                QApplication::sendEvent(edit, &press);
            }
            EXPECT_EQ(edit->text(), c.kept);
        }
        // A paste into the middle is cut where it went in, never splitting a character.
        Control<QLineEdit>(*dialog, "txtCustom2").setText(QString(48, 'x'));
        Control<QLineEdit>(*dialog, "txtCustom2").setCursorPosition(10);
        Control<QLineEdit>(*dialog, "txtCustom2").insert(key + key + key);
        EXPECT_EQ(Control<QLineEdit>(*dialog, "txtCustom2").text(),
                  QString(10, 'x') + key + key + QString(38, 'x'));
    }
    Check(*dialog, "0A1B2C3D4E", false);
    Control<QLineEdit>(*dialog, "txtCardHolder").setText(key.repeated(50));
    QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdOK"), Qt::LeftButton);
    EXPECT_TRUE(WritesDone());
    EXPECT_THAT(Column("SELECT CardHolder FROM CardHolders"), ElementsAre(key.repeated(50)));
}

} // namespace
