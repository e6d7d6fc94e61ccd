#pragma once

#include "platform/TrackingAuthorization.h"

namespace platform {

// No advertising identifier and no tracking-authorisation status here.
class NullTrackingAuthorization final : public TrackingAuthorization {
public:
    bool hasAppDataConsentStatus() const override { return false; }
    quint64 appDataConsentStatus() const override { return kStatusUnavailable; }
    bool hasLimitedAdTracking() const override { return false; }
    bool limitedAdTracking() const override { return true; }
    std::optional<QString> resettableDeviceID() const override { return std::nullopt; }
};

} // namespace platform
