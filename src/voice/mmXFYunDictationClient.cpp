#include "voice/mmXFYunDictationClient.h"

#include "core/MMUserInfo.h"
#include "voice/PcmAudioSource.h"
#include "voice/PcmSourceRegistry.h"
#include "voice/StreamingDictation.h"

#include <QDebug>
#include <QPointer>

#include <utility>

mmXFYunDictationClient::mmXFYunDictationClient(Environment environment, QObject* parent)
    : QObject(parent)
    , env_(environment)
{
}

mmXFYunDictationClient::~mmXFYunDictationClient()
{
    // The dictations cancel their delayed steps on the executor, so they go
    // while the environment is still here.
    current_ = nullptr;
    qDeleteAll(findChildren<StreamingDictation*>(Qt::FindDirectChildrenOnly));
}

bool mmXFYunDictationClient::hasCredentials(const QString& language) const
{
    const std::optional<mmApiKeyItem>& keys = env_.user.apikeyItem();
    return keys && serviceFor(*keys, language).complete();
}

bool mmXFYunDictationClient::isRunning() const
{
    return current_ && current_->isActive();
}

int mmXFYunDictationClient::finishingCount() const
{
    int count = 0;
    for (const StreamingDictation* dictation : findChildren<StreamingDictation*>(Qt::FindDirectChildrenOnly))
        count += dictation != current_ && dictation->isActive();
    return count;
}

void mmXFYunDictationClient::beginAsrWithRecognitionLanguage(
    const QString& language, ResultCallback callback, FailureCallback failure)
{
    if (StreamingDictation* earlier = std::exchange(current_, nullptr)) {
        // The earlier dictation sends its last frame and waits for its last
        // reply on its own connection; a finished one goes away.
        if (earlier->isActive())
            earlier->end();
        else
            earlier->deleteLater();
    }
    ++dictationId_;
    auto* dictation = new StreamingDictation(
        *this, language,
        [callback = std::move(callback)](const QString& text, RecognitionResultType type) {
            if (callback)
                callback(true, text, type);
        },
        std::move(failure));
    current_ = dictation;

    if (!hasCredentials(language)) {
        qWarning() << "Dictation: no service address or credentials for" << language;
        dictation->fail(RecognitionFailure::MissingCredentials);
        return;
    }
    takePcmSlot();
    dictation->start();
}

void mmXFYunDictationClient::endAsr()
{
    if (current_)
        current_->end();
}

void mmXFYunDictationClient::takePcmSlot()
{
    const quint64 link = env_.user.deviceInfo().testLinkMode();
    PcmAudioSource* source = env_.pcmSources.source(link);
    if (!source) {
        qWarning() << "Dictation: no audio source for link mode" << link;
        return;
    }
    source->setPcmSubscriber([self = QPointer(this)](const QByteArray& pcm) {
        if (self)
            self->sendPcmToXunfei(pcm);
    });
}

void mmXFYunDictationClient::sendPcmToXunfei(const QByteArray& pcm)
{
    // Audio belongs to the latest dictation only.
    if (current_)
        current_->sendPcmToXunfei(pcm);
}

void mmXFYunDictationClient::dictationFinished(StreamingDictation& dictation)
{
    // The latest one stays for its accessors until the next begin.
    if (&dictation != current_)
        dictation.deleteLater();
}
