#include "controllers/controller.h"
#include "controllers/controllerrecords.h"
#include "db/MyDBConnector.h"
#include "shared/messagebox.h"
#include "shared/publictypes.h"

#include "controllerdb.h"
#include "modal.h"
#include "pofile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTest>

#include <functional>

namespace {

using Dialog = TfrmController;

class ControllerDialogTest : public ControllerDbTest {
protected:
    // The stored (ConByte1, ConByte2) after saving a new controller the operator set up so.
    std::pair<int, int> SavedBytes(const std::function<void(Dialog&)>& operatorInput) {
        Dialog dialog(*Session);
        Control<QLineEdit>(dialog, "txtConName").setText("Door");
        operatorInput(dialog);
        QTest::mouseClick(&Control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
        EXPECT_TRUE(WritesDone());
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        const std::vector<QStringList> rows =
            Rows("SELECT ConByte1, ConByte2 FROM Controllers WHERE ConName = \"Door\"");
        Session->Database().ExecuteQuery("DELETE * FROM Controllers WHERE ConName = \"Door\"");
        if (rows.size() != 1 || rows[0].size() != 2)
            return {-1, -1};
        return {rows[0][0].toInt(), rows[0][1].toInt()};
    }
};

TEST_F(ControllerDialogTest, ANewControllerStartsWithTheDefaults) {
    Dialog dialog(*Session);
    EXPECT_FALSE(dialog.ControllerEdit);
    EXPECT_EQ(dialog.windowTitle(), "Standalone controller");
    EXPECT_EQ(Control<QLineEdit>(dialog, "txtConName").text(), "");
    EXPECT_EQ(Control<QLineEdit>(dialog, "txtConCode").text(), "000000");
    ASSERT_EQ(Control<QComboBox>(dialog, "cboRelaisTime").count(), 255);
    EXPECT_EQ(Control<QComboBox>(dialog, "cboRelaisTime").itemText(0), "0.25");
    EXPECT_EQ(Control<QComboBox>(dialog, "cboRelaisTime").itemText(254), "63.75");
    EXPECT_EQ(Control<QComboBox>(dialog, "cboRelaisTime").currentText(), "1.00");
    EXPECT_TRUE(Control<QCheckBox>(dialog, "chkEnableRelais").isChecked());
    EXPECT_FALSE(Control<QCheckBox>(dialog, "chkLEDExtern").isChecked());
    EXPECT_FALSE(Control<QCheckBox>(dialog, "chkInvert").isChecked());
    ASSERT_EQ(Control<QComboBox>(dialog, "cboAccess").count(), 3);
    EXPECT_EQ(Control<QComboBox>(dialog, "cboAccess").itemText(1), "Grant access to all");
    EXPECT_EQ(Control<QComboBox>(dialog, "cboAccess").currentText(), "no changes");
    EXPECT_FALSE(Control<QComboBox>(dialog, "cboAccess").isHidden());
    EXPECT_TRUE(Control<QPushButton>(dialog, "cmdOK").isDefault());

    Control<QLineEdit>(dialog, "txtConName").setText("Front door");
    QTest::mouseClick(&Control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
    EXPECT_TRUE(WritesDone());
    const std::vector<QStringList> rows =
        Rows("SELECT ConType, ConName, ConCode, ConByte1, ConByte2 FROM Controllers");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (QStringList{"VYR292", "Front door", "000000", "2", "4"}));
}

TEST_F(ControllerDialogTest, OptionBytesFollowTheOperatorsChoices) {
    struct Case {
        const char* name;
        std::function<void(Dialog&)> input;
        int conByte1, conByte2;
    };
    const std::vector<Case> cases = {
        {"defaults", [](Dialog&) {}, 2, 4},
        {"relay time off, LED and invert",
         [](Dialog& d) {
             Control<QCheckBox>(d, "chkEnableRelais").setChecked(false);
             Control<QCheckBox>(d, "chkLEDExtern").setChecked(true);
             Control<QCheckBox>(d, "chkInvert").setChecked(true);
         },
         30, 4},
        {"LED only", [](Dialog& d) { Control<QCheckBox>(d, "chkLEDExtern").setChecked(true); }, 10,
         4},
        {"last relay item",
         [](Dialog& d) { Control<QComboBox>(d, "cboRelaisTime").setCurrentIndex(254); }, 2, 255},
        {"first relay item",
         [](Dialog& d) { Control<QComboBox>(d, "cboRelaisTime").setCurrentIndex(0); }, 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SavedBytes(c.input), std::make_pair(c.conByte1, c.conByte2));
    }
}

TEST_F(ControllerDialogTest, EditingShowsTheStoredBytesAndSavesOnlyMeaningfulBits) {
    struct Case {
        int storedByte1, storedByte2;
        bool enableRelais, ledExtern, invert;
        int relaisIndex;
        int savedByte1, savedByte2;
    };
    const std::vector<Case> cases = {
        {0x87, 4, false, false, false, 3, 6, 4}, // bits 0 and 7 dropped, bit 1 set
        {2, 0, true, false, false, -1, 2, 0},    // no relay time: nothing selected, 0 kept
        {0x1A, 255, true, true, true, 254, 26, 255},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "stored " << c.storedByte1 << "/" << c.storedByte2);
        const int32_t id = AddController("Gate", "A1B2C3", c.storedByte1, c.storedByte2);
        TStandController record = Record(id);
        Dialog dialog(*Session);
        dialog.ConEdit(&record);
        EXPECT_TRUE(dialog.ControllerEdit);
        EXPECT_EQ(Control<QCheckBox>(dialog, "chkEnableRelais").isChecked(), c.enableRelais);
        EXPECT_EQ(Control<QCheckBox>(dialog, "chkLEDExtern").isChecked(), c.ledExtern);
        EXPECT_EQ(Control<QCheckBox>(dialog, "chkInvert").isChecked(), c.invert);
        EXPECT_EQ(Control<QComboBox>(dialog, "cboRelaisTime").currentIndex(), c.relaisIndex);
        QTest::mouseClick(&Control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
        EXPECT_TRUE(WritesDone());
        const TStandController saved = Record(id);
        EXPECT_EQ(saved.ConByte1, c.savedByte1);
        EXPECT_EQ(saved.ConByte2, c.savedByte2);
        EXPECT_EQ(saved.ConName, "Gate");
        EXPECT_EQ(saved.ConCode, "A1B2C3");
    }
}

TEST_F(ControllerDialogTest, EditModeChangesOnlyThatControllerAndOffersNoGrant) {
    const int32_t other = AddController("Other", "111111");
    const int32_t id = AddController("Gate", "A1B2C3");
    TStandController record = Record(id);
    Dialog dialog(*Session);
    dialog.ConEdit(&record);
    EXPECT_TRUE(Control<QLabel>(dialog, "lblAccess").isHidden());
    EXPECT_TRUE(Control<QComboBox>(dialog, "cboAccess").isHidden());
    EXPECT_EQ(Control<QLineEdit>(dialog, "txtConName").text(), "Gate");
    EXPECT_EQ(Control<QLineEdit>(dialog, "txtConCode").text(), "A1B2C3");
    Control<QLineEdit>(dialog, "txtConName").setText("Back gate");
    Control<QLineEdit>(dialog, "txtConCode").setText("C0FFEE");
    QTest::mouseClick(&Control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
    EXPECT_TRUE(WritesDone());
    EXPECT_EQ(Record(id).ConName, "Back gate");
    EXPECT_EQ(Record(id).ConCode, "C0FFEE");
    EXPECT_EQ(Record(other).ConName, "Other");
    EXPECT_EQ(Count("SELECT COUNT(*) FROM Controllers"), 2);
}

// A new code without its stored mark would be a key the next start of the program forgets.
TEST_F(ControllerDialogTest, AnEditWhoseMarkTheDatabaseRefusesChangesNothing) {
    const int32_t id = AddController("Gate", "A1B2C3");
    TStandController record = Record(id);
    Database().FailWhenContaining = "INSERT INTO PendingChanges";
    Dialog dialog(*Session);
    dialog.ConEdit(&record);
    Control<QLineEdit>(dialog, "txtConCode").setText("C0FFEE");
    QTest::mouseClick(&Control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
    EXPECT_TRUE(WritesDone());
    EXPECT_FALSE(dialog.Saved.Saved);
    EXPECT_FALSE(record.ChangesMade);
    EXPECT_EQ(Record(id).ConCode, "A1B2C3");
    EXPECT_EQ(Count("SELECT COUNT(*) FROM PendingChanges"), 0);

    Database().FailWhenContaining.clear();
    Dialog again(*Session);
    again.ConEdit(&record);
    Control<QLineEdit>(again, "txtConCode").setText("C0FFEE");
    QTest::mouseClick(&Control<QPushButton>(again, "cmdOK"), Qt::LeftButton);
    EXPECT_TRUE(WritesDone());
    EXPECT_TRUE(again.Saved.KeyOutdated);
    EXPECT_TRUE(record.ChangesMade);
    EXPECT_EQ(Record(id).ConCode, "C0FFEE");
    EXPECT_EQ(Column("SELECT ConID FROM PendingChanges"), QStringList{QString::number(id)});
}

// Another workstation saved the controller after this dialog loaded it: OK says so, saves nothing,
// and on request shows what the database holds now, over which the next OK saves.
TEST_F(ControllerDialogTest, AStaleDialogIsRefusedAndOffersTheCurrentValues) {
    const int32_t id = AddController("Gate", "A1B2C3");
    TStandController record = Record(id);
    const QString changed = "This controller was changed on another workstation after this "
                            "window opened it, so nothing was saved. Do you want to load the "
                            "current values? What you changed here is then lost.";
    for (const bool reload : {false, true}) {
        SCOPED_TRACE(reload ? "reloaded" : "kept");
        Exec(TMyStatement("UPDATE Controllers SET ConName = ?, ConCode = ? WHERE ConID = ?",
                          {"Gate (theirs)", reload ? "0D0E0F" : "0A0B0C", id}));
        MessageBoxes::ClearShown();
        Dialog dialog(*Session);
        dialog.ConEdit(&record);
        Control<QLineEdit>(dialog, "txtConName").setText("Gate (mine)");
        MessageBoxes::SetNextAnswer(reload);
        QTest::mouseClick(&Control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
        EXPECT_TRUE(WritesDone());
        EXPECT_EQ(MessageBoxes::ShownTexts(), QStringList{changed});
        EXPECT_NE(dialog.result(), QDialog::Accepted);
        EXPECT_FALSE(dialog.Saved.Saved);
        EXPECT_EQ(Record(id).ConName, "Gate (theirs)");
        EXPECT_EQ(Control<QLineEdit>(dialog, "txtConName").text(),
                  reload ? "Gate (theirs)" : "Gate (mine)");
        if (!reload)
            continue;
        EXPECT_EQ(Control<QLineEdit>(dialog, "txtConCode").text(), "0D0E0F");
        Control<QLineEdit>(dialog, "txtConName").setText("Gate (mine)");
        QTest::mouseClick(&Control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
        EXPECT_TRUE(WritesDone());
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(Record(id).ConName, "Gate (mine)");
        EXPECT_EQ(Record(id).ConCode, "0D0E0F");
    }

    // Deleted elsewhere: said, not as an error, and the dialog closes.
    Exec(TMyStatement("DELETE * FROM Controllers WHERE ConID = ?", {id}));
    MessageBoxes::ClearShown();
    Dialog dialog(*Session);
    dialog.ConEdit(&record);
    QTest::mouseClick(&Control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
    EXPECT_TRUE(WritesDone());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(dialog.Saved.Conflict, TControllerSaved::Gone);
    ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1);
    EXPECT_EQ(MessageBoxes::ShownMessages()[0].kind, MessageBoxes::Information);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM Controllers"), 0);
}

TEST_F(ControllerDialogTest, TheGrantReachesEveryCardholderNotDeleted) {
    struct Case {
        int access;
        int zone; // 0: no rows expected
    };
    AddCardHolder("12AB000001", "Ann");
    AddCardHolder("34CD000002", "Bob");
    AddCardHolder("56EF000003", "Cas");
    AddCardHolder("78AB000004", "Dee", {}, {}, /*deleted=*/true);
    const int32_t existing = AddController("Existing");
    AddZone(existing, "12AB000001", 1);

    for (const Case& c : {Case{0, 0}, Case{1, 1}, Case{2, 2}}) {
        SCOPED_TRACE(c.access);
        Dialog dialog(*Session);
        Control<QLineEdit>(dialog, "txtConName").setText("New " + QString::number(c.access));
        Control<QComboBox>(dialog, "cboAccess").setCurrentIndex(c.access);
        QTest::mouseClick(&Control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
        EXPECT_TRUE(WritesDone());
        const int32_t id = Count("SELECT MAX(ConID) FROM Controllers");
        const std::vector<QStringList> zones =
            Rows("SELECT CardNumber, ZoneID FROM CardZones WHERE ConID = " + QString::number(id) +
                 " ORDER BY CardNumber ASC");
        if (c.zone == 0) {
            EXPECT_TRUE(zones.empty());
            continue;
        }
        const QString zone = QString::number(c.zone);
        EXPECT_EQ(zones, (std::vector<QStringList>{
                             {"12AB000001", zone}, {"34CD000002", zone}, {"56EF000003", zone}}));
    }
    EXPECT_EQ(Count("SELECT COUNT(*) FROM CardZones WHERE ConID = " + QString::number(existing)),
              1);
}

TEST_F(ControllerDialogTest, NamesAndCodesWithQuotesAreStoredAsTyped) {
    const QString name = "Door \"A\" ('main'); DROP TABLE Controllers";
    const QString code = "12\"4'6";
    Dialog dialog(*Session);
    Control<QLineEdit>(dialog, "txtConName").setText(name);
    Control<QLineEdit>(dialog, "txtConCode").setText(code);
    Control<QComboBox>(dialog, "cboAccess").setCurrentIndex(1);
    AddCardHolder("12AB000001", "Ann");
    QTest::mouseClick(&Control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
    EXPECT_TRUE(WritesDone());
    const std::vector<QStringList> rows = Rows("SELECT ConID, ConName, ConCode FROM Controllers");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][1], name);
    EXPECT_EQ(rows[0][2], code);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM CardZones WHERE ConID = " + rows[0][0]), 1);

    TStandController record = Record(rows[0][0].toInt());
    Dialog edit(*Session);
    edit.ConEdit(&record);
    Control<QLineEdit>(edit, "txtConName").setText(name + "\"");
    QTest::mouseClick(&Control<QPushButton>(edit, "cmdOK"), Qt::LeftButton);
    EXPECT_TRUE(WritesDone());
    EXPECT_EQ(Record(record.ConID).ConName, name + "\"");
}

// The save runs off the window thread: the dialog says so and takes no second OK meanwhile, and
// closing it then does not lose the outcome: the session's record gets the mark of the saved key.
TEST_F(ControllerDialogTest, ClosedWhileSavingTheSaveStillMarksTheController) {
    const int32_t id = AddController("Gate", "A1B2C3");
    ASSERT_TRUE(Session->LoadControllers());
    TStandController& record = *Controllers()[0];
    {
        Dialog dialog(*Session);
        dialog.ConEdit(&record);
        dialog.show();
        Control<QLineEdit>(dialog, "txtConCode").setText("C0FFEE");
        QPushButton& ok = Control<QPushButton>(dialog, "cmdOK");
        QTest::mouseClick(&ok, Qt::LeftButton);
        EXPECT_FALSE(ok.isEnabled());
        EXPECT_TRUE(Control<QLabel>(dialog, "lblSaving").isVisible());
        QTest::mouseClick(&Control<QPushButton>(dialog, "cmdCancel"), Qt::LeftButton);
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
    }
    ASSERT_TRUE(WritesDone());
    EXPECT_TRUE(record.ChangesMade);
    EXPECT_EQ(Record(id).ConCode, "C0FFEE");
    EXPECT_EQ(Column("SELECT ConID FROM PendingChanges"), QStringList{QString::number(id)});
}

TEST_F(ControllerDialogTest, CancelLeavesTheDatabaseAlone) {
    AddCardHolder("12AB000001", "Ann");
    Dialog dialog(*Session);
    Control<QLineEdit>(dialog, "txtConName").setText("Door");
    Control<QComboBox>(dialog, "cboAccess").setCurrentIndex(2);
    QTest::mouseClick(&Control<QPushButton>(dialog, "cmdCancel"), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM Controllers"), 0);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM CardZones"), 0);
}

TEST_F(ControllerDialogTest, AFailedInsertGrantsNothingToAnEarlierController) {
    AddCardHolder("12AB000001", "Ann");
    const int32_t earlier = AddController("Earlier");
    // The insert fails (the table is gone); the last identity still names the earlier row.
    Session->Database().ExecuteQuery("DROP TABLE Controllers");
    ASSERT_TRUE(Rows("SELECT COUNT(*) FROM Controllers")[0][0].startsWith("error"));
    Dialog dialog(*Session);
    Control<QLineEdit>(dialog, "txtConName").setText("Door");
    Control<QComboBox>(dialog, "cboAccess").setCurrentIndex(1);
    QTest::mouseClick(&Control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
    EXPECT_TRUE(WritesDone());
    EXPECT_EQ(Count("SELECT COUNT(*) FROM CardZones WHERE ConID = " + QString::number(earlier)), 0);
}

TEST_F(ControllerDialogTest, RelayTimesUseTheOperatorsDecimalSeparator) {
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::Dutch, QLocale::Netherlands));
    Dialog dialog(*Session);
    QLocale::setDefault(before);
    EXPECT_EQ(Control<QComboBox>(dialog, "cboRelaisTime").itemText(0), "0,25");
    EXPECT_EQ(Control<QComboBox>(dialog, "cboRelaisTime").itemText(3), "1,00");
    EXPECT_EQ(Control<QComboBox>(dialog, "cboRelaisTime").itemText(254), "63,75");
}

// A save the database refuses is said with the database's reason; the dialog stays with what the
// operator typed, and OK saves it once the database takes it.
TEST_F(ControllerDialogTest, ASaveTheDatabaseRefusesIsSaidAndTheDialogKeepsWhatWasTyped) {
    AddCardHolder("12AB000001", "Ann");
    struct Case {
        const char* what;
        bool edit;
        QString refused; // the statement refused
    };
    for (const Case& c : {
             Case{"a new controller", false, "INSERT INTO Controllers"},
             Case{"its journal entry", false, "INSERT INTO Journal"},
             Case{"an edit", true, "UPDATE Controllers"},
         }) {
        SCOPED_TRACE(c.what);
        MessageBoxes::ClearShown();
        for (const char* table : {"Controllers", "CardZones", "PendingChanges", "Journal"})
            Session->Database().ExecuteQuery(QStringLiteral("DELETE * FROM ") + table);
        TStandController record = Record(AddController("Gate", "A1B2C3"));
        Dialog dialog(*Session);
        if (c.edit)
            dialog.ConEdit(&record);
        dialog.show();
        Control<QLineEdit>(dialog, "txtConName").setText("Door");
        Control<QLineEdit>(dialog, "txtConCode").setText("C0FFEE");
        Control<QComboBox>(dialog, "cboAccess").setCurrentIndex(1);
        Database().FailWhenContaining = c.refused;
        QTest::mouseClick(&Control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
        EXPECT_TRUE(WritesDone());

        EXPECT_TRUE(dialog.isVisible());
        EXPECT_NE(dialog.result(), QDialog::Accepted);
        EXPECT_FALSE(dialog.Saved.Saved);
        ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1);
        EXPECT_EQ(MessageBoxes::ShownMessages()[0].kind, MessageBoxes::Error);
        EXPECT_TRUE(MessageBoxes::ShownTexts()[0].startsWith(
            "The controller could not be saved: refused by the test: " + c.refused))
            << MessageBoxes::ShownTexts()[0].toStdString();
        EXPECT_EQ(Control<QLineEdit>(dialog, "txtConName").text(), "Door");
        EXPECT_EQ(Control<QLineEdit>(dialog, "txtConCode").text(), "C0FFEE");

        Database().FailWhenContaining.clear();
        EXPECT_EQ(Column("SELECT ConName FROM Controllers"), QStringList{"Gate"});
        EXPECT_EQ(Count("SELECT COUNT(*) FROM CardZones"), 0);
        EXPECT_EQ(Count("SELECT COUNT(*) FROM Journal"), 0);
        QTest::mouseClick(&Control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
        EXPECT_TRUE(WritesDone());
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(Count("SELECT COUNT(*) FROM Controllers WHERE ConName = \"Door\""), 1);
    }
}

// The controller is stored before every cardholder is given access to it; when the grants are
// refused, none of them is kept, the operator is told so with the reason, and the list gets the
// new controller without a key to write.
TEST_F(ControllerDialogTest, GrantsTheDatabaseRefusesAreSaidAndNoneIsKept) {
    AddCardHolder("12AB000001", "Ann");
    AddCardHolder("34CD000002", "Bob");
    for (const QString refused : {"INSERT INTO CardZones", "INSERT INTO PendingChanges"}) {
        SCOPED_TRACE(refused.toStdString());
        MessageBoxes::ClearShown();
        Dialog dialog(*Session);
        Control<QLineEdit>(dialog, "txtConName").setText("Door " + refused);
        Control<QComboBox>(dialog, "cboAccess").setCurrentIndex(1);
        Database().FailWhenContaining = refused;
        QTest::mouseClick(&Control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
        EXPECT_TRUE(WritesDone());
        Database().FailWhenContaining.clear();

        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_TRUE(dialog.Saved.Saved);
        EXPECT_FALSE(dialog.Saved.KeyOutdated);
        ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1);
        EXPECT_EQ(MessageBoxes::ShownMessages()[0].kind, MessageBoxes::Error);
        EXPECT_TRUE(MessageBoxes::ShownTexts()[0].startsWith(
            "The controller was added, but the cardholders could not be given access to "
            "it: refused by the test: " +
            refused))
            << MessageBoxes::ShownTexts()[0].toStdString();
        EXPECT_EQ(Count("SELECT COUNT(*) FROM Controllers WHERE ConID = " +
                        QString::number(dialog.Saved.ConID)),
                  1);
        EXPECT_EQ(Count("SELECT COUNT(*) FROM CardZones"), 0);
        EXPECT_EQ(Count("SELECT COUNT(*) FROM PendingChanges"), 0);
    }
    EXPECT_EQ(UntranslatedTexts({"The controller could not be saved: %s",
                                 "The controller was added, but the cardholders could not be "
                                 "given access to it: %s"}),
              QStringList());
}

TEST_F(ControllerDialogTest, EveryTextHasItsDutchTranslation) {
    Dialog dialog(*Session);
    EXPECT_EQ(UntranslatedWindowTexts(&dialog), QStringList());
}

TEST_F(ControllerDbTest, AKeyGetsTheCardsOfItsControllerInOneZone) {
    const int32_t front = AddController("Front");
    const int32_t back = AddController("Back");
    AddZone(front, "1111111111", 1);
    AddZone(front, "2222222222", 2);
    AddZone(front, "3333333333", 1);
    AddZone(front, "4444444444", 0);
    AddZone(back, "5555555555", 1);
    EXPECT_EQ(ReadZoneCards(Session->Database(), front, 1),
              (QStringList{"1111111111", "3333333333"}));
    EXPECT_EQ(ReadZoneCards(Session->Database(), front, 2), QStringList{"2222222222"});
    EXPECT_EQ(ReadZoneCards(Session->Database(), back, 2), QStringList{});
    Database().FailWhenContaining = "FROM CardZones";
    EXPECT_EQ(ReadZoneCards(Session->Database(), front, 1), std::nullopt);
}

} // namespace
