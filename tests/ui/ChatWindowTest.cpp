// The chat window in the real browser engine, with a local page that speaks
// the portal's protocol and a scripted mouse over Bluetooth LE: the page's
// microphone requests switch the mouse's microphone, the decoded audio
// reaches the page as Base64 while the request is on, and the text
// recognised for the AI key is put into the page and sent.
#include "ui/mmChatWC.h"

#include "core/KWLangManager.h"
#include "core/MMUserInfo.h"
#include "core/Notifications.h"
#include "core/SHHttpManager.h"
#include "device/BLEModel.h"
#include "device/BLETool.h"
#include "device/DeviceAlertPresenter.h"
#include "device/SBCDecoder.h"
#include "device/mmUtilities.h"
#include "fakes/FakeBleMouse.h"
#include "fakes/FakeHttpServer.h"
#include "fakes/FakeWorkspace.h"
#include "fakes/TempHome.h"
#include "fakes/VirtualTime.h"
#include "platform/HttpClient.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"
#include "platform/UserNotices.h"
#include "ui/ChatPortalAddress.h"
#include "ui/ChatWindowPresenter.h"
#include "voice/BLEToolPcmSource.h"
#include "voice/PcmSourceRegistry.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QScreen>
#include <QWebEnginePage>
#include <QWidget>

#include <gtest/gtest.h>
#include <unistd.h>

namespace chatwindowtest {

using fakes::FakeBleMouse;

class QuietAlerts final : public DeviceAlertPresenter {
public:
    void presentAlert(const QString&, const QString&, const QStringList&, std::function<void(int)>) override { }
};

QByteArray portalPage()
{
    QFile file(qEnvironmentVariable("PRAVIK_TEST_SOURCE_DIR") + QStringLiteral("/ui/chatportal/index.html"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray silentChatFrame()
{
    QByteArray frame(57, '\0');
    frame[0] = char(0xAD);
    return frame;
}

TEST(ChatPortalAddressTest, PathByRegionAndEncodedQueryValues)
{
    const struct {
        const char* country;
        const char* serial;
        const char* openKey;
        const char* address;
    } cases[] = {
        { "cn", "A1B2C3D4E5F6", "k1", "https://chat.example/?serialstring=A1B2C3D4E5F6&customer=zorvane&openkey=k1" },
        { "xcnx", "A1", "k", "https://chat.example/?serialstring=A1&customer=zorvane&openkey=k" },
        { "CN", "A1", "k", "https://chat.example/id/?serialstring=A1&customer=zorvane&openkey=k" },
        { "", "", "", "https://chat.example/id/?serialstring=&customer=zorvane&openkey=" },
        { "id", "A B", "a+b&c=d/e?#", "https://chat.example/id/?serialstring=A%20B&customer=zorvane&openkey=a%2Bb%26c%3Dd%2Fe%3F%23" },
        { "cn", "x", "键", "https://chat.example/?serialstring=x&customer=zorvane&openkey=%E9%94%AE" },
    };
    for (const auto& c : cases) {
        const QUrl url = ChatPortalAddress::pageAddress(QStringLiteral("https://chat.example/"), QString::fromUtf8(c.country),
            QString::fromUtf8(c.serial), QString::fromUtf8(c.openKey));
        EXPECT_EQ(url.toString(QUrl::FullyEncoded), QString::fromLatin1(c.address)) << c.country << c.openKey;
        EXPECT_EQ(QUrlQuery(url).queryItemValue(QStringLiteral("openkey"), QUrl::FullyDecoded), QString::fromUtf8(c.openKey));
    }
}

TEST(ChatPortalAddressTest, TheEnvironmentWinsOverTheSetting)
{
    fakes::TempHome home;
    platform::Preferences prefs(home.path() + QStringLiteral("/defaults.plist"));
    qunsetenv(ChatPortalAddress::kEnvironmentVariable);
    EXPECT_EQ(ChatPortalAddress::configured(prefs), QString());
    prefs.setValue(ChatPortalAddress::kPreferenceKey, QStringLiteral(" https://setting.example/ "));
    EXPECT_EQ(ChatPortalAddress::configured(prefs), QStringLiteral("https://setting.example"));
    qputenv(ChatPortalAddress::kEnvironmentVariable, "https://environment.example//");
    EXPECT_EQ(ChatPortalAddress::configured(prefs), QStringLiteral("https://environment.example"));
    qunsetenv(ChatPortalAddress::kEnvironmentVariable);
}

class ChatWindowTest : public ::testing::Test {
protected:
    ChatWindowTest()
    {
        // The browser engine will not start its sandbox as root.
        if (geteuid() == 0)
            qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        portal.on("GET", QStringLiteral("/"), fakes::FakeHttpServer::Reply::text(portalPage(), 200, "text/html; charset=utf-8"));
        portal.on("GET", QStringLiteral("/id/"), fakes::FakeHttpServer::Reply::text(portalPage(), 200, "text/html; charset=utf-8"));
        utilities.setBluetoothLink(&link);
        registry.setSource(PcmSourceRegistry::kLinkBluetooth, &pcm);
        user.setIpCountry(QStringLiteral("cn"));
        user.deviceInfo().setOpenKey(QStringLiteral("open+1&x"));
        link.start();
        time.advance(1.0 + BLEModel::kDeviceInfoDelay);
    }

    ~ChatWindowTest() override { utilities.setBluetoothLink(nullptr); }

    mmChatWC::Environment environment()
    {
        return { user, registry, utilities, center, time, workspace, prefs,
            QString::fromLatin1(portal.url(QStringLiteral("/")).toString(QUrl::RemovePath).toLatin1()) };
    }

    // Runs a script in the page and waits for its value.
    QVariant evaluate(QWebEnginePage* page, const QString& script)
    {
        bool done = false;
        QVariant value;
        page->runJavaScript(script, [&](const QVariant& result) {
            value = result;
            done = true;
        });
        QElapsedTimer timer;
        timer.start();
        while (!done && timer.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        EXPECT_TRUE(done) << script.toStdString();
        return value;
    }

    // Waits (real time) until the page's script gives true.
    bool waitForPage(QWebEnginePage* page, const QString& condition, int timeoutMs = 20000)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            if (evaluate(page, condition).toBool())
                return true;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return false;
    }

    // What the window asked the portal for, without the icon the engine
    // fetches on its own whenever it gets to it.
    QList<fakes::FakeHttpServer::Request> pageRequests() const
    {
        QList<fakes::FakeHttpServer::Request> requests = portal.requests();
        requests.removeIf([](const fakes::FakeHttpServer::Request& r) { return r.path() == QStringLiteral("/favicon.ico"); });
        return requests;
    }

    QStringList recorderMessages(QWebEnginePage* page)
    {
        return evaluate(page, QStringLiteral("portal.recorder")).toStringList();
    }

    // Streams `packets` audio packets from the mouse (virtual time) and lets
    // the page take what was sent to it.
    void streamAudio(int packets)
    {
        mouse.setAudioFrames(QList<QByteArray>(packets * 4, silentChatFrame()));
        time.advance(packets * FakeBleMouse::kAudioInterval + 0.001);
    }

    fakes::TempHome home;
    platform::Preferences prefs { home.path() + QStringLiteral("/defaults.plist") };
    MMUserInfo user { prefs };
    KWLangManager languages { prefs, { QStringLiteral("en-US") }, [this] { return user.ipCountry(); } };
    SHHttpManager http { platform::HttpClient::shared() };
    platform::NotificationCenter center;
    mmUtilities utilities { user, languages, http, center, QString() };
    fakes::VirtualTime time;
    QuietAlerts alerts;
    SBCDecoder decoder;
    FakeBleMouse mouse { time };
    BLETool tool { user.deviceInfo(), user.webConfig(), center, alerts, decoder };
    BLEModel link { mouse, time, user.deviceInfo(), center, tool };
    BLEToolPcmSource pcm { tool };
    PcmSourceRegistry registry;
    fakes::FakeWorkspace workspace;
    fakes::FakeHttpServer portal;
};

TEST_F(ChatWindowTest, ThePageSwitchesTheMicrophoneHearsTheAudioAndSendsTheRecognisedText)
{
    ASSERT_TRUE(link.connected());
    ASSERT_EQ(user.deviceInfo().testLinkMode(), 1u);
    mmChatWC chat(environment());
    QWidget* window = chat.window();
    window->show();
    QWebEnginePage* page = chat.page();
    ASSERT_TRUE(page);
    ASSERT_TRUE(waitForPage(page, QStringLiteral("typeof portal === 'object' && !!window.webkit")));

    // The address: the mainland path, the serial and the open key percent-encoded.
    ASSERT_EQ(pageRequests().size(), 1);
    EXPECT_EQ(pageRequests()[0].target, QByteArray("/?serialstring=A1B2C3D4E5F6&customer=zorvane&openkey=open%2B1%26x"));

    // Audio before the page asked for it goes nowhere.
    streamAudio(2);
    EXPECT_EQ(mouse.packetsSent(), 0); // the microphone is off: the mouse sends nothing
    mouse.notify(BLEModel::kAudioUuid, FakeBleMouse::audioPacket(QList<QByteArray>(4, silentChatFrame())));
    time.runPending();

    // The page's microphone button: "start" goes to the mouse as the BLE frame.
    evaluate(page, QStringLiteral("document.getElementById('mic').click()"));
    ASSERT_TRUE(waitForPage(page, QStringLiteral("portal.recorder.length === 1")));
    EXPECT_EQ(recorderMessages(page), QStringList { "start-recorder" });
    EXPECT_TRUE(chat.isRecording());
    EXPECT_TRUE(mouse.microphoneOn());
    EXPECT_EQ(mouse.commandWrites().count(QByteArray::fromHex("9da55a070301ff")), 1);

    // Ten packets of four frames: 9600 bytes of PCM in ten messages, Base64 decoded by the page.
    streamAudio(10);
    ASSERT_TRUE(waitForPage(page, QStringLiteral("portal.audioMessages === 10")));
    EXPECT_EQ(evaluate(page, QStringLiteral("portal.audioBytes")).toInt(), 10 * 4 * 240);

    // "stop": the end message, then the microphone off; later audio is not forwarded.
    evaluate(page, QStringLiteral("webkit.messageHandlers.callRecorder.postMessage('stop')"));
    ASSERT_TRUE(waitForPage(page, QStringLiteral("portal.recorder.length === 12")));
    EXPECT_EQ(recorderMessages(page).last(), QStringLiteral("end-recorder"));
    EXPECT_FALSE(mouse.microphoneOn());
    EXPECT_FALSE(chat.isRecording());
    mouse.notify(BLEModel::kAudioUuid, FakeBleMouse::audioPacket(QList<QByteArray>(4, silentChatFrame())));
    time.runPending();

    // Bodies that are neither "start" nor "stop" change nothing.
    evaluate(page, QStringLiteral("webkit.messageHandlers.callRecorder.postMessage('Start');"
                                  "webkit.messageHandlers.callRecorder.postMessage(1);"
                                  "webkit.messageHandlers.callRecorder.postMessage({a: 'start'});"
                                  "webkit.messageHandlers.callRecorder.postMessage();"));
    // "start" twice: two messages and two commands.
    evaluate(page, QStringLiteral("webkit.messageHandlers.callRecorder.postMessage('start');"
                                  "webkit.messageHandlers.callRecorder.postMessage('start');"));
    ASSERT_TRUE(waitForPage(page, QStringLiteral("portal.recorder.length === 14")));
    EXPECT_EQ(evaluate(page, QStringLiteral("portal.audioMessages")).toInt(), 10);
    EXPECT_EQ(mouse.commandWrites().count(QByteArray::fromHex("9da55a070301ff")), 3);
    EXPECT_EQ(mouse.commandWrites().count(QByteArray::fromHex("9da55a070300ff")), 1);

    // The recognised text arrives unchanged, quotes and line breaks included,
    // and is sent half a second later; two texts give two inputs, then two sends.
    const QString first = QStringLiteral("It's \"quoted\" \\ and\nbroken</script>\u2028 你好");
    center.post(notifications::kHadGPTSpeechText, QVariantMap { { QStringLiteral("text"), first } });
    time.advance(0.2);
    center.post(notifications::kHadGPTSpeechText, QVariantMap { { QStringLiteral("text"), QStringLiteral("second") } });
    ASSERT_TRUE(waitForPage(page, QStringLiteral("portal.inputs.length === 2")));
    EXPECT_EQ(evaluate(page, QStringLiteral("portal.inputs[0]")).toString(), first);
    EXPECT_EQ(evaluate(page, QStringLiteral("portal.sent.length")).toInt(), 0);
    time.advance(0.3);
    time.advance(0.2);
    ASSERT_TRUE(waitForPage(page, QStringLiteral("portal.sent.length === 2")));
    EXPECT_EQ(evaluate(page, QStringLiteral("portal.sent")).toStringList(), QStringList({ "second", "" }));

    // Closing the window while the page listens switches the microphone off,
    // and no audio or text reaches the page afterwards.
    ASSERT_TRUE(chat.isRecording());
    window->close();
    EXPECT_FALSE(mouse.microphoneOn());
    mouse.notify(BLEModel::kAudioUuid, FakeBleMouse::audioPacket(QList<QByteArray>(4, silentChatFrame())));
    time.runPending();
    center.post(notifications::kHadGPTSpeechText, QVariantMap { { QStringLiteral("text"), QStringLiteral("late") } });
    time.advance(1.0);
    EXPECT_EQ(evaluate(page, QStringLiteral("portal.audioMessages")).toInt(), 10);
    EXPECT_EQ(evaluate(page, QStringLiteral("portal.inputs.length")).toInt(), 2);
}

TEST_F(ChatWindowTest, LinksOpenInTheBrowserAndTheRegionPicksThePath)
{
    user.setIpCountry(QStringLiteral("id"));
    mmChatWC chat(environment());
    chat.window()->show();
    QWebEnginePage* page = chat.page();
    ASSERT_TRUE(waitForPage(page, QStringLiteral("typeof portal === 'object'")));
    ASSERT_EQ(pageRequests().size(), 1);
    EXPECT_EQ(pageRequests()[0].path(), QStringLiteral("/id/"));

    evaluate(page, QStringLiteral("var a = document.createElement('a'); a.href = '/id/help?x=1'; a.id = 'help';"
                                  "a.textContent = 'help'; document.body.appendChild(a); a.click();"));
    ASSERT_TRUE(fakes::FakeHttpServer::waitUntil([&] { return !workspace.openedUrls().isEmpty(); }, 10000));
    EXPECT_EQ(workspace.openedUrls().first().path(), QStringLiteral("/id/help"));
}

QByteArray elsewherePage()
{
    QFile file(qEnvironmentVariable("PRAVIK_TEST_SOURCE_DIR") + QStringLiteral("/ui/chatportal/elsewhere.html"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray channelLibrary()
{
    QFile file(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A second local server is another origin. Its page is reached two ways: a
// link the user clicks (it opens in the browser, not in the window), and a
// redirect of the portal (it loads in the window, which then neither hears
// it nor sends it anything, and lets go of the microphone).
TEST_F(ChatWindowTest, AnotherOriginGetsNeitherTheMicrophoneNorAnythingSent)
{
    fakes::FakeHttpServer elsewhere;
    elsewhere.on("GET", QStringLiteral("/"), fakes::FakeHttpServer::Reply::text(elsewherePage(), 200, "text/html; charset=utf-8"));
    elsewhere.on("GET", QStringLiteral("/qwebchannel.js"),
        fakes::FakeHttpServer::Reply::text(channelLibrary(), 200, "text/javascript"));
    ASSERT_FALSE(channelLibrary().isEmpty());
    const QUrl elsewhereUrl = elsewhere.url(QStringLiteral("/"));
    fakes::FakeHttpServer::Reply away = fakes::FakeHttpServer::Reply::text("", 302);
    away.headers.append({ QByteArray("Location"), elsewhereUrl.toEncoded() });
    portal.on("GET", QStringLiteral("/away"), away);

    mmChatWC chat(environment());
    chat.window()->show();
    QWebEnginePage* page = chat.page();
    ASSERT_TRUE(waitForPage(page, QStringLiteral("typeof portal === 'object' && !!window.webkit")));
    evaluate(page, QStringLiteral("document.getElementById('mic').click()"));
    ASSERT_TRUE(waitForPage(page, QStringLiteral("portal.recorder.length === 1")));
    ASSERT_TRUE(mouse.microphoneOn());

    // The user clicks a link to the other origin.
    evaluate(page, QStringLiteral("var a = document.createElement('a'); a.href = '%1'; a.textContent = 'out';"
                                  "document.body.appendChild(a); a.click();")
                       .arg(elsewhereUrl.toString()));
    ASSERT_TRUE(fakes::FakeHttpServer::waitUntil([&] { return !workspace.openedUrls().isEmpty(); }, 10000));
    EXPECT_EQ(workspace.openedUrls().last(), elsewhereUrl);
    EXPECT_TRUE(evaluate(page, QStringLiteral("typeof portal === 'object'")).toBool()) << "the portal stays";
    EXPECT_EQ(elsewhere.requestCount(), 0);
    EXPECT_TRUE(mouse.microphoneOn());

    // The portal sends the window on to the other origin.
    evaluate(page, QStringLiteral("location.replace('/away')"));
    ASSERT_TRUE(waitForPage(page, QStringLiteral("typeof caught === 'object'")));
    // The engine's channel reaches every document of the page; the page uses it if it can.
    waitForPage(page, QStringLiteral("caught.channel !== 'none'"), 3000);
    EXPECT_EQ(evaluate(page, QStringLiteral("caught.handlers")).toString(), QStringLiteral("undefined"))
        << "the handlers are not given to another origin";
    EXPECT_FALSE(mouse.microphoneOn()) << "the page that asked for it is gone";
    const qsizetype micOn = mouse.commandWrites().count(QByteArray::fromHex("9da55a070301ff"));
    EXPECT_EQ(micOn, 1);

    // Its request for the microphone is ignored; no audio or text reaches it.
    evaluate(page, QStringLiteral("new QWebChannel(qt.webChannelTransport, function (c) {"
                                  " c.objects.pravikScriptMessages.postMessage('callRecorder', '\"start\"'); });"));
    center.post(notifications::kHadGPTSpeechText, QVariantMap { { QStringLiteral("text"), QStringLiteral("secret") } });
    time.advance(mmChatWC::kSendDelay);
    streamAudio(3);
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 500)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    time.runPending();
    EXPECT_FALSE(chat.isRecording());
    EXPECT_FALSE(mouse.microphoneOn());
    EXPECT_EQ(mouse.commandWrites().count(QByteArray::fromHex("9da55a070301ff")), micOn);
    EXPECT_EQ(evaluate(page, QStringLiteral("JSON.stringify(caught.recorder)")).toString(), QStringLiteral("[]"));
    EXPECT_EQ(evaluate(page, QStringLiteral("caught.inputs.length + caught.sent")).toInt(), 0);
}

TEST_F(ChatWindowTest, ThePresenterBuildsOneWindowAndANewOneAfterClosing)
{
    platform::UserNotices::shared().resetForTesting();
    int built = 0;
    ChatWindowPresenter presenter(
        [&] {
            ++built;
            mmChatWC::Environment unconfigured = environment();
            unconfigured.portalOrigin.clear();
            return std::make_unique<mmChatWC>(unconfigured);
        },
        time);
    presenter.showChatWindow();
    ASSERT_TRUE(presenter.chat());
    QWidget* window = presenter.chat()->window();
    EXPECT_TRUE(window->isVisible());
    presenter.showChatWindow();
    EXPECT_EQ(built, 1);
    // Without a portal address the user is told, once.
    EXPECT_TRUE(platform::UserNotices::shared().wasPosted(ChatPortalAddress::kNotConfiguredNotice));
    EXPECT_EQ(portal.requestCount(), 0);

    window->close();
    time.runPending();
    EXPECT_FALSE(presenter.chat());
    presenter.showChatWindow();
    EXPECT_EQ(built, 2);
    EXPECT_TRUE(presenter.chat()->window()->isVisible());
}

} // namespace chatwindowtest

namespace chatwindowtest {

// A conversation as a user sees it: a question asked with the AI key was
// sent, and the page listens again. With PRAVIK_CHAT_WINDOW_SHOT set (see
// scripts/chat-demo.sh) the screen is saved there.
TEST_F(ChatWindowTest, AConversationOnScreen)
{
    user.deviceInfo().setSn(QStringLiteral("A1B2C3D4E5F6"));
    mmChatWC chat(environment());
    QWidget* window = chat.window();
    window->resize(420, 640);
    window->move(60, 60);
    window->show();
    QWebEnginePage* page = chat.page();
    ASSERT_TRUE(waitForPage(page, QStringLiteral("typeof portal === 'object' && !!window.webkit")));

    center.post(notifications::kHadGPTSpeechText,
        QVariantMap { { QStringLiteral("text"), QStringLiteral("What will the weather be like in Jakarta tomorrow?") } });
    time.advance(mmChatWC::kSendDelay);
    ASSERT_TRUE(waitForPage(page, QStringLiteral("portal.sent.length === 1")));
    evaluate(page, QStringLiteral("document.getElementById('mic').click()"));
    ASSERT_TRUE(waitForPage(page, QStringLiteral("portal.recorder.length === 1")));
    streamAudio(40);
    ASSERT_TRUE(waitForPage(page, QStringLiteral("portal.audioMessages === 40")));
    EXPECT_TRUE(evaluate(page, QStringLiteral("document.getElementById('status').textContent")).toString().startsWith(
        QStringLiteral("Listening")));

    const QString shot = qEnvironmentVariable("PRAVIK_CHAT_WINDOW_SHOT");
    if (shot.isEmpty())
        return;
    // Let the engine paint what the page now shows.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 1500)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QScreen* screen = window->screen();
    ASSERT_TRUE(screen);
    const QRect frame = window->frameGeometry().adjusted(-20, -20, 20, 20);
    EXPECT_TRUE(screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height()).save(shot));
}

} // namespace chatwindowtest
