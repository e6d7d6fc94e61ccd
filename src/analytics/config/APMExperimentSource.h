#pragma once

#include <QList>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <memory>

class APMEExperimentObserverDelegate;
class APMError;
class APMESDKPropertyProviderDelegate;

// What the configuration needs of one registered SDK's experiment handle:
// flag reads, snapshot activation and an observer. The experiments layer
// implements it (APMEClient).
class APMExperimentFlagClient {
public:
    virtual ~APMExperimentFlagClient() = default;

    // The flag's current value (a text or a number), or an invalid QVariant.
    virtual QVariant objectForKeyedSubscript(const QVariant& key) const = 0;
    virtual bool activateLatestSnapshot(APMError* error) = 0;
    // Held weakly: the client never keeps its observer alive.
    virtual void setDelegate(std::weak_ptr<APMEExperimentObserverDelegate> delegate) = 0;
};

// What the configuration needs of the experiments: registering itself as an
// SDK, the activated experiment ids and a reset. The experiments layer
// implements it (APMEManager); whoever creates both connects them.
class APMExperimentSource {
public:
    virtual ~APMExperimentSource() = default;

    // Registers the SDK of this name and version, whose run-time properties
    // the provider adds; nothing when the registration is refused.
    virtual std::shared_ptr<APMExperimentFlagClient> registerSDK(const QString& name, qint64 version,
        std::weak_ptr<APMESDKPropertyProviderDelegate> propertyProvider, const QVariantMap& defaultFlags)
        = 0;
    // The ids of all activated experiments, ascending.
    virtual QList<qint64> experimentIDs() const = 0;
    // Drops every snapshot; registrations and default flags stay.
    virtual void reset() = 0;
};
