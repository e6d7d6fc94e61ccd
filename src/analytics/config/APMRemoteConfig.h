#pragma once

#include "analytics/config/APMEExperimentObserverDelegate.h"
#include "analytics/config/APMESDKPropertyProviderDelegate.h"
#include "analytics/config/APMEventEditingProvider.h"
#include "analytics/config/APMRemoteConfigSettings.h"

#include <QList>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

namespace platform {
class Clock;
}

class APMEClient;
class APMExperimentFlagClient;
class APMExperimentSource;
class APMPBEventConfig;
class APMPBMeasurementConfig;
class APMPEventEditing;
class APMRemoteConfigDatabase;

// The measurement configuration that the collection servers deliver for one
// app, and the answer to every question the analytics library asks about
// limits, intervals, switches and per-event rules.
//
// A configuration message is flattened into one set of caches: settings by
// key, event configurations by event name, data controls, consent defaults,
// delegations and regional defaults, core platform services, and the runner
// of the configuration's event-editing program. Each new configuration is
// parsed into a fresh set that replaces the old one in a single step, so a
// reader never sees half of two configurations, and whatever a configuration
// does not carry is back at its default. A program that fails to load is
// dropped on its own; the rest of its configuration still applies.
//
// The settings' getters and how a setting's text becomes a number are
// APMRemoteConfigSettings, the base this class hands the table in force.
//
// Safe to use from any thread. Instances are shared: the experiment client
// and the event-editing modules refer back to them weakly.
class APMRemoteConfig final : public APMRemoteConfigSettings,
                              public APMEExperimentObserverDelegate,
                              public APMESDKPropertyProviderDelegate,
                              public std::enable_shared_from_this<APMRemoteConfig> {
    struct Token { };
    struct Caches;

public:
    // What the configuration needs from the rest of the process. Every
    // member has a working default (defaultEnvironment()); tests replace them.
    struct Environment {
        // A report to the engine's monitor.
        std::function<void(qint64 level, qint64 code, const QString& message, const QVariantList& contexts)>
            log;
        std::function<bool()> isDebugModeEnabled;
        // Announces work that belongs off the main thread.
        std::function<void(const QString& methodName)> checkOnBackgroundThread;
        platform::Clock* clock = nullptr;
        // The origin the front end gave the identifiers ("am" checks the
        // AdNest app ID); empty while none is known.
        std::function<QString()> identifiersOrigin;
        // The platform's tracking-authorisation status: 3 authorised; any
        // other value when undetermined, refused or unavailable.
        std::function<qint64()> appDataConsentStatus;
        // Whether the measurement engine exists and measures.
        std::function<bool()> isMeasurementEnabled;
        // The application's version as the engine's identity knows it; a
        // null QString when unknown.
        std::function<QString()> appVersion;
        std::function<QString()> bundleIdentifier;
        // "https://" and the host that serves configurations.
        QString configEndpoint;
        // The collection host, and the one used when tracking is authorised.
        QString collectionHost;
        QString authorizedCollectionHost;
        // Makes the runner of a configuration's event-editing program; none
        // (the default here) drops programs as if they failed to load. The
        // engine's creator hands in the rules layer's provider.
        std::shared_ptr<const APMEventEditingProvider> eventEditingProvider;
    };
    static Environment defaultEnvironment();

    static const QString kSDKName; // "app_metrics"
    static const QString kDCUEventFeatureFlag; // "dcu_event_feature_enabled"
    static const QString kRegionalDefaultsFlag; // "regional_defaults_enabled"
    static const QString kSessionStitchingTokenFeatureFlag; // "session_stitching_token_feature_enabled"
    static const QString
        kSKANUpdateConversionValueFeatureFlag; // "skan_update_conversion_value_feature_enabled"
    static const QString kModuleRemoteConfig; // "internal.remoteConfig"
    static const QString kModuleAppMetadata; // "internal.appMetadata"
    static const QString kModuleLogger; // "internal.logger"

    // ---- Creation and life cycle ------------------------------------------

    // One process-wide instance without app, database or configuration: it
    // answers every setting with its default and refuses what needs a
    // database.
    static std::shared_ptr<APMRemoteConfig> defaultInstance();
    // The configuration of the running measurement engine, which the lower
    // layers (the identity among them) read their settings from; the default
    // instance while no engine has installed one.
    static std::shared_ptr<APMRemoteConfig> engineInstance();
    // The engine installs its configuration when it starts; nullptr goes
    // back to the default instance.
    static void setEngineInstance(std::shared_ptr<APMRemoteConfig> remoteConfig);
    // Nothing, after logging, for an empty app ID (level 1, code 29000) or
    // no database (level 1, code 29001). Otherwise starts from the stored
    // configuration.
    static std::shared_ptr<APMRemoteConfig> initWithAppID(const QString& appID,
        const std::shared_ptr<APMRemoteConfigDatabase>& database,
        const std::shared_ptr<APMExperimentSource>& experimentManager,
        Environment environment = defaultEnvironment());
    // Starts from the given configuration (stored first) or, without one,
    // from the stored configuration; registers with the experiment manager
    // when there is one.
    static std::shared_ptr<APMRemoteConfig> initWithAppID(const QString& appID,
        const std::shared_ptr<APMRemoteConfigDatabase>& database,
        std::shared_ptr<const APMPBMeasurementConfig> measurementConfig,
        const std::shared_ptr<APMExperimentSource>& experimentManager,
        Environment environment = defaultEnvironment());

    APMRemoteConfig(Token, QString appID, const std::shared_ptr<APMRemoteConfigDatabase>& database,
        std::shared_ptr<APMExperimentSource> experimentManager, Environment environment);
    ~APMRemoteConfig() override;

    APMRemoteConfig(const APMRemoteConfig&) = delete;
    APMRemoteConfig& operator=(const APMRemoteConfig&) = delete;

    bool isDefaultInstance() const { return isDefaultInstance_; }
    const QString& appID() const { return appID_; }
    // The configuration last adopted, or nothing.
    std::shared_ptr<const APMPBMeasurementConfig> remoteConfigProto() const;
    const std::shared_ptr<APMExperimentFlagClient>& experimentClient() const { return experimentClient_; }
    const std::shared_ptr<APMExperimentSource>& experimentManager() const { return experimentManager_; }

    // Checks that the configuration is for this app, stores it and adopts
    // it. False, after logging, on the default instance (29002), for no
    // configuration (29003), a configuration of another app (29004, and
    // 29022 for the AdNest app ID) or a failed write (29005).
    bool updateMeasurementConfig(std::shared_ptr<const APMPBMeasurementConfig> measurementConfig);
    std::shared_ptr<const APMPBMeasurementConfig> measurementConfigFromDatabase();
    // Builds the caches of the configuration and puts them in place of the
    // current ones. A configuration without settings (29012) or of another
    // app leaves everything as it was.
    void parseRemoteConfigFromMeasurementConfig(const APMPBMeasurementConfig& measurementConfig);
    // Back to the defaults: empty caches, no configuration (except on the
    // default instance, which never has one), the experiment state dropped.
    void reset();

    // Activates the snapshot the experiment client reported, if any, and
    // reads the flags again. True when one was activated.
    bool activateNewSnapshot();
    void updateCachedExperimentFlags();

    void clientDidReceiveNewSnapshot(APMEClient& client) override;
    void client(APMEClient& client, const APMError* error) override;
    bool shouldFetchExperimentsForClient(APMEClient& client) override;

    // ---- Event rules ------------------------------------------------------

    // By internal name when the event has one. Empty name: level 5, 29006.
    std::shared_ptr<const APMPBEventConfig> eventConfigWithName(const QString& name) const;
    bool isEventBlocklisted(const QString& name) const;
    bool isEventCustomConversion(const QString& name) const;
    bool eventHasSamplingRate(const QString& name) const;
    // The configured rate when it lies in 2 to 65535, else 1.
    qint32 samplingRateForEvent(const QString& name) const;

    // ---- Configuration facts ----------------------------------------------

    // -1 when there is no configuration or it has no version.
    qint64 version() const;
    // A null QString when the configuration names none.
    QString uploadSubdomain() const;
    QUrl uploadURL() const;
    // Nothing, after logging (29010), for a null platform; an empty one is
    // sent as it is. The query's keys come in a fixed order and every
    // character outside the unreserved set is percent-encoded.
    std::optional<QUrl> remoteConfigURLWithPlatform(
        const QString& platform, qint64 sdkVersion, qint64 runtimeVersion) const;
    double lastRemoteConfigUpdateTimestamp() const;
    bool isExpired() const;
    QStringList dataControls() const;
    QList<qint64> experimentIDs() const;
    std::shared_ptr<APMPEventEditing> eventEditing() const;
    QVariantMap consentDefaults() const;
    QVariantMap consentDelegations() const;
    QVariantMap regionalDefaults() const;
    QSet<QString> corePlatformServices() const;
    bool isDMARegion() const;

    // ---- Settings something else overrides ------------------------------
    // The rest of the settings are answered by APMRemoteConfigSettings.

    // The experiment flag wins when it has a value.
    bool dcuEventFeatureEnabled() const;
    // The experiment flag wins when it has a value.
    bool sessionStitchingTokenFeatureEnabled() const;
    // The experiment flag wins when it has a value.
    bool SKANUpdateConversionValueEnabled() const;
    // The experiment flag wins when it has a value.
    bool regionalDefaultsEnabled() const;
    // 10 whenever the monitor is in debug mode.
    qint32 maxPSMStartCount() const;

private:
    void start(std::shared_ptr<const APMPBMeasurementConfig> measurementConfig);
    void log(qint64 level, qint64 code, const QString& message, const QVariantList& contexts = {}) const override;
    std::shared_ptr<Caches> currentCaches() const;
    std::shared_ptr<Table> currentSettings() const override;
    APMEventEditingProvider::Modules eventEditingModules(const std::shared_ptr<Caches>& caches) const;
    QVariant experimentFlag(const QString& name) const;
    QVariant clientFlag(const QString& name) const;

    const bool isDefaultInstance_;
    const QString appID_;
    const std::weak_ptr<APMRemoteConfigDatabase> database_;
    const std::shared_ptr<APMExperimentSource> experimentManager_;
    const Environment environment_;
    std::shared_ptr<APMExperimentFlagClient> experimentClient_; // set once, while starting

    mutable QMutex mutex_; // guards what follows
    std::shared_ptr<Caches> caches_;
    std::shared_ptr<const APMPBMeasurementConfig> remoteConfigProto_;
    QVariantMap cachedExperimentFlags_;
    bool hasNewSnapshot_ = false;
};
