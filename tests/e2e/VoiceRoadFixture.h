#pragma once

// The whole voice road, every piece real except the outside world: the USB
// receiver and the mouse behind it (scripted), the back end and the two
// dictation services (fake servers on 127.0.0.1), the key tap, the key
// poster and the pasteboard (fakes; the key poster models the focused text
// field). Timers run on virtual time, sockets on the real event loop.
#include "core/KWLangManager.h"
#include "core/MMUserInfo.h"
#include "core/Notifications.h"
#include "core/SHHttpManager.h"
#include "core/UWSanboxFileManager.h"
#include "device/DeviceAlertPresenter.h"
#include "device/DeviceCommandLink.h"
#include "device/DeviceLinkHooks.h"
#include "device/KeyEventTap.h"
#include "device/MMHidManager.h"
#include "device/MMpermissionCheck.h"
#include "device/SBCDecoder.h"
#include "device/UWHidapiManager.h"
#include "device/UWUsbInfoManager.h"
#include "device/mmUtilities.h"
#include "fakes/FakeBackend.h"
#include "fakes/FakeDictationService.h"
#include "fakes/FakeHidHotplugWatcher.h"
#include "fakes/FakeHidMouse.h"
#include "fakes/FakeKeyPoster.h"
#include "fakes/FakeKeyTap.h"
#include "fakes/FakePasteboard.h"
#include "fakes/FakePermissions.h"
#include "fakes/FakeTextTranslationService.h"
#include "fakes/TempHome.h"
#include "fakes/VirtualTime.h"
#include "platform/HttpClient.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"
#include "translate/mmMicrosoftTextTrans.h"
#include "voice/MMAudioMonitorService.h"
#include "voice/MMAudioMonitorServiceActions.h"
#include "voice/MMAudioObjectManager.h"
#include "voice/PcmSourceRegistry.h"
#include "voice/UWHidapiPcmSource.h"
#include "voice/UWKeyboardEventManager.h"
#include "voice/UWTipsViewShow.h"
#include "voice/mmSpeechViewWC.h"
#include "voice/mmTypingManager.h"
#include "voice/mmXFYunHaiwaiWebApiDomestic.h"
#include "voice/mmXFYunWebApiDomestic.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QWidget>

#include <gtest/gtest.h>

namespace voiceroad {

class NoAlerts final : public DeviceAlertPresenter {
public:
    void presentAlert(const QString&, const QString&, const QStringList&, std::function<void(int)>) override { }
};

// One mSBC frame of silence: the header of a 57-byte frame whose payload is zero.
inline QByteArray silentFrame()
{
    QByteArray frame(57, '\0');
    frame[0] = char(0xAD);
    return frame;
}

class VoiceRoad : public ::testing::Test {
protected:
    static constexpr const char* kSerial = "A1B2C3D4E5F6";

    // The text arrives through the fake pasteboard and key poster, unless a
    // test passes real ones (and the queue the typing runs on).
    explicit VoiceRoad(platform::KeyPoster* realPoster = nullptr, platform::Pasteboard* realBoard = nullptr,
        platform::Executor* typingQueue = nullptr, mmTypingManager::Sleeper sleeper = [](double) { })
        : board(realBoard ? *realBoard : pasteboard)
        , keyPoster(realPoster ? *realPoster : poster)
        , keys(keyPoster)
        , typing(typingQueue ? *typingQueue : time, keys, board, std::move(sleeper))
    {
        DeviceLinkHooks hooks;
        hooks.getApiKeyWithDeviceMacAdress = [this](const QString& sn) { utilities.getApiKeyWithDeviceMacAdress(sn); };
        hooks.getProductInfoWithDeviceMacAdress
            = [this](const QString& sn, const QString& mode) { utilities.getProductInfoWithDeviceMacAdress(sn, mode); };
        hooks.isQuite = [this](const QByteArray& pcm) { recorder.isQuite(pcm); };
        hooks.writePcmData = [this](const QByteArray& pcm) { recorder.writePcmData(pcm); };
        link.setHooks(hooks);
        utilities.setUsbLink(usbCommands.get());
        registry.setSource(PcmSourceRegistry::kLinkUsb, &pcm);
        checker->permissionCheckCallback([](bool) { });
        service.setActions(actions);
        service.beginMouseMonitor();
    }

    ~VoiceRoad() override
    {
        utilities.setUsbLink(nullptr);
        EXPECT_TRUE(mainlandService.problems().isEmpty()) << mainlandService.problems().join('\n').toStdString();
        EXPECT_TRUE(overseasService.problems().isEmpty()) << overseasService.problems().join('\n').toStdString();
        EXPECT_TRUE(backend.problems().isEmpty()) << backend.problems().join('\n').toStdString();
    }

    // The back end answers the mouse's serial with the credentials of both
    // dictation services and the region.
    void scriptBackend(const QString& country)
    {
        const QJsonObject credentials {
            { "cn_urlstr", mainlandService.endpoint() },
            { "iat_appid", mainlandService.credentials().appId },
            { "iat_appkey", mainlandService.credentials().apiKey },
            { "iat_appsecret", mainlandService.credentials().apiSecret },
            { "int_urlstr", overseasService.endpoint() },
            { "int_iat_appid", overseasService.credentials().appId },
            { "int_iat_appkey", overseasService.credentials().apiKey },
            { "int_iat_appsecret", overseasService.credentials().apiSecret },
        };
        backend.expectGetKey(QString::fromLatin1(kSerial), fakes::FakeBackend::credentials(credentials));
        fakes::FakeBackend::ProductInfo product;
        product.country = country;
        product.openkey = QStringLiteral("open-1");
        product.product = QStringLiteral("KZ32");
        backend.expectAuthOpenKey(QString::fromLatin1(kSerial), fakes::FakeBackend::productInfo(product));
    }

    // The receiver is plugged in, the mouse identifies itself and the back
    // end answers with the credentials of both services and the region.
    void connectMouse(const QString& country)
    {
        scriptBackend(country);
        mouse.setDeviceName("KZ32 Voice Mouse");
        watcher->attach(receiver());
        ASSERT_TRUE(link.hidConnected());
        run(1.5);
        ASSERT_TRUE(waitFor([&] { return user.apikeyItem().has_value() && user.ipCountry() == country; }));
        ASSERT_NE(user.deviceInfo().DeviceConnectionMode(), 0u);
    }

    // The voice key's long press translates, with the overseas text
    // translation of `translator`; the dictation hears "Hello world".
    void translateOverseasWith(fakes::FakeTextTranslationService& translator)
    {
        translator.reply(fakes::FakeTextTranslationService::translation(QStringLiteral("Bonjour le monde"), "fr"));
        actions->overseasTranslation = [this](const QString& from, const QString& to, const QString& text,
                                           MMAudioMonitorService::Actions::TextTranslationDone done) {
            mmMicrosoftTextTrans(user).textTranslationWithFromLang(from, to, text, std::move(done));
        };
        mmApiKeyItem keys = *user.apikeyItem();
        keys.azure_translate_key = QStringLiteral("azure-key");
        keys.azure_translate_url = translator.address();
        user.setApikeyItem(keys);
        user.webConfig().setFir_voice_long(2);
        overseasService.addSession({ 0,
            { fakes::FakeDictationService::Reply::result("Hello world", "apd", false, 1).afterAudioFrames(5),
                fakes::FakeDictationService::Reply::result("", "apd", true, 2).onLastFrame().thenClose() } });
    }

    // What translateOverseasWith() set up was typed.
    void expectOverseasTranslationTyped(const fakes::FakeTextTranslationService& translator)
    {
        ASSERT_TRUE(waitFor([&] { return poster.fieldText() == QStringLiteral("Bonjour le monde"); }))
            << poster.fieldText().toStdString();
        ASSERT_EQ(translator.received().size(), 1);
        EXPECT_EQ(translator.received()[0].text, QStringLiteral("Hello world"));
        EXPECT_TRUE(translator.problems().isEmpty()) << translator.problems().join('\n').toStdString();
    }

    static platform::HidHotplugDevice receiver()
    {
        return fakes::FakeHidHotplugWatcher::device(QStringLiteral("/sys/devices/usb1/1-2"),
            QStringLiteral("USB Composite Device"), fakes::FakeHidMouse::kVendorId, fakes::FakeHidMouse::kProductId);
    }

    // Virtual time moves on in small steps while the real event loop turns,
    // so timers, the mouse's reports and the sockets all make progress.
    void run(double seconds)
    {
        const int steps = int(seconds / kStep + 0.5);
        for (int i = 0; i < steps; ++i) {
            fakes::advanceWithMouse(time, mouse, kStep);
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        }
    }

    // Runs until the condition holds (virtual time moving on as well); false
    // after ten seconds of real time.
    template <typename Condition> bool waitFor(Condition condition, int realMs = 10000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!condition()) {
            if (timer.elapsed() > realMs)
                return false;
            run(kStep);
        }
        return true;
    }

    // The voice key held for the given seconds while the mouse streams
    // silence, then released.
    void holdVoiceKey(double seconds, int audioFrames)
    {
        mouse.setAudioFrames(QList<QByteArray>(audioFrames, silentFrame()));
        keyTap.press(platform::MouseKey::F19);
        run(seconds);
        keyTap.release(platform::MouseKey::F19);
    }

    static constexpr double kStep = 0.01;

    fakes::TempHome home;
    platform::Preferences prefs { home.path() + QStringLiteral("/defaults.plist") };
    MMUserInfo user { prefs };
    KWLangManager languages { prefs, { QStringLiteral("en-US") }, [this] { return user.ipCountry(); } };
    SHHttpManager http { platform::HttpClient::shared() };
    platform::NotificationCenter center;
    fakes::FakeBackend backend;
    mmUtilities utilities { user, languages, http, center, backend.baseUrl() };
    fakes::VirtualTime time;
    MMAudioObjectManager recorder { time, UWSanboxFileManager::sharedManager() };
    fakes::FakeHidMouse mouse;
    NoAlerts alerts;
    SBCDecoder decoder;
    UWHidapiManager link { mouse, time, user.deviceInfo(), user.webConfig(), center, alerts, decoder };
    fakes::FakeHidHotplugWatcher* watcher = new fakes::FakeHidHotplugWatcher;
    UWUsbInfoManager usb { std::unique_ptr<platform::HidHotplugWatcher>(watcher), link, user.deviceInfo(), center };
    std::unique_ptr<DeviceCommandLink> usbCommands = mmUtilities::usbCommandLink(link);
    PcmSourceRegistry registry;
    UWHidapiPcmSource pcm { link };

    fakes::FakeDictationService mainlandService {
        { QStringLiteral("cn-app"), QStringLiteral("cn-key"), QStringLiteral("cn-secret") }
    };
    fakes::FakeDictationService overseasService {
        { QStringLiteral("int-app"), QStringLiteral("int-key"), QStringLiteral("int-secret") }
    };
    mmXFYunWebApiDomestic mainland { { user, registry, time, time } };
    mmXFYunHaiwaiWebApiDomestic overseas { { user, registry, time, time } };

    fakes::FakePasteboard pasteboard;
    fakes::FakeKeyPoster poster { &pasteboard }; // the focused text field
    platform::Pasteboard& board;
    platform::KeyPoster& keyPoster;
    UWKeyboardEventManager keys;
    mmTypingManager typing;
    UWTipsViewShow tips { time, center };

    fakes::FakeKeyTap keyTap;
    KeyEventTap tap { keyTap };
    fakes::FakePermissions permissions;
    MMHidManager classifier { user.webConfig(), time, time };
    std::shared_ptr<MMpermissionCheck> checker
        = MMpermissionCheck::create({ permissions, tap, classifier, user.deviceInfo() });

    int mainWindowShown = 0;
    std::shared_ptr<MMAudioMonitorService::Actions> actions = std::make_shared<MMAudioMonitorService::Actions>();
    MMAudioMonitorService service { { user, languages, classifier, link, utilities, recorder, mainland, overseas,
        typing, keys, tips, center, time, prefs, [this] { ++mainWindowShown; } } };
};

} // namespace voiceroad
