#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QtGlobal>

namespace platform {
struct HttpResponse;
} // namespace platform

class APMMeasurement;
struct APMEngineContext;

// The measurement configuration's fetch: a conditional GET of this app's
// configuration whose reply is checked in full before anything of it is
// kept, and then applied; the fetch time it records decides when the next
// one falls due. Worker queue.
class APMConfigFetcher {
public:
    APMConfigFetcher(APMEngineContext& shared, APMMeasurement& engine);
    APMConfigFetcher(const APMConfigFetcher&) = delete;
    APMConfigFetcher& operator=(const APMConfigFetcher&) = delete;

    void fetchRemoteConfig();
    void networkRemoteConfigFetchCompletionHandler(const platform::HttpResponse& response);
    // Applies a fetched configuration body in one transaction: it must parse
    // and name this app; its audience definitions go to the audience
    // evaluator, the rest to the remote configuration. False: nothing
    // applied (the failure is logged).
    bool applyMeasurementConfigData(const QByteArray& data);
    // Scheme, host and port of the configuration service; empty when none
    // is configured.
    QUrl configAddress() const;

private:
    void recordConfigFetchTime(qint64 failureCode, const QString& failureMessage);

    APMEngineContext& shared_;
    APMMeasurement& engine_;
};
