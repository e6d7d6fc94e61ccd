#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {

struct Notification {
    QString name;
    QVariant object;      // what the poster attaches (often a QVariantMap)
    QVariantMap userInfo;
};

class NotificationCenter;

// Removes its observer when destroyed. Move-only.
class ObserverToken {
public:
    ObserverToken() = default;
    ObserverToken(ObserverToken&& other) noexcept;
    ObserverToken& operator=(ObserverToken&& other) noexcept;
    ObserverToken(const ObserverToken&) = delete;
    ObserverToken& operator=(const ObserverToken&) = delete;
    ~ObserverToken();

    void reset();
    bool isActive() const { return !center_.expired(); }

private:
    friend class NotificationCenter;
    ObserverToken(std::weak_ptr<struct NotificationCenterState> center, quint64 id);
    std::weak_ptr<struct NotificationCenterState> center_;
    quint64 id_ = 0;
};

// Named notifications delivered synchronously, on the posting thread, to the
// observers in the order they registered. An observer added while a
// notification is being delivered first hears the next post; one removed
// during delivery is not called again, not even later in the same post.
class NotificationCenter {
public:
    using Handler = std::function<void(const Notification&)>;

    NotificationCenter();
    static NotificationCenter& defaultCenter();

    // An empty name observes every notification.
    [[nodiscard]] ObserverToken addObserver(const QString& name, Handler handler);
    void post(const QString& name, const QVariant& object = {}, const QVariantMap& userInfo = {});

private:
    std::shared_ptr<struct NotificationCenterState> state_;
};

} // namespace platform
