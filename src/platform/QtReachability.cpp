#include "platform/QtReachability.h"

#include <QCoreApplication>
#include <QNetworkInformation>
#include <QThread>

namespace platform {

namespace {

bool isOnline(QNetworkInformation::Reachability reachability)
{
    return reachability != QNetworkInformation::Reachability::Disconnected;
}

} // namespace

std::unique_ptr<QtReachability> QtReachability::create()
{
    // Changes arrive on the thread that loads the backend: only the
    // application's own turns an event loop for certain.
    const QCoreApplication* application = QCoreApplication::instance();
    if (!application || QThread::currentThread() != application->thread())
        return nullptr;
    if (!QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)
        || !QNetworkInformation::instance())
        return nullptr;
    return std::unique_ptr<QtReachability>(new QtReachability);
}

QtReachability::QtReachability()
{
    QNetworkInformation* information = QNetworkInformation::instance();
    context_.moveToThread(information->thread());
    connected_ = isOnline(information->reachability());
    QObject::connect(information, &QNetworkInformation::reachabilityChanged, &context_,
        [this](QNetworkInformation::Reachability reachability) { update(isOnline(reachability)); });
}

QtReachability::~QtReachability() = default;

void QtReachability::setChangeHandler(ChangeHandler handler)
{
    std::lock_guard locker(mutex_);
    handler_ = std::move(handler);
}

void QtReachability::update(bool connected)
{
    connected_ = connected;
    ChangeHandler handler;
    {
        std::lock_guard locker(mutex_);
        handler = handler_;
    }
    if (handler)
        handler();
}

} // namespace platform
