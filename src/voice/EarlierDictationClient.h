#pragma once

#include "platform/Executor.h"
#include "voice/RecognitionFailure.h"
#include "voice/RecognitionResult.h"

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>

class DeviceAlertPresenter;
class MMAudioQueueCapture;
class MMUserInfo;
class PcmSourceRegistry;
class QWebSocket;
class mmApiKeyItem;
struct mmXFYunReply;

namespace platform {
class Clock;
}

// What the two earlier clients of the streaming dictation service share: the
// signed connection and the frames of the current client
// (mmXFYunRequestBuilder), one dictation at a time, and the older way of
// turning replies into results, whose details each variant decides.
//
// Audio comes from both device links' PCM slots, taken each time a
// connection opens, and from the computer's own microphone when a capture is
// set. Blocks that arrive while no connection is open wait, in order and
// bounded, for the next one. endAsr() ends a microphone dictation (the
// capture stops; the service ends the session on silence), endAsrBluetooth()
// a device dictation (the last frame goes out).
//
// A reply with a non-zero code reconnects at once, but no more than
// kMaxReconnectsInARow times without a good reply in between; then the
// dictation stops and reports ConnectionFailed. Missing credentials show the
// device-information alert and open no connection. Main thread only.
class EarlierDictationClient : public QObject {
public:
    using ResultCallback = std::function<void(bool ok, const QString& text, RecognitionResultType type)>;
    using FailureCallback = std::function<void(RecognitionFailure failure)>;

    struct Environment {
        MMUserInfo& user;
        PcmSourceRegistry& pcmSources;
        DeviceAlertPresenter& alerts;
        platform::Clock& clock;
    };

    static constexpr int kMaxReconnectsInARow = 3;
    static constexpr qsizetype kMaxBufferedAudioBytes = 5 * 16000 * 2;
    static const QString kAlertTitleKey; // "温馨提醒"
    static const QString kAlertTextKey; // "因鼠标关机或休眠，未获取到设备信息，请重试。"

    ~EarlierDictationClient() override;

    void beginAsrWithRecognitionLanguage(
        const QString& language, ResultCallback callback, FailureCallback failure = {});
    void endAsr();
    void endAsrBluetooth();
    // One PCM block of a device link or the microphone.
    void sendPcmToXunfei(const QByteArray& pcm);

    // The microphone this client records from, besides the device links;
    // null for none. The caller keeps ownership.
    void setAudioQueueCapture(MMAudioQueueCapture* capture) { audioQueueCapture_ = capture; }
    MMAudioQueueCapture* audioQueueCapture() const { return audioQueueCapture_; }

    QString language() const { return language_; }
    int status() const { return status_; }
    bool isEnd() const { return isEnd_; }
    QString complete() const { return complete_; }
    QString fixResult() const { return fixResult_; }
    QString completeNoFix() const { return completeNoFix_; }
    quint64 connectionCount() const { return connections_; }

protected:
    struct Service {
        QString endpoint, appId, apiKey, apiSecret;
        bool usable() const
        {
            return !endpoint.isEmpty() && !appId.isEmpty() && !apiKey.isEmpty() && !apiSecret.isEmpty();
        }
    };

    EarlierDictationClient(Environment environment, QObject* parent);

    virtual Service serviceFor(const mmApiKeyItem& keys, const QString& language) const = 0;
    virtual QJsonObject businessParameters(const QString& language, quint64 punctuation) const = 0;
    // The two branches of a session with dynamic correction.
    virtual void appendReply(const QString& text, bool last) = 0;
    virtual void replaceReply(const QString& text) = 0;

    const MMUserInfo& user() const { return env_.user; }
    void deliver(const QString& text, RecognitionResultType type);
    void setComplete(const QString& text) { complete_ = text; }
    void setFixResult(const QString& text) { fixResult_ = text; }

private:
    enum FrameStatus { kFirst = 0, kMiddle = 1, kLast = 2 };

    void requestWebSocket();
    void webSocketDidOpen();
    void webSocketDidReceiveMessage(const QString& message);
    void resultDictionary(const mmXFYunReply& reply);
    void asrEngineWithPcm(const QByteArray& pcm);
    void sendLastFrame();
    void takeAudioSources();
    void closeSocket();
    void stopCapture();
    void showDeviceAlert();

    Environment env_;
    QString language_;
    ResultCallback audioResultBlock_;
    FailureCallback failure_;
    Service service_;
    QWebSocket* webSocket_ = nullptr;
    bool socketOpen_ = false;
    int status_ = kFirst;
    bool isEnd_ = false;
    QString complete_;
    QString fixResult_;
    QString completeNoFix_;
    std::deque<QByteArray> pending_;
    qsizetype pendingBytes_ = 0;
    int reconnects_ = 0;
    quint64 connections_ = 0;
    MMAudioQueueCapture* audioQueueCapture_ = nullptr;
};
