#pragma once

#include "analytics/identity/APMIdentity.h"

#include <QString>
#include <QStringList>

#include <memory>

class APMPBMeasurementBundle;
class APMPBUserAttribute;
class APMRemoteConfig;

// Slots (positions in the field list) of the measurement bundle's fields,
// named by what they hold; the comment gives the field number.
namespace APMBundleSlot {
constexpr int kProtocolVersion = 0; // 1
constexpr int kEvents = 1; // 2
constexpr int kUserAttributes = 2; // 3
constexpr int kUploadTimestamp = 3; // 4
constexpr int kStartTimestamp = 4; // 5
constexpr int kEndTimestamp = 5; // 6
constexpr int kPreviousBundleStart = 6; // 26
constexpr int kPreviousBundleEnd = 7; // 7
constexpr int kPlatform = 8; // 8
constexpr int kOSVersion = 9; // 9
constexpr int kDeviceModel = 10; // 10
constexpr int kUserDefaultLanguage = 11; // 11
constexpr int kTimeZoneOffsetMinutes = 12; // 12
constexpr int kAppStore = 13; // 13
constexpr int kAppID = 14; // 14
constexpr int kAppVersion = 16; // 16
constexpr int kLibraryVersion = 17; // 17
constexpr int kUploadingLibraryVersion = 18; // 18
constexpr int kResettableDeviceID = 19; // 19
constexpr int kVendorDeviceID = 20; // 27
constexpr int kLimitedAdTracking = 21; // 20
constexpr int kAppInstanceID = 22; // 21
constexpr int kBundleIndex = 24; // 23
constexpr int kMonitoringData = 25; // 24
constexpr int kVMPAppID = 26; // 25
constexpr int kAudienceResults = 28; // 29
constexpr int kInstallationID = 29; // 30
constexpr int kAppVersionMajor = 30; // 31
constexpr int kAppVersionMinor = 31; // 32
constexpr int kAppVersionRelease = 32; // 33
constexpr int kConfigVersion = 34; // 35
constexpr int kAdNestAppID = 36; // 41
constexpr int kExperimentIDs = 37; // 45
constexpr int kChecksum = 38; // 47
constexpr int kConsentSignals = 40; // 52
constexpr int kTrackingStatus = 41; // 53
constexpr int kSessionStitchingToken = 43; // 63
constexpr int kDataControls = 44; // 64
constexpr int kEphemeralAppInstanceID = 45; // 65
constexpr int kConsentDiagnostics = 47; // 71
constexpr int kDMARegion = 48; // 72
constexpr int kCorePlatformServices = 49; // 73
} // namespace APMBundleSlot

// Slots of the user attribute and event messages.
namespace APMUserAttributeSlot {
constexpr int kSetTimestamp = 0;
constexpr int kName = 1;
constexpr int kStringValue = 2;
constexpr int kIntValue = 3;
} // namespace APMUserAttributeSlot

namespace APMEventSlot {
constexpr int kName = 1;
} // namespace APMEventSlot

// Consent consentSignals: "G1" and one character per storage type; "0", "d" or
// "D" at the fourth character means analytics storage denied.
bool APMIsAnalyticsStorageDeniedInSignal(const QString& consentSignals);

// Whether a bundle carries the resettable device ID rather than the
// vendor's: the identity has one and limits ad tracking, and neither the
// consent signals in force (the field's text; empty for none) deny ad
// storage nor tracking authorization gates it.
bool APMBundleUsesResettableDeviceID(const QString& signalsInForce, bool gate, const APMIdentity& identity,
    const APMIdentity::AdvertisingIdentifiers& identifiers);

// The identifiers and consent consentSignals a bundle carries, as consent allows.
void APMApplyIdentifiersToBundle(APMPBMeasurementBundle& bundle, const QString& consentSignals, bool gate,
    APMIdentity& identity, bool override);
// The same with the advertising identifiers already read from the identity.
void APMApplyIdentifiersToBundle(APMPBMeasurementBundle& bundle, const QString& consentSignals, bool gate,
    APMIdentity& identity, const APMIdentity::AdvertisingIdentifiers& identifiers, bool override);
// The DMA consent fields and the "_npa" user property.
void APMApplyDMAConsentToBundle(APMPBMeasurementBundle& bundle, const QString& diagnostics,
    bool adUserDataDenied, const APMPBUserAttribute* npa, const APMRemoteConfig& remoteConfig, bool override);
// Removes or cuts what the configuration's data controls withhold.
void APMApplyDataControlsToBundle(APMPBMeasurementBundle& bundle, const QStringList& controls, APMIdentity& identity);
bool APMBundleContainsFirstOpenEvent(const APMPBMeasurementBundle& bundle);
std::unique_ptr<APMPBUserAttribute> APMBundleNPAUserAttribute(const APMPBMeasurementBundle& bundle);
bool APMBundlesHaveSameConsentState(const APMPBMeasurementBundle& a, const APMPBMeasurementBundle& b);
