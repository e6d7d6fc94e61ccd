#pragma once

#include "analytics/frontend/APMAnalytics.h"
#include "analytics/interface/BASAnalyticsInterop.h"
#include "analytics/interface/BASComponent.h"

#include <QList>
#include <QMap>

#include <memory>
#include <mutex>
#include <optional>

namespace platform {
class Executor;
class SerialQueue;
} // namespace platform

class APMConditionalUserPropertyController;
class APMEvent;

// The point through which other libraries of the platform (messaging, in-app
// messaging, remote configuration, dynamic links, crash reporting) log
// events, set user properties, manage conditional user properties and hear
// logged events. BASConnectorUtils decides what each of them may do.
class BASAnalyticsConnector final : public BASAnalyticsInterop,
                                    public std::enable_shared_from_this<BASAnalyticsConnector> {
public:
    static const QString kQueueName; // "com.vireo.analytics_connector.queue"
    static const QString kLibraryName; // "basalt-analytics"
    static const QString& kLibraryVersion; // the public interface's version
    static const QString kInteropProtocol; // "BASAnalyticsInterop"
    static constexpr double kMaxUserPropertiesWait = 10;

    struct Environment {
        // Where listeners hear events; null: the main queue.
        platform::Executor* listenerQueue = nullptr;
        // How long maxUserProperties() waits for its answer.
        double maxUserPropertiesWait = kMaxUserPropertiesWait;
        // The conditional-property controller; null: the running engine's.
        std::function<APMConditionalUserPropertyController*()> controller;
    };

    // The program's load-time hook: announces the library to the registry.
    static void load();
    static QList<BASComponent<BASAnalyticsInterop>> componentsToRegister();
    // Shared by every connector.
    static platform::SerialQueue& queue();

    static std::shared_ptr<BASAnalyticsConnector> create();
    static std::shared_ptr<BASAnalyticsConnector> create(Environment environment);
    ~BASAnalyticsConnector() override;

    void logEventWithOrigin(const QString& origin, const QString& name, const QVariantMap& parameters) override;
    void setUserPropertyWithOrigin(const QString& origin, const QString& name, const QVariant& value) override;
    void getUserPropertiesWithCallback(std::function<void(const QVariantMap&)> callback) override;
    // Blocks for at most the wait; 0 when no answer came. Never call it from
    // the connector's queue or the front end's serial queue.
    qint64 maxUserProperties(const QString& origin) override;
    void setConditionalUserProperty(const QVariantMap& property) override;
    void clearConditionalUserProperty(const QString& name, const QString& origin, const QString& clearEventName,
        const QVariantMap& clearEventParameters) override;
    QList<QVariantMap> conditionalUserProperties(const QString& origin, const QString& propertyNamePrefix) override;
    void registerAnalyticsListener(std::shared_ptr<BASAnalyticsInteropListener> listener, const QString& origin) override;
    void unregisterAnalyticsListenerWithOrigin(const QString& origin) override;

    // Numbers and texts as they are; typed values as their number or text;
    // anything else dropped.
    static QVariantMap simplifiedParametersFromEventParameters(const QVariantMap& parameters);
    static std::optional<APMEvent> eventFromDictionary(const QVariantMap& dictionary);
    static std::optional<APMEvent> eventWithOrigin(
        const QString& origin, const QString& eventName, const QVariantMap& parameters);

private:
    explicit BASAnalyticsConnector(Environment environment);

    APMConditionalUserPropertyController* controller() const;
    void handleLoggedEvent(const APMEvent& event);

    Environment environment_;
    std::mutex mutex_;
    APMAnalytics::ListenerToken logEventListener_ = 0;
    std::optional<QMap<QString, std::shared_ptr<BASAnalyticsInteropListener>>> listeners_;
};
