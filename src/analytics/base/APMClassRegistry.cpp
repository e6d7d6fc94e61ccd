#include "analytics/base/APMClassRegistry.h"

#include <QMutex>
#include <QSet>

namespace {

struct Registry {
    QMutex mutex;
    QSet<QString> names;
};

Registry& registry()
{
    static Registry* r = new Registry(); // lives as long as the process
    return *r;
}

} // namespace

void APMClassRegistry::registerClassName(const QString& name)
{
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    r.names.insert(name);
}

void APMClassRegistry::unregisterClassName(const QString& name)
{
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    r.names.remove(name);
}

bool APMClassRegistry::classExists(const QString& name)
{
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    return r.names.contains(name);
}
