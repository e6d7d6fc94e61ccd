#pragma once

#include "analytics/engine/APMMeasurementEnvironment.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QtGlobal>

#include <atomic>
#include <memory>

class APMAlarm;
class APMDatabase;
class APMIdentity;
class APMMeasurement;
class APMPersistedConfig;
class APMRemoteConfig;
class APMScheduler;

// What the measurement engine's jobs share. The engine owns it and gives
// each job a reference: what the engine was made with, the stores every job
// reads and writes, the worker queue with its upload alarm, and the handle
// by which late work finds out that the engine is gone.
struct APMEngineContext {
    APMEngineContext(const QString& appID, const QStringList& safelistedEvents, bool isAnalyticsCollectionEnabled,
        bool isAnalyticsCollectionDeactivated, APMMeasurementEnvironment environment);
    ~APMEngineContext();
    APMEngineContext(const APMEngineContext&) = delete;
    APMEngineContext& operator=(const APMEngineContext&) = delete;

    void log(qint64 level, qint64 code, const QString& message) const;
    void log(qint64 level, qint64 code, const QString& message, const QVariant& context) const;
    void log(qint64 level, qint64 code, const QString& message, const QVariant& context1,
        const QVariant& context2) const;
    bool isDebugMode() const;
    double now() const;
    double bootClock() const;

    APMMeasurementEnvironment environment;
    const QString appID;
    const QStringList safelistedEvents;
    const bool isAnalyticsCollectionEnabled;
    const bool isAnalyticsCollectionDeactivated;
    APMPersistedConfig* persistedConfig = nullptr;
    APMIdentity* identity = nullptr;
    std::unique_ptr<APMDatabase> database;
    std::shared_ptr<APMRemoteConfig> remoteConfig;
    // Worker queue; read from any thread.
    std::atomic<bool> enabled { false };
    // The engine's start, or the load time a run before it stored.
    double initTimestamp = 0;

    // Last: the queue stops (finishing its work) before the state above goes,
    // and the alarm goes before the queue.
    std::unique_ptr<APMScheduler> scheduler;
    std::unique_ptr<APMAlarm> alarm;
    // The engine; null once it is going. Work that holds it weakly finds out
    // the engine is gone, so network completions that arrive late are harmless.
    std::shared_ptr<APMMeasurement*> self;
};
