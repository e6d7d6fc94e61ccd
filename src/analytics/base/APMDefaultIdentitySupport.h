#pragma once

#include "analytics/base/APMIdentitySupport.h"

#include <QMutex>
#include <QString>

#include <memory>
#include <optional>

namespace platform {
class SerialQueue;
} // namespace platform

class APMMonitor;
class APMPersistedConfig;

// The engine's source of the advertising identifier, the limited-ad-tracking
// state and the tracking-authorisation status. It wraps the system's source
// (when there is one) and keeps the last identifier it obtained, so that a
// caller never waits more than ten milliseconds for a slow system: the
// question goes to the private queue "APMDefaultIdentitySupport", and a
// caller whose answer is late gets the previous one.
//
// Also the keeper of the identifier for vendors, which this system does not
// offer: a random UUID made once and kept in the library's persisted state.
class APMDefaultIdentitySupport final : public APMIdentitySupport {
public:
    static const QString kQueueName; // "APMDefaultIdentitySupport"
    static const QString kVendorIdentifierKey; // "/vireo/measurement/vendor_identifier"
    // How long a caller waits for the system's identifier.
    static constexpr int kIdentifierWaitMilliseconds = 10;

    // Over the platform identity support, logging to the process-wide monitor.
    static APMDefaultIdentitySupport& sharedInstance();

    // Null platform support: every answer is the "unknown" one. The support
    // and the monitor must outlive this object.
    APMDefaultIdentitySupport(const APMIdentitySupport* platformSupport, APMMonitor& monitor);
    ~APMDefaultIdentitySupport() override;

    APMDefaultIdentitySupport(const APMDefaultIdentitySupport&) = delete;
    APMDefaultIdentitySupport& operator=(const APMDefaultIdentitySupport&) = delete;

    // The tracking-authorisation scheme always applies here.
    static bool iOS14OrAbove() { return true; }

    bool hasAppDataConsentStatus() const override;
    // All bits set without platform support.
    quint64 appDataConsentStatus() const override;
    bool hasLimitedAdTracking() const override;
    // True when there is no identifier, or it is all zeros.
    bool limitedAdTracking() const override;
    // The system's answer when it came within the wait, else the last one
    // obtained; nothing without a system source.
    std::optional<QString> resettableDeviceID() const override;

    // The stored identifier for vendors, made and stored on first use: the
    // same across launches, until the persisted state is cleared.
    static QString identifierForVendor(APMPersistedConfig& persistedConfig);

private:
    struct Cache {
        QMutex mutex;
        std::optional<QString> resettableDeviceID;
    };

    const APMIdentitySupport* platformSupport_;
    std::shared_ptr<Cache> cache_;
    // Last: destroyed first, finishing a question still running while the
    // source is alive.
    std::unique_ptr<platform::SerialQueue> queue_;
};
