#pragma once

#include "analytics/config/APMExperimentSource.h"

#include <QMutex>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <memory>

class APMEExperimentObserverDelegate;
class APMEManager;
class APMError;
class APMESDKProperty;

// The handle through which one registered SDK reads its experiment flags and
// activates the snapshot waiting for it. Every operation goes to the manager
// under the SDK's name; once the manager is gone, flags read as none and
// activation fails.
class APMEClient final : public APMExperimentFlagClient {
public:
    APMEClient(std::shared_ptr<APMESDKProperty> property, QVariantMap defaultFlags,
        std::weak_ptr<APMEManager> manager);

    QString SDKName() const;
    const std::shared_ptr<APMESDKProperty>& SDKProperty() const { return property_; }
    const QVariantMap& defaultFlags() const { return defaultFlags_; }

    // The flag's current value (a text or a number), or an invalid QVariant.
    // An empty name logs level 0, code 830002.
    QVariant valueForFlag(const QString& flagName) const;
    // The same, for a key of any kind: a key that is not a text logs level 0,
    // code 830003 and reads as none.
    QVariant objectForKeyedSubscript(const QVariant& key) const override;
    bool activateLatestSnapshot(APMError* error) override;
    // True when the SDK's activated snapshot is more than three days off
    // the clock; false without one or once the manager is gone.
    bool hasStaleSnapshot() const;

    // Held weakly: the client never keeps its observer alive.
    std::shared_ptr<APMEExperimentObserverDelegate> delegate() const;
    void setDelegate(std::weak_ptr<APMEExperimentObserverDelegate> delegate) override;

private:
    const std::shared_ptr<APMESDKProperty> property_;
    const QVariantMap defaultFlags_;
    const std::weak_ptr<APMEManager> manager_;
    mutable QMutex mutex_;
    std::weak_ptr<APMEExperimentObserverDelegate> delegate_;
};
