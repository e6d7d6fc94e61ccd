#include "analytics/experiments/APMEExperimentRequestBuilder.h"

#include "analytics/experiments/APMESDKProperty.h"
#include "analytics/experiments/APMEManager.h"
#include "analytics/base/APMEMonitor.h"
#include "analytics/base/APMEnvironmentInfo.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/identity/APMIdentity.h"
#include "analytics/wire/APMPBAppProperty.h"
#include "analytics/wire/APMPBClientProperty.h"
#include "analytics/wire/APMPBExperimentRequest.h"
#include "analytics/wire/APMPBFieldAccess.h"

#include <algorithm>
#include <utility>
#include <vector>

APMEExperimentRequestBuilder::Environment APMEExperimentRequestBuilder::defaultEnvironment()
{
    Environment environment;
    environment.language = [] { return APMEnvironmentInfo::sharedInstance().userDefaultLanguage(); };
    environment.bundleIdentifier = [] {
        const auto identifier = APMRemoteConfig::defaultEnvironment().bundleIdentifier;
        return identifier ? identifier() : QString();
    };
    environment.isFromAppStore = [] { return APMIdentity::sharedInstance().isFromAppStore(); };
    environment.fallbackDiversionKey = [] { return APMIdentity::sharedInstance().diversionKey(); };
    return environment;
}

APMEExperimentRequestBuilder::APMEExperimentRequestBuilder(Environment environment)
    : environment_(std::move(environment))
{
}

void APMEExperimentRequestBuilder::addSDKProperty(const std::shared_ptr<APMESDKProperty>& property)
{
    if (!property) {
        APMEManager::monitor().logWithLevel(
            APMMonitor::kLevelErrorSilent, 880000, QStringLiteral("Cannot add an empty SDK property."));
        return;
    }
    QMutexLocker lock(&mutex_);
    clientPropertyBySDKName_.insert(property->name(), property);
}

std::unique_ptr<APMPBAppProperty> APMEExperimentRequestBuilder::appPropertyProto() const
{
    auto message = APMPBAppProperty::initWithMessageInfo();
    APMPBSetStringField(message.get(), 0, environment_.platform);
    const QString language = environment_.language ? environment_.language() : QString();
    if (!language.isEmpty())
        APMPBSetStringField(message.get(), 3, language);
    APMPBSetStringField(message.get(), 4, environment_.bundleIdentifier ? environment_.bundleIdentifier() : QString());
    APMPBSetBoolField(message.get(), 5, environment_.isFromAppStore && environment_.isFromAppStore());
    APMPBSetInt64Field(message.get(), 6, kClientVersion);
    return message;
}

std::unique_ptr<APMPBExperimentRequest> APMEExperimentRequestBuilder::request() const
{
    std::vector<std::shared_ptr<APMESDKProperty>> properties;
    {
        QMutexLocker lock(&mutex_);
        for (const auto& property : clientPropertyBySDKName_)
            properties.push_back(property);
    }
    std::sort(properties.begin(), properties.end(), [](const auto& a, const auto& b) { return a->name() < b->name(); });
    const QString fallback = environment_.fallbackDiversionKey ? environment_.fallbackDiversionKey() : QString();
    std::vector<std::unique_ptr<APMPBClientProperty>> clients;
    for (const auto& property : properties) {
        if (auto client = property->proto(fallback))
            clients.push_back(std::move(client));
    }
    auto message = APMPBExperimentRequest::initWithMessageInfo();
    APMPBSetMessageField(message.get(), 0, appPropertyProto().get());
    if (!clients.empty())
        APMPBSetArrayField(message.get(), 1, clients);
    return message;
}
