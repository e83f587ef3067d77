#include "readerfixture.h"

#include "cardholders/cardholder.h"
#include "cardholders/cardident.h"
#include "reader/sessionrecovery.h"
#include "shared/messagebox.h"

#include "pofile.h"

#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const QString Stopped =
    "The adapter stopped answering. Cards are read again as soon as it answers.";
const QString Back = "The adapter answers again.";

// A polling window as its test sees it: the timer, one tick, and the number it shows.
struct PollingWindow {
    std::unique_ptr<QWidget> window;
    QTimer* timer;
    std::function<void()> tick;
    std::function<QString()> shownNumber;
};

PollingWindow CardHolderDialog(TDesktop& desktop) {
    auto dialog = std::make_unique<TfrmCardHolder>(desktop);
    dialog->show();
    dialog->FormActivate();
    TfrmCardHolder* d = dialog.get();
    return {std::move(dialog), d->Timer, [d] { d->TimerTimer(); },
            [d] { return d->lblCardNumberVal->text(); }};
}

PollingWindow CardIdentDialog(TDesktop& desktop) {
    auto dialog = std::make_unique<TfrmCardIdent>(desktop);
    dialog->show();
    TfrmCardIdent* d = dialog.get();
    return {std::move(dialog), d->Timer, [d] { d->TimerTimer(); },
            [d] { return d->txtCardnum->text(); }};
}

class AdapterFaultTest : public CardReaderTest {
protected:
    static void Ticks(PollingWindow& window, int count) {
        for (int i = 0; i < count; ++i)
            if (window.timer->isActive())
                window.tick();
    }
};

TEST_F(AdapterFaultTest, ThePollingWindowsTellOnceAndReadCardsAgainWhenTheAdapterIsBack) {
    const struct {
        const char* name;
        std::function<PollingWindow(TDesktop&)> open;
    } windows[] = {{"cardholder dialog", CardHolderDialog},
                   {"card identification", CardIdentDialog}};
    for (const auto& w : windows) {
        SCOPED_TRACE(w.name);
        Fake.Reset();
        Fake.SetAdapterAnswering(true);
        MessageBoxes::ClearShown();
        PollingWindow window = w.open(Desktop);
        Ticks(window, 3);

        // A stall breaks the session; a card laid on meanwhile cannot be seen.
        Fake.SetAdapterAnswering(false);
        Present(&CardA);
        Ticks(window, 300);
        EXPECT_TRUE(window.timer->isActive()) << "polling goes on";
        EXPECT_NE(window.shownNumber(), "A1B2C3D4E5");
        ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1);
        EXPECT_EQ(MessageBoxes::ShownMessages()[0].kind, MessageBoxes::Warning);
        EXPECT_EQ(MessageBoxes::ShownMessages()[0].text, Stopped);
        // Backing off: far fewer session starts than ticks.
        const std::vector<std::string> calls = Fake.Calls();
        EXPECT_LT(std::count(calls.begin(), calls.end(), "TMExtendedStartSession 1 5 null"), 15);

        Fake.SetAdapterAnswering(true);
        Ticks(window, TSessionRecovery::LongestWaitTicks + 1);
        EXPECT_EQ(window.shownNumber(), "A1B2C3D4E5");
        EXPECT_THAT(MessageBoxes::ShownTexts(), ElementsAre(Stopped, Back));
        EXPECT_EQ(MessageBoxes::ShownMessages()[1].kind, MessageBoxes::Information);
    }
    EXPECT_THAT(UntranslatedTexts({Stopped, Back}), IsEmpty());
}

} // namespace
