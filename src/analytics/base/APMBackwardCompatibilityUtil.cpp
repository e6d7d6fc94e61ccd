#include "analytics/base/APMBackwardCompatibilityUtil.h"

#include "analytics/base/APMClassRegistry.h"

#include <mutex>

namespace apm_backward_compatibility {

struct Registry {
    std::mutex mutex;
    std::shared_ptr<APMBackwardCompatibilityUtil::OlderMeasurement> instance;
};

Registry& registry()
{
    static Registry* shared = new Registry; // lives with the process
    return *shared;
}

} // namespace apm_backward_compatibility

const QString APMBackwardCompatibilityUtil::kOlderMeasurementClassName = QStringLiteral("VMRMeasurement");

void APMBackwardCompatibilityUtil::registerOlderMeasurement(std::shared_ptr<OlderMeasurement> sharedInstance)
{
    apm_backward_compatibility::Registry& r = apm_backward_compatibility::registry();
    std::lock_guard locker(r.mutex);
    if (sharedInstance)
        APMClassRegistry::registerClassName(kOlderMeasurementClassName);
    else
        APMClassRegistry::unregisterClassName(kOlderMeasurementClassName);
    r.instance = std::move(sharedInstance);
}

bool APMBackwardCompatibilityUtil::disableVMRMeasurement()
{
    if (!APMClassRegistry::classExists(kOlderMeasurementClassName))
        return false;
    std::shared_ptr<OlderMeasurement> instance;
    {
        apm_backward_compatibility::Registry& r = apm_backward_compatibility::registry();
        std::lock_guard locker(r.mutex);
        instance = r.instance;
    }
    if (!instance)
        return false;
    instance->setIsEnabled(false);
    return true;
}
