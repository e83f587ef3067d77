#include "readerfixture.h"

#include "cardholders/cardholder.h"
#include "cardholders/cardident.h"
#include "reader/cardpoller.h"
#include "shared/messagebox.h"

#include "modal.h"
#include "pofile.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const QString Stopped =
    "The adapter stopped answering. Cards are read again as soon as it answers.";
const QString Back = "The adapter answers again.";

// A polling window as its test sees it: the window and the number it shows.
struct PollingWindow {
    std::unique_ptr<QWidget> window;
    std::function<QString()> shownNumber;
};

PollingWindow CardHolderDialog(TDesktop& desktop, TProfileSession& session,
                               const TRunSettings& settings) {
    auto dialog = std::make_unique<TfrmCardHolder>(desktop, session, settings);
    dialog->show();
    dialog->FormActivate();
    TfrmCardHolder* d = dialog.get();
    return {std::move(dialog), [d] { return Control<QLabel>(*d, "lblCardNumberVal").text(); }};
}

PollingWindow CardIdentDialog(TDesktop& desktop, TProfileSession& session,
                              const TRunSettings& settings) {
    auto dialog = std::make_unique<TfrmCardIdent>(desktop, session, settings);
    dialog->show();
    TfrmCardIdent* d = dialog.get();
    return {std::move(dialog), [d] { return Control<QLineEdit>(*d, "txtCardnum").text(); }};
}

using AdapterFaultTest = CardReaderTest;

TEST_F(AdapterFaultTest, ThePollingWindowsTellOnceAndReadCardsAgainWhenTheAdapterIsBack) {
    const struct {
        const char* name;
        std::function<PollingWindow(TDesktop&, TProfileSession&, const TRunSettings&)> open;
    } windows[] = {{"cardholder dialog", CardHolderDialog},
                   {"card identification", CardIdentDialog}};
    const std::string sessionStart = "TMExtendedStartSession 1 5 null";
    for (const auto& w : windows) {
        SCOPED_TRACE(w.name);
        WaitForAdapterThread();
        Fake.Reset();
        Fake.SetAdapterAnswering(true);
        MessageBoxes::ClearShown();
        PollingWindow window = w.open(Desktop, *Session, RunSettings);
        LookOften(window.window.get());
        Looks(window.window.get(), 3);

        // A stall breaks the session; a card laid on meanwhile cannot be seen.
        Fake.SetAdapterAnswering(false);
        Present(&CardA);
        ASSERT_TRUE(
            QTest::qWaitFor([] { return !MessageBoxes::ShownMessages().isEmpty(); }, 10000));
        // The poller goes on trying new sessions, and the operator is not told again.
        const int starts = Fake.CallsOf(sessionStart);
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return Fake.CallsOf(sessionStart) >= starts + 3; }, 10000));
        EXPECT_TRUE(PollerOf(window.window.get())->Polling()) << "polling goes on";
        EXPECT_NE(window.shownNumber(), "A1B2C3D4E5");
        ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1);
        EXPECT_EQ(MessageBoxes::ShownMessages()[0].kind, MessageBoxes::Warning);
        EXPECT_EQ(MessageBoxes::ShownMessages()[0].text, Stopped);

        Fake.SetAdapterAnswering(true);
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.shownNumber() == "A1B2C3D4E5"; }, 10000));
        EXPECT_THAT(MessageBoxes::ShownTexts(), ElementsAre(Stopped, Back));
        EXPECT_EQ(MessageBoxes::ShownMessages()[1].kind, MessageBoxes::Information);
    }
    EXPECT_THAT(UntranslatedTexts({Stopped, Back}), IsEmpty());
}

} // namespace
