#include "analytics/interface/BASApp.h"

#include <mutex>

namespace bas_app {

struct Registry {
    std::mutex mutex;
    bool configured = false;
    BASApp::Options options;
    QMap<QString, QString> libraries;
};

Registry& registry()
{
    static Registry* shared = new Registry; // lives with the process
    return *shared;
}

} // namespace bas_app

void BASApp::configure(const Options& options)
{
    bas_app::Registry& r = bas_app::registry();
    std::lock_guard locker(r.mutex);
    r.configured = true;
    r.options = options;
}

bool BASApp::isDefaultAppConfigured()
{
    bas_app::Registry& r = bas_app::registry();
    std::lock_guard locker(r.mutex);
    return r.configured;
}

BASApp::Options BASApp::defaultAppOptions()
{
    bas_app::Registry& r = bas_app::registry();
    std::lock_guard locker(r.mutex);
    return r.configured ? r.options : Options();
}

void BASApp::registerInternalLibrary(const QString& name, const QString& version)
{
    if (name.isEmpty())
        return;
    bas_app::Registry& r = bas_app::registry();
    std::lock_guard locker(r.mutex);
    r.libraries.insert(name, version);
}

QMap<QString, QString> BASApp::registeredLibraries()
{
    bas_app::Registry& r = bas_app::registry();
    std::lock_guard locker(r.mutex);
    return r.libraries;
}

void BASApp::resetForTesting()
{
    bas_app::Registry& r = bas_app::registry();
    std::lock_guard locker(r.mutex);
    r.configured = false;
    r.options = Options();
    r.libraries.clear();
}
