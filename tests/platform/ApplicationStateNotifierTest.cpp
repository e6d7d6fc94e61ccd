// The application's state as notifications: launch first, then activation
// and resignation from Qt's application state, and windows losing focus.
#include "platform/ApplicationStateNotifier.h"

#include "platform/NotificationCenter.h"

#include <QGuiApplication>
#include <QStringList>
#include <QWindow>

#include <gtest/gtest.h>

namespace {

class ApplicationStateNotifierTest : public ::testing::Test {
protected:
    ApplicationStateNotifierTest()
        : token_(center_.addObserver(QString(), [this](const platform::Notification& n) {
            posted_.append(n.object.isValid() ? n.name + u':' + n.object.toString() : n.name);
        }))
    {
    }

    static void changeState(Qt::ApplicationState state) { emit qGuiApp->applicationStateChanged(state); }

    platform::NotificationCenter center_;
    QStringList posted_;
    platform::ObserverToken token_;
};

using N = platform::ApplicationStateNotifier;

TEST_F(ApplicationStateNotifierTest, NothingBeforeTheLaunchThenEachChangeOnce)
{
    N notifier(*qGuiApp, center_);
    changeState(Qt::ApplicationActive);
    EXPECT_TRUE(posted_.isEmpty());

    notifier.postDidFinishLaunching();
    ASSERT_FALSE(posted_.isEmpty());
    EXPECT_EQ(posted_.first(), N::kDidFinishLaunching);
    posted_.clear();

    const struct {
        Qt::ApplicationState state;
        QStringList expected;
    } steps[] = {
        { Qt::ApplicationActive, { N::kDidBecomeActive } },
        { Qt::ApplicationActive, {} },
        { Qt::ApplicationInactive, { N::kWillResignActive } },
        { Qt::ApplicationHidden, {} },
        { Qt::ApplicationActive, { N::kDidBecomeActive } },
        { Qt::ApplicationSuspended, { N::kWillResignActive } },
    };
    // Whatever state the session reported at launch, start from inactive.
    changeState(Qt::ApplicationInactive);
    posted_.clear();
    for (const auto& step : steps) {
        SCOPED_TRACE(int(step.state));
        changeState(step.state);
        EXPECT_EQ(posted_, step.expected);
        posted_.clear();
    }
    notifier.postDidFinishLaunching(); // once only
    EXPECT_TRUE(posted_.isEmpty());
}

TEST_F(ApplicationStateNotifierTest, AWindowLosingTheFocusIsNamed)
{
    N notifier(*qGuiApp, center_);
    notifier.postDidFinishLaunching();
    QWindow home;
    home.setObjectName(QStringLiteral("HomeWindow"));
    QWindow unnamed;
    posted_.clear();
    emit qGuiApp->focusWindowChanged(&home);
    emit qGuiApp->focusWindowChanged(&unnamed);
    emit qGuiApp->focusWindowChanged(nullptr);
    EXPECT_EQ(posted_,
        QStringList({ N::kWindowDidResignKey + QStringLiteral(":HomeWindow"),
            N::kWindowDidResignKey + QStringLiteral(":QWindow") }));
}

} // namespace
