#include "fakes/VirtualTime.h"

namespace fakes {

platform::TaskId VirtualTime::asyncAfter(double seconds, std::function<void()> task)
{
    std::lock_guard lock(mutex_);
    const platform::TaskId id = nextId_++;
    tasks_.emplace(Key{now_ + (seconds > 0 ? seconds : 0), id}, std::move(task));
    return id;
}

void VirtualTime::cancel(platform::TaskId id)
{
    std::lock_guard lock(mutex_);
    for (auto it = tasks_.begin(); it != tasks_.end(); ++it) {
        if (it->first.id == id) {
            tasks_.erase(it);
            return;
        }
    }
}

void VirtualTime::advance(double seconds)
{
    const double end = now_ + (seconds > 0 ? seconds : 0);
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard lock(mutex_);
            if (tasks_.empty() || tasks_.begin()->first.due > end)
                break;
            auto it = tasks_.begin();
            now_ = std::max(now_.load(), it->first.due);
            task = std::move(it->second);
            tasks_.erase(it);
        }
        task();
    }
    now_ = end;
}

} // namespace fakes
