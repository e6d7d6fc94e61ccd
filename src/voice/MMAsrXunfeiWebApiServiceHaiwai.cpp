#include "voice/MMAsrXunfeiWebApiServiceHaiwai.h"

#include "core/MMUserInfo.h"
#include "device/MessageBoxAlertPresenter.h"
#include "platform/Clock.h"
#include "platform/MainQueue.h"
#include "voice/MMAudioObjectManager.h"
#include "voice/PcmSourceRegistry.h"
#include "voice/mmXFYunRequestBuilder.h"

#include <QCoreApplication>
#include <QFile>

namespace haiwai_dictation {

// The dialects the overseas service names by themselves, tried in this order.
const QString kDialects[] = { QStringLiteral("cantonese"), QStringLiteral("shanghainese"),
    QStringLiteral("minnanese"), QStringLiteral("hakkanese"), QStringLiteral("lmz") };

} // namespace haiwai_dictation

MMAsrXunfeiWebApiServiceHaiwai& MMAsrXunfeiWebApiServiceHaiwai::sharedMMAsrXunfeiWebApiServiceHaiwai()
{
    static MessageBoxAlertPresenter alerts;
    static MMAsrXunfeiWebApiServiceHaiwai* client = new MMAsrXunfeiWebApiServiceHaiwai(
        { MMUserInfo::sharedMMUserInfo(), PcmSourceRegistry::shared(), alerts, platform::Clock::system() },
        platform::MainQueue::shared(), MMAudioObjectManager::sharedManager(), QCoreApplication::instance());
    return *client;
}

MMAsrXunfeiWebApiServiceHaiwai::MMAsrXunfeiWebApiServiceHaiwai(Environment environment,
    platform::Executor& executor, const MMAudioObjectManager& recorder, QObject* parent)
    : EarlierDictationClient(environment, parent)
    , executor_(executor)
    , recorder_(recorder)
{
}

MMAsrXunfeiWebApiServiceHaiwai::~MMAsrXunfeiWebApiServiceHaiwai()
{
    release_readTimer();
}

EarlierDictationClient::Service MMAsrXunfeiWebApiServiceHaiwai::serviceFor(
    const mmApiKeyItem& keys, const QString&) const
{
    return { keys.int_urlstr, keys.int_iat_appid, keys.int_iat_appkey, keys.int_iat_appsecret };
}

QJsonObject MMAsrXunfeiWebApiServiceHaiwai::businessParameters(const QString& language, quint64 punctuation) const
{
    using Builder = mmXFYunRequestBuilder;
    QJsonObject business = Builder::businessParameters(language, punctuation, DictationRegion::Overseas);
    business.insert(Builder::kVadEosKey, kVadEos);
    QString rlang;
    QString accent = Builder::kMandarin;
    if (language.contains(Builder::kChineseFamily)) {
        rlang = language == Builder::kCantoneseTraditional ? Builder::kRlangTraditional : Builder::kRlangSimplified;
        for (const QString& dialect : haiwai_dictation::kDialects) {
            if (language.contains(dialect)) {
                accent = dialect;
                break;
            }
        }
    }
    business.insert(Builder::kRlangKey, rlang);
    business.insert(Builder::kAccentKey, accent);
    return business;
}

void MMAsrXunfeiWebApiServiceHaiwai::appendReply(const QString& text, bool last)
{
    const bool chineseOrEnglish = language().contains(QLatin1String("zh")) || language().contains(QLatin1String("en"));
    deliver(text, RecognitionResultType::NewSegment);
    setComplete(complete() + fixResult());
    if (chineseOrEnglish)
        setComplete(complete() + text);
    if (last) {
        if (!chineseOrEnglish)
            setComplete(complete() + text);
        deliver(complete(), RecognitionResultType::SessionFinished);
    }
}

void MMAsrXunfeiWebApiServiceHaiwai::replaceReply(const QString& text)
{
    setFixResult(text);
    deliver(text, RecognitionResultType::Corrected);
}

void MMAsrXunfeiWebApiServiceHaiwai::init_readRecTimer()
{
    if (readTimer_)
        return;
    readIndex_ = 0;
    scheduleRead();
}

void MMAsrXunfeiWebApiServiceHaiwai::scheduleRead()
{
    readTimer_ = executor_.asyncAfter(kReadInterval, [this] {
        readAudioFile(recorder_.audioFilePath(), kReadChunk);
        scheduleRead();
    });
}

void MMAsrXunfeiWebApiServiceHaiwai::release_readTimer()
{
    if (readTimer_) {
        executor_.cancel(readTimer_);
        readTimer_ = 0;
    }
}

void MMAsrXunfeiWebApiServiceHaiwai::readAudioFile(const QString& path, qint64 chunkSize)
{
    if (path.isEmpty() || chunkSize <= 0)
        return;
    const qint64 size = QFile(path).size();
    while (size > 0 && readIndex_ < static_cast<quint64>(size))
        readIndex_ = std::min<quint64>(readIndex_ + static_cast<quint64>(chunkSize), static_cast<quint64>(size));
}
