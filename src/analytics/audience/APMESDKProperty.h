#pragma once

#include <QMutex>
#include <QString>

#include <memory>

class APMESDKPropertyProviderDelegate;

// The description of an SDK that takes part in experiments: its name (fixed
// at creation), its version and the delegate that adds run-time properties.
class APMESDKProperty {
public:
    explicit APMESDKProperty(QString name);

    const QString& name() const { return name_; }
    qint64 version() const;
    void setVersion(qint64 version);
    // Held weakly: the property never keeps its delegate alive.
    std::shared_ptr<APMESDKPropertyProviderDelegate> delegate() const;
    void setDelegate(std::weak_ptr<APMESDKPropertyProviderDelegate> delegate);

private:
    const QString name_;
    mutable QMutex mutex_;
    qint64 version_ = 0;
    std::weak_ptr<APMESDKPropertyProviderDelegate> delegate_;
};
