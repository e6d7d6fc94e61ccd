#include "ui/MMupdateInfo.h"

#include "core/BackendAddress.h"
#include "core/MMUserInfo.h"
#include "core/SHHttpManager.h"
#include "platform/MainQueue.h"

#include <QRegularExpression>
#include <QStringList>

const QString MMupdateInfo::kUpdatePath = QStringLiteral("/api/system/v1/setAppUpdate?fr_id=31");

MMupdateInfo::MMupdateInfo()
    : MMupdateInfo(MMUserInfo::sharedMMUserInfo(), SHHttpManager::sharedManager(), BackendAddress::configured(),
        MMUserInfo::myVersion())
{
}

MMupdateInfo::MMupdateInfo(MMUserInfo& user, SHHttpManager& http, QString backendBaseUrl, QString myVersion)
    : user_(user)
    , http_(http)
    , backendBaseUrl_(std::move(backendBaseUrl))
    , myVersion_(std::move(myVersion))
{
}

std::optional<int> MMupdateInfo::compareVersions(const QString& localText, const QString& serverText)
{
    // The whole text, white space around it aside: "$" alone would let a
    // final line break through into the last part.
    static const QRegularExpression version(QRegularExpression::anchoredPattern(QStringLiteral("[0-9]+(\\.[0-9]+)*")));
    const QString local = localText.trimmed();
    const QString server = serverText.trimmed();
    if (!version.match(local).hasMatch() || !version.match(server).hasMatch())
        return std::nullopt;
    QStringList localParts = local.split(u'.');
    QStringList serverParts = server.split(u'.');
    while (localParts.size() < serverParts.size())
        localParts << QStringLiteral("0");
    while (serverParts.size() < localParts.size())
        serverParts << QStringLiteral("0");
    for (qsizetype i = 0; i < localParts.size(); ++i) {
        // Numerically, without a limit on the number of digits: drop the
        // leading zeros, then the longer number is the larger.
        auto stripped = [](const QString& part) {
            qsizetype start = 0;
            while (start + 1 < part.size() && part[start] == u'0')
                ++start;
            return part.mid(start);
        };
        const QString a = stripped(localParts[i]);
        const QString b = stripped(serverParts[i]);
        if (a.size() != b.size())
            return a.size() < b.size() ? -1 : 1;
        if (const int order = a.compare(b); order != 0)
            return order < 0 ? -1 : 1;
    }
    return 0;
}

bool MMupdateInfo::compareVersionWithServerVersin(const QString& serverVersion) const
{
    return compareVersions(myVersion_, serverVersion) == -1;
}

MMupdateInfo::Reply MMupdateInfo::parseReply(const QVariant& json)
{
    Reply reply;
    if (json.typeId() != QMetaType::QVariantMap)
        return reply;
    const QVariant data = json.toMap().value(QStringLiteral("data"));
    if (data.typeId() != QMetaType::QVariantMap)
        return reply;
    const QVariantMap map = data.toMap();
    const QVariant ver = map.value(QStringLiteral("ver"));
    const QVariant url = map.value(QStringLiteral("url"));
    if (ver.typeId() == QMetaType::QString)
        reply.ver = ver.toString();
    if (url.typeId() == QMetaType::QString)
        reply.url = url.toString();
    return reply;
}

MMupdateInfo::Outcome MMupdateInfo::outcomeFor(
    const Reply& reply, const QString& myVersion, const QString& jumpVersion)
{
    const std::optional<int> order = compareVersions(myVersion, reply.ver);
    if (!order)
        return Outcome::Unknown;
    if (*order != -1 || reply.ver.trimmed() == jumpVersion.trimmed())
        return Outcome::NotNewer;
    return Outcome::Newer;
}

void MMupdateInfo::checkVersion(std::function<void(Outcome)> callback)
{
    if (!callback)
        callback = [](Outcome) {};
    if (BackendAddress::stateOf(backendBaseUrl_) != BackendAddress::State::Usable) {
        platform::MainQueue::shared().async([callback] { callback(Outcome::Unknown); });
        return;
    }
    http_.httpRequestNewVersion(
        backendBaseUrl_ + kUpdatePath,
        [&user = user_, myVersion = myVersion_, callback](const QVariant& json) {
            const Reply reply = parseReply(json);
            user.setNeewVersion(reply.ver);
            user.setUpdateURL(reply.url);
            callback(outcomeFor(reply, myVersion, user.jumpVersion()));
        },
        [callback, address = backendBaseUrl_](const HttpFailure& failure) {
            qWarning("MMupdateInfo: the update check failed: %s", qPrintable(failure.message));
            if (failure.kind == HttpFailure::Kind::Transport || failure.kind == HttpFailure::Kind::Timeout)
                BackendAddress::reportUnreachable(address, failure.message);
            callback(Outcome::Unknown);
        });
}

void MMupdateInfo::checkVersionCallback(std::function<void(bool newer)> callback)
{
    checkVersion([callback = std::move(callback)](Outcome outcome) {
        if (callback)
            callback(outcome == Outcome::Newer);
    });
}
