#pragma once

// Shared by the remote-configuration tests: an in-memory measurement
// database that keeps the configuration as encoded bytes, a builder that
// writes configurations with our encoder, and an environment on virtual
// time that records every monitor report.

#include "analytics/experiments/APMEManager.h"
#include "analytics/base/APMError.h"
#include "analytics/config/APMRemoteConfig.h"
#include "analytics/config/APMRemoteConfigDatabase.h"
#include "analytics/rules/APMPEventEditingProvider.h"
#include "analytics/wire/APMPBConsentConfig.h"
#include "analytics/wire/APMPBConsentDefaultEntry.h"
#include "analytics/wire/APMPBConsentDelegationEntry.h"
#include "analytics/wire/APMPBCorePlatformServiceEntry.h"
#include "analytics/wire/APMPBDataControl.h"
#include "analytics/wire/APMPBEventConfig.h"
#include "analytics/wire/APMPBFieldAccess.h"
#include "analytics/wire/APMPBMeasurementConfig.h"
#include "analytics/wire/APMPBOgtActivities.h"
#include "analytics/wire/APMPBOgtActivity.h"
#include "analytics/wire/APMPBProgram.h"
#include "analytics/wire/APMPBPsmSetting.h"
#include "analytics/wire/APMPBRuntimeEntity.h"
#include "analytics/wire/APMPBSetting.h"
#include "fakes/VirtualTime.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariantList>

#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace rcfg {

inline const QString kAppID = QStringLiteral("1:1234567890:linux:0a1b2c3d");

// Slots of the configuration messages, written down here from the schema
// tables rather than taken from the code under test.
namespace slot {
constexpr int32_t version = 0, appID = 1, settings = 3, eventConfig = 4, adNestAppID = 6, programs = 8,
                  dataControls = 9, uploadSubdomain = 10, consent = 12, psm = 13;
constexpr int32_t settingName = 0, settingValue = 1;
constexpr int32_t eventName = 0, eventBlocklisted = 1, eventCustomConversion = 2, eventSamplingRate = 3;
constexpr int32_t consentDefaults = 0, consentDelegations = 1, consentServices = 2, consentDMA = 3,
                  consentEnforced = 4;
} // namespace slot

struct LogLine {
    qint64 level;
    qint64 code;
    QString message;
    QVariantList contexts;
};

// An in-memory measurement database. The configuration goes in and out as
// bytes, as it does through the real table.
class FakeDatabase final : public APMRemoteConfigDatabase {
public:
    explicit FakeDatabase(platform::Clock& clock)
        : clock_(clock)
    {
    }

    enum class Failure { None, WithError, WithoutError };
    Failure writeFailure = Failure::None;
    bool readFails = false;
    bool timestampFails = false;

    QByteArray bytes; // what is stored
    std::optional<double> timestamp;
    int writes = 0;

    bool updateRemoteConfig(const APMPBMeasurementConfig& config, APMError* error) override
    {
        if (writeFailure == Failure::WithError)
            APMSetErrorWithCode(error, APMError::StorageFailure, QStringLiteral("disk I/O error"));
        if (writeFailure != Failure::None)
            return false;
        const std::optional<QByteArray> encoded = config.protoBuffer();
        if (!encoded)
            return false;
        bytes = *encoded;
        timestamp = clock_.now();
        ++writes;
        return true;
    }

    std::unique_ptr<APMPBMeasurementConfig> queryMeasurementConfigWithError(APMError* error) override
    {
        if (readFails) {
            APMSetErrorWithCode(error, APMError::StorageFailure, QStringLiteral("database is locked"));
            return nullptr;
        }
        if (bytes.isEmpty())
            return nullptr;
        auto config = APMPBMeasurementConfig::initWithBuffer(bytes);
        if (!config)
            APMSetErrorWithCode(
                error, APMError::InvalidState, QStringLiteral("Remote config data is corrupted"));
        return config;
    }

    std::optional<double> lastRemoteConfigUpdateTimestamp(APMError* error) override
    {
        if (timestampFails) {
            APMSetErrorWithCode(error, APMError::StorageFailure, QStringLiteral("database is locked"));
            return std::nullopt;
        }
        return timestamp;
    }

private:
    platform::Clock& clock_;
};

template <class C> std::unique_ptr<C> message()
{
    auto m = C::initWithMessageInfo();
    EXPECT_TRUE(m);
    return m;
}

// A runtime entity: a literal (types 1 to 3) or a statement (type 4).
inline std::unique_ptr<APMPBRuntimeEntity> entity(int32_t type, const QString& statement = QString(),
    std::vector<std::unique_ptr<APMPBRuntimeEntity>> args = {})
{
    auto e = message<APMPBRuntimeEntity>();
    APMPBSetInt32Field(e.get(), 0, type);
    if (!statement.isNull())
        APMPBSetStringField(e.get(), 2, statement);
    if (!args.empty())
        APMPBSetArrayField(e.get(), 1, args);
    return e;
}

// A program of one top-level statement and, when a name is given, one
// activity of that name whose data is a statement.
inline std::unique_ptr<APMPBProgram> program(std::unique_ptr<APMPBRuntimeEntity> instruction,
    const QString& activityName = QString(), std::unique_ptr<APMPBRuntimeEntity> data = nullptr)
{
    auto p = message<APMPBProgram>();
    std::vector<std::unique_ptr<APMPBRuntimeEntity>> instructions;
    instructions.push_back(std::move(instruction));
    APMPBSetArrayField(p.get(), 0, instructions);
    if (!activityName.isNull()) {
        auto activity = message<APMPBOgtActivity>();
        APMPBSetStringField(activity.get(), 0, activityName);
        if (data) {
            std::vector<std::unique_ptr<APMPBRuntimeEntity>> entries;
            entries.push_back(std::move(data));
            APMPBSetArrayField(activity.get(), 1, entries);
        }
        auto activities = message<APMPBOgtActivities>();
        std::vector<std::unique_ptr<APMPBOgtActivity>> list;
        list.push_back(std::move(activity));
        APMPBSetArrayField(activities.get(), 0, list);
        APMPBSetMessageField(p.get(), 1, activities.get());
    }
    return p;
}

// A program that defines the function "onEvent" at top level and hands it
// one activity whose data is an empty map, as the interpreter runs it.
inline std::unique_ptr<APMPBProgram> goodProgram()
{
    auto name = entity(1);
    APMPBSetStringField(name.get(), 3, QStringLiteral("onEvent"));
    auto parameter = entity(1);
    APMPBSetStringField(parameter.get(), 3, QStringLiteral("rule"));
    std::vector<std::unique_ptr<APMPBRuntimeEntity>> parameters;
    parameters.push_back(std::move(parameter));
    std::vector<std::unique_ptr<APMPBRuntimeEntity>> args;
    args.push_back(std::move(name));
    args.push_back(entity(4, QStringLiteral("46"), std::move(parameters)));
    return program(entity(4, QStringLiteral("50"), std::move(args)), QStringLiteral("onEvent"),
        entity(4, QStringLiteral("8")));
}

// A configuration written with our encoder; build() gives it back decoded
// from its bytes, as the engine receives it.
class ConfigBuilder {
public:
    explicit ConfigBuilder(const QString& appID = kAppID)
        : config_(message<APMPBMeasurementConfig>())
    {
        if (!appID.isNull())
            APMPBSetStringField(config_.get(), slot::appID, appID);
    }

    ConfigBuilder& version(qint64 v)
    {
        APMPBSetInt64Field(config_.get(), slot::version, v);
        return *this;
    }
    ConfigBuilder& adNestAppID(const QString& id)
    {
        APMPBSetStringField(config_.get(), slot::adNestAppID, id);
        return *this;
    }
    ConfigBuilder& uploadSubdomain(const QString& subdomain)
    {
        APMPBSetStringField(config_.get(), slot::uploadSubdomain, subdomain);
        return *this;
    }
    // A null value leaves the value field unset.
    ConfigBuilder& setting(const QString& name, const QString& value)
    {
        auto s = message<APMPBSetting>();
        if (!name.isNull())
            APMPBSetStringField(s.get(), slot::settingName, name);
        if (!value.isNull())
            APMPBSetStringField(s.get(), slot::settingValue, value);
        settings_.push_back(std::move(s));
        return *this;
    }
    ConfigBuilder& eventConfig(const QString& name, std::optional<bool> blocklisted,
        std::optional<bool> customConversion = std::nullopt,
        std::optional<int32_t> samplingRate = std::nullopt)
    {
        auto e = message<APMPBEventConfig>();
        if (!name.isNull())
            APMPBSetStringField(e.get(), slot::eventName, name);
        if (blocklisted)
            APMPBSetBoolField(e.get(), slot::eventBlocklisted, *blocklisted);
        if (customConversion)
            APMPBSetBoolField(e.get(), slot::eventCustomConversion, *customConversion);
        if (samplingRate)
            APMPBSetInt32Field(e.get(), slot::eventSamplingRate, *samplingRate);
        eventConfigs_.push_back(std::move(e));
        return *this;
    }
    ConfigBuilder& program(std::unique_ptr<APMPBProgram> p)
    {
        programs_.push_back(std::move(p));
        return *this;
    }
    ConfigBuilder& dataControl(const QString& name)
    {
        auto d = message<APMPBDataControl>();
        if (!name.isNull())
            APMPBSetStringField(d.get(), 0, name);
        dataControls_.push_back(std::move(d));
        return *this;
    }
    // Consent entries as (type, value) numbers; services by name.
    ConfigBuilder& consent(const std::vector<std::pair<int32_t, int32_t>>& defaults,
        const std::vector<std::pair<int32_t, int32_t>>& delegations, const QStringList& services,
        std::optional<bool> dmaRegion, const std::vector<std::pair<int32_t, int32_t>>& enforced)
    {
        auto c = message<APMPBConsentConfig>();
        const auto entries = [](const std::vector<std::pair<int32_t, int32_t>>& pairs) {
            std::vector<std::unique_ptr<APMPBConsentDefaultEntry>> list;
            for (const auto& [type, value] : pairs) {
                auto e = message<APMPBConsentDefaultEntry>();
                APMPBSetInt32Field(e.get(), 0, type);
                APMPBSetInt32Field(e.get(), 1, value);
                list.push_back(std::move(e));
            }
            return list;
        };
        APMPBSetArrayField(c.get(), slot::consentDefaults, entries(defaults));
        std::vector<std::unique_ptr<APMPBConsentDelegationEntry>> delegationList;
        for (const auto& [type, delegated] : delegations) {
            auto e = message<APMPBConsentDelegationEntry>();
            APMPBSetInt32Field(e.get(), 0, type);
            APMPBSetInt32Field(e.get(), 1, delegated);
            delegationList.push_back(std::move(e));
        }
        APMPBSetArrayField(c.get(), slot::consentDelegations, delegationList);
        std::vector<std::unique_ptr<APMPBCorePlatformServiceEntry>> serviceList;
        for (const QString& name : services) {
            auto e = message<APMPBCorePlatformServiceEntry>();
            APMPBSetStringField(e.get(), 0, name);
            serviceList.push_back(std::move(e));
        }
        APMPBSetArrayField(c.get(), slot::consentServices, serviceList);
        if (dmaRegion)
            APMPBSetBoolField(c.get(), slot::consentDMA, *dmaRegion);
        APMPBSetArrayField(c.get(), slot::consentEnforced, entries(enforced));
        APMPBSetMessageField(config_.get(), slot::consent, c.get());
        return *this;
    }
    ConfigBuilder& psm(
        std::optional<int32_t> email, std::optional<int32_t> phone, std::optional<int32_t> delay)
    {
        auto p = message<APMPBPsmSetting>();
        if (email)
            APMPBSetInt32Field(p.get(), 0, *email);
        if (phone)
            APMPBSetInt32Field(p.get(), 1, *phone);
        if (delay)
            APMPBSetInt32Field(p.get(), 2, *delay);
        APMPBSetMessageField(config_.get(), slot::psm, p.get());
        return *this;
    }

    QByteArray bytes()
    {
        APMPBSetArrayField(config_.get(), slot::settings, settings_);
        APMPBSetArrayField(config_.get(), slot::eventConfig, eventConfigs_);
        APMPBSetArrayField(config_.get(), slot::programs, programs_);
        APMPBSetArrayField(config_.get(), slot::dataControls, dataControls_);
        const std::optional<QByteArray> encoded = config_->protoBuffer();
        EXPECT_TRUE(encoded);
        return encoded.value_or(QByteArray());
    }
    std::shared_ptr<const APMPBMeasurementConfig> build()
    {
        std::shared_ptr<const APMPBMeasurementConfig> decoded
            = APMPBMeasurementConfig::initWithBuffer(bytes());
        EXPECT_TRUE(decoded);
        return decoded;
    }

private:
    std::unique_ptr<APMPBMeasurementConfig> config_;
    std::vector<std::unique_ptr<APMPBSetting>> settings_;
    std::vector<std::unique_ptr<APMPBEventConfig>> eventConfigs_;
    std::vector<std::unique_ptr<APMPBProgram>> programs_;
    std::vector<std::unique_ptr<APMPBDataControl>> dataControls_;
};

// What the configuration sees of the rest of the process, all of it
// scripted, and every monitor report it makes.
class Harness {
public:
    fakes::VirtualTime time;
    std::shared_ptr<FakeDatabase> database = std::make_shared<FakeDatabase>(time);
    std::vector<LogLine> lines;
    QStringList backgroundChecks;
    QString origin;
    qint64 consentStatus = 0;
    bool debugMode = false;
    bool measurementEnabled = false;
    QString appVersion;
    QString bundleIdentifier = QStringLiteral("org.pravik.desktop");

    APMRemoteConfig::Environment environment()
    {
        APMRemoteConfig::Environment e;
        e.log = [this](qint64 level, qint64 code, const QString& message, const QVariantList& contexts) {
            lines.push_back({ level, code, message, contexts });
        };
        e.isDebugModeEnabled = [this] { return debugMode; };
        e.checkOnBackgroundThread = [this](const QString& method) { backgroundChecks << method; };
        e.clock = &time;
        e.identifiersOrigin = [this] { return origin; };
        e.appDataConsentStatus = [this] { return consentStatus; };
        e.isMeasurementEnabled = [this] { return measurementEnabled; };
        e.appVersion = [this] { return appVersion; };
        e.bundleIdentifier = [this] { return bundleIdentifier; };
        e.configEndpoint = QStringLiteral("https://config.test");
        e.collectionHost = QStringLiteral("collect.test");
        e.authorizedCollectionHost = QStringLiteral("collect-authorized.test");
        e.eventEditingProvider = std::make_shared<APMPEventEditingProvider>();
        return e;
    }

    // A working configuration over the fake database, started from what it
    // holds (store one first with `store`).
    std::shared_ptr<APMRemoteConfig> make(const std::shared_ptr<APMEManager>& manager = nullptr)
    {
        return APMRemoteConfig::initWithAppID(kAppID, database, manager, environment());
    }

    void store(ConfigBuilder& builder)
    {
        database->bytes = builder.bytes();
        database->timestamp = time.now();
    }

    // Whether a report with this level and code was made.
    bool logged(qint64 level, qint64 code) const
    {
        for (const LogLine& line : lines) {
            if (line.level == level && line.code == code)
                return true;
        }
        return false;
    }
    int count(qint64 code) const
    {
        int n = 0;
        for (const LogLine& line : lines)
            n += line.code == code ? 1 : 0;
        return n;
    }
};

} // namespace rcfg
