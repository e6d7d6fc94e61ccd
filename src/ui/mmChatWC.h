#pragma once

#include "platform/Executor.h"
#include "platform/NotificationCenter.h"

#include <QByteArray>
#include <QJsonValue>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class MMUserInfo;
class PcmSourceRegistry;
class QWebEnginePage;
class QWebEngineView;
class ScriptMessageBridge;
class QWidget;
class WindowFrameAutosave;
class mmUtilities;

namespace platform {
class Preferences;
class Workspace;
} // namespace platform

// The AI-assistant chat window: the portal's page in a web view, joined to
// the mouse. The page asks for the microphone with the script message
// "callRecorder" ("start" or "stop"), which switches the mouse's microphone
// over the active link; while its request is on it receives the decoded
// audio, buffer by buffer, as Base64 in onRecorder('{"type":"ing-recorder",
// "data":...}'); the text recognised for the AI key goes into the page with
// inputData(...) and is sent with sendData() half a second later. Only
// documents of the portal's origin are joined to the mouse: messages from
// any other are ignored, nothing is sent to it, and a link to another origin
// opens in the browser. Main thread only.
class mmChatWC {
public:
    static const QString kMessageName; // "callRecorder"
    static const QString kFrameAutosaveName; // "mmChatWindow"
    static constexpr double kSendDelay = 0.5;

    struct Environment {
        MMUserInfo& user; // the device's serial, open key and link mode; the region
        PcmSourceRegistry& audio; // the PCM slot of each link
        mmUtilities& utilities; // the active link for the microphone
        platform::NotificationCenter& center;
        platform::Executor& executor;
        platform::Workspace& workspace; // links the page opens
        platform::Preferences& defaults; // the window's frame
        QString portalOrigin; // empty: not configured
    };

    explicit mmChatWC(Environment environment);
    ~mmChatWC();
    mmChatWC(const mmChatWC&) = delete;
    mmChatWC& operator=(const mmChatWC&) = delete;

    // The window, built and its page loaded on first use.
    QWidget* window();
    QWebEnginePage* page() const;
    // Told when the user closes the window (after the controller let go of the mouse).
    void setCloseHandler(std::function<void()> handler) { closeHandler_ = std::move(handler); }

    // Whether the page's microphone request is on.
    bool isRecording() const { return recording_; }

    // What the page sent under a message name.
    void userContentController(const QString& name, const QJsonValue& body);
    // The recognised text of the AI key: into the page, sent 0.5 s later.
    void sendSpeechTextToJS(const QString& text);

private:
    void windowDidLoad();
    void sendOpenMicrophoneWithOpen(bool open);
    void pcmdatacallback();
    void sendPcmToJS(const QByteArray& pcm);
    void sendPcmStatusToJS(bool status);
    void sendEnterToJS();
    // Scripts reach only a document of the portal's origin.
    void runScript(const QString& script);
    void documentChanged();
    void windowWillClose();

    Environment env_;
    QPointer<QWidget> window_;
    QPointer<QWebEngineView> myWebView_;
    QPointer<ScriptMessageBridge> bridge_;
    bool refusalLogged_ = false; // once per document
    std::unique_ptr<WindowFrameAutosave> frameAutosave_;
    platform::ObserverToken speechObserver_;
    bool recording_ = false;
    bool closed_ = false;
    std::function<void()> closeHandler_;
    // Audio and delayed calls hold this weakly: nothing reaches a page that is gone.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};
