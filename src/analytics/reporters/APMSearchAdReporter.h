#pragma once

#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

namespace platform {
class AttributionTokenSource;
class Clock;
class Executor;
class HttpClient;
class SerialQueue;
struct HttpResponse;
} // namespace platform

class APMAlarm;
class APMMonitor;
class APMPersistedConfig;

// Asks the system's ad-attribution service, once per installation, whether
// the application was installed from a search advertisement; when it was,
// logs one campaign event "_cmp" (source "Apple", medium "search"). One
// attempt a day on the alarm "Search Ad campaign report alarm", at most ten
// per installation (the count survives restarts); any stored answer, yes or
// no, ends the attempts for good.
//
// Everything runs on the worker queue the reporter was made with: the alarm
// fires there and network replies are brought back there.
class APMSearchAdReporter {
public:
    static const QString kAlarmName; // "Search Ad campaign report alarm"
    static const QString kServicePath; // "/api/v1/"
    static const QString kServiceURLVariable; // "PRAVIK_ANALYTICS_SEARCHADS_URL"
    static constexpr qint64 kMaxAttempts = 10;
    static constexpr double kAttemptInterval = 86400;
    static constexpr double kRequestTimeout = 10;

    // Logs one internal event (origin, name, parameters, timestamp).
    using EventLogger = std::function<void(const QString&, const QString&, const QVariantMap&, double)>;

    struct Environment {
        platform::Clock* clock = nullptr; // null: the system clock
        platform::Executor* timer = nullptr; // measures the alarm's delay; null: the queue
        platform::HttpClient* http = nullptr; // null: the shared client
        platform::AttributionTokenSource* tokenSource = nullptr; // null: the system's
        // Scheme, host and port of the attribution service; empty: not
        // configured, the reporter stays idle (logged once at start).
        QUrl serviceURL;
        APMMonitor* monitor = nullptr; // null: the engine's
        EventLogger logEvent; // required for anything to be logged
    };
    // The service address from PRAVIK_ANALYTICS_SEARCHADS_URL; empty when unset.
    static QUrl configuredServiceURL();

    // Nothing without a queue (level 2, code 32000) or persisted state
    // (32001), after ten attempts (silently) or when an answer is stored
    // (level 7, code 32002).
    static std::unique_ptr<APMSearchAdReporter> initWithWorkerQueue(
        platform::SerialQueue* queue, APMPersistedConfig* persistedConfig, Environment environment);
    // Cancels the alarm; call on the worker queue or after it stopped.
    ~APMSearchAdReporter();

    APMSearchAdReporter(const APMSearchAdReporter&) = delete;
    APMSearchAdReporter& operator=(const APMSearchAdReporter&) = delete;

    // The operations below run on the worker queue.
    void start();
    void scheduleSearchAdReport();
    void maybeLogIAdCampaignEvent();
    void fetchAttributionDetails();
    void requestAttributionPayloadWithToken(const QString& token);
    void logCampaignEventWithSearchAdCampaign(bool attributed, const QString& campaign, const QString& term);
    void cancelScheduling();
    // Whether the system offers attribution tokens.
    bool adClientInstance() const;

    // What a reply of the attribution service says.
    struct AttributionReply {
        enum class Kind {
            Failed, // no reply, or an error status (code 32015)
            Unreadable, // not a JSON object, or without its verdict (32017)
            Empty, // an empty object
            TestData, // the service's test answer (32016)
            Answer, // a verdict: store it
        };
        Kind kind = Kind::Failed;
        QString error; // for Failed and Unreadable
        bool attributed = false;
        QString campaign;
        QString term;
    };
    static AttributionReply attributionReplyFromResponse(const platform::HttpResponse& response);

    bool isSearchAdReporterEnabled() const { return enabled_; }
    // Disabling also cancels a pending attempt, so nothing is asked while
    // collection is off; enabling again after start schedules the next one.
    void setSearchAdReporterEnabled(bool enabled);

    // The pending attempt's due time; none when idle or the alarm is gone.
    std::optional<double> scheduledTimestamp() const;
    bool hasAlarm() const { return alarm_ != nullptr; }

private:
    APMSearchAdReporter(platform::SerialQueue& queue, APMPersistedConfig& persistedConfig, Environment environment);

    void handleResponse(const platform::HttpResponse& response);
    void log(qint64 level, qint64 code, const QString& message) const;
    void log(qint64 level, qint64 code, const QString& message, const QVariant& context) const;

    platform::SerialQueue& queue_;
    APMPersistedConfig& persistedConfig_;
    Environment environment_;
    std::unique_ptr<APMAlarm> alarm_;
    bool enabled_ = false;
    bool started_ = false;
    // Lets replies and firings that arrive after destruction do nothing.
    std::shared_ptr<APMSearchAdReporter*> self_;
};
