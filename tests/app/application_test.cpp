#include "shared/errors.h"
#include "shared/messagebox.h"

#include "testenv.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPushButton>
#include <QTest>

#include <stdexcept>

namespace {

class ErrorReportTest : public HomeTest {};

TEST_F(ErrorReportTest, AnErrorOfAHandlerIsShownAtItsBoundaryAndTheProgramGoesOn) {
    QPushButton button("go");
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&] {
        MessageBoxes::ReportErrors(&button, [&] {
            ++clicks;
            if (clicks == 1)
                throw VyrError("Unable to write to /x/vyrstandalone.ini");
            if (clicks == 2)
                throw std::runtime_error("disk on fire");
        });
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

// A handler that forgot its boundary: the application's last net still reports the error. The
// event is a plain one to a plain object, so nothing but the net itself is on the way.
class ThrowingObject : public QObject {
public:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User)
            throw VyrError("Unable to write to /x/vyrstandalone.ini");
        return QObject::event(event);
    }
};

TEST_F(ErrorReportTest, AnErrorThatEscapesAHandlerIsReportedByTheApplication) {
    ThrowingObject receiver;
    QEvent event(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&receiver, &event));
    ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1);
    EXPECT_EQ(MessageBoxes::ShownMessages()[0].title, "VYR Standalone");
    EXPECT_EQ(MessageBoxes::ShownTexts(), QStringList{"Unable to write to /x/vyrstandalone.ini"});
}

} // namespace
