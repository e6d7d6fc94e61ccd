#include "analytics/base/APMClassRegistry.h"

#include <QMutex>
#include <QHash>

namespace {

struct Registry {
    QMutex mutex;
    QHash<QString, QString> versions; // by class name
    QHash<QString, QHash<QString, APMClassRegistry::ClassMethod>> methods; // by class name, then method
};

Registry& registry()
{
    static Registry* r = new Registry(); // lives as long as the process
    return *r;
}

} // namespace

void APMClassRegistry::registerClassName(const QString& name, const QString& version)
{
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    r.versions.insert(name, version);
}

void APMClassRegistry::unregisterClassName(const QString& name)
{
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    r.versions.remove(name);
    r.methods.remove(name);
}

bool APMClassRegistry::classExists(const QString& name)
{
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    return r.versions.contains(name);
}

QString APMClassRegistry::classVersion(const QString& name)
{
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    return r.versions.value(name);
}

void APMClassRegistry::registerClassMethod(const QString& className, const QString& method, ClassMethod implementation)
{
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    r.methods[className].insert(method, std::move(implementation));
}

APMClassRegistry::ClassMethod APMClassRegistry::classMethod(const QString& className, const QString& method)
{
    Registry& r = registry();
    QMutexLocker lock(&r.mutex);
    return r.versions.contains(className) ? r.methods.value(className).value(method) : ClassMethod();
}
