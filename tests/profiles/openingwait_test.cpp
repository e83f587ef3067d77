// Opening a profile whose server stops answering while the site is brought up to date: the
// window goes on answering, and the opening fails with the reason instead of showing half a site.

#include "app/main.h"
#include "db/MyPostgreSQL.h"
#include "profiles/VYRStandProfile.h"
#include "profiles/login.h"
#include "profiles/profilesession.h"
#include "shared/datadir.h"
#include "shared/messagebox.h"
#include "shared/publictypes.h"

#include "faultproxy.h"
#include "modal.h"
#include "pgcluster.h"
#include "testenv.h"

#include <QDir>
#include <QPushButton>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

using ::testing::HasSubstr;

class OpeningWaitTest : public HomeTest {
protected:
    void SetUp() override {
        HomeTest::SetUp();
        QDir().mkpath(DataDirectory() + "/profiles");
        Direct = TTestCluster::Shared().NewDatabase();
        ASSERT_FALSE(Direct.isEmpty()) << TTestCluster::Shared().Error().toStdString();
        TMyPostgreSQL site;
        site.ConnectionString = Direct;
        ASSERT_TRUE(site.ConnectMakingSite()) << site.GetLastError().toStdString();
        Proxy = std::make_unique<TFaultProxy>(TTestCluster::Shared().Socket());
        ASSERT_TRUE(Proxy->Listening()) << Proxy->Error().toStdString();
        MessageBoxes::SetAnsweringMode(true);
        MessageBoxes::ClearShown();
    }
    void TearDown() override {
        MessageBoxes::SetAnsweringMode(false);
        Proxy.reset();
        HomeTest::TearDown();
    }

    QString Direct;
    std::unique_ptr<TFaultProxy> Proxy;
};

TEST_F(OpeningWaitTest, TheWindowAnswersWhileTheServerIsSilentAndTheOpeningFailsWithTheReason) {
    TVYRStandProfile saved(DataDirectory() + "/profiles/site.ini");
    saved.ProfileName = "Site";
    saved.ServerConnection = Proxy->Through(Direct);
    saved.SaveToINI(saved.ProfileFileName);
    TProfileList profiles;
    LoadProfiles(profiles);
    ASSERT_EQ(profiles.size(), 1u);

    // Silent from the first look at the card indexes, which every opening brings up to date.
    Proxy->HoldAt("pg_indexes");
    TRunSettings settings;
    TfrmMain main(Desktop, settings);
    TfrmLogin login(Desktop, profiles);
    // As the program starts: the session goes to the main window once the login was accepted.
    QObject::connect(&login, &QDialog::accepted, &main,
                     [&] { main.OpenSession(login.TakeSession()); });
    login.show();
    Control<QPushButton>(login, "cmdOK").click();

    // While the server is silent, the window thread is asked to do something: it must do it
    // while the opening still waits. Then the server goes for good.
    std::mutex lock;
    std::condition_variable changed;
    bool answered = false;
    bool busyMeanwhile = false;
    bool held = false;
    bool answeredInTime = false;
    std::thread server([&] {
        held = Proxy->WaitForHold(30000);
        if (held) {
            QMetaObject::invokeMethod(
                &login,
                [&] {
                    std::lock_guard guard(lock);
                    busyMeanwhile = login.Opening() && login.cursor().shape() == Qt::BusyCursor;
                    answered = true;
                    changed.notify_all();
                },
                Qt::QueuedConnection);
            std::unique_lock guard(lock);
            answeredInTime =
                changed.wait_for(guard, std::chrono::seconds(10), [&] { return answered; });
        }
        Proxy->SetMode(TFaultProxy::TMode::Refuse);
        Proxy->CutAll();
    });
    const bool ended = QTest::qWaitFor(
        [&] {
            return !login.Opening() &&
                   (!MessageBoxes::ShownTexts().isEmpty() || login.result() == QDialog::Accepted);
        },
        60000);
    server.join();
    std::lock_guard guard(lock);
    ASSERT_TRUE(held) << "the opening never reached the card indexes";
    EXPECT_TRUE(answeredInTime) << "the window thread waited for the silent server";
    EXPECT_TRUE(busyMeanwhile) << "the dialog showed the opening as busy while it waited";
    ASSERT_TRUE(ended);

    EXPECT_EQ(login.result(), 0) << "the login stays for another try";
    EXPECT_FALSE(login.Session());
    EXPECT_FALSE(main.Session()) << "no half-opened site behind the login";
    EXPECT_EQ(login.cursor().shape(), Qt::ArrowCursor);
    const QStringList said = MessageBoxes::ShownTexts();
    ASSERT_EQ(said.size(), 1) << said.join("\n").toStdString();
    EXPECT_THAT(said.first().toStdString(),
                HasSubstr("The database of profile Site cannot be opened"));
    EXPECT_THAT(said.first().toStdString(),
                HasSubstr("could not be brought up to date for this version of the program, so "
                          "nothing was opened"));
}

} // namespace
