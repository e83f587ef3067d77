#include "readerfixture.h"

#include "cardholders/cardholder.h"
#include "cardholders/cardident.h"
#include "reader/MaximReader.h"
#include "shared/datadir.h"
#include "shared/ini.h"
#include "shared/messagebox.h"

#include "modal.h"
#include "pofile.h"

#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class CardIdentTest : public CardReaderTest {
protected:
    std::unique_ptr<TfrmCardIdent> Open() {
        auto dialog = std::make_unique<TfrmCardIdent>(Desktop, *Session, RunSettings);
        LookOften(dialog.get());
        dialog->show();
        return dialog;
    }
    // What the polling does meanwhile.
    void Ticks(TfrmCardIdent& dialog, int count) { Looks(&dialog, count); }
    static void Go(TfrmCardIdent& dialog, const QString& typed, bool reverse) {
        Control<QLineEdit>(dialog, "txtCardnum").setText(typed);
        Control<QCheckBox>(dialog, "chkReverse").setChecked(reverse);
        QTest::keyClick(&Control<QLineEdit>(dialog, "txtCardnum"), Qt::Key_Return);
    }
    static bool Found(const TfrmCardIdent& dialog) {
        return Control<QGroupBox>(dialog, "grpCardInfo").isVisible() &&
               Control<QPushButton>(dialog, "cmdEdit").isVisible();
    }
};

TEST_F(CardIdentTest, APresentedCardIsLookedUpOnceAndAnotherCardReplacesIt) {
    AddCardHolder("A1B2C3D4E5", "Anna \"A\" Smith");
    auto dialog = Open();
    ASSERT_TRUE(PollerOf(dialog.get()));
    EXPECT_TRUE(PollerOf(dialog.get())->Polling());
    EXPECT_FALSE(Control<QGroupBox>(*dialog, "grpCardInfo").isVisible());
    EXPECT_FALSE(Control<QPushButton>(*dialog, "cmdEdit").isVisible());

    Present(&CardA);
    Ticks(*dialog, 4);
    EXPECT_EQ(Desktop.Beeps(), 1);
    EXPECT_EQ(Control<QLineEdit>(*dialog, "txtCardnum").text(), "A1B2C3D4E5");
    EXPECT_EQ(Control<QLabel>(*dialog, "lblDatabaseVal").text(), "Found!");
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCard").text(), "A1B2C3D4E5");
    EXPECT_EQ(Control<QLabel>(*dialog, "lblName").text(), "Name: Anna \"A\" Smith");
    EXPECT_TRUE(Found(*dialog));
    EXPECT_EQ(Database().Sent("SELECT CardHolder").size(), 1);

    Present(&CardB);
    Ticks(*dialog, 2);
    EXPECT_EQ(Desktop.Beeps(), 2);
    EXPECT_EQ(Control<QLabel>(*dialog, "lblDatabaseVal").text(), "Not found!");
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCard").text(), "0A1B2C3D4E");
    EXPECT_FALSE(Found(*dialog));

    EXPECT_THAT(UntranslatedWindowTexts(dialog.get()), IsEmpty());
    EXPECT_THAT(UntranslatedTexts({"Found!", "Not found!", "Name: %s",
                                   "A valid card number consists of 10 characters"}),
                IsEmpty());
}

TEST_F(CardIdentTest, ATypedNumberIsLookedUpAsTypedOrReversed) {
    AddCardHolder("0A1B2C3D4E", "Straight");
    AddCardHolder("4E3D2C1B0A", "Reversed");
    auto dialog = Open();
    struct {
        bool reverse;
        const char* card;
        const char* name;
    } cases[] = {{false, "0A1B2C3D4E", "Name: Straight"}, {true, "4E3D2C1B0A", "Name: Reversed"}};
    for (const auto& c : cases) {
        Go(*dialog, "0a1b2c3d4e", c.reverse);
        EXPECT_EQ(Control<QLineEdit>(*dialog, "txtCardnum").text(), "0A1B2C3D4E");
        EXPECT_EQ(Control<QLabel>(*dialog, "lblCard").text(), c.card);
        EXPECT_EQ(Control<QLabel>(*dialog, "lblName").text(), c.name);
        EXPECT_TRUE(Found(*dialog));
        EXPECT_EQ(
            IniFile(SettingsFileName()).ReadBool("cardnumbers", "reverseuserinput", !c.reverse),
            c.reverse);
    }
    EXPECT_THAT(MessageBoxes::ShownTexts(), IsEmpty());
}

// The Reverse box's setting cannot be stored: the operator is told at the button, and the typed
// number is looked up all the same.
TEST_F(CardIdentTest, AReverseSettingThatCannotBeStoredIsToldAndTheNumberStillLookedUp) {
    AddCardHolder("4E3D2C1B0A", "Reversed");
    IniFile(SettingsFileName()).WriteBool("cardnumbers", "reverseuserinput", false);
    const QByteArray before = ReadWholeFile(SettingsFileName());
    QFile::setPermissions(SettingsFileName(), QFileDevice::ReadOwner);
    auto dialog = Open();
    Control<QLineEdit>(*dialog, "txtCardnum").setText("0a1b2c3d4e");
    Control<QCheckBox>(*dialog, "chkReverse").setChecked(true);
    QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdIdent"), Qt::LeftButton);
    EXPECT_THAT(MessageBoxes::ShownTexts(),
                ElementsAre("The Reverse choice could not be saved: Unable to write to " +
                            SettingsFileName()));
    EXPECT_EQ(MessageBoxes::ShownMessages().first().kind, MessageBoxes::Warning);
    EXPECT_EQ(Control<QLabel>(*dialog, "lblName").text(), "Name: Reversed");
    EXPECT_TRUE(Found(*dialog));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(ReadWholeFile(SettingsFileName()), before);
}

TEST_F(CardIdentTest, ACardFromTheReaderIsNeverReversed) {
    AddCardHolder("A1B2C3D4E5", "Anna");
    IniFile(SettingsFileName()).WriteBool("cardnumbers", "reverseuserinput", true);
    auto dialog = Open();
    EXPECT_TRUE(Control<QCheckBox>(*dialog, "chkReverse").isChecked());
    Present(&CardA);
    Ticks(*dialog, 1);
    EXPECT_EQ(Control<QLabel>(*dialog, "lblCard").text(), "A1B2C3D4E5");
    EXPECT_EQ(Control<QLabel>(*dialog, "lblDatabaseVal").text(), "Found!");
}

TEST_F(CardIdentTest, ANumberOfNineCharactersIsRefusedAndASoftDeletedCardIsNotFound) {
    AddCardHolder("0A1B2C3D4E", "Gone", {}, {}, true);
    auto dialog = Open();
    Go(*dialog, "0a1b2c3d4", true);
    EXPECT_THAT(MessageBoxes::ShownTexts(),
                ElementsAre("A valid card number consists of 10 characters"));
    EXPECT_EQ(MessageBoxes::ShownMessages().first().kind, MessageBoxes::Information);
    EXPECT_EQ(Control<QLabel>(*dialog, "lblDatabaseVal").text(), "");
    EXPECT_FALSE(IniFile(SettingsFileName()).ValueExists("cardnumbers", "reverseuserinput"));

    Go(*dialog, "0a1b2c3d4e", false);
    EXPECT_EQ(Control<QLabel>(*dialog, "lblDatabaseVal").text(), "Not found!");
    EXPECT_FALSE(Found(*dialog));

    Database().FailWhenContaining = "FROM CardHolders";
    Go(*dialog, "0a1b2c3d4e", false);
    EXPECT_EQ(Control<QLabel>(*dialog, "lblDatabaseVal").text(), "Not found!");
    EXPECT_EQ(MessageBoxes::ShownTexts().size(), 1);
}

TEST_F(CardIdentTest, EditHandsTheReaderToTheCardholderDialogAndClosesTheIdentification) {
    AddCardHolder("A1B2C3D4E5", "Anna");
    auto dialog = Open();
    Present(&CardA);
    Ticks(*dialog, 1);
    ASSERT_TRUE(Found(*dialog));
    TfrmCardIdent* ident = dialog.get();
    bool handedOver = false;
    WhenModal([&](QWidget* modal) {
        auto* holder = qobject_cast<TfrmCardHolder*>(modal);
        ASSERT_TRUE(holder);
        // One reader at a time: the identification let go of its own first.
        handedOver = !PollerOf(ident) && PollerOf(holder);
        EXPECT_TRUE(holder->CardEdit);
        EXPECT_EQ(Control<QLabel>(*holder, "lblCardNumberVal").text(), "A1B2C3D4E5");
        EXPECT_EQ(Control<QLineEdit>(*holder, "txtCardHolder").text(), "Anna");
        Control<QLineEdit>(*holder, "txtCardHolder").setText("Anna B.");
        QTest::mouseClick(&Control<QPushButton>(*holder, "cmdOK"), Qt::LeftButton);
        EXPECT_TRUE(WritesDone());
    });
    QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdEdit"), Qt::LeftButton);
    EXPECT_TRUE(handedOver);
    EXPECT_TRUE(dialog->CloseByEdit);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_THAT(Column("SELECT CardHolder FROM CardHolders"), ElementsAre("Anna B."));
}

TEST_F(CardIdentTest, WithoutTheOneWireLibraryTypedNumbersStillWorkAndNothingPolls) {
    TMaximReader::SetLibraryName(FakeTmex::MissingFileName);
    AddCardHolder("0A1B2C3D4E", "Anna");
    auto dialog = Open();
    EXPECT_THAT(MessageBoxes::ShownTexts(), ElementsAre("Unable not load TMEX library"));
    EXPECT_EQ(PollerOf(dialog.get()), nullptr);
    Go(*dialog, "0a1b2c3d4e", false);
    EXPECT_EQ(Control<QLabel>(*dialog, "lblDatabaseVal").text(), "Found!");
}

} // namespace
