// The network-presence backends: the system's (when this session offers
// one), the null one, and the scripted fake the analytics tests drive.
#include "fakes/FakeReachability.h"
#include "platform/NullReachability.h"
#include "platform/QtReachability.h"

#include <QNetworkInformation>

#include <gtest/gtest.h>
#include <thread>

namespace reachability_test {

TEST(ReachabilityTest, SystemBackendIsNotLoadedOffTheApplicationThread)
{
    // Its changes would arrive on a thread without an event loop.
    bool created = true;
    std::thread other([&] { created = platform::QtReachability::create() != nullptr; });
    other.join();
    EXPECT_FALSE(created);
}

TEST(ReachabilityTest, SystemBackendOnTheApplicationThreadAnswersOrIsAbsent)
{
    // Whether NetworkManager answers depends on the session. A loaded backend
    // reports what the system reports, and follows its changes (sent here
    // through the backend's own signal) to the handler while one is set.
    std::unique_ptr<platform::QtReachability> reachability = platform::QtReachability::create();
    if (!reachability)
        GTEST_SKIP() << "no network information backend in this session";
    QNetworkInformation* information = QNetworkInformation::instance();
    ASSERT_NE(information, nullptr);
    const QNetworkInformation::Reachability system = information->reachability();
    EXPECT_EQ(reachability->isConnected(), system != QNetworkInformation::Reachability::Disconnected);

    int calls = 0;
    reachability->setChangeHandler([&] { ++calls; });
    emit information->reachabilityChanged(QNetworkInformation::Reachability::Disconnected);
    EXPECT_FALSE(reachability->isConnected());
    EXPECT_EQ(calls, 1);
    emit information->reachabilityChanged(QNetworkInformation::Reachability::Online);
    EXPECT_TRUE(reachability->isConnected());
    EXPECT_EQ(calls, 2);

    reachability->setChangeHandler({});
    emit information->reachabilityChanged(system);
    EXPECT_EQ(calls, 2);
}

TEST(ReachabilityTest, NullBackendIsAlwaysConnected)
{
    platform::NullReachability reachability;
    int calls = 0;
    reachability.setChangeHandler([&] { ++calls; });
    EXPECT_TRUE(reachability.isConnected());
    EXPECT_EQ(calls, 0);
}

TEST(ReachabilityTest, FakeCallsItsHandlerOnRealChangesOnly)
{
    fakes::FakeReachability reachability;
    int calls = 0;
    reachability.setChangeHandler([&] { ++calls; });
    const struct {
        bool connected;
        int callsAfter;
    } steps[] = { { true, 0 }, { false, 1 }, { false, 1 }, { true, 2 } };
    for (const auto& step : steps) {
        reachability.setConnected(step.connected);
        EXPECT_EQ(reachability.isConnected(), step.connected);
        EXPECT_EQ(calls, step.callsAfter);
    }
    reachability.setChangeHandler({});
    reachability.setConnected(false);
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(reachability.hasChangeHandler());
}

} // namespace reachability_test
