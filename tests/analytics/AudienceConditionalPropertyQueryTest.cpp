// Querying conditional user properties by name prefix and origin across the
// worker queue: inline from the worker queue itself, answered by the queue
// for any other caller, and bounded by a time-out on the injected timer.

#include "analytics/userproperties/APMConditionalUserPropertyController.h"
#include "analytics/base/APMValue.h"
#include "analytics/store/APMDatabase.h"
#include "fakes/VirtualTime.h"
#include "platform/Executor.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace conditional_property_query_test {

constexpr double kQueryStart = 1'700'000'000.0;

// An executor that another thread may post to: tasks wait until the test
// runs them, and the test can wait (without sleeping) until one is posted.
class PostedTasks final : public platform::Executor {
public:
    struct Task {
        platform::TaskId id;
        double delay;
        std::function<void()> work;
    };

    void async(std::function<void()> task) override { asyncAfter(0, std::move(task)); }
    platform::TaskId asyncAfter(double seconds, std::function<void()> task) override
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back({ nextId_, seconds, std::move(task) });
        posted_.notify_all();
        return nextId_++;
    }
    void cancel(platform::TaskId id) override
    {
        std::lock_guard lock(mutex_);
        std::erase_if(tasks_, [id](const Task& t) { return t.id == id; });
    }
    // Waits for the first task posted and takes it out.
    Task take()
    {
        std::unique_lock lock(mutex_);
        posted_.wait(lock, [this] { return !tasks_.empty(); });
        Task task = std::move(tasks_.front());
        tasks_.erase(tasks_.begin());
        return task;
    }
    size_t count()
    {
        std::lock_guard lock(mutex_);
        return tasks_.size();
    }

private:
    std::mutex mutex_;
    std::condition_variable posted_;
    std::vector<Task> tasks_;
    platform::TaskId nextId_ = 1;
};

APMConditionalUserProperty storedProperty(const QString& name, const QString& origin)
{
    APMConditionalUserProperty made;
    made.setName(name);
    made.setOrigin(origin);
    made.setValue(APMValue::initWithString("v"));
    made.setTriggerTimeout(5);
    made.setTimeToLive(60);
    made.setCreationTimestamp(kQueryStart);
    return made;
}

QStringList queriedNames(const std::optional<QList<APMConditionalUserProperty>>& properties)
{
    QStringList names;
    for (const APMConditionalUserProperty& p : properties.value_or(QList<APMConditionalUserProperty>()))
        names << p.name();
    names.sort();
    return names;
}

class ConditionalPropertyQueryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const auto& [name, origin] : { std::pair { "tier", "app" }, { "tier_old", "auto" }, { "level", "app" } })
            ASSERT_TRUE(db->updateConditionalUserProperty(storedProperty(name, origin), nullptr));
    }

    QTemporaryDir dir;
    fakes::VirtualTime time { kQueryStart };
    std::unique_ptr<APMDatabase> db = [this] {
        auto made = APMDatabase::initWithDatabasePath(dir.filePath("cupq.sql"), nullptr, nullptr);
        made->setClock(&time);
        return made;
    }();
    bool enabled = true;
    PostedTasks worker;
    PostedTasks timer;
    APMConditionalUserPropertyController controller { *db, worker, [](const APMEvent&) {},
        [this] { return enabled; } };
};

} // namespace conditional_property_query_test

using namespace conditional_property_query_test;

TEST_F(ConditionalPropertyQueryTest, FromTheWorkerQueueItRunsInline)
{
    controller.setQueryWaiting(&timer, [] { return true; });
    struct Case {
        const char* prefix;
        const char* origin;
        QStringList expected;
    };
    const Case cases[] = {
        { "", "", { "level", "tier", "tier_old" } },
        { "tier", "", { "tier", "tier_old" } },
        { "tier", "app", { "tier" } },
        { "", "auto", { "tier_old" } },
        { "none", "", {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.prefix) + "/" + c.origin);
        const auto found = controller.conditionalUserPropertiesWithNamePrefix(c.prefix, c.origin);
        ASSERT_TRUE(found);
        EXPECT_EQ(queriedNames(found), c.expected);
    }
    EXPECT_EQ(worker.count(), 0u);
    EXPECT_EQ(timer.count(), 0u);

    // With measurement off there is no answer.
    enabled = false;
    EXPECT_FALSE(controller.conditionalUserPropertiesWithNamePrefix("tier", ""));
}

TEST_F(ConditionalPropertyQueryTest, AnotherCallerWaitsForTheWorkerQueue)
{
    controller.setQueryWaiting(&timer, [] { return false; });
    std::optional<QList<APMConditionalUserProperty>> found;
    std::thread caller([&] { found = controller.conditionalUserPropertiesWithNamePrefix("tier", "app"); });
    PostedTasks::Task query = worker.take();
    query.work();
    caller.join();
    EXPECT_EQ(queriedNames(found), QStringList { "tier" });
    // The answer came first: the time-out was withdrawn.
    EXPECT_EQ(timer.count(), 0u);
}

TEST_F(ConditionalPropertyQueryTest, AQueueThatDoesNotAnswerInThirtySecondsGivesNothing)
{
    controller.setQueryWaiting(&timer, [] { return false; });
    std::optional<QList<APMConditionalUserProperty>> found = QList<APMConditionalUserProperty>();
    std::thread caller([&] { found = controller.conditionalUserPropertiesWithNamePrefix("tier", ""); });
    PostedTasks::Task query = worker.take();
    PostedTasks::Task timeout = timer.take();
    EXPECT_EQ(timeout.delay, APMConditionalUserPropertyController::kQueryTimeout);
    timeout.work();
    caller.join();
    EXPECT_FALSE(found);
    // The queue's late answer goes nowhere.
    query.work();
}
