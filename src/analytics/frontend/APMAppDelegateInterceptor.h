#pragma once

#include <atomic>

// The object the front end places between the application and the events it
// receives, once, as analytics starts. Here the application's events that
// the library follows (its state changes) already reach it through the
// notification center, so the interceptor takes over none of them: being
// registered is all there is to it.
class APMAppDelegateInterceptor {
public:
    static APMAppDelegateInterceptor& sharedInstance();

    // Registers it; a second registration changes nothing.
    void registerAsAppDelegateProxy() { registered_.store(true); }
    bool isRegistered() const { return registered_.load(); }

private:
    APMAppDelegateInterceptor() = default;

    std::atomic<bool> registered_ { false };
};
