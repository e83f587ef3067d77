#include "modal.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

namespace {

// Tests reach every control through Control; a lookup that quietly took the wrong widget would let
// them check the wrong thing, so each way of missing must fail the test that asked.
class ControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        Window.setObjectName("frmSample");
        Ok = new QPushButton("OK", &Window);
        Ok->setObjectName("cmdOK");
        auto* panel = new QWidget(&Window);
        auto* caption = new QLabel("Name:", panel);
        caption->setObjectName("lblName");
        auto* action = new QAction("&Delete", &Window);
        action->setObjectName("mnuDelete");
        for (int i = 0; i < 2; ++i)
            (new QLabel(panel))->setObjectName("lblTwice");
    }
    // Runs a lookup that must fail; the failure it records is checked by the caller.
    template <typename T> bool Throws(const char* objectName) {
        try {
            Control<T>(Window, objectName);
        } catch (const TMissingControl&) {
            return true;
        }
        return false;
    }
    QWidget Window;
    QPushButton* Ok = nullptr;
};

TEST_F(ControlTest, FindsTheOneControlOfItsNameAtAnyDepthWidgetOrAction) {
    EXPECT_EQ(&Control<QPushButton>(Window, "cmdOK"), Ok);
    EXPECT_EQ(&Control<QAbstractButton>(Window, "cmdOK"), Ok);
    EXPECT_EQ(Control<QLabel>(Window, "lblName").text(), "Name:");
    EXPECT_EQ(Control<QAction>(Window, "mnuDelete").text(), "&Delete");
}

TEST_F(ControlTest, AMissingForeignOrAmbiguousControlFailsTheTestWithTheReason) {
    bool thrown = false;
    EXPECT_NONFATAL_FAILURE(thrown = Throws<QPushButton>("cmdCancel"),
                            "QWidget \"frmSample\" has no control \"cmdCancel\"");
    EXPECT_TRUE(thrown);
    thrown = false;
    EXPECT_NONFATAL_FAILURE(thrown = Throws<QLineEdit>("lblName"),
                            "has \"lblName\" as a QLabel, not a QLineEdit");
    EXPECT_TRUE(thrown);
    thrown = false;
    EXPECT_NONFATAL_FAILURE(thrown = Throws<QLabel>("lblTwice"),
                            "has 2 controls named \"lblTwice\"");
    EXPECT_TRUE(thrown);
}

} // namespace
