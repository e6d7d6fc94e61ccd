#include "analytics/model/APMAppMetadata.h"

#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMLibrary.h"

#include <QString>

#include <limits>

namespace {

const QString kLogNegativeIndex
    = QStringLiteral("Failed to create app metadata object. Received negative last bundle index.");
const QString kLogIndexOverflow = QStringLiteral("Bundle index overflow. Bundle index reset to 0.");

} // namespace

APMAppMetadata::APMAppMetadata(
    qint32 lastBundleIndex, double lastBundleStartTimestamp, double lastBundleEndTimestamp)
    : lastBundleIndex_(lastBundleIndex)
    , lastBundleStartTimestamp_(lastBundleStartTimestamp)
    , lastBundleEndTimestamp_(lastBundleEndTimestamp)
{
}

std::optional<APMAppMetadata> APMAppMetadata::initWithLastBundleIndex(
    qint32 lastBundleIndex, double lastBundleStartTimestamp, double lastBundleEndTimestamp)
{
    if (lastBundleIndex < 0) {
        APMLibrary::monitor().logWithLevel(APMMonitor::kLevelErrorSilent, 4000, kLogNegativeIndex);
        return std::nullopt;
    }
    return APMAppMetadata(lastBundleIndex, lastBundleStartTimestamp, lastBundleEndTimestamp);
}

void APMAppMetadata::incrementLastBundleIndex()
{
    if (lastBundleIndex_ == std::numeric_limits<qint32>::max()) {
        lastBundleIndex_ = 0;
        APMLibrary::monitor().logWithLevel(APMMonitor::kLevelWarningSilent, 4001, kLogIndexOverflow);
        return;
    }
    ++lastBundleIndex_;
}
