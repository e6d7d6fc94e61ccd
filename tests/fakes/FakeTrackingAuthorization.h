#pragma once

#include "platform/TrackingAuthorization.h"

#include <QMutex>

#include <atomic>

namespace fakes {

// A tracking-authorisation source the test scripts: by default it behaves
// like a system without one; each answer can be set, from any thread.
// limitedAdTracking() follows the identifier as a real source does.
class FakeTrackingAuthorization final : public platform::TrackingAuthorization {
public:
    bool hasAppDataConsentStatus() const override;
    quint64 appDataConsentStatus() const override;
    bool hasLimitedAdTracking() const override;
    bool limitedAdTracking() const override;
    std::optional<QString> resettableDeviceID() const override;

    // A source of identifiers with the given identifier and, when a status is
    // given, a tracking-authorisation status.
    void setAvailable(std::optional<QString> identifier, std::optional<quint64> status);
    void setUnavailable();
    void setResettableDeviceID(std::optional<QString> identifier);

    // How often the identifier was asked for.
    int identifierRequests() const { return identifierRequests_.load(); }

private:
    mutable QMutex mutex_;
    bool hasStatus_ = false;
    quint64 status_ = kStatusUnavailable;
    bool hasLimitedAdTracking_ = false;
    std::optional<QString> identifier_;
    mutable std::atomic<int> identifierRequests_ { 0 };
};

} // namespace fakes
