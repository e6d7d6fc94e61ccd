#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

class APMDailyCounts;
class APMEvent;
class APMMeasurement;
class APMPBMeasurementBundle;
class APMRawEventData;
struct APMEngineContext;

// Bundling: the oldest run of raw events of one metadata fingerprint becomes
// one queued bundle, and the raw events it used are deleted, in one
// transaction. On the way the events are sampled, renamed, counted against
// the daily conversion and real-time limits, evaluated for audiences and
// aggregated. Worker queue.
class APMBundler {
public:
    APMBundler(APMEngineContext& shared, APMMeasurement& engine);
    APMBundler(const APMBundler&) = delete;
    APMBundler& operator=(const APMBundler&) = delete;

    // One bundle from the oldest run of raw events, in one transaction; true
    // when a bundle was stored or raw events were consumed (call again).
    bool bundleRawEvents();

private:
    struct RawEventRun;
    RawEventRun rawEventsWithMetadataFingerprint(qint64 fingerprint);
    std::optional<QList<APMEvent>> processRawEvents(const QList<APMRawEventData>& rawEvents, qint64 fingerprint);
    bool checkConversion(APMEvent& event, APMDailyCounts& counts);
    bool checkRealtime(APMEvent& event, APMDailyCounts& counts);
    // When the raw events hold a session start, resets the session's state
    // (session-scoped audience results, session event counts, the session
    // engagement property); then adds the events' engagement time to the
    // engagement totals. A step that fails is logged and ends this call only.
    void resetSessionStateAndAddEngagementTime(const QList<APMRawEventData>& rawEvents, APMPBMeasurementBundle& bundle);
    bool updateUserEngagement(qint64 engagementMs, APMPBMeasurementBundle& bundle, bool sessionScoped);
    void handleAnalyticsStorageConsentTransitions(const APMPBMeasurementBundle& bundle);
    std::optional<QList<APMEvent>> eventsAfterUpdatingEventAggregates(
        const QList<APMEvent>& events, bool allowEventFilterEvaluation);
    bool updateAppMetadataForBundle(APMPBMeasurementBundle& bundle, double start, double end);
    void addBundleMetadataIntoBundle(APMPBMeasurementBundle& bundle, double start, double end);
    bool dropUnreadableRawEvents(qint64 maxRowID, qint64 fingerprint, const QString& reason);

    APMEngineContext& shared_;
    APMMeasurement& engine_;
};
