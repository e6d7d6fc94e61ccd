#pragma once

// The engine with its automatic lifecycle reports switched on: system facts
// the test sets, a deep-link store in memory, and an event editor that
// records every event the pipeline hands it (and changes none).
#include "EngineTestFixture.h"

#include "analytics/base/APMValue.h"
#include "analytics/engine/APMEventEditor.h"
#include "analytics/model/APMEvent.h"
#include "analytics/model/APMEventParameters.h"
#include "fakes/FakeSystemFacts.h"

#include <QFile>
#include <QMutex>

namespace lifecycle_test {

struct SeenEvent {
    QString origin;
    QString name;
    QVariantMap parameters;
    double timestamp = 0;
};

class RecordingEventEditor final : public APMEventEditor {
public:
    std::optional<Result> handleEvent(const APMEvent& event, const APMRemoteConfig&, APMError*) override
    {
        QVariantMap parameters;
        for (auto it = event.parameters().cbegin(); it != event.parameters().cend(); ++it)
            parameters.insert(it.key(), it.value().value());
        QMutexLocker lock(&mutex_);
        events_.append({ event.origin(), event.name(), parameters, event.timestamp() });
        return Result {};
    }
    QList<SeenEvent> events() const
    {
        QMutexLocker lock(&mutex_);
        return events_;
    }
    QList<SeenEvent> named(const QString& name) const
    {
        QList<SeenEvent> found;
        for (const SeenEvent& event : events())
            if (event.name == name)
                found.append(event);
        return found;
    }
    void clear()
    {
        QMutexLocker lock(&mutex_);
        events_.clear();
    }

private:
    mutable QMutex mutex_;
    QList<SeenEvent> events_;
};

class LifecycleFixture : public engine_test::EngineFixture {
protected:
    static inline const QString kStateFile = QStringLiteral("lifecycle-test-state");
    static inline const QString kDeepLinkFile = QStringLiteral("lifecycle-test-links");

    LifecycleFixture() { reopenStores(); }

    APMMeasurement::Environment lifecycleEnvironment()
    {
        APMMeasurement::Environment e = environment();
        e.reportsLifecycleAtStart = true;
        e.systemFacts = &facts_;
        e.deepLinkStore = deepLinks_.get();
        e.infoDictionary = infoDictionary_;
        e.processArguments = QStringList { QStringLiteral("pravik") };
        e.eventEditor = editor_;
        if (!readsReceiptFile_) {
            const auto original = originalVersion_;
            e.originalApplicationVersion = [original] { return *original; };
        }
        e.adServicesURL = adServicesURL_;
        return e;
    }

    // A launch: an identity of the given application version and a new
    // engine; the start's reports have run when this returns.
    APMMeasurement& launch()
    {
        engine_.reset();
        identity_.reset();
        APMIdentity::Environment ie = APMIdentity::defaultEnvironment();
        ie.clock = &time_;
        ie.identitySupport = &trackingSupport_;
        ie.serviceInfoDictionary = [] { return std::optional<QVariantMap>(); };
        ie.infoDictionary = { { APMInfoPlistFileUtil::kShortVersionKey, appVersion_ },
            { APMInfoPlistFileUtil::kBundleIdentifierKey, bundleIdentifier_ } };
        identity_ = APMIdentity::initWithPersistedConfig(persisted_.get(), std::move(ie));
        APMMeasurement::Environment e = lifecycleEnvironment();
        e.identity = identity_.get();
        e.persistedConfig = persisted_.get();
        engine_ = APMMeasurement::initWithAppID(engine_test::kEngineAppID, true, false, {}, std::move(e));
        settleReports();
        return *engine_;
    }

    // The start posts the internal events it logs behind itself: a second
    // pass lets them through the pipeline.
    void settleReports()
    {
        drain();
        drain();
    }

    // The process ends: the engine goes, the stores are written out, and
    // the next launch reads everything back from the files.
    void restart()
    {
        engine_.reset();
        identity_.reset();
        persisted_.reset();
        deepLinks_.reset();
        editor_->clear();
        reopenStores();
    }

    // A new installation: no database, no persisted state, no consent, no
    // information-dictionary entries; the next launch is a first open.
    void freshInstall()
    {
        restart();
        QFile::remove(databasePath());
        persisted_->clearValues();
        APMConsentSettingsUtil::clearAllSettings();
        infoDictionary_.clear();
    }

    std::optional<APMUserAttribute> userProperty(const QString& name)
    {
        std::optional<APMUserAttribute> found;
        engine_->dispatchSyncOnWorkerQueue([&] { found = engine_->database()->userAttributeWithName(name, nullptr); });
        return found;
    }

    fakes::FakeSystemFacts facts_;
    std::unique_ptr<APMConfigStore> deepLinks_;
    QVariantMap infoDictionary_;
    QString appVersion_ = QStringLiteral("1.0");
    QString bundleIdentifier_ = QStringLiteral("org.pravik.test");
    std::shared_ptr<std::optional<QString>> originalVersion_ = std::make_shared<std::optional<QString>>();
    // True: no version is injected and the engine reads the store receipt.
    bool readsReceiptFile_ = false;
    QUrl adServicesURL_;
    std::shared_ptr<RecordingEventEditor> editor_ = std::make_shared<RecordingEventEditor>();

private:
    void reopenStores()
    {
        APMPersistedConfig::Environment e;
        e.store = APMPersistentDictionary::initWithFileName(kStateFile);
        e.sharedUserDefaults = sharedDefaults_.get();
        e.queue = &flushQueue_;
        persisted_ = APMPersistedConfig::initWithSuiteName(QStringLiteral("lifecycle-test"), std::move(e));
        deepLinks_ = APMPersistentDictionary::initWithFileName(kDeepLinkFile);
    }
};

} // namespace lifecycle_test
