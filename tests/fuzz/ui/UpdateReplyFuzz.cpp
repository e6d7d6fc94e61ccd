// Replies of the back end's update check and documents of the XML update
// feed: neither may crash the reader nor ever claim an update that the text
// does not hold.

#include "FuzzTarget.h"
#include "ui/CheckUpdateInfo.h"
#include "ui/MMupdateInfo.h"

#include <QJsonDocument>

namespace update_fuzz {

const QString kOwnVersion = QStringLiteral("1.4.2");

} // namespace update_fuzz

PRAVIK_FUZZ_TARGET(update_reply)
{
    const QVariant json = QJsonDocument::fromJson(input).toVariant();
    const MMupdateInfo::Reply reply = MMupdateInfo::parseReply(json);
    const MMupdateInfo::Outcome outcome = MMupdateInfo::outcomeFor(reply, update_fuzz::kOwnVersion, QString());
    if (outcome == MMupdateInfo::Outcome::Newer
        && MMupdateInfo::compareVersions(update_fuzz::kOwnVersion, reply.ver) != -1)
        fuzz::fail("an update was offered for a version that is not newer");
    if (outcome != MMupdateInfo::Outcome::Unknown && !MMupdateInfo::compareVersions(reply.ver, reply.ver))
        fuzz::fail("a reply without a version was not Unknown");
}

PRAVIK_FUZZ_TARGET(update_feed)
{
    const CheckUpdateInfo::Feed feed = CheckUpdateInfo::readFeed(input);
    const CheckUpdateInfo::Outcome outcome = CheckUpdateInfo::outcomeFor(feed, update_fuzz::kOwnVersion);
    if (outcome == CheckUpdateInfo::Outcome::Newer && (!feed.complete || !feed.hasVersion))
        fuzz::fail("an update was claimed from a broken feed");
    if (feed.content.contains(u'#'))
        fuzz::fail("a # was left in the content");
    // A second document over the first never claims the first one's version.
    const CheckUpdateInfo::Feed again = CheckUpdateInfo::readFeed(QByteArray("<u/>"), feed);
    if (CheckUpdateInfo::outcomeFor(again, update_fuzz::kOwnVersion) != CheckUpdateInfo::Outcome::Unknown)
        fuzz::fail("a feed without a version was not Unknown");
}
