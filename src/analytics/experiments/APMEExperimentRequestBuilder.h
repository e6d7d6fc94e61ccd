#pragma once

#include "analytics/base/APMEnvironmentInfo.h"

#include <QHash>
#include <QMutex>
#include <QString>

#include <functional>
#include <memory>

class APMESDKProperty;
class APMPBAppProperty;
class APMPBExperimentRequest;

// Assembles the experiment request from the properties of every registered
// SDK and the facts of the application.
class APMEExperimentRequestBuilder {
public:
    // What the request says about the application, and the diversion key
    // of the measurement identity for SDKs without one of their own.
    struct Environment {
        QString platform = APMEnvironmentInfo::platformName();
        std::function<QString()> language; // lower-cased; empty: left out
        std::function<QString()> bundleIdentifier;
        std::function<bool()> isFromAppStore;
        std::function<QString()> fallbackDiversionKey;
    };
    static Environment defaultEnvironment();

    explicit APMEExperimentRequestBuilder(Environment environment = defaultEnvironment());

    // Replaces an earlier property of that name; nothing (level 2, code
    // 880000) for none.
    void addSDKProperty(const std::shared_ptr<APMESDKProperty>& property);
    std::unique_ptr<APMPBAppProperty> appPropertyProto() const;
    // The app property and one client property per SDK that has a diversion
    // key, in name order.
    std::unique_ptr<APMPBExperimentRequest> request() const;

    static constexpr qint64 kClientVersion = 10000;

private:
    Environment environment_;
    mutable QMutex mutex_;
    QHash<QString, std::shared_ptr<APMESDKProperty>> clientPropertyBySDKName_;
};
