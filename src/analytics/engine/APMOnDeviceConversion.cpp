// On-device conversion measurement: user data handed over shortly after the
// first open is asked about through the optional membership component; a
// match becomes the user property "_psmvalue" and a real-time "_fx" event.
// Plain e-mail addresses and phone numbers are normalised and hashed here,
// before anything else sees them, and never written to a log.
#include "analytics/engine/APMOnDeviceConversion.h"

#include "analytics/engine/APMEngineContext.h"
#include "analytics/engine/APMMeasurement.h"

#include "analytics/base/APMAEU.h"
#include "analytics/base/APMAlarm.h"
#include "analytics/base/APMError.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/base/APMPrivateSetMembershipClientClass.h"
#include "analytics/base/APMScheduler.h"
#include "analytics/base/APMUserDataHashing.h"
#include "analytics/base/APMValue.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/reporters/APMMeasurementNames.h"
#include "analytics/identity/APMIdentity.h"
#include "analytics/model/APMEvent.h"
#include "analytics/model/APMUserAttribute.h"
#include "analytics/store/APMDatabase.h"
#include "platform/Clock.h"
#include "platform/HttpClient.h"
#include "platform/SerialQueue.h"

#include <QUrlQuery>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace apm_engine;

const QString APMOnDeviceConversion::kUserDataEmailAddressKey = QStringLiteral("email_address");
const QString APMOnDeviceConversion::kUserDataPhoneNumberKey = QStringLiteral("phone_number");
const QString APMOnDeviceConversion::kUserDataHashedEmailAddressKey = QStringLiteral("hashed_email_address");
const QString APMOnDeviceConversion::kUserDataHashedPhoneNumberKey = QStringLiteral("hashed_phone_number");
const QString APMOnDeviceConversion::kPSMAlarmName = QStringLiteral("On-device conversion measurement timer");
const QString APMOnDeviceConversion::kDebugPSMArgument = QStringLiteral("-DebugOnDeviceConversionMeasurement");

namespace measurement_conversion {


const QString kPSMValueProperty = QStringLiteral("_psmvalue");
const QString kPSMEmailCountProperty = QStringLiteral("_psmcount");
const QString kPSMPhoneCountProperty = QStringLiteral("_psmcountph");
const QString kPSMHashedEmailCountProperty = QStringLiteral("_psmcounth");
const QString kPSMHashedPhoneCountProperty = QStringLiteral("_psmcounthph");
const QString kPSMMatchSourceParameter = QStringLiteral("_fxs");
const QString kPSMMatchSource = QStringLiteral("psm");
const QString kPSMCountQueryKey = QStringLiteral("psm_count");
const QString kPSMPhoneCountQueryKey = QStringLiteral("psm_phone_count");
const QString kPSMFirstOpenQueryKey = QStringLiteral("timestamp_first_open");
const QString kPSMDebugQueryKey = QStringLiteral("debug_psm_key");
const QString kPSMFailurePrefix = QStringLiteral("Failed to initiate on-device conversion measurement. ");
constexpr double kPSMValueLifetime = 7776000; // 90 days

// The count property and the query key of a client's input type.
std::pair<QString, QString> PSMCountNamesForInputType(qint32 type)
{
    switch (type) {
    case APMPrivateSetMembershipClient::PhoneNumber:
        return { kPSMPhoneCountProperty, kPSMPhoneCountQueryKey };
    case APMPrivateSetMembershipClient::HashedEmailAddress:
        return { kPSMHashedEmailCountProperty, kPSMCountQueryKey };
    case APMPrivateSetMembershipClient::HashedPhoneNumber:
        return { kPSMHashedPhoneCountProperty, kPSMPhoneCountQueryKey };
    default:
        return { kPSMEmailCountProperty, kPSMCountQueryKey };
    }
}

// A client of the component, or null without one.
std::unique_ptr<APMPrivateSetMembershipClient> PSMClientFromClass(APMPrivateSetMembershipClientClass* found,
    APMPrivateSetMembershipClient::InputType type, const QByteArray& digest, const QString& appID, qint32 prefixBitLength)
{
    return found ? found->clientWithIdentifier(type, digest, appID, prefixBitLength) : nullptr;
}

} // namespace measurement_conversion

using namespace measurement_conversion;

APMOnDeviceConversion::APMOnDeviceConversion(APMEngineContext& shared, APMMeasurement& engine)
    : shared_(shared)
    , engine_(engine)
{
}

APMOnDeviceConversion::~APMOnDeviceConversion() = default;

// ---- Entry --------------------------------------------------------------------------

void APMOnDeviceConversion::setUserData(const QVariantMap& userData)
{
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    shared_.scheduler->scheduleOnWorkerQueueBlockID(QStringLiteral("APMMeasurement:3105"), [weak, userData] {
        if (const auto self = weak.lock(); self && *self)
            (*self)->conversion().setUserDataOnWorkerQueue(userData);
    });
}

void APMOnDeviceConversion::setUserDataOnWorkerQueue(const QVariantMap& userData)
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("setUserDataOnWorkerQueue"));
    if (!shared_.database)
        return;
    if (userData.contains(kUserDataEmailAddressKey)) {
        const QString address = userData.value(kUserDataEmailAddressKey).toString();
        if (shouldRetrievePSMResponseWithEmailAddress(address))
            client_ = PSMClientWithEmailAddress(address);
    }
    if (!client_ && userData.contains(kUserDataPhoneNumberKey)) {
        const QString number = userData.value(kUserDataPhoneNumberKey).toString();
        if (shouldRetrievePSMResponseWithPhoneNumber(number))
            client_ = PSMClientWithPhoneNumber(number);
    }
    if (!client_ && userData.contains(kUserDataHashedEmailAddressKey)) {
        const QByteArray digest = userData.value(kUserDataHashedEmailAddressKey).toByteArray();
        if (shouldRetrievePSMResponseWithHashedIdentifier(digest))
            client_ = PSMClientWithHashedEmailAddress(digest);
    }
    if (!client_ && userData.contains(kUserDataHashedPhoneNumberKey)) {
        const QByteArray digest = userData.value(kUserDataHashedPhoneNumberKey).toByteArray();
        if (shouldRetrievePSMResponseWithHashedIdentifier(digest))
            client_ = PSMClientWithHashedPhoneNumber(digest);
    }
    if (!client_)
        return;
    retryCount_ = 0;
    ++startCount_;
    retrievePSMResponse();
    shared_.log(APMMonitor::kLevelDebug, 23225, QStringLiteral("Initiated on-device conversion measurement"));
}

// ---- The component ------------------------------------------------------------------

APMPrivateSetMembershipClientClass* APMOnDeviceConversion::PSMClientClass() const
{
    APMPrivateSetMembershipClientClass* found = shared_.environment.PSMClientClass.get();
    return found && found->isAvailable() ? found : nullptr;
}

void APMOnDeviceConversion::checkPSMDependencyOnWorkerQueue()
{
    if (PSMClientClass()) {
        shared_.log(APMMonitor::kLevelDebug, 23253,
            QStringLiteral("VireoAppMetricsOnDeviceConversion dependency is linked. On-device conversion measurement "
                           "is ready to initiate."));
        return;
    }
    const bool counted = shared_.database->containsUserAttributeWithName(kPSMEmailCountProperty, nullptr).value_or(false)
        || shared_.database->containsUserAttributeWithName(kPSMPhoneCountProperty, nullptr).value_or(false);
    if (counted)
        shared_.log(APMMonitor::kLevelWarningMonitored, 23254,
            QStringLiteral("VireoAppMetricsOnDeviceConversion dependency is not currently linked. On-device conversion "
                           "measurement will fail to initiate."));
}

std::unique_ptr<APMPrivateSetMembershipClient> APMOnDeviceConversion::PSMClientWithEmailAddress(const QString& address)
{
    return PSMClientFromClass(PSMClientClass(), APMPrivateSetMembershipClient::EmailAddress,
        APMUserDataHashing::hashedEmailAddress(address), shared_.identity->appID(), shared_.remoteConfig->hashPrefixBitLengthEmail());
}

std::unique_ptr<APMPrivateSetMembershipClient> APMOnDeviceConversion::PSMClientWithPhoneNumber(const QString& number)
{
    return PSMClientFromClass(PSMClientClass(), APMPrivateSetMembershipClient::PhoneNumber,
        APMUserDataHashing::hashedPhoneNumber(number), shared_.identity->appID(), shared_.remoteConfig->hashPrefixBitLengthPhone());
}

std::unique_ptr<APMPrivateSetMembershipClient> APMOnDeviceConversion::PSMClientWithHashedEmailAddress(const QByteArray& digest)
{
    return PSMClientFromClass(PSMClientClass(), APMPrivateSetMembershipClient::HashedEmailAddress, digest,
        shared_.identity->appID(), shared_.remoteConfig->hashPrefixBitLengthEmail());
}

std::unique_ptr<APMPrivateSetMembershipClient> APMOnDeviceConversion::PSMClientWithHashedPhoneNumber(const QByteArray& digest)
{
    return PSMClientFromClass(PSMClientClass(), APMPrivateSetMembershipClient::HashedPhoneNumber, digest,
        shared_.identity->appID(), shared_.remoteConfig->hashPrefixBitLengthPhone());
}

// ---- Gate -----------------------------------------------------------------------------

double APMOnDeviceConversion::PSMFirstOpenTimestamp()
{
    const qint64 firstOpenMs = shared_.persistedConfig->firstOpenTimestampMilliseconds();
    return firstOpenMs != 0 ? double(firstOpenMs) / 1000.0 : shared_.initTimestamp;
}

bool APMOnDeviceConversion::shouldRetrievePSMResponse()
{
    if (!PSMClientClass()) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23233,
            kPSMFailurePrefix + QStringLiteral("VireoAppMetricsOnDeviceConversion dependency not linked in."));
        return false;
    }
    if (!shared_.remoteConfig->PSMFeatureEnabled())
        return false;
    const double window = double(shared_.remoteConfig->maxSignInDelayInDays()) * 86400.0;
    if (std::fabs(shared_.now() - PSMFirstOpenTimestamp()) > window) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23261,
            kPSMFailurePrefix + QStringLiteral("Attempted to initiate outside the first open window."));
        return false;
    }
    if (requestInProgress_) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23235,
            kPSMFailurePrefix
                + QStringLiteral("Request to query data set for on-device conversion measurement already in progress."));
        return false;
    }
    if (startCount_ >= shared_.remoteConfig->maxPSMStartCount()) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23236, kPSMFailurePrefix + QStringLiteral("Exceeded limit per app run."));
        return false;
    }
    if (shared_.database->containsUserAttributeWithName(kPSMValueProperty, nullptr).value_or(false)) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23237, kPSMFailurePrefix + QStringLiteral("Found existing match."));
        return false;
    }
    if (retryCount_ >= shared_.remoteConfig->maxPSMRetryCount()) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23238, kPSMFailurePrefix + QStringLiteral("Exceeded retry limit."));
        return false;
    }
    return true;
}

bool APMOnDeviceConversion::shouldRetrievePSMResponseWithEmailAddress(const QString& address)
{
    // An address of blanks only has nothing to match: refused like an empty one.
    if (APMUserDataHashing::normalizedEmailAddress(address).isEmpty()) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23234, kPSMFailurePrefix + QStringLiteral("Email address was empty."));
        return false;
    }
    return shouldRetrievePSMResponse();
}

bool APMOnDeviceConversion::shouldRetrievePSMResponseWithPhoneNumber(const QString& number)
{
    if (APMUserDataHashing::normalizedPhoneNumber(number).isEmpty()) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23239, kPSMFailurePrefix + QStringLiteral("Phone number was empty."));
        return false;
    }
    const APMPrivateSetMembershipClientClass* found = PSMClientClass();
    if (found && !found->supportsInputType(APMPrivateSetMembershipClient::PhoneNumber)) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23262,
            kPSMFailurePrefix
                + QStringLiteral("Linked VireoAppMetricsOnDeviceConversion dependency does not support phone numbers."));
        return false;
    }
    return shouldRetrievePSMResponse();
}

bool APMOnDeviceConversion::shouldRetrievePSMResponseWithHashedIdentifier(const QByteArray& identifier)
{
    if (identifier.isEmpty()) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23264, kPSMFailurePrefix + QStringLiteral("Hashed identifier was empty."));
        return false;
    }
    const APMPrivateSetMembershipClientClass* found = PSMClientClass();
    if (found && !found->supportsInputType(APMPrivateSetMembershipClient::HashedEmailAddress)
        && !found->supportsInputType(APMPrivateSetMembershipClient::HashedPhoneNumber)) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23265,
            kPSMFailurePrefix
                + QStringLiteral(
                    "Linked VireoAppMetricsOnDeviceConversion dependency does not support hashed identifiers."));
        return false;
    }
    return shouldRetrievePSMResponse();
}

// ---- Request ----------------------------------------------------------------------------

void APMOnDeviceConversion::retrievePSMResponse()
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("retrievePSMResponse"));
    std::optional<QUrl> url;
    if (client_)
        url = client_->PSMRequestURLWithRetryCount(retryCount_);
    if (!url || !url->isValid()) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23227,
            QStringLiteral("URL to query data set for on-device conversion measurement is invalid"));
        return;
    }
    const auto [countProperty, countKey] = PSMCountNamesForInputType(client_->inputType());
    qint64 count = 0;
    if (const auto stored = shared_.database->userAttributeWithName(countProperty, nullptr); stored && stored->value().isInt64())
        count = stored->value().int64Value();
    QUrlQuery query(*url);
    query.addQueryItem(countKey, QString::number(count));
    const double firstOpen = PSMFirstOpenTimestamp();
    if (firstOpen > 0) {
        const double minute = std::floor(firstOpen / 60.0) * 60.0 + 60.0;
        query.addQueryItem(kPSMFirstOpenQueryKey, QString::number(minute, 'f', 0));
    }
    const bool debugging = shared_.isDebugMode() || shared_.environment.monitor->isVerboseLoggingEnabled();
    const std::optional<QString> debugKey = client_->debugKey();
    if (debugging && !APMAEU::isFAS() && debugKey && APMMonitor::launchArguments().contains(kDebugPSMArgument))
        query.addQueryItem(kPSMDebugQueryKey, *debugKey);
    url->setQuery(query);

    if (!engine_.isNetworkReadyForRequest()) {
        shared_.log(APMMonitor::kLevelDebug, 23232,
            QStringLiteral("Network operation is pending. Request to query data set for on-device conversion "
                           "measurement postponed."));
        requestPostponed_ = true;
        return;
    }
    if (retryAlarm_)
        retryAlarm_->cancel();
    requestInProgress_ = true;
    platform::HttpRequest request;
    request.method = "GET";
    request.url = *url;
    request.timeoutSeconds = shared_.remoteConfig->networkTimeout();
    engine_.sendNetworkRequest(request, QStringLiteral("APMMeasurement:psm"),
        [this](const platform::HttpResponse& response) { PSMResponseCompletionOnWorkerQueue(response); });
}

void APMOnDeviceConversion::PSMResponseCompletionOnWorkerQueue(const platform::HttpResponse& response)
{
    // No new client is taken while a request is in progress: the one here
    // is the one that asked, and its input type names the count to raise.
    if (client_) {
        const qint32 type = client_->inputType();
        incrementPSMCountOnWorkerQueueWithName(PSMCountNamesForInputType(type).first);
    }
    const int status = response.error == platform::HttpResponse::Error::None ? response.status : 0;
    if (status != 200 && status != 204 && status != 304) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23228,
            QStringLiteral("Failed to query data set for on-device conversion measurement. Will retry later. "
                           "Code, error"),
            status, response.errorString);
        requestInProgress_ = false;
        maybeSchedulePSMRetry();
        engine_.updateSchedule();
        return;
    }
    const QString value
        = client_ ? client_->parsedPSMValueFromResponse(response.body) : QString();
    if (!value.isEmpty()) {
        shared_.log(APMMonitor::kLevelDebug, 23229, QStringLiteral("On-device conversion measurement found a match"));
        handlePSMValueOnWorkerQueue(value);
    } else {
        shared_.log(APMMonitor::kLevelDebug, 23230,
            QStringLiteral("On-device conversion measurement did not find a match. Will try again given new user "
                           "data."));
    }
    requestInProgress_ = false;
    client_.reset();
    engine_.updateSchedule();
}

void APMOnDeviceConversion::maybeSchedulePSMRetry()
{
    const qint32 attempt = retryCount_;
    retryCount_ = attempt + 1;
    if (retryCount_ >= shared_.remoteConfig->maxPSMRetryCount()) {
        shared_.log(APMMonitor::kLevelWarningMonitored, 23231,
            QStringLiteral("On-device conversion measurement failed to find a match. Reached retry limit."));
        return;
    }
    if (!retryAlarm_) {
        platform::Executor& timer = shared_.environment.timer ? *shared_.environment.timer : shared_.scheduler->workerQueue();
        retryAlarm_ = std::make_unique<APMAlarm>(shared_.scheduler->workerQueue(), timer, *shared_.environment.clock, kPSMAlarmName);
    }
    const std::weak_ptr<APMMeasurement*> weak = shared_.self;
    retryAlarm_->runAfterDelay(std::ldexp(shared_.remoteConfig->PSMRetryInterval(), std::min(attempt, 1000)), [weak] {
        if (const auto self = weak.lock(); self && *self)
            (*self)->conversion().retrievePSMResponse();
    });
}

// ---- Stored state -------------------------------------------------------------------

void APMOnDeviceConversion::handlePSMValueOnWorkerQueue(const QString& value)
{
    if (value.isEmpty())
        return;
    const double timestamp = shared_.now();
    if (const std::optional<APMValue> typed = APMValue::initWithString(value)) {
        if (const auto attribute = APMUserAttribute::initWithOrigin(kAutoOrigin, kPSMValueProperty, *typed, timestamp))
            engine_.setUserAttributeOnWorkerQueue(*attribute);
    }
    if (auto event = APMEvent::initWithOrigin(kAutoOrigin, false, kFirstOpenConsentedEvent, timestamp, 0,
            { { kPSMMatchSourceParameter, kPSMMatchSource } }, shared_.remoteConfig->eventParameterLimits())) {
        event->setRealtime(true);
        engine_.writeEventOnWorkerQueue(*event);
    }
}

void APMOnDeviceConversion::incrementPSMCountOnWorkerQueueWithName(const QString& name)
{
    qint64 count = 0;
    if (const auto stored = shared_.database->userAttributeWithName(name, nullptr); stored && stored->value().isInt64())
        count = stored->value().int64Value();
    if (const auto attribute = APMUserAttribute::initWithOrigin(
            kAutoOrigin, name, APMValue::initWithInt64(count < std::numeric_limits<qint64>::max() ? count + 1 : count), shared_.now()))
        engine_.setUserAttributeOnWorkerQueue(*attribute);
}

void APMOnDeviceConversion::maybeDeleteExpiredPSMValueOnWorkerQueue()
{
    const std::optional<APMUserAttribute> stored = shared_.database->userAttributeWithName(kPSMValueProperty, nullptr);
    if (!stored || shared_.now() - stored->lastSetTimestamp() < kPSMValueLifetime)
        return;
    for (const QString& name :
        { kPSMValueProperty, kPSMEmailCountProperty, kPSMPhoneCountProperty, kPSMHashedEmailCountProperty, kPSMHashedPhoneCountProperty }) {
        APMError error;
        if (shared_.database->containsUserAttributeWithName(name, nullptr).value_or(false)
            && !shared_.database->deleteUserAttributeWithName(name, &error))
            shared_.log(APMMonitor::kLevelErrorMonitored, 23077, QStringLiteral("Unable to remove user property. Name, error"), name,
                error.description());
    }
}

bool APMOnDeviceConversion::resumePostponedRequest()
{
    if (!requestPostponed_)
        return false;
    requestPostponed_ = false;
    retrievePSMResponse();
    return true;
}

void APMOnDeviceConversion::cancelRetries()
{
    retryAlarm_.reset();
}

void APMOnDeviceConversion::resetPSMCounts()
{
    startCount_ = 0;
    retryCount_ = 0;
}
