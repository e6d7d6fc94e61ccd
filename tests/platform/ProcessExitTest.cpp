#include "platform/ProcessExit.h"
#include "platform/SerialQueue.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <thread>

using platform::ProcessExit;

TEST(ProcessExit, HooksRunOnceNewestFirst)
{
    std::vector<int> order;
    ProcessExit::add([&] { order.push_back(1); });
    ProcessExit::add([&] { order.push_back(2); });
    ProcessExit::runHooks();
    ProcessExit::runHooks();
    EXPECT_EQ(order, (std::vector<int> { 2, 1 }));
}

// Child of the test below: a process-wide queue still busy when main returns.
TEST(ProcessExitChild, LeaveWhileTheQueueWorks)
{
    const QString marker = qEnvironmentVariable("PRAVIK_EXIT_MARKER");
    if (marker.isEmpty())
        GTEST_SKIP() << "runs as a child process only";
    static auto* queue = new platform::SerialQueue(QStringLiteral("process-wide"));
    ProcessExit::add([] { queue->stop(); });
    queue->async([marker] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        QFile file(marker);
        if (file.open(QIODevice::WriteOnly))
            file.write("finished");
    });
}

// When the application object goes (still inside main), the queue's work is
// finished, so nothing of it runs into static destruction or is cut off.
TEST(ProcessExit, QueueWorkFinishesBeforeTheProcessEnds)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString marker = dir.filePath(QStringLiteral("marker"));
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PRAVIK_EXIT_MARKER"), marker);
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
        { QStringLiteral("--gtest_filter=ProcessExitChild.LeaveWhileTheQueueWorks") });
    ASSERT_TRUE(child.waitForFinished(60000));
    EXPECT_EQ(child.exitCode(), 0) << child.readAllStandardError().toStdString();
    QFile file(marker);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << "the queue's last task was cut off at exit";
    EXPECT_EQ(file.readAll(), QByteArray("finished"));
}
