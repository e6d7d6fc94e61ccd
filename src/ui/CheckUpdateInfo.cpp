#include "ui/CheckUpdateInfo.h"

#include "core/MMUserInfo.h"
#include "core/SecureEndpoint.h"
#include "platform/MainQueue.h"
#include "platform/Preferences.h"
#include "ui/MMupdateInfo.h"

#include <QUrl>
#include <QXmlStreamReader>

const QString CheckUpdateInfo::kFeedPath = QStringLiteral("/Wendrix/app_mac.xml");
const char* const CheckUpdateInfo::kEnvironmentVariable = "PRAVIK_UPDATE_FEED_URL";
const QString CheckUpdateInfo::kPreferenceKey = QStringLiteral("UpdateFeedBaseURL");

namespace {

// Long enough for a slow link, short enough that a dead host ends the check.
constexpr double kFeedTimeoutSeconds = 30;

QString configuredFeedOrigin()
{
    QString origin = qEnvironmentVariable(CheckUpdateInfo::kEnvironmentVariable).trimmed();
    if (origin.isEmpty())
        origin = platform::Preferences::standard().value(CheckUpdateInfo::kPreferenceKey).toString().trimmed();
    while (origin.endsWith(u'/'))
        origin.chop(1);
    return origin;
}

} // namespace

CheckUpdateInfo& CheckUpdateInfo::sharedManager()
{
    static CheckUpdateInfo* shared
        = new CheckUpdateInfo(platform::HttpClient::shared(), configuredFeedOrigin(), MMUserInfo::myVersion());
    return *shared;
}

CheckUpdateInfo::CheckUpdateInfo(platform::HttpClient& http, QString storageOrigin, QString myVersion)
    : http_(http)
    , storageOrigin_(std::move(storageOrigin))
    , myVersion_(std::move(myVersion))
{
}

CheckUpdateInfo::Feed CheckUpdateInfo::readFeed(const QByteArray& xml, const Feed& previous)
{
    Feed feed = previous;
    feed.content.clear();
    feed.hasVersion = false;
    feed.complete = false;
    QXmlStreamReader reader(xml);
    QString current; // the element started last, until any element ends
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            current = reader.name().toString();
            break;
        case QXmlStreamReader::EndElement:
            current.clear();
            break;
        case QXmlStreamReader::Characters: {
            const QString text = reader.text().toString();
            if (current == QLatin1String("Content")) {
                feed.content += text;
            } else if (current == QLatin1String("version")) {
                feed.version = text;
                feed.hasVersion = true;
            } else if (current == QLatin1String("url")) {
                feed.url = text;
            } else if (current == QLatin1String("title")) {
                feed.title = text;
            } else if (current == QLatin1String("md5")) {
                feed.md5 = text;
            }
            break;
        }
        case QXmlStreamReader::EndDocument:
            feed.complete = true;
            break;
        default:
            break;
        }
    }
    if (reader.hasError())
        feed.complete = false;
    feed.content.replace(u'#', u'\n');
    return feed;
}

CheckUpdateInfo::Feed CheckUpdateInfo::readFeed(const QByteArray& xml)
{
    return readFeed(xml, Feed());
}

CheckUpdateInfo::Outcome CheckUpdateInfo::outcomeFor(const Feed& feed, const QString& myVersion)
{
    if (!feed.complete || !feed.hasVersion)
        return Outcome::Unknown;
    const std::optional<int> order = MMupdateInfo::compareVersions(myVersion, feed.version.trimmed());
    if (!order)
        return Outcome::Unknown;
    return *order == -1 ? Outcome::Newer : Outcome::NotNewer;
}

bool CheckUpdateInfo::compareVersionWithServerVersin(const QString& version) const
{
    return MMupdateInfo::compareVersions(myVersion_, version) == -1;
}

void CheckUpdateInfo::finish(Outcome outcome, const CheckCallBack& callback)
{
    dmgDownloadURL_ = outcome == Outcome::Newer ? feed_.url : QString();
    if (callback)
        callback(outcome, dmgDownloadURL_);
}

void CheckUpdateInfo::checkVersion(CheckCallBack callback)
{
    feed_.content.clear();
    // The feed names what to download: HTTPS only (plain HTTP to this
    // machine for local test doubles).
    const QString refusal = storageOrigin_.isEmpty() ? QStringLiteral("no update-feed address is configured")
                                                     : SecureEndpoint::refusal(QUrl(storageOrigin_));
    if (!refusal.isNull()) {
        qWarning("CheckUpdateInfo: %s", qPrintable(refusal));
        platform::MainQueue::shared().async([this, callback] { finish(Outcome::Unknown, callback); });
        return;
    }
    platform::HttpRequest request;
    request.url = QUrl(storageOrigin_ + kFeedPath);
    request.timeoutSeconds = kFeedTimeoutSeconds;
    http_.send(request, [this, callback](const platform::HttpResponse& response) {
        if (!response.isSuccessStatus() || response.body.isEmpty()) {
            qWarning("CheckUpdateInfo: the update feed could not be read (%s, status %d)",
                qPrintable(response.errorString), response.status);
            finish(Outcome::Unknown, callback);
            return;
        }
        feed_ = readFeed(response.body, feed_);
        finish(outcomeFor(feed_, myVersion_), callback);
    });
}
