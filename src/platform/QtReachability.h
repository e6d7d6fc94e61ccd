#pragma once

#include "platform/Reachability.h"

#include <QObject>

#include <atomic>
#include <memory>
#include <mutex>

namespace platform {

// Qt's network information (NetworkManager or GLib backend). Created on the
// thread of the application object; the state is read from any thread.
class QtReachability final : public Reachability {
public:
    // Nothing when no backend loads (no NetworkManager, no application
    // object) or when called off the application's thread.
    static std::unique_ptr<QtReachability> create();
    ~QtReachability() override;

    bool isConnected() const override { return connected_.load(); }
    void setChangeHandler(ChangeHandler handler) override;

private:
    QtReachability();
    void update(bool connected);

    std::atomic<bool> connected_ { true };
    std::mutex mutex_;
    ChangeHandler handler_;
    QObject context_; // ends the signal connection with this object
};

} // namespace platform
