#pragma once

#include "analytics/base/APMPrivateSetMembershipClient.h"

#include <QByteArray>
#include <QString>
#include <QVariantMap>
#include <QtGlobal>

#include <memory>

namespace platform {
struct HttpResponse;
} // namespace platform

class APMAlarm;
class APMMeasurement;
class APMPrivateSetMembershipClientClass;
struct APMEngineContext;

// On-device conversion measurement: user data handed over shortly after the
// first open is asked about through the optional membership component; a
// match becomes the user property "_psmvalue" and a real-time "_fx" event.
// Owns the client in flight, the per-run start and retry counts and the
// retry alarm. Worker queue, except setUserData().
class APMOnDeviceConversion {
public:
    // Keys of the user data: "email_address" and "phone_number" (text),
    // "hashed_email_address" and "hashed_phone_number" (SHA-256 digests of
    // the normalised forms, as bytes). Plain values are normalised and hashed
    // before they go anywhere, and never logged.
    static const QString kUserDataEmailAddressKey;
    static const QString kUserDataPhoneNumberKey;
    static const QString kUserDataHashedEmailAddressKey;
    static const QString kUserDataHashedPhoneNumberKey;
    static const QString kPSMAlarmName; // "On-device conversion measurement timer"
    static const QString kDebugPSMArgument; // "-DebugOnDeviceConversionMeasurement"

    APMOnDeviceConversion(APMEngineContext& shared, APMMeasurement& engine);
    ~APMOnDeviceConversion();
    APMOnDeviceConversion(const APMOnDeviceConversion&) = delete;
    APMOnDeviceConversion& operator=(const APMOnDeviceConversion&) = delete;

    void setUserData(const QVariantMap& userData);
    void setUserDataOnWorkerQueue(const QVariantMap& userData);
    APMPrivateSetMembershipClientClass* PSMClientClass() const;
    void checkPSMDependencyOnWorkerQueue();
    bool shouldRetrievePSMResponse();
    bool shouldRetrievePSMResponseWithEmailAddress(const QString& address);
    bool shouldRetrievePSMResponseWithPhoneNumber(const QString& number);
    bool shouldRetrievePSMResponseWithHashedIdentifier(const QByteArray& identifier);
    std::unique_ptr<APMPrivateSetMembershipClient> PSMClientWithEmailAddress(const QString& address);
    std::unique_ptr<APMPrivateSetMembershipClient> PSMClientWithPhoneNumber(const QString& number);
    std::unique_ptr<APMPrivateSetMembershipClient> PSMClientWithHashedEmailAddress(const QByteArray& digest);
    std::unique_ptr<APMPrivateSetMembershipClient> PSMClientWithHashedPhoneNumber(const QByteArray& digest);
    void retrievePSMResponse();
    void PSMResponseCompletionOnWorkerQueue(const platform::HttpResponse& response);
    void maybeSchedulePSMRetry();
    void handlePSMValueOnWorkerQueue(const QString& value);
    void incrementPSMCountOnWorkerQueueWithName(const QString& name);
    void maybeDeleteExpiredPSMValueOnWorkerQueue();
    void resetPSMCounts();
    // A query that waited for the network to be free is sent now; false
    // when none waited.
    bool resumePostponedRequest();
    // The retry alarm belongs to the worker queue: the engine drops it there
    // as it goes.
    void cancelRetries();

    bool isPSMRequestInProgress() const { return requestInProgress_; }
    bool isPSMRequestPostponed() const { return requestPostponed_; }
    qint32 PSMStartCount() const { return startCount_; }
    qint32 PSMRetryCount() const { return retryCount_; }
    bool hasPSMClient() const { return client_ != nullptr; }
    APMAlarm* PSMRetryAlarm() const { return retryAlarm_.get(); }

private:
    // The persisted first-open time, or the engine's start before one is known.
    double PSMFirstOpenTimestamp();

    APMEngineContext& shared_;
    APMMeasurement& engine_;
    std::unique_ptr<APMPrivateSetMembershipClient> client_;
    bool requestInProgress_ = false;
    bool requestPostponed_ = false;
    qint32 startCount_ = 0;
    qint32 retryCount_ = 0;
    std::unique_ptr<APMAlarm> retryAlarm_;
};
