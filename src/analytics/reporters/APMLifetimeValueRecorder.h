#pragma once

#include <QtGlobal>

#include <functional>
#include <memory>

namespace platform {
class Clock;
}

class APMDatabase;
class APMEvent;
class APMMonitor;
class APMRemoteConfig;

// Keeps, per currency, the running total of what the user has spent as the
// internal user property "_ltv_" + the upper-case currency code (int64
// micros, origin "auto"), at most the configuration's maxTrackedCurrencies
// of them. The event pipeline asks inside the transaction that stores an
// event; false rolls the event back.
class APMLifetimeValueRecorder {
public:
    static const QString kPropertyPrefix; // "_ltv_"

    virtual ~APMLifetimeValueRecorder() = default;

    virtual bool updateLifetimeValueWithEvent(const APMEvent& event) = 0;

    // What recording reads when an event comes: the engine makes its
    // database and configuration after its recorder, so they are asked for
    // each time. Either answering null records nothing.
    struct Sources {
        std::function<APMDatabase*()> database;
        std::function<APMRemoteConfig*()> remoteConfig;
        platform::Clock* clock = nullptr;
        APMMonitor* monitor = nullptr;
    };
    // The engine's own: records every purchase into its database.
    static std::shared_ptr<APMLifetimeValueRecorder> recordingToDatabase(Sources sources);

    // "_iap", or an e-commerce purchase event.
    static bool isPurchaseEvent(const APMEvent& event);
    // "ecommerce_purchase", "purchase" or "refund" (values in currency units).
    static bool isEcommercePurchaseEvent(const APMEvent& event);
    // True when nothing failed, including when there was nothing to record
    // (not a purchase, no valid currency or value); false on a database
    // failure or a total that would leave the int64 range.
    static bool recordLifetimeValueToDatabase(APMDatabase& database, const APMEvent& event,
        qint32 maxTrackedCurrencies, double now, APMMonitor& monitor);
};
