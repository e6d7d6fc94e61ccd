#pragma once

#include "analytics/model/APMUserAttribute.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QVariantMap>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>

class APMDailyCounts;
class APMEnvironmentInfo;
class APMEvent;
class APMMeasurement;
class APMPBMeasurementBundle;
struct APMEngineContext;

// The worker-queue side of the engine's logging entry and the event
// pipeline behind it: an event gets the default event parameters, passes the
// allowlist, the session check, the subscription dedupe, event editing,
// conditional user properties, the blocklist and the daily limits, and
// becomes one raw_events row under its metadata fingerprint in one
// transaction (or is dropped by rule). Owns the default event parameters'
// and the user properties' handling, and the pipeline's state: whether the
// current logging wrote a real-time event and the device facts the metadata
// carries, read again once an hour. Worker queue.
class APMEventPipeline {
public:
    using Interceptor = std::function<void(
        const QString& origin, const QString& name, const QVariantMap& parameters, double timestamp)>;

    static constexpr qint64 kMaxUserPropertiesPerOrigin = 25;

    // Made once the engine's environment has its defaults: the device facts
    // come from its system facts.
    APMEventPipeline(APMEngineContext& shared, APMMeasurement& engine);
    ~APMEventPipeline();
    APMEventPipeline(const APMEventPipeline&) = delete;
    APMEventPipeline& operator=(const APMEventPipeline&) = delete;

    // ---- Logging entry ------------------------------------------------------------

    void logEventOnWorkerQueueWithOrigin(const QString& origin, bool isPublicEvent, const QString& name,
        const QVariantMap& parameters, double timestamp, bool enabled, bool ignoreEnabled, bool ignoreInterceptor,
        const Interceptor& interceptor, const QVariantMap& addedScreenParameters);
    // Handles the event; with notifyEventListeners its copy then goes to the
    // environment's event listeners.
    void logEventOnWorkerQueue(const APMEvent& event, bool notifyEventListeners);
    // An internal event of the engine's own components: the default event
    // parameters are added (not to "_err"), the whole pipeline runs, then
    // the event listeners hear of it.
    void handleInternalEventOnWorkerQueue(APMEvent event);

    // ---- Default event parameters and user properties -------------------------------

    void handleSetDefaultEventParametersOnWorkerQueue(const std::optional<QVariantMap>& parameters);
    QVariantMap parametersWithAddedDefaultEventParameters(const QVariantMap& parameters);
    void setUserAttributeOnWorkerQueue(const APMUserAttribute& attribute);
    bool setUserPropertyInDatabaseOnWorkerQueue(const APMUserAttribute& attribute);
    void removeUserAttributeOnWorkerQueue(const QString& name);
    bool hasUserPropertyUserIDOnWorkerQueue();

    // ---- The pipeline -----------------------------------------------------------------

    void handleEventOnWorkerQueue(const APMEvent& event);
    void writeEventOnWorkerQueue(const APMEvent& event);
    void writeFilteredEventOnWorkerQueue(const APMEvent& event);
    bool shouldProcessEvent(const APMEvent& event, APMDailyCounts& counts, bool isPublicEvent);
    bool isRealtimeEvent(APMEvent& event, APMDailyCounts& counts);
    bool writeEvent(const APMEvent& event, bool isPublicEvent, bool isRealtime, bool setLastAdvertisingIDReset);

    // The raw events' metadata as stored: its encoding and fingerprint.
    struct RawEventMetadata {
        QByteArray encoding;
        qint64 fingerprint = 0;
        bool hasResettableDeviceID = false;
    };
    // The metadata for the given user properties and the current app,
    // identity, consent, configuration and device facts. They are all read
    // for every event (reading is cheap next to building and encoding the
    // message); the message is built and encoded again only when one of them
    // differs from what the kept metadata was made of.
    const RawEventMetadata& rawEventMetadataWithUserAttributes(const QList<APMUserAttribute>& attributes);
    std::unique_ptr<APMPBMeasurementBundle> createRawEventMetadataWithUserAttributes(
        const QList<APMUserAttribute>& attributes);

private:
    // Everything the metadata is made of, as read for one event.
    struct RawEventMetadataInputs {
        QString applicationID;
        bool fromAppStore = false;
        QString appVersion;
        QString vmpAppID;
        QString adNestAppID;
        QString installationID;
        std::optional<qint32> appVersionMajor;
        std::optional<qint32> appVersionMinor;
        std::optional<qint32> appVersionRelease;
        QString sessionStitchingToken;
        quint64 appleConsentStatus = 0;
        bool hasLimitedAdTracking = false;
        bool limitedAdTracking = false;
        QString resettableDeviceID;
        QString appInstanceID;
        // Read only when the resettable device ID is not used, as reading
        // it first makes one.
        std::optional<QString> vendorID;
        QString consentSignals;
        bool gateIDFAOnATTMAS = false;
        bool dma = false;
        // The DMA consent's inputs, read only with dma.
        QString consentDiagnostics;
        bool adUserDataDenied = false;
        bool dmaRegion = false;
        QSet<QString> corePlatformServices;
        std::optional<APMUserAttribute> npa;
        QString deviceModel;
        QString osVersion;
        qint32 timeZoneOffsetMinutes = 0;
        QString userDefaultLanguage;
        QList<APMUserAttribute> attributes;

        bool operator==(const RawEventMetadataInputs& other) const = default;
    };
    RawEventMetadataInputs rawEventMetadataInputs(const QList<APMUserAttribute>& attributes);
    std::unique_ptr<APMPBMeasurementBundle> buildRawEventMetadata(const RawEventMetadataInputs& inputs);

    std::optional<APMEvent> eventAfterSafelistingEvent(const APMEvent& event);
    bool dedupeSubscriptionEvent(const APMEvent& event);
    bool shouldDropDuplicatedSessionStartWithRolloutEvent(const APMEvent& event);
    void writeSessionStartEventOnWorkerQueue(const APMEvent& event);
    void writeEditedEventsOnWorkerQueue(const APMEvent& event);
    bool armedUploadCannotMoveEarlier();
    void setLastAdvertisingIDResetUserPropertyOnWorkerQueue();
    void logFirstOpenConsentedEvent(double timestamp);
    // Error events of the pipeline's own, through the engine's entry.
    std::function<void(const QString&, const QString&, const QVariantMap&)> internalEventLogger();

    APMEngineContext& shared_;
    APMMeasurement& engine_;
    bool wroteRealtimeEvent_ = false; // among the events of the current logging
    qint64 timeZoneHour_ = -1;
    qint32 timeZoneOffsetMinutes_ = 0;
    std::unique_ptr<APMEnvironmentInfo> ownEnvironmentInfo_;
    QString osVersion_;
    QString userDefaultLanguage_;
    // The metadata of the previous event and what it was made of.
    std::optional<RawEventMetadataInputs> keptMetadataInputs_;
    RawEventMetadata keptMetadata_;
};
