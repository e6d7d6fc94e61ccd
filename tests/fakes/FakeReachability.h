#pragma once

#include "platform/Reachability.h"

#include <mutex>

namespace fakes {

// The network's presence, scripted: setConnected() changes it and calls the
// change handler the client left (on the calling thread), as the system
// would. Records how often a handler was set and cleared.
class FakeReachability final : public platform::Reachability {
public:
    bool isConnected() const override;
    void setChangeHandler(ChangeHandler handler) override;

    void setConnected(bool connected);
    bool hasChangeHandler() const;
    int handlersSet() const;

private:
    mutable std::mutex mutex_;
    bool connected_ = true;
    ChangeHandler handler_;
    int handlersSet_ = 0;
};

} // namespace fakes
