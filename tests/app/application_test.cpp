#include "shared/errors.h"
#include "shared/messagebox.h"

#include "testenv.h"

#include <QPushButton>
#include <QTest>

#include <stdexcept>

namespace {

class ErrorReportTest : public HomeTest {};

TEST_F(ErrorReportTest, AnErrorEscapingAHandlerIsShownAndTheProgramGoesOn) {
    QPushButton button("go");
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&] {
        ++clicks;
        if (clicks == 1)
            throw VyrError("Unable to write to /x/vyrstandalone.ini");
        if (clicks == 2)
            throw std::runtime_error("disk on fire");
    });
    QTest::mouseClick(&button, Qt::LeftButton);
    QTest::mouseClick(&button, Qt::LeftButton);
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_EQ(clicks, 3) << "the program must keep handling events after an error";
    ASSERT_EQ(MessageBoxes::ShownMessages().size(), 2);
    for (const MessageBoxes::Shown& shown : MessageBoxes::ShownMessages()) {
        EXPECT_EQ(shown.kind, MessageBoxes::Error);
        EXPECT_EQ(shown.title, "VYR Standalone");
    }
    EXPECT_EQ(MessageBoxes::ShownTexts(),
              (QStringList{"Unable to write to /x/vyrstandalone.ini", "disk on fire"}));
}

} // namespace
