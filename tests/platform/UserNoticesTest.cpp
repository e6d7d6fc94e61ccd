#include "platform/UserNotices.h"

#include <gtest/gtest.h>

using platform::UserNotices;

TEST(UserNotices, EachKeyIsAnnouncedOnceAndTakenInOrder)
{
    UserNotices notices;
    QStringList heard;
    notices.setListener([&](const UserNotices::Notice& n) { heard << n.text; });

    EXPECT_TRUE(notices.post(QStringLiteral("settings"), QStringLiteral("settings were damaged")));
    EXPECT_TRUE(notices.post(QStringLiteral("backend"), QStringLiteral("no back end")));
    EXPECT_FALSE(notices.post(QStringLiteral("settings"), QStringLiteral("again")));

    EXPECT_EQ(heard, (QStringList { QStringLiteral("settings were damaged"), QStringLiteral("no back end") }));
    const auto taken = notices.take();
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0].key, QStringLiteral("settings"));
    EXPECT_EQ(taken[1].key, QStringLiteral("backend"));
    EXPECT_TRUE(notices.pending().empty());
    // Taken notices stay known: a later retry of the same fault is still quiet.
    EXPECT_FALSE(notices.post(QStringLiteral("backend"), QStringLiteral("no back end")));
    EXPECT_TRUE(notices.wasPosted(QStringLiteral("backend")));
}
