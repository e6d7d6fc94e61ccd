#include "voice/mmXFYunDictationClient.h"

#include "core/MMUserInfo.h"
#include "core/StringCoding.h"
#include "platform/Clock.h"
#include "voice/PcmAudioSource.h"
#include "voice/PcmSourceRegistry.h"

#include <QDateTime>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimeZone>
#include <QUrl>
#include <QtWebSockets/QWebSocket>

#include <cmath>

namespace {

const QString kSchemeWs = QStringLiteral("ws");
const QString kSchemeWss = QStringLiteral("wss");

QDateTime wallClock(double secondsSince1970)
{
    // Milliseconds since 1970 for any time within a few hundred thousand years; anything else is 1970.
    constexpr double kLimit = 1e16;
    const double ms = secondsSince1970 * 1000.0;
    const qint64 whole = std::isfinite(ms) && std::fabs(ms) < kLimit ? qint64(std::llround(ms)) : 0;
    return QDateTime::fromMSecsSinceEpoch(whole, QTimeZone::utc());
}

} // namespace

mmXFYunDictationClient::mmXFYunDictationClient(Environment environment, QObject* parent)
    : QObject(parent)
    , env_(environment)
{
}

mmXFYunDictationClient::~mmXFYunDictationClient()
{
    cancel(reconnectTask_);
    cancel(finalTask_);
    dropSocket();
}

bool mmXFYunDictationClient::hasCredentials(const QString& language) const
{
    const std::optional<mmApiKeyItem>& keys = env_.user.apikeyItem();
    return keys && serviceFor(*keys, language).complete();
}

void mmXFYunDictationClient::beginAsrWithRecognitionLanguage(
    const QString& language, ResultCallback callback, FailureCallback failure)
{
    if (active_) {
        // The earlier dictation keeps what it recognised.
        dropSocket();
        assembler_.finishSession(deliverer());
        finishDictation();
    }
    ++dictationId_;
    language_ = language;
    callback_ = std::move(callback);
    failure_ = std::move(failure);
    ended_ = false;
    attempts_ = 0;
    droppedAudio_ = false;
    assembler_.reset();

    if (!hasCredentials(language)) {
        qWarning() << "Dictation: no service address or credentials for" << language;
        fail(RecognitionFailure::MissingCredentials);
        return;
    }
    active_ = true;
    takePcmSlot();
    requestWebSocket();
}

void mmXFYunDictationClient::endAsr()
{
    if (!active_ || ended_)
        return;
    ended_ = true;
    finalTask_ = schedule(kFinalReplyTimeout, &mmXFYunDictationClient::finalReplyTimedOut);
    if (socketOpen_) {
        if (status_ == kMiddle)
            sendLastFrame();
        else
            finishDictation(); // open, and not one block to recognise
    } else if (pending_.empty()) {
        finishDictation(); // nothing waits for a connection
    }
    // Otherwise the connection being opened (now or after a pause) sends the
    // buffered audio, then the last frame.
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

void mmXFYunDictationClient::requestWebSocket()
{
    const std::optional<mmApiKeyItem>& keys = env_.user.apikeyItem();
    const Service service = keys ? serviceFor(*keys, language_) : Service {};
    if (!service.complete()) {
        qWarning() << "Dictation: the credentials are gone";
        fail(RecognitionFailure::MissingCredentials);
        return;
    }
    const QString date = StringCoding::currentRFC1123DateString(wallClock(env_.clock.now()));
    const QString signedUrl
        = mmXFYunRequestBuilder::signedUrl(service.endpoint, date, service.apiKey, service.apiSecret);
    const QUrl url = QUrl::fromEncoded(signedUrl.toUtf8(), QUrl::StrictMode);
    if (signedUrl.isNull() || !url.isValid() || (url.scheme() != kSchemeWs && url.scheme() != kSchemeWss)) {
        qWarning() << "Dictation: cannot sign a connection to" << service.endpoint;
        fail(RecognitionFailure::MissingCredentials);
        return;
    }

    dropSocket();
    appId_ = service.appId;
    business_ = mmXFYunRequestBuilder::businessParameters(
        language_, env_.user.webConfig().sec_punctution(), region());
    status_ = kFirst;
    socketOpen_ = false;
    ++connections_;

    auto* socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    connect(socket, &QWebSocket::connected, this, [this, socket] { socketConnected(socket); });
    connect(socket, &QWebSocket::textMessageReceived, this,
        [this, socket](const QString& message) { socketMessage(socket, message); });
    connect(socket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), this,
        [this, socket](QAbstractSocket::SocketError) { socketLost(socket); });
    connect(socket, &QWebSocket::disconnected, this, [this, socket] { socketLost(socket); });
    socket_ = socket;
    openTask_ = schedule(kOpenTimeout, &mmXFYunDictationClient::openTimedOut);
    socket->open(QNetworkRequest(url));
}

void mmXFYunDictationClient::Requesting_iFlytek_authentication_again()
{
    requestWebSocket();
}

void mmXFYunDictationClient::sendPcmToXunfei(const QByteArray& pcm)
{
    if (!active_ || ended_ || pcm.isEmpty())
        return;
    if (socketOpen_)
        asrEngineWithPcm(pcm);
    else
        bufferPcm(pcm);
}

void mmXFYunDictationClient::asrEngineWithPcm(const QByteArray& pcm)
{
    if (!socket_)
        return;
    if (status_ == kFirst) {
        socket_->sendBinaryMessage(mmXFYunRequestBuilder::firstFrame(appId_, business_, pcm));
        status_ = kMiddle;
    } else if (status_ == kMiddle) {
        socket_->sendBinaryMessage(mmXFYunRequestBuilder::middleFrame(pcm));
    }
}

void mmXFYunDictationClient::sendLastFrame()
{
    if (!socket_)
        return;
    socket_->sendBinaryMessage(mmXFYunRequestBuilder::lastFrame());
    status_ = kLast;
}

void mmXFYunDictationClient::bufferPcm(const QByteArray& pcm)
{
    pending_.push_back(pcm);
    pendingBytes_ += pcm.size();
    while (pendingBytes_ > kMaxBufferedAudioBytes && pending_.size() > 1) {
        pendingBytes_ -= pending_.front().size();
        pending_.pop_front();
        if (!droppedAudio_)
            qWarning() << "Dictation: no connection for too long; the oldest audio is dropped";
        droppedAudio_ = true;
    }
}

void mmXFYunDictationClient::socketConnected(QWebSocket* socket)
{
    if (socket != socket_)
        return;
    cancel(openTask_);
    socketOpen_ = true;
    status_ = kFirst;
    // A send that fails at once drops the connection; what is left waits for the next one.
    while (socketOpen_ && !pending_.empty()) {
        const QByteArray pcm = pending_.front();
        pending_.pop_front();
        pendingBytes_ -= pcm.size();
        asrEngineWithPcm(pcm);
    }
    if (!socketOpen_ || !ended_)
        return;
    if (status_ == kMiddle)
        sendLastFrame();
    else
        finishDictation();
}

void mmXFYunDictationClient::socketMessage(QWebSocket* socket, const QString& message)
{
    if (socket != socket_)
        return;
    if (const std::optional<mmXFYunReply> reply = mmXFYunReply::fromText(message))
        resultDictionary(*reply);
}

void mmXFYunDictationClient::socketLost(QWebSocket* socket)
{
    if (socket != socket_)
        return;
    qWarning() << "Dictation: connection lost:" << socket->errorString();
    connectionFailed();
}

void mmXFYunDictationClient::resultDictionary(const mmXFYunReply& reply)
{
    if (reply.code != 0) {
        qWarning() << "Dictation: the service answered code" << reply.code << reply.message;
        connectionFailed();
        return;
    }
    attempts_ = 0;
    const quint64 dictation = dictationId_;
    const bool sessionEnded = assembler_.resultDictionary(reply, deliverer());
    // A delivery may have begun or ended a dictation.
    if (dictation != dictationId_ || !active_ || !sessionEnded)
        return;
    if (ended_)
        finishDictation();
    else
        Requesting_iFlytek_authentication_again();
}

void mmXFYunDictationClient::connectionFailed()
{
    dropSocket();
    const quint64 dictation = dictationId_;
    assembler_.finishSession(deliverer());
    if (dictation != dictationId_ || !active_)
        return;
    if (ended_ && pending_.empty()) {
        finishDictation();
        return;
    }
    if (attempts_ >= kMaxReconnectAttempts) {
        fail(RecognitionFailure::ConnectionFailed);
        return;
    }
    const double delay = kFirstReconnectDelay * double(1 << attempts_);
    ++attempts_;
    cancel(reconnectTask_);
    reconnectTask_ = schedule(delay, &mmXFYunDictationClient::reconnectAfterFailure);
}

void mmXFYunDictationClient::openTimedOut()
{
    openTask_.reset();
    qWarning() << "Dictation: the connection did not open in time";
    connectionFailed();
}

void mmXFYunDictationClient::reconnectAfterFailure()
{
    reconnectTask_.reset();
    if (active_)
        requestWebSocket();
}

void mmXFYunDictationClient::finalReplyTimedOut()
{
    finalTask_.reset();
    if (!active_)
        return;
    qWarning() << "Dictation: no last reply; finishing with the text so far";
    dropSocket();
    const quint64 dictation = dictationId_;
    assembler_.finishSession(deliverer());
    if (dictation == dictationId_)
        finishDictation();
}

void mmXFYunDictationClient::fail(RecognitionFailure failure)
{
    const FailureCallback report = failure_;
    finishDictation();
    if (report)
        report(failure);
}

void mmXFYunDictationClient::finishDictation()
{
    active_ = false;
    cancel(reconnectTask_);
    cancel(finalTask_);
    dropSocket();
    pending_.clear();
    pendingBytes_ = 0;
}

void mmXFYunDictationClient::dropSocket()
{
    cancel(openTask_);
    socketOpen_ = false;
    QWebSocket* socket = std::exchange(socket_, nullptr);
    if (!socket)
        return;
    // Whatever it still says is no longer listened to.
    socket->disconnect(this);
    socket->close();
    socket->deleteLater();
}

mmXFYunResultAssembler::Delivery mmXFYunDictationClient::deliverer()
{
    return [this](const QString& text, RecognitionResultType type) {
        if (const ResultCallback callback = callback_)
            callback(true, text, type);
    };
}

platform::TaskId mmXFYunDictationClient::schedule(double seconds, void (mmXFYunDictationClient::*step)())
{
    return env_.executor.asyncAfter(seconds, [self = QPointer(this), dictation = dictationId_, step] {
        if (self && self->dictationId_ == dictation)
            (self.data()->*step)();
    });
}

void mmXFYunDictationClient::cancel(std::optional<platform::TaskId>& task)
{
    if (task)
        env_.executor.cancel(*task);
    task.reset();
}
