#pragma once

#include "platform/Executor.h"
#include "voice/RecognitionFailure.h"
#include "voice/RecognitionResult.h"
#include "voice/mmXFYunResultAssembler.h"

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <optional>

class QWebSocket;
class mmXFYunDictationClient;

// One dictation of a dictation client, from its begin to its last reply,
// over as many connections as it takes.
//
// Each PCM block becomes one frame (the first of a connection carries the
// app id and the business parameters); blocks that arrive while no
// connection is open wait in a bounded buffer and go out, in order, as soon
// as one is. Replies become recognition results for this dictation's own
// callback. When the service finishes a session while audio still comes, a
// new connection carries the dictation on. End sends the last frame once the
// buffered audio has gone; the reply that finishes that session ends the
// dictation. A dictation that a newer one replaced still runs to its end
// this way: it only stops receiving audio.
//
// Failures: a reply with a non-zero code, a failed handshake, a lost
// connection or an open that takes too long finish the session with the text
// it has, then reconnect after a growing pause; after too many such tries in
// a row without a good reply the dictation stops and reports
// ConnectionFailed. Credentials that have gone report MissingCredentials.
//
// Owned by its client (a child object). Main thread only.
class StreamingDictation : public QObject {
    Q_OBJECT
public:
    using Delivery = std::function<void(const QString& text, RecognitionResultType type)>;
    using Failure = std::function<void(RecognitionFailure failure)>;

    StreamingDictation(mmXFYunDictationClient& client, QString language, Delivery delivery, Failure failure);
    ~StreamingDictation() override;

    // Opens the first connection.
    void start();
    // One PCM block of the device link.
    void sendPcmToXunfei(const QByteArray& pcm);
    // No more audio follows: the last frame goes out once the buffered audio has.
    void end();
    // Stops at once and reports the failure.
    void fail(RecognitionFailure failure);

    // Takes audio or waits for its last reply.
    bool isActive() const { return active_; }
    bool isEnded() const { return ended_; }

private:
    enum FrameStatus { kFirst = 0, kMiddle = 1, kLast = 2 };

    void requestWebSocket();
    void Requesting_iFlytek_authentication_again();
    void asrEngineWithPcm(const QByteArray& pcm);
    void sendLastFrame();
    void bufferPcm(const QByteArray& pcm);

    void socketConnected(QWebSocket* socket);
    void socketMessage(QWebSocket* socket, const QString& message);
    void socketLost(QWebSocket* socket);
    void resultDictionary(const mmXFYunReply& reply);

    void connectionFailed();
    void openTimedOut();
    void reconnectAfterFailure();
    void finalReplyTimedOut();
    void finishDictation();
    void dropSocket();

    mmXFYunResultAssembler::Delivery deliverer();
    platform::TaskId schedule(double seconds, void (StreamingDictation::*step)());
    void cancel(std::optional<platform::TaskId>& task);

    mmXFYunDictationClient& client_;

    // The dictation.
    bool active_ = true;
    bool ended_ = false;
    QString language_;
    Delivery delivery_;
    Failure failure_;
    mmXFYunResultAssembler assembler_;
    std::deque<QByteArray> pending_;
    qsizetype pendingBytes_ = 0;
    bool droppedAudio_ = false;
    int attempts_ = 0;
    std::optional<platform::TaskId> reconnectTask_;
    std::optional<platform::TaskId> finalTask_;

    // The connection.
    QWebSocket* socket_ = nullptr;
    bool socketOpen_ = false;
    int status_ = kFirst;
    QString appId_;
    QJsonObject business_;
    std::optional<platform::TaskId> openTask_;
};
