#include "platform/NotificationCenter.h"

#include <algorithm>

namespace platform {

struct NotificationCenterState {
    struct Entry {
        quint64 id;
        QString name;
        std::shared_ptr<NotificationCenter::Handler> handler;
    };
    std::mutex mutex;
    quint64 nextId = 1;
    std::vector<Entry> entries;

    void remove(quint64 id)
    {
        std::lock_guard lock(mutex);
        std::erase_if(entries, [id](const Entry& e) { return e.id == id; });
    }
};

ObserverToken::ObserverToken(std::weak_ptr<NotificationCenterState> center, quint64 id)
    : center_(std::move(center))
    , id_(id)
{
}

ObserverToken::ObserverToken(ObserverToken&& other) noexcept
    : center_(std::move(other.center_))
    , id_(other.id_)
{
    other.center_.reset();
    other.id_ = 0;
}

ObserverToken& ObserverToken::operator=(ObserverToken&& other) noexcept
{
    if (this != &other) {
        reset();
        center_ = std::move(other.center_);
        id_ = other.id_;
        other.center_.reset();
        other.id_ = 0;
    }
    return *this;
}

ObserverToken::~ObserverToken()
{
    reset();
}

void ObserverToken::reset()
{
    if (auto state = center_.lock())
        state->remove(id_);
    center_.reset();
    id_ = 0;
}

NotificationCenter::NotificationCenter()
    : state_(std::make_shared<NotificationCenterState>())
{
}

NotificationCenter& NotificationCenter::defaultCenter()
{
    static NotificationCenter* center = new NotificationCenter(); // outlives every observer
    return *center;
}

ObserverToken NotificationCenter::addObserver(const QString& name, Handler handler)
{
    std::lock_guard lock(state_->mutex);
    const quint64 id = state_->nextId++;
    state_->entries.push_back({id, name, std::make_shared<Handler>(std::move(handler))});
    return ObserverToken(state_, id);
}

void NotificationCenter::post(const QString& name, const QVariant& object, const QVariantMap& userInfo)
{
    std::vector<std::pair<quint64, std::shared_ptr<Handler>>> targets;
    {
        std::lock_guard lock(state_->mutex);
        for (const auto& e : state_->entries)
            if (e.name.isEmpty() || e.name == name)
                targets.emplace_back(e.id, e.handler);
    }
    const Notification note{name, object, userInfo};
    for (const auto& [id, handler] : targets) {
        bool stillRegistered;
        {
            std::lock_guard lock(state_->mutex);
            stillRegistered = std::any_of(state_->entries.begin(), state_->entries.end(),
                                          [id = id](const auto& e) { return e.id == id; });
        }
        if (stillRegistered) // an observer removed by an earlier one is not called
            (*handler)(note);
    }
}

} // namespace platform
