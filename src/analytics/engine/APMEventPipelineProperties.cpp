// The pipeline's default event parameters and user properties: checked
// against the configuration's limits and kept in the persisted state and the
// database.
#include "analytics/engine/APMEngineContext.h"
#include "analytics/engine/APMEventPipeline.h"
#include "analytics/engine/APMMeasurement.h"

#include "analytics/base/APMError.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/base/APMScheduler.h"
#include "analytics/base/APMValue.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/identity/APMIdentity.h"
#include "analytics/model/APMDataTypeValidator.h"
#include "analytics/model/APMEventParameters.h"
#include "analytics/model/APMLogNames.h"
#include "analytics/model/APMUserAttribute.h"
#include "analytics/reporters/APMMeasurementNames.h"
#include "analytics/store/APMDatabase.h"

namespace apm_event_pipeline_properties {

constexpr qint64 kErrorCodeUserPropertyLimit = 9;
constexpr qint64 kErrorCodeDefaultParameterArray = 27;
constexpr qint64 kErrorCodeDefaultParameterLimit = 26;

} // namespace apm_event_pipeline_properties

using namespace apm_engine;
using namespace apm_event_pipeline_properties;

// ---- Default event parameters ---------------------------------------------------

void APMEventPipeline::handleSetDefaultEventParametersOnWorkerQueue(const std::optional<QVariantMap>& parameters)
{
    if (!shared_.enabled) {
        shared_.log(APMMonitor::kLevelDebug, 23211, QStringLiteral("Analytics is disabled. Default event parameters not updated"));
        return;
    }
    QVariantMap defaults = parameters ? shared_.persistedConfig->defaultEventParameters().value_or(QVariantMap()) : QVariantMap();
    const EventParameterLimits limits = APMMeasurement::remoteConfig()->eventParameterLimits();
    for (auto it = parameters.value_or(QVariantMap()).cbegin(); parameters && it != parameters->cend(); ++it) {
        const QVariant& value = it.value();
        const bool isNull = value.isNull() && value.typeId() != QMetaType::QString;
        const bool isPlain = value.typeId() == QMetaType::QString || value.canConvert<double>();
        if (!isNull && (!isPlain || value.typeId() == QMetaType::QVariantList)) {
            shared_.log(APMMonitor::kLevelWarningMonitored, 23213,
                QStringLiteral("Invalid key in default event parameters. Parameter ignored."), it.key());
            if (value.typeId() == QMetaType::QVariantList)
                APMLogErrorEvent(kErrorCodeDefaultParameterArray, internalEventLogger());
            continue;
        }
        qint64 failure = 0;
        if (!APMDataTypeValidator::isValidPublicEventParameterName(it.key(), &failure)) {
            shared_.log(APMMonitor::kLevelWarningMonitored, 23214, QStringLiteral("Invalid default event parameter name. Name"),
                it.key());
            continue;
        }
        if (isNull) {
            defaults.remove(it.key());
            continue;
        }
        const std::optional<APMValue> typed = APMValue::valueFromObject(value);
        if (typed && APMDataTypeValidator::isValidPublicEventParameterValue(QVariant::fromValue(*typed), limits, &failure))
            defaults.insert(it.key(), value);
    }
    const qint64 limit = APMMeasurement::remoteConfig()->maxPublicEventParams();
    if (defaults.size() > limit) {
        EventParameters typed;
        for (auto it = defaults.cbegin(); it != defaults.cend(); ++it) {
            if (const auto value = APMValue::valueFromObject(it.value()))
                typed.insert(it.key(), *value);
        }
        APMTrimPublicParametersToLimit(typed, limit);
        QVariantMap trimmed;
        for (auto it = typed.cbegin(); it != typed.cend(); ++it)
            trimmed.insert(it.key(), defaults.value(it.key()));
        defaults = trimmed;
        APMLogErrorEvent(kErrorCodeDefaultParameterLimit, internalEventLogger());
        shared_.log(APMMonitor::kLevelWarningMonitored, 23215,
            QStringLiteral("Too many default event parameters set. Discarding beyond event parameter limit"));
    }
    shared_.log(APMMonitor::kLevelDebug, 23216, QStringLiteral("Updating default event parameters. Parameters"),
        APMParametersDescription(QVariant(defaults)));
    shared_.persistedConfig->setDefaultEventParameters(defaults);
}

QVariantMap APMEventPipeline::parametersWithAddedDefaultEventParameters(const QVariantMap& parameters)
{
    const std::optional<QVariantMap> defaults = shared_.persistedConfig->defaultEventParameters();
    if (!defaults || defaults->isEmpty())
        return parameters;
    QVariantMap merged = *defaults;
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it)
        merged.insert(it.key(), it.value());
    return merged;
}

// ---- User properties -------------------------------------------------------------

void APMEventPipeline::setUserAttributeOnWorkerQueue(const APMUserAttribute& attribute)
{
    if (!shared_.enabled) {
        shared_.log(APMMonitor::kLevelDebug, 23081, QStringLiteral("Analytics is disabled. User property not set"));
        return;
    }
    setUserPropertyInDatabaseOnWorkerQueue(attribute);
}

bool APMEventPipeline::setUserPropertyInDatabaseOnWorkerQueue(const APMUserAttribute& attribute)
{
    APMError error;
    const std::optional<bool> exists = shared_.database->containsUserAttributeWithName(attribute.name(), &error);
    if (!exists) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23082, QStringLiteral("Unable to query existence of user property. Name, error"),
            APMUserPropertyNameForLog(attribute.name()), error.description());
        return false;
    }
    if (*exists && attribute.name() == kUserIDProperty) {
        const std::optional<APMUserAttribute> stored = shared_.database->userAttributeWithName(kUserIDProperty, nullptr);
        if (stored && stored->value().plainValue().toString() != attribute.value().plainValue().toString()) {
            shared_.identity->resetSessionStitchingToken();
            shared_.database->deleteUserAttributeWithName(kLastAdvertisingIDResetProperty, nullptr);
        }
    }
    // The stored personalized-ads choice and the ad-personalization consent go together.
    if (attribute.name() == kNPAProperty && attribute.value().isInt64() && APMMeasurement::remoteConfig()->DMAConsentEnabled())
        engine_.updateAdPersonalizationConsentFromNPAValue(attribute.value().int64Value());
    if (!*exists) {
        const std::optional<qint64> count = attribute.isPublic()
            ? shared_.database->publicUserAttributeCount(&error)
            : shared_.database->userAttributeCountForOrigin(attribute.origin(), &error);
        if (!count) {
            shared_.log(APMMonitor::kLevelErrorMonitored, 23083, QStringLiteral("Unable to query user property count. Origin, error"),
                attribute.origin(), error.description());
            return false;
        }
        const qint64 limit = attribute.isPublic() ? qint64(APMMeasurement::remoteConfig()->maxPublicUserProperties())
                                                  : kMaxUserPropertiesPerOrigin;
        if (*count >= limit) {
            shared_.log(APMMonitor::kLevelWarning, 23084,
                QStringLiteral("Unable to set user property. Reached limit on set user properties for origin. Origin, name, value"),
                attribute.origin(), APMUserPropertyNameForLog(attribute.name()));
            APMLogErrorEvent(kErrorCodeUserPropertyLimit, internalEventLogger());
            return false;
        }
    }
    if (!shared_.database->updateUserAttribute(attribute, &error)) {
        shared_.log(APMMonitor::kLevelErrorMonitored, 23085, QStringLiteral("Unable to set user property. Name, value, error"),
            APMUserPropertyNameForLog(attribute.name()), error.description());
        return false;
    }
    shared_.log(APMMonitor::kLevelDebug, 23087, QStringLiteral("User property set. Name, value"),
        APMUserPropertyNameForLog(attribute.name()), attribute.value().plainValue());
    return true;
}

void APMEventPipeline::removeUserAttributeOnWorkerQueue(const QString& name)
{
    if (!shared_.enabled) {
        shared_.log(APMMonitor::kLevelDebug, 23076, QStringLiteral("Analytics is disabled. User property not removed"));
        return;
    }
    if (name == kUserIDProperty)
        shared_.identity->resetSessionStitchingToken();
    APMError error;
    if (shared_.database->deleteUserAttributeWithName(name, &error))
        shared_.log(APMMonitor::kLevelDebug, 23078, QStringLiteral("User property removed. Name"), APMUserPropertyNameForLog(name));
    else
        shared_.log(APMMonitor::kLevelErrorMonitored, 23077, QStringLiteral("Unable to remove user property. Name, error"),
            APMUserPropertyNameForLog(name), error.description());
}

bool APMEventPipeline::hasUserPropertyUserIDOnWorkerQueue()
{
    APMScheduler::checkOnBackgroundThreadWithMethodName(QStringLiteral("hasUserPropertyUserIDOnWorkerQueue"));
    if (!shared_.database)
        return false;
    return shared_.database->containsUserAttributeWithName(kUserIDProperty, nullptr).value_or(false);
}
