#include "analytics/audience/APMESDKProperty.h"

#include <utility>

APMESDKProperty::APMESDKProperty(QString name)
    : name_(std::move(name))
{
}

qint64 APMESDKProperty::version() const
{
    QMutexLocker lock(&mutex_);
    return version_;
}

void APMESDKProperty::setVersion(qint64 version)
{
    QMutexLocker lock(&mutex_);
    version_ = version;
}

std::shared_ptr<APMESDKPropertyProviderDelegate> APMESDKProperty::delegate() const
{
    QMutexLocker lock(&mutex_);
    return delegate_.lock();
}

void APMESDKProperty::setDelegate(std::weak_ptr<APMESDKPropertyProviderDelegate> delegate)
{
    QMutexLocker lock(&mutex_);
    delegate_ = std::move(delegate);
}
