#pragma once

#include "platform/Executor.h"
#include "voice/RecognitionFailure.h"
#include "voice/RecognitionResult.h"
#include "voice/mmXFYunRequestBuilder.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

class MMUserInfo;
class PcmSourceRegistry;
class StreamingDictation;
class mmApiKeyItem;

namespace platform {
class Clock;
}

// A client of the streaming dictation service: begins and ends dictations
// and hands them the device's audio.
//
// Begin takes the PCM slot of the link the device state names and starts a
// dictation (StreamingDictation), which opens a WebSocket on a freshly
// signed URL, streams the audio and turns the replies into recognition
// results. End tells the latest dictation that no more audio follows. A
// dictation begun while an earlier one still runs ends the earlier one as
// End would: it sends its last frame and still delivers its last reply to
// its own callback, while the audio goes to the new one.
//
// Missing or unusable credentials for the region stop a dictation before any
// connection (MissingCredentials). Main thread only.
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
    // dictation-language list). A dictation still running is ended first and
    // finishes on its own connection.
    void beginAsrWithRecognitionLanguage(
        const QString& language, ResultCallback callback, FailureCallback failure = {});
    // No more audio follows for the latest dictation: its last frame goes out
    // once its buffered audio has.
    void endAsr();

    // The endpoint and credentials this client would use for the language are all present.
    bool hasCredentials(const QString& language) const;

    // The identity of the latest dictation (0 before the first).
    quint64 dictationId() const { return dictationId_; }
    // The latest dictation is running: it takes audio or waits for its last reply.
    bool isRunning() const;
    // Dictations that a newer one replaced and that still wait for their last reply.
    int finishingCount() const;
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
    friend class StreamingDictation;

    void takePcmSlot();
    void sendPcmToXunfei(const QByteArray& pcm);
    // A dictation stopped: one that is no longer the latest goes away.
    void dictationFinished(StreamingDictation& dictation);
    void connectionOpened() { ++connections_; }

    Environment env_;
    quint64 dictationId_ = 0;
    StreamingDictation* current_ = nullptr; // a child object
    quint64 connections_ = 0;
};
