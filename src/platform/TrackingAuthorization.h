#pragma once

#include <QString>
#include <QtGlobal>

#include <limits>
#include <optional>

namespace platform {

// The system's advertising identifier and the user's answer to whether
// applications may track them. Some systems offer both; this one offers
// neither, so the shared backend answers "not available" throughout.
// Safe to use from any thread.
class TrackingAuthorization {
public:
    // The user's answer, as the system reports it.
    enum Status : quint64 {
        NotDetermined = 0,
        Restricted = 1,
        Denied = 2,
        Authorized = 3,
    };
    // What appDataConsentStatus() answers without a source of answers.
    static constexpr quint64 kStatusUnavailable = std::numeric_limits<quint64>::max();
    // The identifier a system hands out when the user limited ad tracking.
    static const QString kZeroIdentifier; // "00000000-0000-0000-0000-000000000000"

    virtual ~TrackingAuthorization() = default;

    // Whether the system reports a tracking-authorisation status at all.
    virtual bool hasAppDataConsentStatus() const = 0;
    // One of Status, or another value the system reports (passed on as it
    // is); kStatusUnavailable without a source.
    virtual quint64 appDataConsentStatus() const = 0;
    // Whether the system has a source of advertising identifiers.
    virtual bool hasLimitedAdTracking() const = 0;
    // True when there is no usable identifier (none, or all zeros).
    virtual bool limitedAdTracking() const = 0;
    // The identifier as upper-case UUID text, or nothing.
    virtual std::optional<QString> resettableDeviceID() const = 0;

    // The backend of this system.
    static TrackingAuthorization& shared();
};

} // namespace platform
