#include "analytics/model/APMStoreLimits.h"

#include <QMutex>

namespace {

class APMStoreLimitsDefaults final : public APMStoreLimits {
public:
    double databaseDeleteStaleBundlesInterval() const override { return kDefaultDatabaseDeleteStaleBundlesInterval; }
    double maxQueueTime() const override { return kDefaultMaxQueueTime; }
    qint32 maxEventsStored() const override { return kDefaultMaxEventsStored; }
    EventParameterLimits eventParameterLimits() const override { return {}; }
};

QMutex& storeLimitsLock()
{
    static QMutex mutex;
    return mutex;
}

std::shared_ptr<const APMStoreLimits>& installedStoreLimits()
{
    static std::shared_ptr<const APMStoreLimits> limits;
    return limits;
}

} // namespace

std::shared_ptr<const APMStoreLimits> APMStoreLimits::current()
{
    {
        QMutexLocker locker(&storeLimitsLock());
        if (installedStoreLimits())
            return installedStoreLimits();
    }
    static const std::shared_ptr<const APMStoreLimits> defaults = std::make_shared<APMStoreLimitsDefaults>();
    return defaults;
}

void APMStoreLimits::install(std::shared_ptr<const APMStoreLimits> limits)
{
    QMutexLocker locker(&storeLimitsLock());
    installedStoreLimits() = std::move(limits);
}
