#pragma once

#include "analytics/model/APMEventNames.h"

#include <QString>

// Names the engine's own code uses in more than one place.
namespace apm_engine {
using APMEventNames::kAutoOrigin;
using APMEventNames::kAppOrigin;
using APMEventNames::kAdOrigin;
// The origin of the platform front end (the ad front end's is kAdOrigin).
inline const QString kPlatformOrigin = QStringLiteral("fa");
using APMEventNames::kCampaignEvent;
inline const QString kClickTimestampParameter = QStringLiteral("click_timestamp");
// A change of the consent settings, sent in real time.
inline const QString kConsentChangeEvent = QStringLiteral("_dcu");
// The consented first open, sent in real time; an on-device conversion
// match is reported as one too.
inline const QString kFirstOpenConsentedEvent = QStringLiteral("_fx");
// First-open facts: the install flag and the two first-open parameters.
inline const QString kFirstOpenAfterInstallProperty = QStringLiteral("_fi");
inline const QString kPreviousFirstOpenCountParameter = QStringLiteral("_pfo");
inline const QString kUpdateWithAnalyticsParameter = QStringLiteral("_uwa");
inline const QString kUserIDProperty = QStringLiteral("_id");
inline const QString kLastAdvertisingIDResetProperty = QStringLiteral("_lair");
inline const QString kNPAProperty = QStringLiteral("_npa");
inline const QString kSessionStartEvent = QStringLiteral("_s");
inline const QString kFirstOpenEvent = QStringLiteral("_f");
// The hour of the first open; its presence marks a first open as reported.
inline const QString kFirstOpenTimeProperty = QStringLiteral("_fot");
inline const QString kEngagementEvent = QStringLiteral("_e");
inline const QString kEngagementTimeParameter = QStringLiteral("_et");
inline const QString kFirstRunParameter = QStringLiteral("_fr");
// Ad exposure: one unit's and all units' together.
inline const QString kUnitExposureEvent = QStringLiteral("_xu");
inline const QString kOverallExposureEvent = QStringLiteral("_xa");
inline const QString kLifetimeEngagementProperty = QStringLiteral("_lte");
inline const QString kSessionEngagementProperty = QStringLiteral("_se");
} // namespace apm_engine

// Sessions.
namespace apm_engine {
inline const QString kSessionIDProperty = QStringLiteral("_sid");
inline const QString kSessionNumberProperty = QStringLiteral("_sno");
inline const QString kAppInBackgroundParameter = QStringLiteral("_aib");
inline const QString kAppBackgroundedEvent = QStringLiteral("_ab");
} // namespace apm_engine
