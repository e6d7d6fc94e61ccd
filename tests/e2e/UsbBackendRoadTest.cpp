// The whole USB road with the real back-end client and the real recording:
// the receiver is attached, the scripted mouse identifies itself, its
// credentials and product information come from the fake back end, and its
// audio ends up in a WAV recording and at the PCM subscriber.
#include "core/KWLangManager.h"
#include "core/MMUserInfo.h"
#include "core/Notifications.h"
#include "core/SHHttpManager.h"
#include "core/UWSanboxFileManager.h"
#include "device/DeviceAlertPresenter.h"
#include "device/DeviceLinkHooks.h"
#include "device/SBCDecoder.h"
#include "device/UWHidapiManager.h"
#include "device/UWUsbInfoManager.h"
#include "device/mmUtilities.h"
#include "fakes/FakeBackend.h"
#include "fakes/FakeHidHotplugWatcher.h"
#include "fakes/FakeHidMouse.h"
#include "fakes/TempHome.h"
#include "fakes/VirtualTime.h"
#include "platform/HttpClient.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"
#include "voice/MMAudioObjectManager.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

using fakes::FakeBackend;
using fakes::FakeHidHotplugWatcher;
using fakes::FakeHidMouse;

class NoAlerts final : public DeviceAlertPresenter {
public:
    void presentAlert(const QString&, const QString&, const QStringList&, std::function<void(int)>) override {}
};

// Silence as mSBC: the header of a 57-byte frame whose payload is zero.
QByteArray silentFrame()
{
    QByteArray frame(57, '\0');
    frame[0] = char(0xAD);
    return frame;
}

TEST(UsbBackendRoad, AttachIdentifyFetchCredentialsAndRecord)
{
    fakes::TempHome home;
    platform::Preferences prefs(home.path() + QStringLiteral("/defaults.plist"));
    MMUserInfo user(prefs);
    KWLangManager languages(prefs, {QStringLiteral("en-US")}, [&] { return user.ipCountry(); });
    SHHttpManager http(platform::HttpClient::shared());
    platform::NotificationCenter center;
    FakeBackend backend;
    mmUtilities utilities(user, languages, http, center, backend.baseUrl());
    fakes::VirtualTime time;
    UWSanboxFileManager& files = UWSanboxFileManager::sharedManager(); // rooted at PRAVIK_HOME
    MMAudioObjectManager recorder(time, files);
    FakeHidMouse mouse;
    NoAlerts alerts;
    SBCDecoder decoder;
    MMwebconfig& config = user.webConfig();
    UWHidapiManager link(mouse, time, user.deviceInfo(), config, center, alerts, decoder);
    auto* watcher = new FakeHidHotplugWatcher;
    UWUsbInfoManager usb(std::unique_ptr<platform::HidHotplugWatcher>(watcher), link, user.deviceInfo(), center);

    DeviceLinkHooks hooks;
    hooks.getApiKeyWithDeviceMacAdress = [&](const QString& sn) { utilities.getApiKeyWithDeviceMacAdress(sn); };
    hooks.getProductInfoWithDeviceMacAdress
        = [&](const QString& sn, const QString& mode) { utilities.getProductInfoWithDeviceMacAdress(sn, mode); };
    hooks.isQuite = [&](const QByteArray& pcm) { recorder.isQuite(pcm); };
    hooks.writePcmData = [&](const QByteArray& pcm) { recorder.writePcmData(pcm); };
    link.setHooks(hooks);
    QByteArray delivered;
    link.rowdataPcmAudioCallBack([&](const QByteArray& pcm, bool) { delivered += pcm; });

    QStringList notes;
    auto observer = center.addObserver({}, [&](const platform::Notification& n) { notes << n.name; });

    const QString serial = QStringLiteral("A1B2C3D4E5F6");
    QJsonObject credentials{{"iat_appid", "app-1"}, {"iat_appkey", "key-1"}, {"iat_appsecret", "secret-1"},
                            {"cn_urlstr", "wss://asr.example.invalid/v2/iat"}};
    backend.expectGetKey(serial, FakeBackend::credentials(credentials));
    FakeBackend::ProductInfo product;
    product.country = QStringLiteral("cn");
    product.openkey = QStringLiteral("open-1");
    product.product = QStringLiteral("KZ32");
    backend.expectAuthOpenKey(serial, FakeBackend::productInfo(product));

    mouse.setDeviceName("KZ32 Voice Mouse");
    watcher->attach(FakeHidHotplugWatcher::device(QStringLiteral("/sys/devices/usb1/1-2"),
                                                  QStringLiteral("USB Composite Device"), FakeHidMouse::kVendorId,
                                                  FakeHidMouse::kProductId));
    ASSERT_TRUE(link.hidConnected());
    fakes::advanceWithMouse(time, mouse, 1.5); // the device-information request and its answer
    ASSERT_EQ(user.deviceInfo().sn(), serial);
    EXPECT_TRUE(notes.contains(notifications::kHadReloadConnectImage));

    ASSERT_TRUE(fakes::FakeHttpServer::waitUntil(
        [&] { return notes.contains(notifications::kHadProductConnected) && user.apikeyItem().has_value(); },
        10000));
    EXPECT_EQ(user.apikeyItem()->iat_appid, QStringLiteral("app-1"));
    EXPECT_EQ(user.apikeyItem()->cn_urlstr, QStringLiteral("wss://asr.example.invalid/v2/iat"));
    EXPECT_EQ(user.ipCountry(), QStringLiteral("cn"));
    EXPECT_EQ(user.deviceInfo().openKey(), QStringLiteral("open-1"));
    EXPECT_EQ(user.deviceInfo().productModelString(), QStringLiteral("KZ32"));
    EXPECT_EQ(config.fir_ai_short(), 7u); // the KZ32 defaults of the AI key
    EXPECT_EQ(languages.TypingFromCode(), QStringLiteral("zh_cn"));
    EXPECT_TRUE(backend.problems().isEmpty()) << backend.problems().join('\n').toStdString();

    // A dictation: the microphone streams, the recording gets every block.
    recorder.beginRecordWithRecordorZhiMu(QStringLiteral("PravikREC"));
    mouse.setAudioFrames(QList<QByteArray>(25, silentFrame()));
    link.SetMicrophoneOpen(true);
    fakes::advanceWithMouse(time, mouse, 0.5);
    link.SetMicrophoneOpen(false);
    recorder.endRecord();
    EXPECT_EQ(delivered.size(), 25 * 240);

    const QStringList wavs = QDir(home.path() + QStringLiteral("/Documents/REC"))
                                 .entryList({QStringLiteral("PravikREC*.wav")}, QDir::Files);
    ASSERT_EQ(wavs.size(), 1);
    QFile wav(home.path() + QStringLiteral("/Documents/REC/") + wavs.first());
    EXPECT_EQ(wav.size(), 44 + 25 * 240);

    watcher->remove(FakeHidHotplugWatcher::device(QStringLiteral("/sys/devices/usb1/1-2"),
                                                  QStringLiteral("USB Composite Device"), FakeHidMouse::kVendorId,
                                                  FakeHidMouse::kProductId));
    EXPECT_FALSE(link.hidConnected());
    EXPECT_EQ(user.deviceInfo().DeviceConnectionMode(), 0u);
}

} // namespace
