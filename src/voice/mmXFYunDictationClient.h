#pragma once

#include "platform/Executor.h"
#include "voice/RecognitionFailure.h"
#include "voice/RecognitionResult.h"
#include "voice/mmXFYunRequestBuilder.h"
#include "voice/mmXFYunResultAssembler.h"

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <optional>

class MMUserInfo;
class PcmSourceRegistry;
class QWebSocket;
class mmApiKeyItem;

namespace platform {
class Clock;
}

// A client of the streaming dictation service: one dictation at a time, from
// begin to end, possibly over several connections.
//
// Begin takes the PCM slot of the link the device state names and opens a
// WebSocket on a freshly signed URL. Each PCM block becomes one frame (the
// first of a connection carries the app id and the business parameters);
// blocks that arrive while no connection is open wait in a bounded buffer
// and go out, in order, as soon as one is. Replies become recognition
// results. When the service finishes a session while the user still speaks,
// a new connection carries the dictation on. End sends the last frame; the
// reply that finishes that session ends the dictation.
//
// Failures: a reply with a non-zero code, a failed handshake, a lost
// connection or an open that takes too long finish the session with the text
// it has, then reconnect after a growing pause; after kMaxReconnectAttempts
// such tries in a row without a good reply the dictation stops and the
// failure callback hears ConnectionFailed. Missing or unusable credentials
// for the region stop it before any connection (MissingCredentials).
//
// Every dictation has its own identity: replies of replaced connections and
// delayed steps of an earlier dictation never act on the current one.
// Main thread only.
class mmXFYunDictationClient : public QObject {
    Q_OBJECT
public:
    // ok is always true: failures go to the FailureCallback.
    using ResultCallback = std::function<void(bool ok, const QString& text, RecognitionResultType type)>;
    using FailureCallback = std::function<void(RecognitionFailure failure)>;

    struct Environment {
        MMUserInfo& user; // credentials, punctuation setting, the link in use
        PcmSourceRegistry& pcmSources;
        platform::Executor& executor; // the main thread's, for every delayed step
        platform::Clock& clock; // the date that is signed
    };

    // Reconnections after failures, in a row, before the dictation gives up;
    // the first waits kFirstReconnectDelay seconds, each further one twice as long.
    static constexpr int kMaxReconnectAttempts = 4;
    static constexpr double kFirstReconnectDelay = 0.5;
    // Audio kept while no connection is open: five seconds of 16 kHz 16-bit
    // mono. Beyond it the oldest blocks give way.
    static constexpr qsizetype kMaxBufferedAudioBytes = 5 * 16000 * 2;
    // Longest wait for a connection to open.
    static constexpr double kOpenTimeout = 60.0;
    // Longest wait, after end, for the service's last reply; then the text
    // recognised so far finishes the dictation.
    static constexpr double kFinalReplyTimeout = 10.0;

    ~mmXFYunDictationClient() override;

    // Starts a dictation in a recognition language (an entry value of the
    // dictation-language list). A dictation still running is finished first:
    // its recognised text goes to its own callback as SessionFinished.
    void beginAsrWithRecognitionLanguage(
        const QString& language, ResultCallback callback, FailureCallback failure = {});
    // No more audio follows: the last frame goes out once the buffered audio has.
    void endAsr();

    // The endpoint and credentials this client would use for the language are all present.
    bool hasCredentials(const QString& language) const;

    // The identity of the latest dictation (0 before the first).
    quint64 dictationId() const { return dictationId_; }
    // A dictation is running: it takes audio or waits for its last reply.
    bool isRunning() const { return active_; }
    // Connections opened so far by this client, for diagnostics and tests.
    quint64 connectionCount() const { return connections_; }

protected:
    struct Service {
        QString endpoint, appId, apiKey, apiSecret;
        bool complete() const
        {
            return !endpoint.isEmpty() && !appId.isEmpty() && !apiKey.isEmpty() && !apiSecret.isEmpty();
        }
    };

    mmXFYunDictationClient(Environment environment, QObject* parent);

    // Where and as whom a dictation in the language connects.
    virtual Service serviceFor(const mmApiKeyItem& keys, const QString& language) const = 0;
    virtual DictationRegion region() const = 0;

private:
    enum FrameStatus { kFirst = 0, kMiddle = 1, kLast = 2 };

    void takePcmSlot();
    void requestWebSocket();
    void Requesting_iFlytek_authentication_again();
    void sendPcmToXunfei(const QByteArray& pcm);
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
    void fail(RecognitionFailure failure);
    void finishDictation();
    void dropSocket();

    mmXFYunResultAssembler::Delivery deliverer();
    platform::TaskId schedule(double seconds, void (mmXFYunDictationClient::*step)());
    void cancel(std::optional<platform::TaskId>& task);

    Environment env_;

    // The dictation.
    quint64 dictationId_ = 0;
    bool active_ = false;
    bool ended_ = false;
    QString language_;
    ResultCallback callback_;
    FailureCallback failure_;
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
    quint64 connections_ = 0;
};
