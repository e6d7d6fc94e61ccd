#include "analytics/base/APMAlarm.h"

#include "analytics/base/APMLibrary.h"
#include "analytics/base/APMMonitor.h"
#include "platform/Clock.h"
#include "platform/SerialQueue.h"

#include <algorithm>
#include <cmath>

struct APMAlarm::State {
    // How late a firing may be after the machine wakes from a suspend.
    static constexpr double kWallClockRecheckSeconds = 60;

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

    // The executor measures time that stops while the machine sleeps, but
    // the firing is due at a wall-clock moment: wait in short slices and look
    // at the wall clock after each, so that after a suspend the work runs
    // within one slice of waking. The full delay on the executor's own time
    // still fires it, so a wall clock set back does not postpone the work.
    static platform::TaskId armSlice(
        const std::shared_ptr<State>& state, quint64 generation, double executorLeft)
    {
        const double wallLeft = *state->scheduledTimestamp - state->clock.now();
        const double wait = std::max(0.0, std::min({ executorLeft, wallLeft, kWallClockRecheckSeconds }));
        const std::weak_ptr<State> weak = state;
        return state->timer.asyncAfter(wait, [weak, generation, left = executorLeft - wait] {
            const std::shared_ptr<State> woken = weak.lock();
            if (!woken)
                return;
            const auto check = [weak, generation, left] {
                const std::shared_ptr<State> firing = weak.lock();
                // Cancelled or re-armed while the firing waited for the queue.
                if (!firing || firing->generation != generation || !firing->scheduledTimestamp)
                    return;
                if (left > 0 && firing->clock.now() < *firing->scheduledTimestamp) {
                    firing->timerTask = armSlice(firing, generation, left);
                    return;
                }
                firing->fire();
            };
            if (woken->queue)
                woken->queue->sync(check);
            else
                check();
        });
    }

    void fire()
    {
        APMLibrary::monitor().logWithLevel(APMMonitor::kLevelDebug, 2001, name + QStringLiteral(" fired"));
        // Idle before the work runs, so that the work may arm the alarm again.
        APMLibrary::monitor().logWithLevel(APMMonitor::kLevelDebug, 2003, name + QStringLiteral(" canceled"));
        std::function<void()> work = std::move(block);
        block = nullptr;
        timerTask.reset();
        scheduledTimestamp.reset();
        work();
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
    state_->timerTask = State::armSlice(state_, generation, seconds);
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
