#include "analytics/base/APMMonitor.h"
#include "analytics/engine/APMMeasurement.h"
#include "platform/ProcessExit.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// The process-wide monitor saves its health record on its own queue thread.
// A process that logs and then leaves main at once used to race that save
// against static destruction (a crash a few exits in a hundred, and the
// record lost). The save must be finished before the process tears down.

namespace {

const char* const kChildSwitch = "PRAVIK_MONITOR_EXIT_CHILD";

bool savedRecordUnder(const QString& folder)
{
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains("/vireo/measurement/health_monitor"))
            return true;
    }
    return false;
}

} // namespace

// Runs only as the child of the test below: log one monitored error, leave.
TEST(MonitorExitChild, LogAndLeave)
{
    if (!qEnvironmentVariableIsSet(kChildSwitch))
        GTEST_SKIP() << "runs as a child process only";
    APMMeasurement::monitor().logWithLevel(
        APMMonitor::kLevelErrorMonitored, 1, QStringLiteral("Leaving right after this"));
    // What the application object's end runs: afterwards the save is done.
    platform::ProcessExit::runHooks();
    EXPECT_TRUE(savedRecordUnder(qEnvironmentVariable("PRAVIK_HOME")));
}

TEST(MonitorExit, TheLastRecordIsSavedAndExitIsClean)
{
    for (int run = 0; run < 5; ++run) {
        QTemporaryDir home;
        ASSERT_TRUE(home.isValid());
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kChildSwitch), QStringLiteral("1"));
        env.insert(QStringLiteral("PRAVIK_HOME"), home.path());
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(),
            { QStringLiteral("--gtest_filter=MonitorExitChild.LogAndLeave") });
        ASSERT_TRUE(child.waitForFinished(60000)) << "run " << run;
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << "run " << run;
        EXPECT_EQ(child.exitCode(), 0) << "run " << run << ": " << child.readAllStandardError().toStdString();
        EXPECT_TRUE(savedRecordUnder(home.path())) << "run " << run;
    }
}
