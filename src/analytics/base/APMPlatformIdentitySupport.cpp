#include "analytics/base/APMPlatformIdentitySupport.h"

#include "platform/TrackingAuthorization.h"

APMPlatformIdentitySupport& APMPlatformIdentitySupport::sharedInstance()
{
    static APMPlatformIdentitySupport* shared // lives with the process
        = new APMPlatformIdentitySupport(platform::TrackingAuthorization::shared());
    return *shared;
}

APMPlatformIdentitySupport::APMPlatformIdentitySupport(const platform::TrackingAuthorization& system)
    : system_(system)
{
}

bool APMPlatformIdentitySupport::hasAppDataConsentStatus() const
{
    return system_.hasAppDataConsentStatus();
}

quint64 APMPlatformIdentitySupport::appDataConsentStatus() const
{
    return system_.appDataConsentStatus();
}

bool APMPlatformIdentitySupport::hasLimitedAdTracking() const
{
    return system_.hasLimitedAdTracking();
}

bool APMPlatformIdentitySupport::limitedAdTracking() const
{
    return system_.limitedAdTracking();
}

std::optional<QString> APMPlatformIdentitySupport::resettableDeviceID() const
{
    return system_.resettableDeviceID();
}
