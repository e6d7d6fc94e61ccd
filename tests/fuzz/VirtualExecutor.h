#pragma once

#include "platform/Executor.h"

#include <map>
#include <utility>

// Collects what the code under test schedules and runs nothing: a fuzz
// input is one moment in the life of what it feeds, so timers never come due.
class VirtualExecutor final : public platform::Executor {
public:
    void async(std::function<void()> task) override { asyncAfter(0, std::move(task)); }
    platform::TaskId asyncAfter(double, std::function<void()> task) override
    {
        tasks_.emplace(++last_, std::move(task));
        return last_;
    }
    void cancel(platform::TaskId id) override { tasks_.erase(id); }

private:
    platform::TaskId last_ = 0;
    std::map<platform::TaskId, std::function<void()>> tasks_;
};
