#include "analytics/model/APMEventAggregates.h"

#include "analytics/base/APMMonitor.h"
#include "analytics/model/APMDataTypeValidator.h"
#include "analytics/base/APMLibrary.h"

#include <limits>

namespace {

// Counts wrap to 0 instead of passing the largest 32-bit value.
void increment(qint32& count, qint64 code, const QString& message)
{
    if (count == std::numeric_limits<qint32>::max()) {
        APMLibrary::monitor().logWithLevel(APMMonitor::kLevelWarningSilent, code, message);
        count = 0;
        return;
    }
    ++count;
}

} // namespace

std::optional<APMEventAggregates> APMEventAggregates::initWithName(const QString& name, qint32 lifetimeCount,
    qint32 currentBundleCount, qint32 currentSessionCount, double lastFireTimestamp)
{
    if (!APMDataTypeValidator::isValidInternalEventName(name, nullptr))
        return std::nullopt;
    if (lifetimeCount < 0 || currentBundleCount < 0 || currentSessionCount < 0) {
        APMLibrary::monitor().logWithLevel(APMMonitor::kLevelWarningSilent, 17000,
            QStringLiteral("Failed to create event aggregates object. Received negative count."));
        return std::nullopt;
    }
    APMEventAggregates aggregates;
    aggregates.name_ = name;
    aggregates.lifetimeCount_ = lifetimeCount;
    aggregates.currentBundleCount_ = currentBundleCount;
    aggregates.currentSessionCount_ = currentSessionCount;
    aggregates.lastFireTimestamp_ = lastFireTimestamp;
    return aggregates;
}

void APMEventAggregates::incrementLifetimeCount()
{
    increment(lifetimeCount_, 17001, QStringLiteral("Lifetime count overflow. Lifetime count reset to 0."));
}

void APMEventAggregates::incrementCurrentBundleCount()
{
    increment(currentBundleCount_, 17002, QStringLiteral("Bundle count overflow. Bundle count reset to 0."));
}

void APMEventAggregates::incrementCurrentSessionCount()
{
    increment(
        currentSessionCount_, 17003, QStringLiteral("Session count overflow. Session count reset to 0."));
}
