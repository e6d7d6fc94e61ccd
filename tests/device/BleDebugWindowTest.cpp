#include "device/mmBleDebugWindow.h"

#include "core/Notifications.h"
#include "platform/NotificationCenter.h"

#include <QApplication>
#include <QScrollBar>
#include <QTextEdit>

#include <gtest/gtest.h>

namespace bledebugtest {

TEST(BleDebugWindowTest, EachNotificationIsAppendedAfterTwoLineBreaksAndKeptInView)
{
    platform::NotificationCenter center;
    mmBleDebugWindow debug(center);
    center.post(notifications::kBleData, QStringLiteral("before the window")); // not observed yet
    QWidget* window = debug.window();
    window->show();
    EXPECT_EQ(debug.debugString(), QString());

    center.post(notifications::kBleData, QStringLiteral("A"));
    EXPECT_EQ(debug.debugString(), QStringLiteral("\n\nA"));
    center.post(notifications::kBleData, QStringLiteral("B"));
    EXPECT_EQ(debug.debugString(), QStringLiteral("\n\nA\n\nB"));
    center.post(notifications::kBleData, QByteArray::fromHex("a55a0a"));
    EXPECT_TRUE(debug.debugString().endsWith(QStringLiteral("\n\na5 5a 0a")));

    auto* log = window->findChild<QTextEdit*>();
    ASSERT_TRUE(log);
    EXPECT_EQ(log->toPlainText(), debug.debugString());
    for (int i = 0; i < 60; ++i)
        center.post(notifications::kBleData, QStringLiteral("line %1").arg(i));
    QApplication::processEvents();
    EXPECT_GT(log->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(log->verticalScrollBar()->value(), log->verticalScrollBar()->maximum());
}

} // namespace bledebugtest
