#include "analytics/experiments/APMESDKProperty.h"

#include "analytics/experiments/APMEManager.h"
#include "analytics/base/APMEMonitor.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/config/APMESDKPropertyProviderDelegate.h"
#include "analytics/wire/APMPBClientProperty.h"
#include "analytics/wire/APMPBCustomProperty.h"
#include "analytics/wire/APMPBFieldAccess.h"

#include <utility>
#include <vector>

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

QString APMESDKProperty::appID() const
{
    QMutexLocker lock(&mutex_);
    return appID_;
}

void APMESDKProperty::setAppID(const QString& appID)
{
    QMutexLocker lock(&mutex_);
    appID_ = appID;
}

QString APMESDKProperty::diversionKey() const
{
    QMutexLocker lock(&mutex_);
    return diversionKey_;
}

void APMESDKProperty::setDiversionKey(const QString& key)
{
    QMutexLocker lock(&mutex_);
    diversionKey_ = key;
}

QMap<QString, QString> APMESDKProperty::customProperties() const
{
    QMutexLocker lock(&mutex_);
    return customProperties_;
}

void APMESDKProperty::setCustomProperties(const QMap<QString, QString>& properties)
{
    QMutexLocker lock(&mutex_);
    customProperties_ = properties;
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

std::unique_ptr<APMPBClientProperty> APMESDKProperty::proto(const QString& fallbackDiversionKey) const
{
    QString key = diversionKey();
    if (key.isEmpty())
        key = fallbackDiversionKey;
    if (key.isEmpty()) {
        APMEManager::monitor().logWithLevel(
            APMMonitor::kLevelErrorMonitored, 860001, QStringLiteral("Diversion key is empty"));
        return nullptr;
    }
    auto message = APMPBClientProperty::initWithMessageInfo();
    if (!message)
        return nullptr;
    APMPBSetStringField(message.get(), 0, name_);
    APMPBSetStringField(message.get(), 1, QStringLiteral("%1-%2").arg(key, name_));
    APMPBSetInt64Field(message.get(), 2, version());
    APMPBSetStringField(message.get(), 3, appID());
    QMap<QString, QString> properties = customProperties();
    if (const auto provider = delegate()) {
        const QMap<QString, QString> dynamic = provider->dynamicCustomPropertiesForSDKProperty(*this);
        for (auto it = dynamic.constBegin(); it != dynamic.constEnd(); ++it)
            properties.insert(it.key(), it.value());
    }
    if (!properties.isEmpty()) {
        std::vector<std::unique_ptr<APMPBCustomProperty>> entries;
        for (auto it = properties.constBegin(); it != properties.constEnd(); ++it) {
            auto entry = APMPBCustomProperty::initWithMessageInfo();
            APMPBSetStringField(entry.get(), 0, it.key());
            APMPBSetStringField(entry.get(), 1, it.value());
            entries.push_back(std::move(entry));
        }
        APMPBSetArrayField(message.get(), 4, entries);
    }
    return message;
}
