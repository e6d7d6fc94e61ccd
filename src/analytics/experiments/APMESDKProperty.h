#pragma once

#include <QMap>
#include <QMutex>
#include <QString>

#include <memory>

class APMESDKPropertyProviderDelegate;
class APMPBClientProperty;

// The description of an SDK that takes part in experiments: its name (fixed
// at creation), its version, app ID, diversion key and custom properties,
// and the delegate that adds run-time properties. Sent with every
// experiment request.
class APMESDKProperty {
public:
    explicit APMESDKProperty(QString name);

    const QString& name() const { return name_; }
    qint64 version() const;
    void setVersion(qint64 version);
    QString appID() const;
    void setAppID(const QString& appID);
    // Empty: the measurement identity's key is used.
    QString diversionKey() const;
    void setDiversionKey(const QString& key);
    QMap<QString, QString> customProperties() const;
    void setCustomProperties(const QMap<QString, QString>& properties);
    // Held weakly: the property never keeps its delegate alive.
    std::shared_ptr<APMESDKPropertyProviderDelegate> delegate() const;
    void setDelegate(std::weak_ptr<APMESDKPropertyProviderDelegate> delegate);

    // The wire description: name, "<diversion key>-<name>", version, app ID
    // and the custom properties merged with the delegate's (the delegate's
    // win). Nothing (level 1, code 860001) when neither the property nor the
    // fallback has a diversion key.
    std::unique_ptr<APMPBClientProperty> proto(const QString& fallbackDiversionKey) const;

private:
    const QString name_;
    mutable QMutex mutex_;
    qint64 version_ = 0;
    QString appID_;
    QString diversionKey_;
    QMap<QString, QString> customProperties_;
    std::weak_ptr<APMESDKPropertyProviderDelegate> delegate_;
};
