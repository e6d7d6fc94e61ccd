#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <mutex>
#include <vector>

namespace platform {

// What the user must be told once per run: a damaged file put aside, a service
// that is not configured, a key tap that could not be installed. Any thread
// may post; the main window shows what is pending and listens for more.
// A key posted again in the same run is ignored, so a retry loop or sixteen
// failing writes to one read-only folder tell the user once.
class UserNotices {
public:
    struct Notice {
        QString key;
        QString text;
    };
    using Listener = std::function<void(const Notice&)>;

    static UserNotices& shared();

    // Returns whether the notice was new (and so recorded and announced).
    bool post(const QString& key, const QString& text);

    // Notices not yet taken, in the order they were posted.
    std::vector<Notice> pending() const;
    std::vector<Notice> take();
    bool wasPosted(const QString& key) const;

    // Called for each new notice on the posting thread; a listener that
    // touches widgets hops to the main thread itself. One listener at a time.
    void setListener(Listener listener);

    // Tests only: forgets every key and pending notice.
    void resetForTesting();

private:
    mutable std::mutex mutex_;
    QStringList postedKeys_;
    std::vector<Notice> pending_;
    Listener listener_;
};

} // namespace platform
