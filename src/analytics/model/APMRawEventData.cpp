#include "analytics/model/APMRawEventData.h"

#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMLibrary.h"

std::optional<APMRawEventData> APMRawEventData::initWithRawEvent(
    const std::optional<APMEvent>& rawEvent, qint64 rowID, qint64 metadataFingerprint)
{
    if (!rawEvent) {
        APMLibrary::monitor().logWithLevel(APMMonitor::kLevelWarningMonitored, 28000,
            QStringLiteral("Failed to create raw event data. Received invalid raw event."));
        return std::nullopt;
    }
    if (rowID < 0) {
        APMLibrary::monitor().logWithLevel(APMMonitor::kLevelWarningMonitored, 28001,
            QStringLiteral("Failed to create raw event data. Received invalid row ID. Row ID"), rowID);
        return std::nullopt;
    }
    return APMRawEventData(*rawEvent, rowID, metadataFingerprint);
}

APMRawEventData::APMRawEventData(const APMEvent& rawEvent, qint64 rowID, qint64 metadataFingerprint)
    : rawEvent_(rawEvent)
    , rowID_(rowID)
    , metadataFingerprint_(metadataFingerprint)
{
}
