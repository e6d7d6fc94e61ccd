#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// What the identity asks about the advertising identifier and the user's
// tracking authorisation. Answered by the platform identity support (the
// system's facilities) and by the default identity support that caches it.
// Safe to use from any thread.
class APMIdentitySupport {
public:
    virtual ~APMIdentitySupport() = default;

    // Whether a tracking-authorisation status is known at all.
    virtual bool hasAppDataConsentStatus() const = 0;
    // The status as the system reports it; all bits set when unknown.
    virtual quint64 appDataConsentStatus() const = 0;
    // Whether there is a source of advertising identifiers.
    virtual bool hasLimitedAdTracking() const = 0;
    virtual bool limitedAdTracking() const = 0;
    // The identifier as upper-case UUID text, or nothing.
    virtual std::optional<QString> resettableDeviceID() const = 0;
};
