#include "fakes/FakeTrackingAuthorization.h"

namespace fakes {

bool FakeTrackingAuthorization::hasAppDataConsentStatus() const
{
    QMutexLocker lock(&mutex_);
    return hasStatus_;
}

quint64 FakeTrackingAuthorization::appDataConsentStatus() const
{
    QMutexLocker lock(&mutex_);
    return status_;
}

bool FakeTrackingAuthorization::hasLimitedAdTracking() const
{
    QMutexLocker lock(&mutex_);
    return hasLimitedAdTracking_;
}

bool FakeTrackingAuthorization::limitedAdTracking() const
{
    QMutexLocker lock(&mutex_);
    return !identifier_ || *identifier_ == kZeroIdentifier;
}

std::optional<QString> FakeTrackingAuthorization::resettableDeviceID() const
{
    ++identifierRequests_;
    QMutexLocker lock(&mutex_);
    return identifier_;
}

void FakeTrackingAuthorization::setAvailable(std::optional<QString> identifier, std::optional<quint64> status)
{
    QMutexLocker lock(&mutex_);
    hasLimitedAdTracking_ = true;
    identifier_ = std::move(identifier);
    hasStatus_ = status.has_value();
    status_ = status.value_or(kStatusUnavailable);
}

void FakeTrackingAuthorization::setUnavailable()
{
    QMutexLocker lock(&mutex_);
    hasStatus_ = false;
    status_ = kStatusUnavailable;
    hasLimitedAdTracking_ = false;
    identifier_.reset();
}

void FakeTrackingAuthorization::setResettableDeviceID(std::optional<QString> identifier)
{
    QMutexLocker lock(&mutex_);
    identifier_ = std::move(identifier);
}

} // namespace fakes
