#include "platform/UserNotices.h"

namespace platform {

UserNotices& UserNotices::shared()
{
    static UserNotices* notices = new UserNotices; // outlives every poster
    return *notices;
}

bool UserNotices::post(const QString& key, const QString& text)
{
    Listener listener;
    Notice notice { key, text };
    {
        std::lock_guard lock(mutex_);
        if (postedKeys_.contains(key)) {
            return false;
        }
        postedKeys_.append(key);
        pending_.push_back(notice);
        listener = listener_;
    }
    if (listener) {
        listener(notice);
    }
    return true;
}

std::vector<UserNotices::Notice> UserNotices::pending() const
{
    std::lock_guard lock(mutex_);
    return pending_;
}

std::vector<UserNotices::Notice> UserNotices::take()
{
    std::lock_guard lock(mutex_);
    return std::exchange(pending_, {});
}

bool UserNotices::wasPosted(const QString& key) const
{
    std::lock_guard lock(mutex_);
    return postedKeys_.contains(key);
}

void UserNotices::setListener(Listener listener)
{
    std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
}

void UserNotices::resetForTesting()
{
    std::lock_guard lock(mutex_);
    postedKeys_.clear();
    pending_.clear();
    listener_ = nullptr;
}

} // namespace platform
