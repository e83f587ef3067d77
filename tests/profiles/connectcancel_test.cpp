// The dialogs that connect to a server can be called off while a server that does not answer
// keeps them connecting: Cancel closes them at once, and the work left behind ends by itself
// without writing anything.

#include "db/MyPostgreSQL.h"
#include "profiles/VYRStandProfile.h"
#include "profiles/movetoserver.h"
#include "profiles/profilewizard.h"
#include "profiles/sitemove.h"
#include "shared/datadir.h"
#include "shared/messagebox.h"

#include "faultproxy.h"
#include "modal.h"
#include "pgcluster.h"
#include "profilefiles.h"
#include "testenv.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// A server database behind a proxy that holds everything: a server gone silent.
class ConnectCancelTest : public HomeTest {
protected:
    void SetUp() override {
        HomeTest::SetUp();
        QDir().mkpath(DataDirectory() + "/profiles");
        QDir().mkpath(DataDirectory() + "/data");
        Direct = TTestCluster::Shared().NewDatabase();
        ASSERT_FALSE(Direct.isEmpty()) << TTestCluster::Shared().Error().toStdString();
        Proxy = std::make_unique<TFaultProxy>(TTestCluster::Shared().Socket());
        ASSERT_TRUE(Proxy->Listening()) << Proxy->Error().toStdString();
        Proxy->SetMode(TFaultProxy::TMode::Hold);
        MessageBoxes::ClearShown();
    }
    void TearDown() override {
        Proxy->SetMode(TFaultProxy::TMode::Pass);
        // The work called off ends once the server answers; then nothing holds the proxy.
        EXPECT_TRUE(QTest::qWaitFor([&] { return Proxy->OpenConnections() == 0; }, 30000));
        // And the work left behind is gone: its end comes queued on the window thread.
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return std::all_of(Left.begin(), Left.end(),
                                   [](const QPointer<QObject>& job) { return job.isNull(); });
            },
            30000));
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                const TServerDatabaseInfo info = InspectServerDatabase(Direct);
                return info.Ok && info.Kind == TServerDatabaseKind::Empty;
            },
            10000))
            << "the server's database stays empty";
        Proxy.reset();
        HomeTest::TearDown();
    }

    // Notes the work that `dialog` leaves running when called off.
    template <typename TDialog> void WatchLeftWork(TDialog& dialog) {
        QObject::connect(&dialog, &TDialog::WorkLeft,
                         [this](QObject* job) { Left.append(QPointer<QObject>(job)); });
    }

    QString Direct;
    std::unique_ptr<TFaultProxy> Proxy;
    QList<QPointer<QObject>> Left;
};

TEST_F(ConnectCancelTest, TheMoveToAServerClosesOnCancelWhileItConnects) {
    const QString file = DataDirectory() + "/data/site.accdb";
    ASSERT_EQ(MakeDatabase(file, {"INSERT INTO Controllers (ConID, ConName) VALUES (4, 'Gate')"}),
              "");
    TVYRStandProfile profile(DataDirectory() + "/profiles/site.ini");
    profile.ProfileName = "Site";
    profile.DBFileName = "data/site.accdb";
    profile.SaveToINI(profile.ProfileFileName);
    const QByteArray profileText = ReadWholeFile(profile.ProfileFileName);

    TfrmMoveToServer dialog(profile);
    WatchLeftWork(dialog);
    dialog.show();
    Control<QLineEdit>(dialog, "txtConnection").setText(Proxy->Through(Direct));
    Control<QPushButton>(dialog, "cmdMove").click();
    QPushButton& cancel = Control<QPushButton>(dialog, "cmdCancel");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Proxy->OpenConnections() > 0; }, 10000));
    ASSERT_TRUE(cancel.isEnabled());
    cancel.click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(Left.size(), 1) << "the move goes on connecting by itself";

    Proxy->SetMode(TFaultProxy::TMode::Pass);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Proxy->OpenConnections() == 0; }, 30000));
    EXPECT_EQ(ReadWholeFile(profile.ProfileFileName), profileText);
    EXPECT_TRUE(QFileInfo::exists(file));
    EXPECT_FALSE(QFileInfo::exists(MovedDatabaseName(file)));
    EXPECT_TRUE(MessageBoxes::ShownTexts().isEmpty()) << "the late word goes nowhere";
}

TEST_F(ConnectCancelTest, TheWizardClosesOnCancelWhileItConnectsAndMakesNoProfile) {
    TfrmProfileWizard wizard(Desktop, nullptr);
    WatchLeftWork(wizard);
    wizard.show();
    QPushButton& next = Control<QPushButton>(wizard, "cmdNext");
    next.click();
    Control<QRadioButton>(wizard, "dbTypeServer").click();
    Control<QLineEdit>(wizard, "txtConnection").setText(Proxy->Through(Direct));
    next.click();
    next.click();
    ASSERT_EQ(wizard.CurrentStep, 4);
    Control<QLineEdit>(wizard, "txtProfileName").setText("Site");
    next.click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Proxy->OpenConnections() > 0; }, 10000));
    QPushButton& cancel = Control<QPushButton>(wizard, "cmdCancel");
    ASSERT_TRUE(cancel.isEnabled());
    cancel.click();
    EXPECT_FALSE(wizard.isVisible());
    EXPECT_EQ(Left.size(), 1) << "the creation goes on connecting by itself";

    Proxy->SetMode(TFaultProxy::TMode::Pass);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Proxy->OpenConnections() == 0; }, 30000));
    EXPECT_TRUE(QDir(DataDirectory() + "/profiles").entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(MessageBoxes::ShownTexts().isEmpty()) << "the late word goes nowhere";
}

} // namespace
