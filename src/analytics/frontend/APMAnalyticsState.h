#pragma once

// The front end's class-level state, shared by its source files.
#include "analytics/frontend/APMAnalytics.h"

#include "platform/NotificationCenter.h"
#include "platform/SerialQueue.h"

#include <QList>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace apm_frontend {

struct FrontEndState {
    APMAnalytics::Environment environment;

    // The operation queue: held operations wait, in order, until released.
    std::mutex operationMutex;
    bool suspended = true;
    QList<APMAnalytics::Block> heldOperations;
    // Raised by each test reset, so that a release scheduled before it is void.
    std::atomic<quint64> generation { 0 };

    std::unique_ptr<platform::SerialQueue> serialQueue;
    std::unique_ptr<platform::SerialQueue> timestampQueue;

    std::atomic<bool> enabled { false };
    std::atomic<bool> collectionDeactivated { false };

    std::mutex mutex; // guards what follows
    APMAnalytics::Interceptor interceptor;
    // Nothing until the first listener is added.
    std::optional<std::map<APMAnalytics::ListenerToken, APMAnalytics::Listener>> listeners;
    APMAnalytics::ListenerToken nextListenerToken = 1;
    platform::ObserverToken configurationObserver;
    APMAnalytics::OpenURLListener openURLListener;
    // Whether the store's payment queue reports to the front end.
    bool observingStore = false;

    void makeQueues();
};

FrontEndState& state();

// A boolean, integer or real value.
bool isNumberValue(const QVariant& value);

} // namespace apm_frontend
