#include "analytics/engine/APMBundleFields.h"

#include "analytics/config/APMRemoteConfig.h"
#include "analytics/reporters/APMMeasurementNames.h"
#include "analytics/identity/APMIdentity.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBMeasurementBundle.h"
#include "analytics/wire/APMPBUserAttribute.h"

#include <algorithm>

using namespace APMBundleSlot;

namespace {

bool isDeniedCharacter(QChar c)
{
    return c == QLatin1Char('0') || c == QLatin1Char('d') || c == QLatin1Char('D');
}

constexpr quint64 kTrackingStatusUnavailable = 6;
constexpr quint64 kTrackingStatusAuthorized = 3;

void setStringUnlessPresent(APMPBMeasurementBundle& bundle, int slot, const QString& value)
{
    if (!APMPBHasField(&bundle, slot))
        APMPBSetStringField(&bundle, slot, value);
}

} // namespace

bool APMIsAnalyticsStorageDeniedInSignal(const QString& consentSignals)
{
    return consentSignals.size() >= 4 && isDeniedCharacter(consentSignals.at(3));
}

void APMApplyIdentifiersToBundle(
    APMPBMeasurementBundle& bundle, const QString& consentSignals, bool gate, APMIdentity& identity, bool override)
{
    // One trip to the identity's queue for all its values.
    APMApplyIdentifiersToBundle(bundle, consentSignals, gate, identity, identity.advertisingIdentifiers(), override);
}

bool APMBundleUsesResettableDeviceID(const QString& signalsInForce, bool gate, const APMIdentity& identity,
    const APMIdentity::AdvertisingIdentifiers& identifiers)
{
    const bool adStorageDenied = signalsInForce.size() > 2 && isDeniedCharacter(signalsInForce.at(2));
    const bool trackingGated
        = identity.iOS14OrAbove() && identifiers.appleConsentStatus != kTrackingStatusAuthorized && gate;
    return identifiers.hasLimitedAdTracking && !identifiers.resettableDeviceID.isEmpty() && !adStorageDenied
        && !trackingGated;
}

void APMApplyIdentifiersToBundle(APMPBMeasurementBundle& bundle, const QString& consentSignals, bool gate,
    APMIdentity& identity, const APMIdentity::AdvertisingIdentifiers& identifiers, bool override)
{
    QString source; // the signals in force
    if (consentSignals.size() < 4) {
        if (consentSignals.isEmpty() && APMPBHasField(&bundle, kConsentSignals))
            APMPBClearField(&bundle, kConsentSignals);
    } else {
        source = consentSignals;
        if (!override && APMPBHasField(&bundle, kConsentSignals))
            source = APMPBGetStringField(&bundle, kConsentSignals);
        else
            APMPBSetStringField(&bundle, kConsentSignals, consentSignals);
    }
    const bool adStorageDenied = source.size() > 2 && isDeniedCharacter(source.at(2));
    const bool analyticsStorageDenied = source.size() > 3 && isDeniedCharacter(source.at(3));
    if (identity.iOS14OrAbove() && identifiers.appleConsentStatus != kTrackingStatusUnavailable)
        APMPBSetInt32Field(&bundle, kTrackingStatus, qint32(identifiers.appleConsentStatus));
    if (APMBundleUsesResettableDeviceID(source, gate, identity, identifiers)) {
        setStringUnlessPresent(bundle, kResettableDeviceID, identifiers.resettableDeviceID);
        APMPBClearField(&bundle, kVendorDeviceID);
    } else {
        APMPBClearField(&bundle, kResettableDeviceID);
        const std::optional<QString> vendor = identity.identifierForVendor();
        if (vendor && !analyticsStorageDenied)
            setStringUnlessPresent(bundle, kVendorDeviceID, *vendor);
        else
            APMPBClearField(&bundle, kVendorDeviceID);
    }
    if (!analyticsStorageDenied) {
        const QString& appInstanceID = identifiers.appInstanceID;
        if (!appInstanceID.isEmpty())
            setStringUnlessPresent(bundle, kAppInstanceID, appInstanceID);
    }
    if (adStorageDenied)
        APMPBClearField(&bundle, kResettableDeviceID);
    if (analyticsStorageDenied) {
        APMPBClearField(&bundle, kVendorDeviceID);
        APMPBClearField(&bundle, kAppInstanceID);
        APMPBClearField(&bundle, kSessionStitchingToken);
        APMPBClearField(&bundle, kAudienceResults);
    }
    if (identifiers.hasLimitedAdTracking)
        APMPBSetBoolField(&bundle, kLimitedAdTracking, identifiers.limitedAdTracking);
}

void APMApplyDMAConsentToBundle(APMPBMeasurementBundle& bundle, const QString& diagnostics, bool adUserDataDenied,
    const APMPBUserAttribute* npa, const APMRemoteConfig& remoteConfig, bool override)
{
    if (override || !APMPBHasField(&bundle, kConsentDiagnostics))
        APMPBSetStringField(&bundle, kConsentDiagnostics, diagnostics);
    if (override || !APMPBHasField(&bundle, kDMARegion))
        APMPBSetBoolField(&bundle, kDMARegion, remoteConfig.isDMARegion());
    if (override || !APMPBHasField(&bundle, kCorePlatformServices)) {
        QStringList services(remoteConfig.corePlatformServices().begin(), remoteConfig.corePlatformServices().end());
        std::sort(services.begin(), services.end());
        if (adUserDataDenied || services.isEmpty())
            APMPBSetStringField(&bundle, kCorePlatformServices, QStringLiteral("-"));
        else if (!remoteConfig.isDMARegion())
            APMPBClearField(&bundle, kCorePlatformServices);
        else if (APMPBGetBoolField(&bundle, kDMARegion))
            APMPBSetStringField(&bundle, kCorePlatformServices, services.join(QString()));
    }
    if (!npa)
        return;
    auto properties = APMPBGetArrayField<APMPBUserAttribute>(&bundle, kUserAttributes);
    auto found = std::find_if(properties.begin(), properties.end(), [](const auto& property) {
        return APMPBGetStringField(property.get(), APMUserAttributeSlot::kName) == apm_engine::kNPAProperty;
    });
    if (found != properties.end()) {
        if (!override)
            return;
        *found = APMPBUserAttribute::initWithMessageInfo(npa->messageInfo());
    } else {
        properties.push_back(APMPBUserAttribute::initWithMessageInfo(npa->messageInfo()));
    }
    APMPBSetArrayField(&bundle, kUserAttributes, std::move(properties));
}

void APMApplyDataControlsToBundle(APMPBMeasurementBundle& bundle, const QStringList& controls, APMIdentity& identity)
{
    if (controls.contains(QStringLiteral("app_instance_id"))) {
        APMPBClearField(&bundle, kAppInstanceID);
        if (APMIsAnalyticsStorageDeniedInSignal(APMPBGetStringField(&bundle, kConsentSignals)))
            APMPBClearField(&bundle, kEphemeralAppInstanceID);
        else
            APMPBSetStringField(&bundle, kEphemeralAppInstanceID, identity.ephemeralAppInstanceID());
    }
    if (controls.contains(QStringLiteral("user_id"))) {
        auto properties = APMPBGetArrayField<APMPBUserAttribute>(&bundle, kUserAttributes);
        std::erase_if(properties, [](const auto& property) {
            return APMPBGetStringField(property.get(), APMUserAttributeSlot::kName) == apm_engine::kUserIDProperty;
        });
        APMPBSetArrayField(&bundle, kUserAttributes, std::move(properties));
    }
    const bool deviceInfo = controls.contains(QStringLiteral("device_info"));
    if (deviceInfo || controls.contains(QStringLiteral("os_version"))) {
        const QString version = APMPBGetStringField(&bundle, kOSVersion);
        const qsizetype dot = version.indexOf(QLatin1Char('.'));
        if (dot >= 0)
            APMPBSetStringField(&bundle, kOSVersion, version.left(dot));
    }
    if (deviceInfo || controls.contains(QStringLiteral("device_model")))
        APMPBClearField(&bundle, kDeviceModel);
    if (controls.contains(QStringLiteral("enhanced_user_id")))
        APMPBClearField(&bundle, kSessionStitchingToken);
    if (!controls.isEmpty())
        APMPBSetArrayField(&bundle, kDataControls, QVariantList(controls.begin(), controls.end()));
}

bool APMBundleContainsFirstOpenEvent(const APMPBMeasurementBundle& bundle)
{
    return APMPBGetStringFieldOfElements(&bundle, kEvents, APMEventSlot::kName)
        .contains(apm_engine::kFirstOpenEvent);
}

std::unique_ptr<APMPBUserAttribute> APMBundleNPAUserAttribute(const APMPBMeasurementBundle& bundle)
{
    for (auto& property : APMPBGetArrayField<APMPBUserAttribute>(&bundle, kUserAttributes)) {
        if (APMPBGetStringField(property.get(), APMUserAttributeSlot::kName) == apm_engine::kNPAProperty)
            return std::move(property);
    }
    return nullptr;
}

bool APMBundlesHaveSameConsentState(const APMPBMeasurementBundle& a, const APMPBMeasurementBundle& b)
{
    const auto sameString = [&](int slot) {
        return APMPBHasField(&a, slot) == APMPBHasField(&b, slot)
            && APMPBGetStringField(&a, slot) == APMPBGetStringField(&b, slot);
    };
    if (!sameString(kConsentSignals) || !sameString(kConsentDiagnostics) || !sameString(kCorePlatformServices))
        return false;
    if (APMPBGetBoolField(&a, kDMARegion) != APMPBGetBoolField(&b, kDMARegion))
        return false;
    const auto npaValue = [](const APMPBMeasurementBundle& bundle) -> qint64 {
        const auto npa = APMBundleNPAUserAttribute(bundle);
        return npa ? APMPBGetInt64Field(npa.get(), APMUserAttributeSlot::kIntValue) : 0;
    };
    return npaValue(a) == npaValue(b);
}
