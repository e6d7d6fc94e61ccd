#include "analytics/reporters/APMEventRoute.h"

#include <mutex>

namespace event_route {

struct Doors {
    std::mutex mutex;
    APMEventRoute::FrontEndEntry frontEnd;
    APMEventRoute::Engine engine;
};

Doors& doors()
{
    static Doors* const shared = new Doors; // lives with the process: reporters log until the end
    return *shared;
}

APMEventRoute::FrontEndEntry frontEnd()
{
    Doors& d = doors();
    std::lock_guard locker(d.mutex);
    return d.frontEnd;
}

APMEventRoute::Engine engine()
{
    Doors& d = doors();
    std::lock_guard locker(d.mutex);
    return d.engine;
}

} // namespace event_route

void APMEventRoute::setFrontEnd(FrontEndEntry entry)
{
    event_route::Doors& d = event_route::doors();
    std::lock_guard locker(d.mutex);
    d.frontEnd = std::move(entry);
}

void APMEventRoute::setEngine(Engine engine)
{
    event_route::Doors& d = event_route::doors();
    std::lock_guard locker(d.mutex);
    d.engine = std::move(engine);
}

void APMEventRoute::logReportedInternalEvent(
    const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp)
{
    if (const FrontEndEntry frontEnd = event_route::frontEnd(); frontEnd && frontEnd(origin, name, parameters, timestamp))
        return;
    if (const EventEntry own = event_route::engine().logOwnInternalEvent)
        own(origin, name, parameters, timestamp);
}

void APMEventRoute::logEventThroughFrontEndOrEngine(
    const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp)
{
    if (const FrontEndEntry frontEnd = event_route::frontEnd(); frontEnd && frontEnd(origin, name, parameters, timestamp))
        return;
    if (const EventEntry plain = event_route::engine().logEvent)
        plain(origin, name, parameters, timestamp);
}

std::shared_ptr<APMSessionReporter> APMEventRoute::engineSessionReporter()
{
    const auto sessionReporter = event_route::engine().sessionReporter;
    return sessionReporter ? sessionReporter() : nullptr;
}
