#include "analytics/reporters/APMSearchAdReporter.h"

#include "analytics/base/APMAlarm.h"
#include "analytics/base/APMLibrary.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/APMNumericUtil.h"
#include "analytics/base/APMPersistedConfig.h"
#include "analytics/reporters/APMMeasurementNames.h"
#include "platform/AttributionTokenSource.h"
#include "platform/Clock.h"
#include "platform/HttpClient.h"
#include "platform/SerialQueue.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <cmath>
#include <limits>

const QString APMSearchAdReporter::kAlarmName = QStringLiteral("Search Ad campaign report alarm");
const QString APMSearchAdReporter::kServicePath = QStringLiteral("/api/v1/");
const QString APMSearchAdReporter::kServiceURLVariable = QStringLiteral("PRAVIK_ANALYTICS_SEARCHADS_URL");

namespace search_ad_reporter {

// The service's answer to a test token: not a real campaign.
const QString kSearchAdTestIdentifier = QStringLiteral("1234567890");
const QString kSearchAdAttributionKey = QStringLiteral("attribution");
const QString kSearchAdAdIDKey = QStringLiteral("adId");
const QString kSearchAdCampaignIDKey = QStringLiteral("campaignId");
const QString kSearchAdKeywordIDKey = QStringLiteral("keywordId");

// A reply field as text: numbers in their plain decimal form, like the
// service's own rendering of its ids.
QString searchAdStringValue(const QJsonValue& value)
{
    if (value.isString())
        return value.toString();
    if (value.isBool())
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    if (value.isDouble()) {
        const double number = value.toDouble();
        if (std::isfinite(number) && std::trunc(number) == number && std::fabs(number) < 9.0e18)
            return QString::number(qint64(number));
        return QString::number(number, 'g', 17);
    }
    return {};
}

bool searchAdBoolValue(const QJsonValue& value)
{
    if (value.isBool())
        return value.toBool();
    if (value.isDouble() || value.isString())
        return APMBoolValueOf(value.toVariant()).value_or(false);
    return false;
}

} // namespace search_ad_reporter

using namespace search_ad_reporter;

QUrl APMSearchAdReporter::configuredServiceURL()
{
    const QString address = qEnvironmentVariable(qPrintable(kServiceURLVariable));
    return address.isEmpty() ? QUrl() : QUrl(address);
}

std::unique_ptr<APMSearchAdReporter> APMSearchAdReporter::initWithWorkerQueue(
    platform::SerialQueue* queue, APMPersistedConfig* persistedConfig, Environment environment)
{
    APMMonitor& monitor = environment.monitor ? *environment.monitor : APMLibrary::monitor();
    if (!queue) {
        monitor.logWithLevel(APMMonitor::kLevelErrorSilent, 32000,
            QStringLiteral("Cannot init Search Ad reporter. Queue must be provided"));
        return nullptr;
    }
    if (!persistedConfig) {
        monitor.logWithLevel(APMMonitor::kLevelErrorSilent, 32001,
            QStringLiteral("Cannot init Search Ad reporter. Persisted config must be provided"));
        return nullptr;
    }
    if (persistedConfig->searchAdRetryCount() >= kMaxAttempts)
        return nullptr;
    if (persistedConfig->searchAdCampaignValue().isValid()) {
        monitor.logWithLevel(APMMonitor::kLevelDebug, 32002,
            QStringLiteral("Search Ad campaign attribution was already reported. Do not start Search Ad Reporter."));
        return nullptr;
    }
    return std::unique_ptr<APMSearchAdReporter>(new APMSearchAdReporter(*queue, *persistedConfig, std::move(environment)));
}

APMSearchAdReporter::APMSearchAdReporter(
    platform::SerialQueue& queue, APMPersistedConfig& persistedConfig, Environment environment)
    : queue_(queue)
    , persistedConfig_(persistedConfig)
    , environment_(std::move(environment))
    , self_(std::make_shared<APMSearchAdReporter*>(this))
{
    if (!environment_.clock)
        environment_.clock = &platform::Clock::system();
    if (!environment_.http)
        environment_.http = &platform::HttpClient::shared();
    if (!environment_.tokenSource)
        environment_.tokenSource = &platform::AttributionTokenSource::shared();
    if (!environment_.monitor)
        environment_.monitor = &APMLibrary::monitor();
    platform::Executor& timer = environment_.timer ? *environment_.timer : queue_;
    alarm_ = std::make_unique<APMAlarm>(queue_, timer, *environment_.clock, kAlarmName);
}

APMSearchAdReporter::~APMSearchAdReporter()
{
    self_.reset();
    cancelScheduling();
}

void APMSearchAdReporter::log(qint64 level, qint64 code, const QString& message) const
{
    environment_.monitor->logWithLevel(level, code, message);
}

void APMSearchAdReporter::log(qint64 level, qint64 code, const QString& message, const QVariant& context) const
{
    environment_.monitor->logWithLevel(level, code, message, context);
}

bool APMSearchAdReporter::adClientInstance() const
{
    return environment_.tokenSource->isAvailable();
}

void APMSearchAdReporter::start()
{
    if (!adClientInstance()) {
        log(APMMonitor::kLevelDebug, 32014,
            QStringLiteral("AdServices framework is not linked. Search Ad Attribution Reporter is disabled."));
        return;
    }
    if (!environment_.serviceURL.isValid() || environment_.serviceURL.host().isEmpty()) {
        log(APMMonitor::kLevelNotice, 32010,
            QStringLiteral("No Search Ad attribution address is configured (%1). Search Ad Attribution Reporter is disabled.")
                .arg(kServiceURLVariable));
        return;
    }
    started_ = true;
    scheduleSearchAdReport();
}

void APMSearchAdReporter::setSearchAdReporterEnabled(bool enabled)
{
    const bool wasEnabled = enabled_;
    enabled_ = enabled;
    if (!enabled && alarm_)
        alarm_->cancel();
    else if (enabled && !wasEnabled && started_)
        scheduleSearchAdReport();
}

std::optional<double> APMSearchAdReporter::scheduledTimestamp() const
{
    return alarm_ ? alarm_->scheduledTimestamp() : std::nullopt;
}

void APMSearchAdReporter::scheduleSearchAdReport()
{
    if (!alarm_) {
        log(APMMonitor::kLevelWarningSilent, 32013,
            QStringLiteral("Search Ad Campaign attribution alarm is already canceled"));
        return;
    }
    if (!enabled_) {
        alarm_->cancel();
        return;
    }
    if (persistedConfig_.searchAdCampaignValue().isValid()) {
        log(APMMonitor::kLevelDebug, 32004,
            QStringLiteral("Search Ad report not scheduled. Search Ad campaign attribution was already reported."));
        cancelScheduling();
        return;
    }
    if (alarm_->scheduledTimestamp()) {
        log(APMMonitor::kLevelWarningSilent, 32005, QStringLiteral("Search Ad Campaign attribution alarm is already scheduled"));
        return;
    }
    if (persistedConfig_.searchAdRetryCount() >= kMaxAttempts) {
        log(APMMonitor::kLevelWarningSilent, 32007,
            QStringLiteral("Search Ad Campaign attribution exceeds the max number of retries. Do not schedule again."));
        cancelScheduling();
        return;
    }
    log(APMMonitor::kLevelDebug, 32006, QStringLiteral("Scheduling Search Ad Report timer"));
    // A day after the last attempt; a first run (no attempt yet) goes at once.
    const double delay = kAttemptInterval
        - std::fabs(environment_.clock->now() - persistedConfig_.lastSearchAdLookUpTimestamp());
    const std::weak_ptr<APMSearchAdReporter*> weak = self_;
    alarm_->runAfterDelay(std::max(delay, 0.0), [weak] {
        if (const auto self = weak.lock(); self && *self)
            (*self)->maybeLogIAdCampaignEvent();
    });
}

void APMSearchAdReporter::cancelScheduling()
{
    if (!alarm_)
        return;
    alarm_->cancel();
    alarm_.reset();
}

void APMSearchAdReporter::maybeLogIAdCampaignEvent()
{
    if (!adClientInstance() || !enabled_)
        return;
    persistedConfig_.setLastSearchAdLookUpTimestamp(environment_.clock->now());
    fetchAttributionDetails();
    scheduleSearchAdReport();
}

void APMSearchAdReporter::fetchAttributionDetails()
{
    // Every attempt counts, answered or not.
    persistedConfig_.setSearchAdRetryCount(persistedConfig_.searchAdRetryCount() + 1);
    QString error;
    const std::optional<QString> token = environment_.tokenSource->attributionToken(&error);
    if (!token) {
        log(APMMonitor::kLevelErrorMonitored, 32018,
            QStringLiteral("Cannot send request for Search Ad campaign attribution. Error"), error);
        return;
    }
    if (!token->isEmpty())
        requestAttributionPayloadWithToken(*token);
}

void APMSearchAdReporter::requestAttributionPayloadWithToken(const QString& token)
{
    const QByteArray body = token.toUtf8();
    if (body.isEmpty())
        return;
    platform::HttpRequest request;
    request.method = "POST";
    request.url = environment_.serviceURL;
    request.url.setPath(kServicePath);
    request.headers = { { "cache-control", "no-cache" }, { "Content-Type", "text/plain" } };
    request.body = body;
    request.timeoutSeconds = kRequestTimeout;
    const std::weak_ptr<APMSearchAdReporter*> weak = self_;
    platform::SerialQueue* queue = &queue_;
    environment_.http->send(request, [weak, queue](const platform::HttpResponse& response) {
        // The reply arrives on the main thread; the alarm and the stored
        // answer belong to the worker queue.
        if (weak.expired())
            return;
        queue->async([weak, response] {
            if (const auto self = weak.lock(); self && *self)
                (*self)->handleResponse(response);
        });
    });
}

APMSearchAdReporter::AttributionReply APMSearchAdReporter::attributionReplyFromResponse(
    const platform::HttpResponse& response)
{
    AttributionReply reply;
    // An error status is a failed request whatever its body says: a body
    // read as an answer would end the attempts for good.
    if (response.error != platform::HttpResponse::Error::None || response.status < 200 || response.status > 299) {
        reply.error = response.error != platform::HttpResponse::Error::None
            ? response.errorString
            : QStringLiteral("HTTP status %1").arg(response.status);
        return reply;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(response.body, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        reply.kind = AttributionReply::Kind::Unreadable;
        reply.error = parseError.error != QJsonParseError::NoError ? parseError.errorString() : QStringLiteral("not an object");
        return reply;
    }
    const QJsonObject object = document.object();
    if (object.isEmpty()) {
        reply.kind = AttributionReply::Kind::Empty;
        return reply;
    }
    // Without its verdict a reply is no answer: storing "no" from it would
    // end the attempts on a reply that never said no.
    if (!object.contains(kSearchAdAttributionKey)) {
        reply.kind = AttributionReply::Kind::Unreadable;
        reply.error = QStringLiteral("no attribution");
        return reply;
    }
    reply.campaign = searchAdStringValue(object.value(kSearchAdCampaignIDKey));
    if (searchAdStringValue(object.value(kSearchAdAdIDKey)) == kSearchAdTestIdentifier
        && reply.campaign == kSearchAdTestIdentifier) {
        reply.kind = AttributionReply::Kind::TestData;
        return reply;
    }
    reply.kind = AttributionReply::Kind::Answer;
    reply.attributed = searchAdBoolValue(object.value(kSearchAdAttributionKey));
    reply.term = searchAdStringValue(object.value(kSearchAdKeywordIDKey));
    return reply;
}

void APMSearchAdReporter::handleResponse(const platform::HttpResponse& response)
{
    const AttributionReply reply = attributionReplyFromResponse(response);
    switch (reply.kind) {
    case AttributionReply::Kind::Failed:
        log(APMMonitor::kLevelErrorMonitored, 32015,
            QStringLiteral("Cannot send request for Search Ad campaign attribution. Error"), reply.error);
        break;
    case AttributionReply::Kind::Unreadable:
        log(APMMonitor::kLevelErrorMonitored, 32017, QStringLiteral("Search Ad Reporter failed to parse JSON data. Error"),
            reply.error);
        break;
    case AttributionReply::Kind::Empty:
        break;
    case AttributionReply::Kind::TestData:
        log(APMMonitor::kLevelDebug, 32016, QStringLiteral("Search Ad Reporter returned test data. Will retry next time."));
        break;
    case AttributionReply::Kind::Answer:
        logCampaignEventWithSearchAdCampaign(reply.attributed, reply.campaign, reply.term);
        cancelScheduling();
        break;
    }
    // Without an answer the next attempt stays as the attempt itself armed it.
}

void APMSearchAdReporter::logCampaignEventWithSearchAdCampaign(
    bool attributed, const QString& campaign, const QString& term)
{
    if (persistedConfig_.searchAdCampaignValue().isValid()) {
        log(APMMonitor::kLevelWarningSilent, 32008, QStringLiteral("Search Ad Campaign is already tracked"));
        return;
    }
    persistedConfig_.setSearchAdCampaignValue(attributed);
    if (!attributed)
        return;
    QVariantMap parameters { { QStringLiteral("source"), QStringLiteral("Apple") },
        { QStringLiteral("medium"), QStringLiteral("search") } };
    if (!campaign.isEmpty())
        parameters.insert(QStringLiteral("campaign"), campaign);
    if (!term.isEmpty())
        parameters.insert(QStringLiteral("term"), term);
    const qint64 firstOpen = persistedConfig_.firstOpenTimestampMilliseconds();
    if (firstOpen < 2)
        log(APMMonitor::kLevelWarningSilent, 32009, QStringLiteral("Search Ad Campaign does not have click_timestamp."));
    else
        parameters.insert(apm_engine::kClickTimestampParameter, firstOpen - 1);
    if (environment_.logEvent)
        environment_.logEvent(apm_engine::kAutoOrigin, apm_engine::kCampaignEvent, parameters, environment_.clock->now());
}
