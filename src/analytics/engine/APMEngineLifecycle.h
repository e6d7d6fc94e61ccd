#pragma once

#include <QString>

#include <atomic>
#include <memory>
#include <mutex>

class APMConditionalUserPropertyController;
class APMConfigStore;
class APMEManager;
class APMMeasurement;
class APMRemoteConfig;
class APMRemoteConfigDatabase;
class APMSearchAdReporter;
class APMTCFClient;
struct APMEngineContext;

// The engine's life cycle: whether measurement is enabled and what enabling
// and disabling change, the start on the worker queue (consent restored by
// source priority, the wipe when the app's identity changed or a reset is
// pending, the database, the remote configuration, the services over the
// database, the reporters the engine owns and the TCF client), the wipe and
// the data reset, and the stop. Owns what the start makes beyond the stores
// the jobs share. Worker queue unless noted.
class APMEngineLifecycle {
public:
    APMEngineLifecycle(APMEngineContext& shared, APMMeasurement& engine);
    ~APMEngineLifecycle();
    APMEngineLifecycle(const APMEngineLifecycle&) = delete;
    APMEngineLifecycle& operator=(const APMEngineLifecycle&) = delete;

    // At creation: posts the enabling shouldEnableMeasurement() asks for and
    // keeps it as wasEnabledDuringInitialization().
    void enableAsInitialized();
    bool shouldEnableMeasurement();
    // Any thread: posts setEnabledOnWorkerQueue().
    void setEnabled(bool enabled);
    void setEnabledOnWorkerQueue(bool enabled);
    bool startMeasurementOnWorkerQueue();
    bool wipeoutAnalyticsDataAndResetComponents();
    bool shouldWipeDataWithAppID(const QString& appID, const QString& appIDFromVMP, const QString& appIDFromAdNest,
        const QString& persistedAppIDFromVMP, const QString& persistedAppIDFromAdNest) const;
    void updatePersistedAppIDFromVMPAndAdNest();
    void updateConsentSettingsUtilWithRemoteConfig();
    // Restores the consent that applies from start: the stored TCF,
    // third-party and start-up settings and the information dictionary's,
    // by source priority.
    void setProspectiveConsentSettings();
    // The TCF client reads the platform's keys and applies what changed;
    // nothing without a client (the feature is off).
    void tcfClientSetConsentFromData();
    // Any thread: wipes the measurement data and starts over under the given
    // app instance ID; false (nothing wiped) for an empty ID unless
    // analytics storage is denied, or when the wipe fails. Waits for the
    // worker queue.
    bool resetAnalyticsDataWithAppInstanceID(const QString& appInstanceID);
    // The engine's destruction: finishes the work already posted, then stops
    // the worker queue; no alarm firing and no reply reaches the engine
    // afterwards.
    void stop();
    static bool isBasaltRemoteConfigSDKPresent();

    bool didInitializeComponents() const { return didInitializeComponents_.load(); }
    bool wasEnabledDuringInitialization() const { return wasEnabledDuringInitialization_; }
    // Set when a new configuration changed the ad-personalization consent;
    // the next bundling step brings "_npa" in line and clears it.
    bool shouldUpdateNPAUserProperty() const { return shouldUpdateNPAUserProperty_; }
    void setShouldUpdateNPAUserProperty(bool value) { shouldUpdateNPAUserProperty_ = value; }
    // Null until the components are initialized.
    APMConditionalUserPropertyController* conditionalUserPropertyController() const
    {
        return conditionalUserPropertyController_.get();
    }
    // The experimentation client the remote configuration reads its flags
    // from; null until the components are initialized.
    APMEManager* experimentManager() const { return experimentManager_.get(); }
    // Null before start, or when there is nothing left to ask.
    APMSearchAdReporter* searchAdReporter() const { return searchAdReporter_.get(); }
    APMTCFClient* tcfClient() const { return tcfClient_.get(); }

private:
    bool initializeComponents();
    // The search-ad reporter, the TCF client and the application-state
    // observers, made once the start's reports have run.
    void initializeReportersOnWorkerQueue();
    std::shared_ptr<APMRemoteConfig> makeRemoteConfig();
    void initializeServices();
    std::shared_ptr<APMEManager> makeExperimentManager();
    void makeSearchAdReporter();
    void makeTCFClient();
    APMConfigStore& deepLinkStore() const;

    APMEngineContext& shared_;
    APMMeasurement& engine_;
    std::mutex initializeComponentsLock_;
    std::atomic<bool> didInitializeComponents_ { false };
    std::shared_ptr<APMRemoteConfigDatabase> remoteConfigDatabase_;
    std::shared_ptr<APMConditionalUserPropertyController> conditionalUserPropertyController_;
    std::unique_ptr<APMConfigStore> experimentStore_;
    std::shared_ptr<APMEManager> experimentManager_;
    bool wasEnabledDuringInitialization_ = false;
    bool shouldUpdateNPAUserProperty_ = false;
    // Its alarm belongs to the worker queue: the stop drops it there.
    std::unique_ptr<APMSearchAdReporter> searchAdReporter_;
    std::unique_ptr<APMTCFClient> tcfClient_;
};
