#include "fakes/FakeReachability.h"

namespace fakes {

bool FakeReachability::isConnected() const
{
    std::lock_guard locker(mutex_);
    return connected_;
}

void FakeReachability::setChangeHandler(ChangeHandler handler)
{
    std::lock_guard locker(mutex_);
    if (handler)
        ++handlersSet_;
    handler_ = std::move(handler);
}

void FakeReachability::setConnected(bool connected)
{
    ChangeHandler handler;
    {
        std::lock_guard locker(mutex_);
        if (connected_ == connected)
            return;
        connected_ = connected;
        handler = handler_;
    }
    if (handler)
        handler();
}

bool FakeReachability::hasChangeHandler() const
{
    std::lock_guard locker(mutex_);
    return bool(handler_);
}

int FakeReachability::handlersSet() const
{
    std::lock_guard locker(mutex_);
    return handlersSet_;
}

} // namespace fakes
