#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QUuid>

#include <gtest/gtest.h>

namespace {

TEST(SingleInstance, ALaterLaunchAsksTheRunningOneToReopenAndStops)
{
    const QString key = QStringLiteral("pravik-test-") + QUuid::createUuid().toString(QUuid::Id128);
    platform::SingleInstance running(key);
    ASSERT_TRUE(running.claim());
    int reopened = 0;
    running.setReopenHandler([&] { ++reopened; });

    for (int launch = 1; launch <= 2; ++launch) {
        platform::SingleInstance later(key);
        EXPECT_FALSE(later.claim());
        QDeadlineTimer deadline(5000);
        while (reopened < launch && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        EXPECT_EQ(reopened, launch);
    }
}

TEST(SingleInstance, AStaleSocketFromACrashedInstanceIsTakenOver)
{
    const QString key = QStringLiteral("pravik-test-") + QUuid::createUuid().toString(QUuid::Id128);
    {
        platform::SingleInstance crashed(key);
        ASSERT_TRUE(crashed.claim());
    } // the server closes; a new launch must become the running instance
    platform::SingleInstance next(key);
    EXPECT_TRUE(next.claim());
}

} // namespace
