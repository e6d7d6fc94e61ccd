#include "voice/StreamingDictation.h"

#include "core/MMUserInfo.h"
#include "core/StringCoding.h"
#include "platform/Clock.h"
#include "voice/mmXFYunDictationClient.h"
#include "voice/mmXFYunRequestBuilder.h"

#include <QDateTime>
#include <QDebug>
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

StreamingDictation::StreamingDictation(
    mmXFYunDictationClient& client, QString language, Delivery delivery, Failure failure)
    : QObject(&client)
    , client_(client)
    , language_(std::move(language))
    , delivery_(std::move(delivery))
    , failure_(std::move(failure))
{
}

StreamingDictation::~StreamingDictation()
{
    cancel(reconnectTask_);
    cancel(finalTask_);
    dropSocket();
}

void StreamingDictation::start()
{
    if (active_)
        requestWebSocket();
}

void StreamingDictation::end()
{
    if (!active_ || ended_)
        return;
    ended_ = true;
    finalTask_
        = schedule(mmXFYunDictationClient::kFinalReplyTimeout, &StreamingDictation::finalReplyTimedOut);
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

void StreamingDictation::requestWebSocket()
{
    const std::optional<mmApiKeyItem>& keys = client_.env_.user.apikeyItem();
    const mmXFYunDictationClient::Service service
        = keys ? client_.serviceFor(*keys, language_) : mmXFYunDictationClient::Service {};
    if (!service.complete()) {
        qWarning() << "Dictation: the credentials are gone";
        fail(RecognitionFailure::MissingCredentials);
        return;
    }
    const QString date = StringCoding::currentRFC1123DateString(wallClock(client_.env_.clock.now()));
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
        language_, client_.env_.user.webConfig().sec_punctution(), client_.region());
    status_ = kFirst;
    socketOpen_ = false;
    client_.connectionOpened();

    auto* socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    connect(socket, &QWebSocket::connected, this, [this, socket] { socketConnected(socket); });
    connect(socket, &QWebSocket::textMessageReceived, this,
        [this, socket](const QString& message) { socketMessage(socket, message); });
    connect(socket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), this,
        [this, socket](QAbstractSocket::SocketError) { socketLost(socket); });
    connect(socket, &QWebSocket::disconnected, this, [this, socket] { socketLost(socket); });
    socket_ = socket;
    openTask_ = schedule(mmXFYunDictationClient::kOpenTimeout, &StreamingDictation::openTimedOut);
    socket->open(QNetworkRequest(url));
}

void StreamingDictation::Requesting_iFlytek_authentication_again()
{
    requestWebSocket();
}

void StreamingDictation::sendPcmToXunfei(const QByteArray& pcm)
{
    if (!active_ || ended_ || pcm.isEmpty())
        return;
    if (socketOpen_)
        asrEngineWithPcm(pcm);
    else
        bufferPcm(pcm);
}

void StreamingDictation::asrEngineWithPcm(const QByteArray& pcm)
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

void StreamingDictation::sendLastFrame()
{
    if (!socket_)
        return;
    socket_->sendBinaryMessage(mmXFYunRequestBuilder::lastFrame());
    status_ = kLast;
}

void StreamingDictation::bufferPcm(const QByteArray& pcm)
{
    pending_.push_back(pcm);
    pendingBytes_ += pcm.size();
    while (pendingBytes_ > mmXFYunDictationClient::kMaxBufferedAudioBytes && pending_.size() > 1) {
        pendingBytes_ -= pending_.front().size();
        pending_.pop_front();
        if (!droppedAudio_)
            qWarning() << "Dictation: no connection for too long; the oldest audio is dropped";
        droppedAudio_ = true;
    }
}

void StreamingDictation::socketConnected(QWebSocket* socket)
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

void StreamingDictation::socketMessage(QWebSocket* socket, const QString& message)
{
    if (socket != socket_)
        return;
    if (const std::optional<mmXFYunReply> reply = mmXFYunReply::fromText(message))
        resultDictionary(*reply);
}

void StreamingDictation::socketLost(QWebSocket* socket)
{
    if (socket != socket_)
        return;
    qWarning() << "Dictation: connection lost:" << socket->errorString();
    connectionFailed();
}

void StreamingDictation::resultDictionary(const mmXFYunReply& reply)
{
    if (reply.code != 0) {
        qWarning() << "Dictation: the service answered code" << reply.code << reply.message;
        connectionFailed();
        return;
    }
    attempts_ = 0;
    const bool sessionEnded = assembler_.resultDictionary(reply, deliverer());
    // A delivery may have ended this dictation (a newer one began).
    if (!active_ || !sessionEnded)
        return;
    if (ended_)
        finishDictation();
    else
        Requesting_iFlytek_authentication_again();
}

void StreamingDictation::connectionFailed()
{
    dropSocket();
    assembler_.finishSession(deliverer());
    if (!active_)
        return;
    if (ended_ && pending_.empty()) {
        finishDictation();
        return;
    }
    if (attempts_ >= mmXFYunDictationClient::kMaxReconnectAttempts) {
        fail(RecognitionFailure::ConnectionFailed);
        return;
    }
    const double delay = mmXFYunDictationClient::kFirstReconnectDelay * double(1 << attempts_);
    ++attempts_;
    cancel(reconnectTask_);
    reconnectTask_ = schedule(delay, &StreamingDictation::reconnectAfterFailure);
}

void StreamingDictation::openTimedOut()
{
    openTask_.reset();
    qWarning() << "Dictation: the connection did not open in time";
    connectionFailed();
}

void StreamingDictation::reconnectAfterFailure()
{
    reconnectTask_.reset();
    if (active_)
        requestWebSocket();
}

void StreamingDictation::finalReplyTimedOut()
{
    finalTask_.reset();
    if (!active_)
        return;
    qWarning() << "Dictation: no last reply; finishing with the text so far";
    dropSocket();
    assembler_.finishSession(deliverer());
    finishDictation();
}

void StreamingDictation::fail(RecognitionFailure failure)
{
    const Failure report = failure_;
    finishDictation();
    if (report)
        report(failure);
}

void StreamingDictation::finishDictation()
{
    const bool wasActive = std::exchange(active_, false);
    cancel(reconnectTask_);
    cancel(finalTask_);
    dropSocket();
    pending_.clear();
    pendingBytes_ = 0;
    if (wasActive)
        client_.dictationFinished(*this);
}

void StreamingDictation::dropSocket()
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

mmXFYunResultAssembler::Delivery StreamingDictation::deliverer()
{
    return [this](const QString& text, RecognitionResultType type) {
        if (const Delivery delivery = delivery_)
            delivery(text, type);
    };
}

platform::TaskId StreamingDictation::schedule(double seconds, void (StreamingDictation::*step)())
{
    return client_.env_.executor.asyncAfter(seconds, [self = QPointer(this), step] {
        if (self)
            (self.data()->*step)();
    });
}

void StreamingDictation::cancel(std::optional<platform::TaskId>& task)
{
    if (task)
        client_.env_.executor.cancel(*task);
    task.reset();
}
