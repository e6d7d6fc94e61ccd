#include "ui/mmChatWC.h"

#include "core/MMUserInfo.h"
#include "core/Notifications.h"
#include "core/WindowFrameAutosave.h"
#include "device/DeviceCommandLink.h"
#include "device/mmUtilities.h"
#include "platform/Workspace.h"
#include "ui/ChatPortalAddress.h"
#include "ui/ScriptMessageBridge.h"
#include "voice/PcmAudioSource.h"
#include "voice/PcmSourceRegistry.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QWebEngineDownloadRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QWidget>

const QString mmChatWC::kMessageName = QStringLiteral("callRecorder");
const QString mmChatWC::kFrameAutosaveName = QStringLiteral("mmChatWindow");

namespace {

const QString kChatTypeKey = QStringLiteral("type");
const QString kChatDataKey = QStringLiteral("data");
const QString kChatStartRecorder = QStringLiteral("start-recorder");
const QString kChatEndRecorder = QStringLiteral("end-recorder");
const QString kChatIngRecorder = QStringLiteral("ing-recorder");
const QString kChatStartBody = QStringLiteral("start");
const QString kChatStopBody = QStringLiteral("stop");
const QString kChatTextKey = QStringLiteral("text");

QString chatJsonText(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// The window tells its controller when the user closes it.
class ChatWindow final : public QWidget {
public:
    explicit ChatWindow(std::function<void()> closing)
        : QWidget(nullptr, Qt::Window)
        , closing_(std::move(closing))
    {
    }

protected:
    void closeEvent(QCloseEvent* event) override
    {
        QWidget::closeEvent(event);
        if (closing_)
            closing_();
    }

private:
    std::function<void()> closing_;
};

// Links the user follows within the portal open in the browser as well;
// "blob:" links are the portal's downloads and stay in the engine. A link to
// another origin opens in the browser only: the window is the portal's, and
// its page is joined to the mouse.
class ChatPage final : public QWebEnginePage {
public:
    ChatPage(platform::Workspace& workspace, const QString& origin, QObject* parent)
        : QWebEnginePage(parent)
        , workspace_(workspace)
        , origin_(origin)
    {
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        if (type != NavigationTypeLinkClicked || !isMainFrame || url.scheme() == QLatin1StringView("blob"))
            return true;
        workspace_.openUrl(url);
        if (ScriptMessageBridge::originOf(url) == origin_)
            return true;
        qInfo("Chat: a link to %s opens in the browser, not in the portal's window",
            qUtf8Printable(ScriptMessageBridge::originOf(url).left(200)));
        return false;
    }

private:
    platform::Workspace& workspace_;
    QString origin_;
};

} // namespace

mmChatWC::mmChatWC(Environment environment)
    : env_(std::move(environment))
{
}

mmChatWC::~mmChatWC()
{
    // The page's scripts and the observer go with the controller.
    speechObserver_.reset();
    frameAutosave_.reset();
    delete window_;
}

QWidget* mmChatWC::window()
{
    if (!window_)
        windowDidLoad();
    return window_;
}

QWebEnginePage* mmChatWC::page() const
{
    return myWebView_ ? myWebView_->page() : nullptr;
}

void mmChatWC::windowDidLoad()
{
    window_ = new ChatWindow([this, alive = std::weak_ptr<int>(alive_)] {
        if (!alive.expired())
            windowWillClose();
    });
    window_->setWindowTitle(QStringLiteral("AI"));
    window_->resize(420, 640);
    frameAutosave_ = std::make_unique<WindowFrameAutosave>(window_, kFrameAutosaveName, env_.defaults);

    auto* layout = new QVBoxLayout(window_);
    layout->setContentsMargins(0, 0, 0, 0);
    myWebView_ = new QWebEngineView(window_);
    const QString origin = ScriptMessageBridge::originOf(QUrl(env_.portalOrigin));
    auto* page = new ChatPage(env_.workspace, origin, myWebView_);
    page->settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);
    page->settings()->setFontSize(QWebEngineSettings::MinimumFontSize, 0);
    myWebView_->setPage(page);
    layout->addWidget(myWebView_);

    // The bridge serves the portal's documents only; without a portal
    // there is none.
    if (!origin.isEmpty()) {
        bridge_ = new ScriptMessageBridge(
            page, { kMessageName },
            [this, alive = std::weak_ptr<int>(alive_)](const QString& name, const QJsonValue& body) {
                if (!alive.expired())
                    userContentController(name, body);
            },
            origin);
        QObject::connect(page, &QWebEnginePage::urlChanged, myWebView_,
            [this, alive = std::weak_ptr<int>(alive_)](const QUrl&) {
                if (!alive.expired())
                    documentChanged();
            });
    }

    // Downloads the page starts go to a private folder of their own and open when complete.
    QObject::connect(page->profile(), &QWebEngineProfile::downloadRequested, myWebView_,
        [page, workspace = &env_.workspace](QWebEngineDownloadRequest* download) {
            if (download->page() != page)
                return;
            QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/pravik-chat-XXXXXX"));
            if (!folder.isValid()) {
                download->cancel();
                return;
            }
            folder.setAutoRemove(false);
            download->setDownloadDirectory(folder.path());
            QObject::connect(download, &QWebEngineDownloadRequest::isFinishedChanged, download, [download, workspace] {
                if (download->state() == QWebEngineDownloadRequest::DownloadCompleted)
                    workspace->openUrl(QUrl::fromLocalFile(
                        QDir(download->downloadDirectory()).filePath(download->downloadFileName())));
            });
            download->accept();
        });

    if (origin.isEmpty()) {
        ChatPortalAddress::reportNotConfigured();
        myWebView_->setHtml(QStringLiteral("<html><body style=\"font-family: sans-serif; margin: 2em;\"><p>The AI "
                                           "assistant's portal is not configured.</p><p>Set %1 or the setting %2 to "
                                           "its address.</p></body></html>")
                                .arg(QString::fromLatin1(ChatPortalAddress::kEnvironmentVariable),
                                    ChatPortalAddress::kPreferenceKey));
    } else {
        const MMDeviceInfo& device = env_.user.deviceInfo();
        myWebView_->load(ChatPortalAddress::pageAddress(
            env_.portalOrigin, env_.user.ipCountry(), device.sn(), device.openKey()));
    }

    speechObserver_ = env_.center.addObserver(notifications::kHadGPTSpeechText,
        [this](const platform::Notification& n) { sendSpeechTextToJS(n.object.toMap().value(kChatTextKey).toString()); });
    pcmdatacallback();
}

void mmChatWC::userContentController(const QString& name, const QJsonValue& body)
{
    if (name != kMessageName || closed_ || !body.isString())
        return;
    const QString text = body.toString();
    if (text == kChatStartBody) {
        sendPcmStatusToJS(true);
        sendOpenMicrophoneWithOpen(true);
    } else if (text == kChatStopBody) {
        sendPcmStatusToJS(false);
        sendOpenMicrophoneWithOpen(false);
    }
}

void mmChatWC::sendOpenMicrophoneWithOpen(bool open)
{
    recording_ = open;
    if (DeviceCommandLink* link = env_.utilities.activeLink())
        link->setMicrophone(open);
}

void mmChatWC::pcmdatacallback()
{
    const auto subscriber = [this, alive = std::weak_ptr<int>(alive_)](const QByteArray& pcm) {
        if (!alive.expired())
            sendPcmToJS(pcm);
    };
    for (quint64 mode : { PcmSourceRegistry::kLinkUsb, PcmSourceRegistry::kLinkBluetooth }) {
        if (PcmAudioSource* source = env_.audio.source(mode))
            source->setPcmSubscriber(subscriber);
    }
}

void mmChatWC::sendPcmToJS(const QByteArray& pcm)
{
    // Only what the page asked for, and nothing once the window is closed.
    if (!recording_ || closed_ || pcm.isEmpty())
        return;
    const QJsonObject message { { kChatTypeKey, kChatIngRecorder }, { kChatDataKey, QString::fromLatin1(pcm.toBase64()) } };
    runScript(ScriptMessageBridge::functionCall(QStringLiteral("onRecorder"), { chatJsonText(message) }));
}

void mmChatWC::sendPcmStatusToJS(bool status)
{
    const QJsonObject message { { kChatTypeKey, status ? kChatStartRecorder : kChatEndRecorder } };
    runScript(ScriptMessageBridge::functionCall(QStringLiteral("onRecorder"), { chatJsonText(message) }));
}

void mmChatWC::sendSpeechTextToJS(const QString& text)
{
    if (closed_ || !myWebView_)
        return;
    runScript(ScriptMessageBridge::functionCall(QStringLiteral("inputData"), { text }));
    env_.executor.asyncAfter(kSendDelay, [this, alive = std::weak_ptr<int>(alive_)] {
        if (!alive.expired())
            sendEnterToJS();
    });
}

void mmChatWC::sendEnterToJS()
{
    if (!closed_)
        runScript(QStringLiteral("sendData()"));
}

void mmChatWC::runScript(const QString& script)
{
    if (!bridge_ || bridge_->runInPage(script) || refusalLogged_)
        return;
    refusalLogged_ = true;
    qWarning("Chat: nothing is sent to %s; only the portal's pages get audio and text",
        qUtf8Printable(page() ? ScriptMessageBridge::originOf(page()->url()).left(200) : QString()));
}

void mmChatWC::documentChanged()
{
    refusalLogged_ = false;
    if (!bridge_ || bridge_->documentAllowed() || !recording_)
        return;
    // The page that asked for the microphone is gone.
    qInfo("Chat: the page left the portal; the microphone is switched off");
    sendOpenMicrophoneWithOpen(false);
}

void mmChatWC::windowWillClose()
{
    if (closed_)
        return;
    // A microphone the page left on is switched off with the window.
    if (recording_)
        sendOpenMicrophoneWithOpen(false);
    closed_ = true;
    speechObserver_.reset();
    if (closeHandler_)
        closeHandler_();
}
