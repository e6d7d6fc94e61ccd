#include "analytics/engine/APMRawEventBundling.h"

#include "analytics/base/APMError.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/reporters/APMMeasurementNames.h"
#include "analytics/model/APMEvent.h"
#include "analytics/model/APMEventNames.h"
#include "analytics/store/APMDatabase.h"

#include <algorithm>

bool APMDeleteConsumedRawEvents(APMDatabase& database, qint64 maxRowID, qint64 fingerprint, APMMonitor& monitor)
{
    APMError error;
    if (!database.deleteRawEventsWithMaxRowID(maxRowID, fingerprint, &error)) {
        monitor.logWithLevel(APMMonitor::kLevelErrorMonitored, 23119,
            QStringLiteral("Unable to delete raw events. RowID, error"), maxRowID, error.description());
        return false;
    }
    const std::optional<bool> remaining = database.containsRawEventWithMetadataFingerprint(fingerprint, &error);
    if (!remaining) {
        monitor.logWithLevel(APMMonitor::kLevelErrorMonitored, 23120,
            QStringLiteral("Unable to query existence of raw event. Metadata, error"), fingerprint, error.description());
        return false;
    }
    if (!*remaining && !database.deleteRawEventMetadataWithMetadataFingerprint(fingerprint, &error)) {
        monitor.logWithLevel(APMMonitor::kLevelErrorMonitored, 23121,
            QStringLiteral("Unable to delete raw event metadata. Metadata, error"), fingerprint, error.description());
        return false;
    }
    return true;
}

bool APMEventsContainRealtimeEvent(const QList<APMEvent>& events)
{
    return std::any_of(events.begin(), events.end(), [](const APMEvent& event) { return event.isRealtime(); });
}

bool APMIsRealtimeExemptEvent(const APMEvent& event)
{
    const QString& name = event.name();
    return name == APMEventNames::kInAppPurchaseEvent || name == apm_engine::kFirstOpenEvent
        || name == apm_engine::kConsentChangeEvent || name == apm_engine::kFirstOpenConsentedEvent;
}

bool APMIsRealtimeLimitedEvent(const APMEvent& event, const APMMonitor& monitor)
{
    return !monitor.isDebugModeEnabled() && !APMIsRealtimeExemptEvent(event);
}

bool APMIsDCURealtimeEvent(const APMEvent& event, const APMMonitor& monitor)
{
    return !monitor.isDebugModeEnabled() && event.name() == apm_engine::kConsentChangeEvent;
}
