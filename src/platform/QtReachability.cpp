#include "platform/QtReachability.h"

#include <QCoreApplication>
#include <QNetworkInformation>

namespace platform {

namespace {

bool isOnline(QNetworkInformation::Reachability reachability)
{
    return reachability != QNetworkInformation::Reachability::Disconnected;
}

} // namespace

std::unique_ptr<QtReachability> QtReachability::create()
{
    if (!QCoreApplication::instance())
        return nullptr;
    if (!QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability) || !QNetworkInformation::instance())
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
