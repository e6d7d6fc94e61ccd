// The voice road with the mouse connected over Bluetooth LE instead of its
// USB receiver: the same orchestrator, speech clients, recording and typing,
// with the microphone switched through the BLE link and the audio arriving
// as mSBC notifications on "AE42", joined from parts where the mouse splits
// its packets.
#include "VoiceRoadFixture.h"

#include "device/BLEModel.h"
#include "device/BLETool.h"
#include "fakes/FakeBleMouse.h"
#include "voice/BLEToolPcmSource.h"

#include <QDir>

namespace voiceroad {
namespace {

using Reply = fakes::FakeDictationService::Reply;

class BleVoiceRoad : public VoiceRoad {
protected:
    BleVoiceRoad()
    {
        DeviceLinkHooks hooks;
        hooks.getApiKeyWithDeviceMacAdress = [this](const QString& sn) { utilities.getApiKeyWithDeviceMacAdress(sn); };
        hooks.getProductInfoWithDeviceMacAdress
            = [this](const QString& sn, const QString& mode) { utilities.getProductInfoWithDeviceMacAdress(sn, mode); };
        hooks.chaDianchi = [this] { utilities.chaDianchi(); };
        hooks.isQuite = [this](const QByteArray& pcm) { recorder.isQuite(pcm); };
        hooks.writePcmData = [this](const QByteArray& pcm) { recorder.writePcmData(pcm); };
        bleTool.setHooks(hooks);
        bleLink.setHooks(hooks);
        utilities.setBluetoothLink(&bleLink);
        registry.setSource(PcmSourceRegistry::kLinkBluetooth, &blePcm);
    }

    ~BleVoiceRoad() override
    {
        utilities.setBluetoothLink(nullptr);
        EXPECT_TRUE(bleMouse.unexpectedWrites().empty());
    }

    // The system holds the mouse connected over Bluetooth; the link attaches,
    // the mouse identifies itself and the back end answers.
    void connectBleMouse(const QString& country)
    {
        scriptBackend(country);
        bleMouse.setDeviceName("KZ32 Voice Mouse");
        bleLink.start();
        run(1.5);
        ASSERT_TRUE(bleLink.connected());
        ASSERT_TRUE(waitFor([&] { return user.apikeyItem().has_value() && user.ipCountry() == country; }));
        ASSERT_EQ(user.deviceInfo().testLinkMode(), PcmSourceRegistry::kLinkBluetooth);
        ASSERT_EQ(user.deviceInfo().DeviceConnectionMode(), 2u);
        ASSERT_FALSE(link.hidConnected()); // no receiver: everything goes over Bluetooth
    }

    void holdKeyWhileStreaming(platform::MouseKey key, double seconds, int audioFrames)
    {
        bleMouse.setAudioFrames(QList<QByteArray>(audioFrames, silentFrame()));
        keyTap.press(key);
        run(seconds);
        keyTap.release(key);
    }

    fakes::FakeBleMouse bleMouse { time };
    BLETool bleTool { user.deviceInfo(), user.webConfig(), center, alerts, decoder };
    BLEModel bleLink { bleMouse, time, user.deviceInfo(), center, bleTool };
    BLEToolPcmSource blePcm { bleTool };
};

TEST_F(BleVoiceRoad, DictationOverBluetoothTypesTheFinalSentence)
{
    connectBleMouse(QStringLiteral("cn"));
    // The mouse sends each packet in three parts, which the link joins.
    bleMouse.setAudioSplit({ 100, 100, 44 });
    mainlandService.addSession({ 0,
        { Reply::result("今天", "apd", false, 1).afterAudioFrames(5),
            Reply::result("今天天气", "rpl", false, 2, std::pair(1, 1)).afterAudioFrames(20),
            Reply::result("很好", "apd", true, 3).onLastFrame().thenClose() } });

    // 1.8 s of audio: 60 packets of four frames, one every 30 ms.
    holdKeyWhileStreaming(platform::MouseKey::F19, 2.0, 240);
    EXPECT_TRUE(bleMouse.microphoneOn());
    ASSERT_TRUE(waitFor([&] { return poster.fieldText() == QStringLiteral("今天天气很好"); }))
        << poster.fieldText().toStdString();
    EXPECT_FALSE(bleMouse.microphoneOn());
    // On and off went out as BLE command frames.
    EXPECT_EQ(bleMouse.commandWrites().count(QByteArray::fromHex("9da55a070301ff")), 1);
    EXPECT_EQ(bleMouse.commandWrites().count(QByteArray::fromHex("9da55a070300ff")), 1);
    EXPECT_EQ(bleMouse.packetsSent(), 60);

    ASSERT_EQ(mainlandService.connections().size(), 1);
    const auto& connection = mainlandService.connections()[0];
    EXPECT_TRUE(connection.accepted()) << connection.rejectReason.toStdString();
    EXPECT_EQ(connection.audio().size(), qsizetype(240) * 240);
    EXPECT_EQ(pasteboard.text(), QStringLiteral("今天天气很好"));

    const QStringList wavs = QDir(home.path() + QStringLiteral("/Documents/REC"))
                                 .entryList({ QStringLiteral("PravikREC*.wav") }, QDir::Files);
    EXPECT_EQ(wavs.size(), 1);
}

TEST_F(BleVoiceRoad, VoiceTranslationOverBluetooth)
{
    fakes::FakeTextTranslationService translator(QStringLiteral("azure-key"));
    connectBleMouse(QStringLiteral("us"));
    translateOverseasWith(translator);
    holdKeyWhileStreaming(platform::MouseKey::F19, 1.0, 100);
    expectOverseasTranslationTyped(translator);
    ASSERT_EQ(overseasService.connections().size(), 1);
    EXPECT_GT(overseasService.connections()[0].audio().size(), 0);
}

TEST_F(BleVoiceRoad, SettingsCommandsGoOverBluetooth)
{
    connectBleMouse(QStringLiteral("cn"));
    const qsizetype before = bleMouse.commandWrites().size();
    utilities.setdpi(4);
    utilities.setTanURLOpen(true);
    run(0.1);
    const QList<QByteArray> written = bleMouse.commandWrites().mid(before);
    EXPECT_EQ(written,
        QList<QByteArray>({ QByteArray::fromHex("9da55a08044006ff"), QByteArray::fromHex("9da55a0702010000 00ff") }));
    EXPECT_EQ(bleMouse.dpi(), 1600);
    EXPECT_TRUE(bleMouse.popUpWebsite());
    // The mouse's replies came back over "AE52" and were applied.
    EXPECT_EQ(user.webConfig().fir_dpi(), 4u);
    EXPECT_EQ(user.webConfig().fir_downAddress(), 1u);
}

TEST_F(BleVoiceRoad, ALostLinkEndsTheDictationAndTheMouseComesBack)
{
    connectBleMouse(QStringLiteral("cn"));
    mainlandService.addSession({ 0, { Reply::result("半句", "apd", false, 1).afterAudioFrames(5) } });
    bleMouse.setAudioFrames(QList<QByteArray>(400, silentFrame()));
    keyTap.press(platform::MouseKey::F19);
    run(0.8);
    ASSERT_TRUE(bleMouse.microphoneOn());
    bleMouse.dropLink(true);
    run(0.5); // the dictation ends 0.3 s after the connection mode became 0
    EXPECT_EQ(user.deviceInfo().DeviceConnectionMode(), 0u);
    EXPECT_TRUE(service.speechEnd());
    keyTap.release(platform::MouseKey::F19);

    // The system still holds the mouse: attached and identified again, and
    // the back end asked again.
    scriptBackend(QStringLiteral("cn"));
    run(1.5);
    EXPECT_TRUE(bleLink.connected());
    EXPECT_EQ(user.deviceInfo().DeviceConnectionMode(), 2u);
    EXPECT_TRUE(waitFor([&] {
        return backend.requestsTo(mmUtilities::kGetKeyPath).size() == 2
            && backend.requestsTo(mmUtilities::kAuthOpenKeyPath).size() == 2;
    }));
}

} // namespace
} // namespace voiceroad
