// Apart from the adapter itself because it reports through the test framework, which the
// benchmarks that use the adapter do without.
#include "virtualadapter.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

bool VirtualAdapter::RunsUnderVirtualUsb() {
    if (qEnvironmentVariableIsSet("IBUTTON_SIM_USB_STATE"))
        return true;
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    QTemporaryDir folder;
    QProcess run;
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(Simulator(),
              {"serve-usb", "--state", folder.path() + "/state", "--",
               QCoreApplication::applicationFilePath(),
               QString("--gtest_filter=%1.%2").arg(test->test_suite_name(), test->name())});
    const bool finished = run.waitForFinished(120000);
    if (!finished)
        run.kill();
    run.waitForFinished(3000);
    const QString output = QString::fromLocal8Bit(run.readAll());
    EXPECT_TRUE(finished && run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0)
        << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
    return false;
}
