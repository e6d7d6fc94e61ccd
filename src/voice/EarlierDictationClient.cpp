#include "voice/EarlierDictationClient.h"

#include "core/LGNLocalizedString.h"
#include "core/MMUserInfo.h"
#include "core/StringCoding.h"
#include "device/DeviceAlertPresenter.h"
#include "platform/Clock.h"
#include "voice/MMAudioQueueCapture.h"
#include "voice/PcmAudioSource.h"
#include "voice/PcmSourceRegistry.h"
#include "voice/mmXFYunReply.h"
#include "voice/mmXFYunRequestBuilder.h"

#include <QDateTime>
#include <QDebug>
#include <QNetworkRequest>
#include <QPointer>
#include <QWebSocket>

#include <cmath>

const QString EarlierDictationClient::kAlertTitleKey = QStringLiteral("温馨提醒");
const QString EarlierDictationClient::kAlertTextKey = QStringLiteral("因鼠标关机或休眠，未获取到设备信息，请重试。");

namespace earlier_dictation {

const QString kConfirmKey = QStringLiteral("确认");
const QString kCancelKey = QStringLiteral("取消");

QDateTime signingTime(double secondsSince1970)
{
    // Any time within a few hundred thousand years; anything else is 1970.
    const double ms = secondsSince1970 * 1000.0;
    if (!std::isfinite(ms) || std::fabs(ms) > 1e16)
        return QDateTime::fromMSecsSinceEpoch(0, Qt::UTC);
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(ms), Qt::UTC);
}

} // namespace earlier_dictation

EarlierDictationClient::EarlierDictationClient(Environment environment, QObject* parent)
    : QObject(parent)
    , env_(environment)
{
}

EarlierDictationClient::~EarlierDictationClient()
{
    stopCapture();
    closeSocket();
}

void EarlierDictationClient::beginAsrWithRecognitionLanguage(
    const QString& language, ResultCallback callback, FailureCallback failure)
{
    stopCapture();
    closeSocket();
    isEnd_ = false;
    language_ = language;
    complete_.clear();
    fixResult_.clear();
    completeNoFix_.clear();
    pending_.clear();
    pendingBytes_ = 0;
    reconnects_ = 0;
    audioResultBlock_ = std::move(callback);
    failure_ = std::move(failure);
    const std::optional<mmApiKeyItem>& keys = env_.user.apikeyItem();
    service_ = keys ? serviceFor(*keys, language_) : Service {};
    if (!service_.usable()) {
        qWarning() << "Earlier dictation: no device credentials for" << language_;
        showDeviceAlert();
        return;
    }
    requestWebSocket();
}

void EarlierDictationClient::showDeviceAlert()
{
    const auto tr = LGNLocalizedString::lgnAppLocalizedString;
    env_.alerts.presentAlert(QStringLiteral("%1").arg(tr(kAlertTitleKey)), tr(kAlertTextKey),
        { tr(earlier_dictation::kConfirmKey), tr(earlier_dictation::kCancelKey) }, [](int) {});
}

void EarlierDictationClient::requestWebSocket()
{
    closeSocket();
    const QString date = StringCoding::currentRFC1123DateString(earlier_dictation::signingTime(env_.clock.now()));
    const QString signedUrl
        = mmXFYunRequestBuilder::signedUrl(service_.endpoint, date, service_.apiKey, service_.apiSecret);
    const QUrl url = QUrl::fromEncoded(signedUrl.toUtf8(), QUrl::StrictMode);
    if (signedUrl.isNull() || !url.isValid()
        || (url.scheme() != QLatin1String("ws") && url.scheme() != QLatin1String("wss"))) {
        qWarning() << "Earlier dictation: cannot sign a connection to" << service_.endpoint;
        if (failure_)
            failure_(RecognitionFailure::MissingCredentials);
        return;
    }
    ++connections_;
    auto* socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    connect(socket, &QWebSocket::connected, this, [this, socket] {
        if (socket == webSocket_)
            webSocketDidOpen();
    });
    connect(socket, &QWebSocket::textMessageReceived, this, [this, socket](const QString& message) {
        if (socket == webSocket_)
            webSocketDidReceiveMessage(message);
    });
    connect(socket, &QWebSocket::disconnected, this, [this, socket] {
        if (socket == webSocket_)
            socketOpen_ = false;
    });
    webSocket_ = socket;
    socketOpen_ = false;
    socket->open(QNetworkRequest(url));
}

void EarlierDictationClient::closeSocket()
{
    if (!webSocket_)
        return;
    QWebSocket* socket = std::exchange(webSocket_, nullptr);
    socketOpen_ = false;
    socket->disconnect(this);
    socket->close();
    socket->deleteLater();
}

void EarlierDictationClient::takeAudioSources()
{
    for (const quint64 link : { PcmSourceRegistry::kLinkBluetooth, PcmSourceRegistry::kLinkUsb }) {
        if (PcmAudioSource* source = env_.pcmSources.source(link))
            source->setPcmSubscriber([self = QPointer(this)](const QByteArray& pcm) {
                if (self)
                    self->sendPcmToXunfei(pcm);
            });
    }
    if (audioQueueCapture_ && !audioQueueCapture_->isRecording()) {
        const bool recording = audioQueueCapture_->startRecordWithBlock([self = QPointer(this)](const QByteArray& pcm) {
            if (self)
                self->sendPcmToXunfei(pcm);
        });
        if (!recording)
            qWarning() << "Earlier dictation: the microphone cannot be opened";
    }
}

void EarlierDictationClient::stopCapture()
{
    if (audioQueueCapture_)
        audioQueueCapture_->stopRecord();
}

void EarlierDictationClient::webSocketDidOpen()
{
    socketOpen_ = true;
    if (isEnd_ && pending_.empty()) {
        closeSocket();
        return;
    }
    status_ = kFirst;
    if (!isEnd_)
        takeAudioSources();
    // What was said while the connection opened goes first, in order.
    while (!pending_.empty()) {
        const QByteArray pcm = std::move(pending_.front());
        pending_.pop_front();
        pendingBytes_ -= pcm.size();
        asrEngineWithPcm(pcm);
    }
    if (isEnd_)
        sendLastFrame();
}

void EarlierDictationClient::sendPcmToXunfei(const QByteArray& pcm)
{
    if (pcm.isEmpty())
        return;
    if (socketOpen_) {
        asrEngineWithPcm(pcm);
        return;
    }
    if (isEnd_ || !webSocket_)
        return;
    pending_.push_back(pcm);
    pendingBytes_ += pcm.size();
    while (pendingBytes_ > kMaxBufferedAudioBytes && !pending_.empty()) {
        pendingBytes_ -= pending_.front().size();
        pending_.pop_front();
    }
}

void EarlierDictationClient::asrEngineWithPcm(const QByteArray& pcm)
{
    switch (status_) {
    case kFirst:
        webSocket_->sendBinaryMessage(mmXFYunRequestBuilder::firstFrame(
            service_.appId, businessParameters(language_, env_.user.webConfig().sec_punctution()), pcm));
        status_ = kMiddle;
        break;
    case kMiddle:
        webSocket_->sendBinaryMessage(mmXFYunRequestBuilder::middleFrame(pcm));
        break;
    default:
        break;
    }
}

void EarlierDictationClient::sendLastFrame()
{
    status_ = kLast;
    if (socketOpen_)
        webSocket_->sendBinaryMessage(mmXFYunRequestBuilder::lastFrame());
}

void EarlierDictationClient::endAsr()
{
    isEnd_ = true;
    stopCapture();
}

void EarlierDictationClient::endAsrBluetooth()
{
    isEnd_ = true;
    sendLastFrame();
}

void EarlierDictationClient::webSocketDidReceiveMessage(const QString& message)
{
    const std::optional<mmXFYunReply> reply = mmXFYunReply::fromText(message);
    if (reply)
        resultDictionary(*reply);
}

void EarlierDictationClient::deliver(const QString& text, RecognitionResultType type)
{
    if (audioResultBlock_)
        audioResultBlock_(true, text, type);
}

void EarlierDictationClient::resultDictionary(const mmXFYunReply& reply)
{
    if (reply.code != 0) {
        qWarning() << "Earlier dictation: the service answered" << reply.code << reply.message;
        if (++reconnects_ > kMaxReconnectsInARow) {
            // A service that keeps refusing is not asked again and again.
            stopCapture();
            closeSocket();
            isEnd_ = true;
            if (failure_)
                failure_(RecognitionFailure::ConnectionFailed);
            return;
        }
        requestWebSocket();
        return;
    }
    reconnects_ = 0;
    switch (reply.progress) {
    case mmXFYunReply::Progress::Append:
        appendReply(reply.text, reply.last);
        return;
    case mmXFYunReply::Progress::Replace:
        replaceReply(reply.text);
        return;
    case mmXFYunReply::Progress::Unknown:
        return;
    case mmXFYunReply::Progress::None:
        break;
    }
    deliver(reply.text, RecognitionResultType::NewSegment);
    completeNoFix_ += reply.text;
    if (reply.last) {
        deliver(completeNoFix_, RecognitionResultType::SessionFinished);
        closeSocket();
    }
}
