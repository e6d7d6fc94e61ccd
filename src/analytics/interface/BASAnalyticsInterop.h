#pragma once

#include <QList>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <memory>

// Hears the events analytics logged, as the connector passes them on.
class BASAnalyticsInteropListener {
public:
    virtual ~BASAnalyticsInteropListener() = default;
    // The event's name and its parameters as plain numbers and texts.
    virtual void messageTriggered(const QString& name, const QVariantMap& parameters) = 0;
};

// What other libraries of the platform may ask of analytics without linking
// its public interface.
class BASAnalyticsInterop {
public:
    virtual ~BASAnalyticsInterop() = default;

    virtual void logEventWithOrigin(const QString& origin, const QString& name, const QVariantMap& parameters) = 0;
    virtual void setUserPropertyWithOrigin(const QString& origin, const QString& name, const QVariant& value) = 0;
    virtual void getUserPropertiesWithCallback(std::function<void(const QVariantMap&)> callback) = 0;
    virtual qint64 maxUserProperties(const QString& origin) = 0;
    virtual void setConditionalUserProperty(const QVariantMap& property) = 0;
    virtual void clearConditionalUserProperty(const QString& name, const QString& origin, const QString& clearEventName,
        const QVariantMap& clearEventParameters) = 0;
    virtual QList<QVariantMap> conditionalUserProperties(const QString& origin, const QString& propertyNamePrefix) = 0;
    virtual void registerAnalyticsListener(std::shared_ptr<BASAnalyticsInteropListener> listener, const QString& origin) = 0;
    virtual void unregisterAnalyticsListenerWithOrigin(const QString& origin) = 0;
};
