#pragma once

#include "analytics/base/APMIdentitySupport.h"

namespace platform {
class TrackingAuthorization;
} // namespace platform

// The bridge from the identity to the system's advertising identifier and
// tracking authorisation. Where the system offers neither, every answer is
// the "unknown" one (no status, all bits set, no identifier).
class APMPlatformIdentitySupport final : public APMIdentitySupport {
public:
    // Over this system's facilities.
    static APMPlatformIdentitySupport& sharedInstance();

    // The system source must outlive this object.
    explicit APMPlatformIdentitySupport(const platform::TrackingAuthorization& system);

    bool hasAppDataConsentStatus() const override;
    quint64 appDataConsentStatus() const override;
    bool hasLimitedAdTracking() const override;
    bool limitedAdTracking() const override;
    std::optional<QString> resettableDeviceID() const override;

private:
    const platform::TrackingAuthorization& system_;
};
