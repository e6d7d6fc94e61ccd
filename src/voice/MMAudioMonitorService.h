#pragma once

#include "platform/Executor.h"
#include "platform/NotificationCenter.h"
#include "voice/LocalizedText.h"
#include "voice/RecognitionFailure.h"
#include "voice/RecognitionResult.h"

#include <QString>

#include <functional>
#include <memory>

class KWLangManager;
class MMHidManager;
class MMAudioObjectManager;
class MMUserInfo;
class UWHidapiManager;
class UWKeyboardEventManager;
class UWTipsViewShow;
class mmSpeechViewWC;
class mmTypingManager;
class mmUtilities;
class mmXFYunDictationClient;
namespace platform {
class Preferences;
}

// The heart of voice input: takes every press code of the press classifier,
// decides what the press means, runs dictations (speech window, the mouse's
// microphone, the recording, streaming recognition) and routes each
// recognition result: shown in the speech window, typed into the focused
// application, translated and typed, used as a voice search, or handed to
// the AI chat window. The key-side actions (click functions, the voice key's
// double click, hands-free dictation, voice search and voice translation)
// are in MMAudioMonitorServiceActions.cpp.
//
// Every dictation has an identity. The delayed steps of a dictation (the
// end sequence, the closing of the window, the re-show after a credentials
// message) act only while that dictation is the latest, and its results are
// routed by the press that began it, whatever has been pressed since.
//
// Main thread only.
class MMAudioMonitorService {
public:
    // Press-dependent recognition languages come from the language choices;
    // the region from the user's service region ("cn": mainland services).
    struct Environment {
        MMUserInfo& user;
        KWLangManager& languages;
        MMHidManager& classifier; // the press classifier whose codes drive the service
        UWHidapiManager& usbLink; // asked for the device information when none is connected
        mmUtilities& utilities; // switches the microphone over the active link
        MMAudioObjectManager& recorder;
        mmXFYunDictationClient& mainland;
        mmXFYunDictationClient& overseas;
        mmTypingManager& typing;
        UWKeyboardEventManager& keys;
        UWTipsViewShow& tips;
        platform::NotificationCenter& center;
        platform::Executor& executor; // the main queue: every delayed step
        platform::Preferences& defaults; // where the speech window keeps its frame
        std::function<void()> showMainWindow;
    };

    // The key-side services voice search and voice translation need; set by
    // the application (and by tests) before the first such press.
    struct Actions;

    static constexpr double kEndDelay = 0.3;
    static constexpr double kCloseDelay = 0.5;
    static constexpr double kCredentialsMessageSeconds = 3.0;
    static const QString kRecordingTitle; // "PravikREC"

    // The application's service over the shared objects; registers for
    // "kHadReloadConnectImageNoti" when first asked for.
    static MMAudioMonitorService& sharedMMAudioMonitorService();

    explicit MMAudioMonitorService(Environment environment);
    ~MMAudioMonitorService();
    MMAudioMonitorService(const MMAudioMonitorService&) = delete;
    MMAudioMonitorService& operator=(const MMAudioMonitorService&) = delete;

    void setActions(std::shared_ptr<Actions> actions);

    // Installs the consumer of the press classifier's codes (call once).
    void beginMouseMonitor();
    // The dispatcher of one press code.
    void usePressType(quint64 pressType);

    // Dictation start; false when no device is connected (then only the
    // device information is requested).
    bool beginAsr();
    void cnAsr();
    void haiwaiasr();
    void endAsr();

    // Results of the recognition clients, for the running dictation.
    void processingRecognitionResults(const QString& text, RecognitionResultType type);
    void TypingTextResult(const QString& text, RecognitionResultType type);
    void pasteWithText(const QString& text);

    void showSpeechWindow();
    void closeSpeechWindow();
    // Recognised words, or a message composed again at a language change.
    void speechWindowText(const QString& text);
    void speechWindowText(LocalizedText text);
    void apiCheck();
    void reloadDeviceConnectionStatusNoti(const platform::Notification& notification);

    // Key-side actions (MMAudioMonitorServiceActions.cpp).
    void simulateKeyboardWithIndex(quint64 function);
    void showMainWindow();
    void changeVoiceKeyFunction();
    void voiceSearching(const QString& text);
    // The final sentence of a translation dictation, recognised in recognitionLanguage.
    void transWrokWithText(const QString& text, const QString& recognitionLanguage);
    void transWithFrom(const QString& from, const QString& to, const QString& text);
    void microsoftTransWithFrom(const QString& from, const QString& to, const QString& text);
    // The web-search address prefix of a search engine index ("" for an unknown one).
    static QString searchPrefixForEngine(quint64 engine);

    // The recognition language of a press: the typing or the translation
    // source language by press code and region; "" for a press without one.
    QString recognitionLanguageForPressType(quint64 pressType, bool mainland) const;
    // "cn" anywhere in the service region selects the mainland services.
    bool usesMainlandServices() const;

    bool speechEnd() const { return speechEnd_; }
    bool shortVoiceTyping() const { return shortVoiceTyping_; }
    bool LongRecording() const { return LongRecording_; }
    quint64 thePressType() const { return thePressType_; }
    const QString& theAsrLanguage() const { return theAsrLanguage_; }
    // What dynamic typing has typed of the latest dictation's running session.
    QString lastPasteText() const { return current_ ? current_->lastPasteText : QString(); }
    mmSpeechViewWC* speechWC() const { return speechWC_.get(); }
    // The identity of the latest dictation (0 before the first).
    quint64 dictationId() const { return current_ ? current_->id : 0; }

private:
    // One dictation: what began it and what its results are routed by.
    struct Dictation {
        quint64 id = 0;
        quint64 pressType = 0;
        QString language;
        mmXFYunDictationClient* client = nullptr;
        // Dynamic typing: what has been typed of the running session, and
        // whether a segment or correction came whose running text (the whole
        // session as it now reads) is still to be typed.
        QString lastPasteText;
        bool runningTextDue = false;
    };

    void handleResult(Dictation& dictation, const QString& text, RecognitionResultType type);
    void typeDynamically(Dictation& dictation, const QString& text, RecognitionResultType type);
    void typeToward(Dictation& dictation, const QString& text);
    void startRecognition(mmXFYunDictationClient& client, bool mainland);
    void recognitionFailed(const Dictation& dictation, RecognitionFailure failure);
    void toggleHandsFree();
    void typeTranslation(const QString& text);
    mmXFYunDictationClient& clientForRegion() const;
    QString speechWindowLabel(quint64 pressType) const;
    bool isCurrent(const Dictation& dictation) const { return current_.get() == &dictation; }

    Environment env_;
    std::shared_ptr<Actions> actions_;
    platform::ObserverToken connectionObserver_;

    bool speechEnd_ = false;
    bool shortVoiceTyping_ = false;
    bool LongRecording_ = false;
    quint64 thePressType_ = 0;
    QString theAsrLanguage_;
    std::unique_ptr<mmSpeechViewWC> speechWC_;

    quint64 dictations_ = 0;
    // The latest dictation; results of an earlier one still reach their own record.
    std::shared_ptr<Dictation> current_;
    // Survives the service in delayed steps: they do nothing once it is gone.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};
