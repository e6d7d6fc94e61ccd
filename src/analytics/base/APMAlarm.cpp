#include "analytics/base/APMAlarm.h"

#include "analytics/base/APMLibrary.h"
#include "analytics/base/APMMonitor.h"
#include "platform/Clock.h"
#include "platform/SerialQueue.h"

#include <cmath>

struct APMAlarm::State {
    platform::SerialQueue* queue; // null: the work runs in the timer task
    platform::Executor& timer;
    platform::Clock& clock;
    QString name;
    std::optional<double> scheduledTimestamp;
    std::optional<platform::TaskId> timerTask;
    std::function<void()> block;
    quint64 generation = 0; // which arming a timer task belongs to

    void cancel()
    {
        if (!scheduledTimestamp)
            return;
        APMLibrary::monitor().logWithLevel(APMMonitor::kLevelDebug, 2003, name + QStringLiteral(" canceled"));
        if (timerTask)
            timer.cancel(*timerTask);
        else
            APMLibrary::monitor().logWithLevel(
                APMMonitor::kLevelWarningMonitored, 2004, name + QStringLiteral(" is not active"));
        timerTask.reset();
        block = nullptr;
        scheduledTimestamp.reset();
    }
};

APMAlarm::APMAlarm(platform::SerialQueue& queue, platform::Executor& timer, platform::Clock& clock, const QString& name)
    : state_(std::make_shared<State>(
        State { &queue, timer, clock, name.isEmpty() ? QStringLiteral("Timer") : name, {}, {}, {}, 0 }))
{
}

APMAlarm::APMAlarm(platform::Executor& timer, platform::Clock& clock, const QString& name)
    : state_(std::make_shared<State>(
        State { nullptr, timer, clock, name.isEmpty() ? QStringLiteral("Timer") : name, {}, {}, {}, 0 }))
{
}

APMAlarm::~APMAlarm()
{
    state_->cancel();
}

const QString& APMAlarm::name() const
{
    return state_->name;
}

void APMAlarm::runAfterDelay(double delay, std::function<void()> block)
{
    if (!block) {
        APMLibrary::monitor().logWithLevel(
            APMMonitor::kLevelErrorMonitored, 2000, state_->name + QStringLiteral(" tried to schedule an empty block"));
        return;
    }
    state_->cancel();
    // A delay that is no number fires at once rather than never.
    const double seconds = std::isfinite(delay) ? delay : 0;
    state_->scheduledTimestamp = state_->clock.now() + seconds;
    state_->block = std::move(block);
    const quint64 generation = ++state_->generation;
    const std::weak_ptr<State> weak = state_;
    state_->timerTask = state_->timer.asyncAfter(seconds, [weak, generation] {
        const std::shared_ptr<State> state = weak.lock();
        if (!state)
            return;
        const auto fire = [weak, generation] {
            const std::shared_ptr<State> firing = weak.lock();
            // Cancelled or re-armed while the firing waited for the queue.
            if (!firing || firing->generation != generation || !firing->scheduledTimestamp)
                return;
            APMLibrary::monitor().logWithLevel(APMMonitor::kLevelDebug, 2001, firing->name + QStringLiteral(" fired"));
            // Idle before the work runs, so that the work may arm the alarm again.
            APMLibrary::monitor().logWithLevel(APMMonitor::kLevelDebug, 2003, firing->name + QStringLiteral(" canceled"));
            std::function<void()> work = std::move(firing->block);
            firing->block = nullptr;
            firing->timerTask.reset();
            firing->scheduledTimestamp.reset();
            work();
        };
        if (state->queue)
            state->queue->sync(fire);
        else
            fire();
    });
    APMLibrary::monitor().logWithLevel(
        APMMonitor::kLevelDebug, 2002, state_->name + QStringLiteral(" scheduled to fire in approx. (s)"), seconds);
}

void APMAlarm::cancel()
{
    state_->cancel();
}

bool APMAlarm::hasActiveTimer() const
{
    return state_->timerTask.has_value();
}

std::optional<double> APMAlarm::scheduledTimestamp() const
{
    return state_->scheduledTimestamp;
}
