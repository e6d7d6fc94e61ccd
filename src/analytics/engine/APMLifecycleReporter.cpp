// The automatic lifecycle reports of the engine: first open, app and OS
// updates, the campaign of a stored deep link, the session-number backfill,
// and the personalized-ads user property with the ad-personalization consent it implies.
#include "analytics/engine/APMLifecycleReporter.h"

#include "analytics/engine/APMEngineContext.h"
#include "analytics/engine/APMMeasurement.h"
#include "analytics/engine/APMFrontEndLink.h"
#include "analytics/reporters/APMMeasurementNames.h"

#include "analytics/base/APMAEU.h"
#include "analytics/base/APMConfigStore.h"
#include "analytics/base/APMDeepLinkStore.h"
#include "analytics/base/APMError.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMNumericUtil.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/model/APMEvent.h"
#include "analytics/base/APMScheduler.h"
#include "analytics/base/APMStoreReceipt.h"
#include "analytics/base/APMValue.h"
#include "analytics/config/APMConsentSettingsUtil.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/reporters/APMScreenViewReporter.h"
#include "analytics/identity/APMIdentity.h"
#include "analytics/model/APMEventAggregates.h"
#include "analytics/model/APMLogNames.h"
#include "analytics/model/APMUserAttribute.h"
#include "analytics/store/APMDatabase.h"
#include "platform/SystemFacts.h"

#include <limits>

using namespace apm_engine;

namespace lifecycle_reporter {

const QString kAppUpdateEvent = QStringLiteral("_au");
const QString kOSUpdateEvent = QStringLiteral("_ou");
const QString kPreviousAppVersionParameter = QStringLiteral("_pv");
const QString kPreviousOSVersionParameter = QStringLiteral("_po");
const QString kPreviousVMPAppIDParameter = QStringLiteral("_pvmp");
const QString kCampaignCacheParameter = QStringLiteral("_cc");
const QString kDeferredAnalyticsCollectionParameter = QStringLiteral("_dac");
const QString kNotSet = QStringLiteral("(not set)");
const QString kUTMSource = QStringLiteral("utm_source");
const QString kUTMMedium = QStringLiteral("utm_medium");

constexpr qint64 kMillisecondsPerHour = 3'600'000;

} // namespace lifecycle_reporter

using namespace lifecycle_reporter;

APMLifecycleReporter::APMLifecycleReporter(APMEngineContext& shared, APMMeasurement& engine)
    : shared_(shared)
    , engine_(engine)
{
}

void APMLifecycleReporter::setPreviousVMPAppID(const QString& appID)
{
    previousVMPAppID_ = appID;
}

// ---- Helpers -----------------------------------------------------------------

void APMLifecycleReporter::logLifecycleEventOnWorkerQueue(
    const QString& name, const QVariantMap& parameters, double timestamp, const QVariantMap& screen)
{
    std::optional<APMEvent> event = APMEvent::initWithOrigin(
        kAutoOrigin, false, name, timestamp, 0, parameters, APMMeasurement::remoteConfig()->eventParameterLimits());
    if (!event) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23219, QStringLiteral("Attempted to log nil event. Origin, name, parameters"),
            kAutoOrigin, name);
        return;
    }
    if (!screen.isEmpty())
        event->addScreenParameters(screen);
    engine_.handleInternalEventOnWorkerQueue(*event);
}

QString APMLifecycleReporter::previousFirstOpenCount()
{
    const QVariant count = shared_.persistedConfig->previousFirstOpenCount();
    if (APMConfigStore::isNumber(count))
        return QString::number(APMConfigStore::int64FromNumber(count));
    // Earlier versions stored the count as decimal text: it still counts.
    if (count.metaType().id() != QMetaType::QString || !APMIsDecimalNumberString(count.toString()))
        return QString();
    bool whole = false;
    const qint64 value = count.toString().toLongLong(&whole);
    return QString::number(whole ? value : APMSaturatingInt64(count.toString().toDouble()));
}

void APMLifecycleReporter::setPreviousFirstOpenCount(const QString& count)
{
    if (count.isNull()) {
        shared_.persistedConfig->setPreviousFirstOpenCount(QVariant());
        return;
    }
    shared_.persistedConfig->setPreviousFirstOpenCount(count.toLongLong());
}

qint64 APMLifecycleReporter::timestampMillisRoundedUpToNextHour(qint64 milliseconds)
{
    const qint64 hourStart = milliseconds / kMillisecondsPerHour * kMillisecondsPerHour;
    // The last hour of the 64-bit range has no next one.
    if (hourStart > std::numeric_limits<qint64>::max() - kMillisecondsPerHour)
        return hourStart;
    return hourStart + kMillisecondsPerHour;
}

bool APMLifecycleReporter::isVersionSameAsOriginalVersion()
{
    std::call_once(originalVersionOnce_, [this] {
        const QString running = shared_.identity ? shared_.identity->appVersion() : QString();
        if (!shared_.environment.originalApplicationVersion) {
            isVersionSameAsOriginalVersion_ = APMStoreReceipt::receiptFileOriginalVersionMatches(running);
            return;
        }
        const std::optional<QString> original = shared_.environment.originalApplicationVersion();
        isVersionSameAsOriginalVersion_ = original && !original->isEmpty() && *original == running;
    });
    return isVersionSameAsOriginalVersion_;
}

// The reports of a start, after the components are made.
void APMLifecycleReporter::reportLifecycleOnStartOnWorkerQueue()
{
    setPersonalizedAdsUserPropertyOnWorkerQueue();
    backfillSessionNumber();
    reportFirstOpenOnWorkerQueue();
    if ((*shared_.environment.deepLinkStore).objectForKey(APMDeepLinkStore::kDeepLinkKey).isValid()) {
        reportStoredCampaignEventOnWorkerQueue(std::nullopt);
    } else if (engine_.shouldAllowRequestDeferredDeepLink()) {
        if (shared_.remoteConfig->isExpired() && shared_.remoteConfig->DMAConsentEnabled())
            engine_.setShouldRequestDeferredDeepLinkAfterConfigFetch(true);
        else
            engine_.requestDeferredDeepLink();
    }
    reportAppUpdateOnWorkerQueue();
    reportOSUpdateOnWorkerQueue();
}

// ---- First open ------------------------------------------------------------------

void APMLifecycleReporter::reportFirstOpenOnWorkerQueue()
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("reportFirstOpenOnWorkerQueue"));
    APMError error;
    const std::optional<bool> hasFirstOpen = shared_.database->containsUserAttributeWithName(kFirstOpenTimeProperty, &error);
    if (!hasFirstOpen) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23019, QStringLiteral("Failed to query first open property. Error"),
            error.description());
        return;
    }
    const QString countText = previousFirstOpenCount();
    const qint64 count = countText.toLongLong();
    if (*hasFirstOpen) {
        if (count < 1)
            setPreviousFirstOpenCount(QStringLiteral("1"));
        clearDeferredAnalyticsCollection();
        engine_.reportSessionStartOnWorkerQueueWithTimestamp(shared_.initTimestamp, false);
        shared_.persistedConfig->setLoadTimestampValue(QVariant());
        return;
    }

    const bool installFlag = count > 0 || isVersionSameAsOriginalVersion();
    const qint64 storedFirstOpenMs = shared_.persistedConfig->firstOpenTimestampMilliseconds();
    const double installTime = storedFirstOpenMs != 0 ? double(storedFirstOpenMs) / 1000.0 : shared_.initTimestamp;
    if (const auto attribute = APMUserAttribute::initWithOrigin(
            kAutoOrigin, kFirstOpenAfterInstallProperty, APMValue::initWithInt64(installFlag ? 1 : 0), installTime))
        engine_.setUserAttributeOnWorkerQueue(*attribute);
    const std::optional<bool> hasInstallFlag
        = shared_.database->containsUserAttributeWithName(kFirstOpenAfterInstallProperty, &error);
    if (!hasInstallFlag) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23161,
            QStringLiteral("Failed to query first open after install property after setting it. Error"),
            error.description());
        return;
    }
    if (!*hasInstallFlag) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23162, QStringLiteral("Failed to set first open after install property"));
        return;
    }

    const qint64 firstOpenMs = APMMillisecondsFromSeconds(shared_.initTimestamp).value_or(0);
    if (const auto attribute = APMUserAttribute::initWithOrigin(kAutoOrigin, kFirstOpenTimeProperty,
            APMValue::initWithInt64(timestampMillisRoundedUpToNextHour(firstOpenMs)), shared_.initTimestamp))
        engine_.setUserAttributeOnWorkerQueue(*attribute);
    const std::optional<bool> hasFirstOpenTime = shared_.database->containsUserAttributeWithName(kFirstOpenTimeProperty, &error);
    if (!hasFirstOpenTime) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23020,
            QStringLiteral("Failed to query first open property after setting it. Error"), error.description());
        return;
    }
    if (!*hasFirstOpenTime) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23021, QStringLiteral("Failed to set first open property"));
        return;
    }

    const bool efficientEngagement = shared_.remoteConfig->efficientEngagementReportingEnabled();
    QVariantMap parameters;
    if (!previousVMPAppID_.isEmpty())
        parameters.insert(kPreviousVMPAppIDParameter, previousVMPAppID_);
    parameters.insert(kPreviousFirstOpenCountParameter, qint64(count < 1 ? 0 : count));
    parameters.insert(kUpdateWithAnalyticsParameter, qint64(installFlag ? 0 : 1));
    // Collection was off when the engine first decided and is on now.
    const QVariant deferred = shared_.environment.frontEnd ? shared_.environment.frontEnd->link->deferredAnalyticsCollection() : QVariant();
    if (APMConfigStore::isNumber(deferred) && deferred.toBool())
        parameters.insert(kDeferredAnalyticsCollectionParameter, qint64(1));
    if (efficientEngagement)
        parameters.insert(kEngagementTimeParameter, qint64(1));
    // First open and its engagement carry the screen, as the session start
    // between them does.
    const QVariantMap screen = engine_.screenViewReporter().screenParameters();
    logLifecycleEventOnWorkerQueue(kFirstOpenEvent, parameters, shared_.initTimestamp, screen);
    clearDeferredAnalyticsCollection();
    shared_.persistedConfig->setLoadTimestampValue(QVariant());
    engine_.reportSessionStartOnWorkerQueueWithTimestamp(shared_.initTimestamp, false);

    if (!shared_.remoteConfig->redundantEngagementRemovalEnabled()) {
        QVariantMap engagement { { kEngagementTimeParameter, qint64(1) } };
        if (efficientEngagement)
            engagement.insert(kFirstRunParameter, qint64(1));
        logLifecycleEventOnWorkerQueue(kEngagementEvent, engagement, shared_.initTimestamp, screen);
    }
    shared_.persistedConfig->setFirstOpenTimestampMilliseconds(firstOpenMs);
    reportStoredCampaignEventOnWorkerQueue(firstOpenMs - 1);
}

// Whether collection was off when the engine first decided: first open
// reports it and clears the mark.
void APMLifecycleReporter::markDeferredAnalyticsCollection(bool enabled)
{
    if (shared_.environment.frontEnd && !shared_.isAnalyticsCollectionDeactivated
        && !shared_.environment.frontEnd->link->deferredAnalyticsCollection().isValid())
        shared_.environment.frontEnd->link->setDeferredAnalyticsCollection(qint64(enabled ? 0 : 1));
}

void APMLifecycleReporter::clearDeferredAnalyticsCollection()
{
    if (shared_.environment.frontEnd)
        shared_.environment.frontEnd->link->setDeferredAnalyticsCollection(QVariant());
}

// ---- Session number ------------------------------------------------------------------

// Session numbers began to be kept after sessions were already counted as
// events: a store without one takes the number of sessions seen so far.
void APMLifecycleReporter::backfillSessionNumber()
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("backfillSessionNumber"));
    if (shared_.persistedConfig->sessionNumber() != 0)
        return;
    APMError error;
    const std::optional<APMEventAggregates> aggregates
        = shared_.database->eventAggregatesWithName(kSessionStartEvent, &error);
    if (!aggregates) {
        if (error.code() != 0)
            shared_.log(APMMonitor::kLevelErrorMonitored, 23063,
                QStringLiteral("Unable to query event aggregates. Name, error"), APMEventNameForLog(kSessionStartEvent),
                error.description());
        return;
    }
    shared_.persistedConfig->setSessionNumber(aggregates->lifetimeCount());
}

// ---- Updates -----------------------------------------------------------------------

void APMLifecycleReporter::reportAppUpdateOnWorkerQueue()
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("reportAppUpdateOnWorkerQueue"));
    const QString current = shared_.identity->appVersion();
    const QString stored = shared_.persistedConfig->appVersion();
    if (current == stored)
        return;
    shared_.persistedConfig->setAppVersion(current);
    if (!stored.isEmpty())
        engine_.logInternalEventWithOrigin(kAutoOrigin, kAppUpdateEvent, { { kPreviousAppVersionParameter, stored } });
}

void APMLifecycleReporter::reportOSUpdateOnWorkerQueue()
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("reportOSUpdateOnWorkerQueue"));
    const QString current = APMAEU::systemVersion(&(*shared_.environment.systemFacts));
    const QString stored = shared_.persistedConfig->osVersion();
    if (current == stored)
        return;
    shared_.persistedConfig->setOSVersion(current);
    if (!stored.isEmpty())
        engine_.logInternalEventWithOrigin(kAutoOrigin, kOSUpdateEvent, { { kPreviousOSVersionParameter, stored } });
}

// ---- Stored campaign -----------------------------------------------------------------

void APMLifecycleReporter::reportStoredCampaignEventOnWorkerQueue(std::optional<qint64> clickTimestampInMillis)
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(
        QStringLiteral("reportStoredCampaignEventWithClickTimestampInMillisOnWorkerQueue:"));
    APMConfigStore& store = (*shared_.environment.deepLinkStore);
    QString link = store.stringForKey(APMDeepLinkStore::kDeepLinkKey);
    if (link.isEmpty()) {
        // Something stored that is no link would otherwise stay and keep
        // every later start from asking for the deferred deep link.
        clearStoredDeepLink(store);
        return;
    }
    const QVariant storedTime = store.numberForKey(APMDeepLinkStore::kDeepLinkTimestampKey);
    const double timestamp = storedTime.isValid() ? storedTime.toDouble() : 0;
    QVariantMap parameters;
    if (isStoredDeepLinkExpired(store, shared_.remoteConfig->attributionCacheTTLInterval(), shared_.now())) {
        // Too old to attribute: the campaign is reported without its source.
        link = kNotSet;
        parameters.insert(kUTMSource, kNotSet);
        parameters.insert(kUTMMedium, kNotSet);
        parameters.insert(kCampaignCacheParameter, qint64(1));
    } else {
        parameters.insert(kCampaignCacheParameter, qint64(APMMillisecondsFromSeconds(timestamp).value_or(0)));
    }
    clearStoredDeepLink(store);
    engine_.handleOpenURLOnWorkerQueue(QUrl(link), clickTimestampInMillis, timestamp, parameters);
}

// ---- Personalized ads -------------------------------------------------------------------

std::optional<qint64> APMLifecycleReporter::shouldDisableAdPersonalization()
{
    const QVariant allow = shared_.persistedConfig->allowPersonalizedAds();
    if (APMConfigStore::isNumber(allow))
        return allow.toBool() ? 0 : 1;
    const bool dma = shared_.remoteConfig && shared_.remoteConfig->DMAConsentEnabled();
    if (dma) {
        const std::optional<QVariantMap> settings = APMConsentSettingsUtil::consentSettings();
        if (settings && settings->contains(APMConsentSettingsUtil::kAdPersonalization)) {
            if (const std::optional<qint64> granted = APMConsentSettingsUtil::adPersonalization())
                return *granted ? 0 : 1;
        }
    }
    const auto plist = shared_.environment.infoDictionary->constFind(
        APMConsentSettingsUtil::kDefaultAllowAdPersonalizationSignalsKey);
    if (plist != shared_.environment.infoDictionary->constEnd()) {
        if (APMConfigStore::isNumber(*plist)) {
            foundAdPersonalizationPlistFlag_ = true;
            return plist->toBool() ? 0 : 1;
        }
        return 0;
    }
    if (dma) {
        const QString value = APMConsentSettingsUtil::defaultSettings()
                                  .value_or(QVariantMap())
                                  .value(APMConsentSettingsUtil::kAdPersonalization)
                                  .toString();
        if (value.compare(APMConsentSettingsUtil::kDenied, Qt::CaseInsensitive) == 0)
            return 1;
        if (value.compare(APMConsentSettingsUtil::kGranted, Qt::CaseInsensitive) == 0)
            return 0;
    }
    return std::nullopt;
}

void APMLifecycleReporter::setPersonalizedAdsUserPropertyOnWorkerQueue()
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("setPersonalizedAdsUserPropertyOnWorkerQueue"));
    APMError error;
    const std::optional<APMUserAttribute> stored = shared_.database->userAttributeWithName(kNPAProperty, &error);
    if (!stored && error.code() != 0) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23172, QStringLiteral("Unable to read personalized ads user property. Error"),
            error.description());
        return;
    }
    const std::optional<qint64> wanted = shouldDisableAdPersonalization();
    if (!wanted) {
        if (!stored)
            return;
        APMError removeError;
        if (shared_.database->deleteUserAttributeWithName(kNPAProperty, &removeError)) {
            shared_.log(APMMonitor::kLevelWarningMonitored, 23180,
                QStringLiteral("No value set for personalized ads. Removing user property."));
            APMConsentSettingsUtil::setDiagnosticSource(0, APMConsentSettingsUtil::kAdPersonalization);
        } else {
            shared_.log(APMMonitor::kLevelErrorMonitored, 23173,
                QStringLiteral("Unable to remove personalized ads user property in the database. Error"),
                removeError.description());
        }
        return;
    }
    if (shared_.remoteConfig->DMAConsentEnabled() && !APMConsentSettingsUtil::adPersonalization())
        updateAdPersonalizationConsentFromNPAValue(*wanted);
    if (stored && stored->value().isInt64() && stored->value().int64Value() == *wanted)
        return;
    if (const auto attribute
        = APMUserAttribute::initWithOrigin(kAutoOrigin, kNPAProperty, APMValue::initWithInt64(*wanted), shared_.now()))
        engine_.setUserAttributeOnWorkerQueue(*attribute);
}

void APMLifecycleReporter::updateAdPersonalizationConsentFromNPAValue(qint64 value)
{
    const std::optional<qint64> consent = APMConsentSettingsUtil::adPersonalization();
    // Consent granted (1) goes with ads not disabled (0): already consistent.
    if (consent && (*consent != 0) != (value != 0))
        return;
    APMConsentSettingsUtil::updateSettings({ { APMConsentSettingsUtil::kAdPersonalization,
        value != 0 ? APMConsentSettingsUtil::kDenied : APMConsentSettingsUtil::kGranted } });
    std::optional<qint64> source;
    if (shared_.persistedConfig->allowPersonalizedAds().isValid())
        source = 5;
    else if (foundAdPersonalizationPlistFlag_)
        source = 3;
    else if (APMConsentSettingsUtil::defaultSettings().value_or(QVariantMap()).contains(
                 APMConsentSettingsUtil::kAdPersonalization))
        source = 1;
    if (source)
        APMConsentSettingsUtil::setDiagnosticSource(*source, APMConsentSettingsUtil::kAdPersonalization);
}
