// The mouse over its USB receiver, end to end: hot-plug attach, the HID link
// against the scripted mouse on virtual time, identification, audio to the
// recording and the PCM subscriber, battery polling and removal.
#include "core/MMDeviceInfo.h"
#include "core/MMwebconfig.h"
#include "core/Notifications.h"
#include "device/DeviceAlertPresenter.h"
#include "device/SBCDecoder.h"
#include "device/UWHidHelper.h"
#include "device/UWHidapiManager.h"
#include "device/UWUsbInfoManager.h"
#include "fakes/FakeHidHotplugWatcher.h"
#include "fakes/FakeHidMouse.h"
#include "fakes/VirtualTime.h"
#include "platform/NotificationCenter.h"
#include "platform/Preferences.h"

#include <QTemporaryDir>
#include <QtEndian>

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <sbc/sbc.h>

namespace {

using fakes::FakeHidHotplugWatcher;
using fakes::FakeHidMouse;

constexpr int kFrameSamples = 120;

// mSBC frames of a two-tone signal, encoded by libsbc, and libsbc's own decoding of them.
struct ReferenceAudio {
    QList<QByteArray> frames;
    std::vector<qint16> decoded;

    explicit ReferenceAudio(int frameCount)
    {
        sbc_t encoder {};
        sbc_init_msbc(&encoder, 0);
        encoder.endian = SBC_LE;
        std::vector<qint16> pcm(size_t(frameCount * kFrameSamples));
        for (size_t n = 0; n < pcm.size(); ++n) {
            const double t = double(n) / 16000.0;
            pcm[n] = qint16(std::lround(5000 * std::sin(2 * std::numbers::pi * 440 * t)
                + 2000 * std::sin(2 * std::numbers::pi * 1250 * t)));
        }
        for (int f = 0; f < frameCount; ++f) {
            QByteArray frame(qsizetype(sbc_get_frame_length(&encoder)), '\0');
            ssize_t written = 0;
            sbc_encode(&encoder, pcm.data() + f * kFrameSamples, kFrameSamples * sizeof(qint16), frame.data(),
                size_t(frame.size()), &written);
            frame.truncate(qsizetype(written));
            frames.append(frame);
        }
        sbc_finish(&encoder);

        sbc_t decoder {};
        sbc_init_msbc(&decoder, 0);
        decoder.endian = SBC_LE;
        for (const QByteArray& frame : frames) {
            qint16 out[kFrameSamples];
            size_t written = 0;
            sbc_decode(&decoder, frame.constData(), size_t(frame.size()), out, sizeof out, &written);
            decoded.insert(decoded.end(), out, out + written / sizeof(qint16));
        }
        sbc_finish(&decoder);
    }
};

std::vector<qint16> samples(const QByteArray& pcm)
{
    std::vector<qint16> out;
    for (qsizetype i = 0; i + 1 < pcm.size(); i += 2)
        out.push_back(qFromLittleEndian<qint16>(pcm.constData() + i));
    return out;
}

double roadSnrDb(const std::vector<qint16>& reference, const std::vector<qint16>& test)
{
    double signal = 0, noise = 0;
    for (size_t i = 0; i < reference.size(); ++i) {
        signal += double(reference[i]) * reference[i];
        const double d = double(reference[i]) - test[i];
        noise += d * d;
    }
    return noise == 0 ? 200 : 10 * std::log10(signal / noise);
}

class NoRoadAlerts final : public DeviceAlertPresenter {
public:
    void presentAlert(const QString&, const QString&, const QStringList&, std::function<void(int)>) override
    {
        ++shown;
    }
    int shown = 0;
};

class UsbRoadTest : public ::testing::Test {
protected:
    UsbRoadTest()
    {
        // What the back-end client and the recording do is only logged here; the battery
        // poll goes back to the link, as the command router would send it while the mouse
        // is on the receiver.
        DeviceLinkHooks hooks;
        hooks.getApiKeyWithDeviceMacAdress = [this](const QString& sn) { log << "getKey " + sn; };
        hooks.getProductInfoWithDeviceMacAdress
            = [this](const QString& sn, const QString& mode) { log << "product " + sn + " " + mode; };
        hooks.chaDianchi = [this] {
            log << QStringLiteral("chaDianchi");
            link.getDianchi();
        };
        hooks.isQuite = [this](const QByteArray& pcm) { log << QStringLiteral("level %1").arg(pcm.size()); };
        hooks.writePcmData = [this](const QByteArray& pcm) {
            log << QStringLiteral("record %1").arg(pcm.size());
            recorded += pcm;
        };
        link.setHooks(hooks);
        link.rowdataPcmAudioCallBack([this](const QByteArray& pcm, bool flag) {
            EXPECT_FALSE(flag);
            log << QStringLiteral("pcm %1").arg(pcm.size());
            delivered += pcm;
        });
        observer = center.addObserver({}, [this](const platform::Notification& n) {
            QString entry = n.name;
            if (n.object.isValid())
                entry += QStringLiteral(" mode=%1")
                             .arg(n.object.toMap().value(QStringLiteral("mode")).toULongLong());
            log << entry;
        });
    }

    void advance(double seconds) { fakes::advanceWithMouse(time, mouse, seconds); }
    qsizetype infoRequests() const { return mouse.countWrites(UWHidHelper::hidGetDeviceInfoReport()); }

    const platform::HidHotplugDevice receiver
        = FakeHidHotplugWatcher::device(QStringLiteral("/sys/devices/usb1/1-2"),
            QStringLiteral("USB Composite Device"), FakeHidMouse::kVendorId, FakeHidMouse::kProductId);

    QTemporaryDir dir;
    platform::Preferences prefs { dir.filePath(QStringLiteral("defaults.plist")) };
    MMwebconfig config { prefs };
    FakeHidMouse mouse;
    fakes::VirtualTime time;
    MMDeviceInfo device;
    platform::NotificationCenter center;
    NoRoadAlerts alerts;
    SBCDecoder decoder;
    UWHidapiManager link { mouse, time, device, config, center, alerts, decoder };
    FakeHidHotplugWatcher* watcher = new FakeHidHotplugWatcher;
    UWUsbInfoManager usb { std::unique_ptr<platform::HidHotplugWatcher>(watcher), link, device, center };
    platform::ObserverToken observer;
    QStringList log;
    QByteArray recorded, delivered;
};

TEST_F(UsbRoadTest, AttachIdentifyStreamAndRemove)
{
    mouse.setDeviceName("KZ45 Voice Mouse");
    mouse.setFirmware(2, 7);
    mouse.ignoreDeviceInfoRequests(2); // the mouse is still waking up

    // Attach: the link opens; the first request leaves after 0.2 s, then one a second.
    watcher->attach(receiver);
    ASSERT_TRUE(link.hidConnected());
    advance(0.21);
    EXPECT_EQ(infoRequests(), 1);
    advance(1.0);
    EXPECT_EQ(infoRequests(), 2);
    EXPECT_TRUE(device.sn().isEmpty());
    EXPECT_TRUE(log.isEmpty());
    advance(1.0);
    EXPECT_EQ(infoRequests(), 3);
    advance(0.05);

    // The answer identifies the mouse, asks the back end, then announces the receiver link.
    EXPECT_EQ(device.sn(), QStringLiteral("A1B2C3D4E5F6"));
    EXPECT_EQ(device.deviceModel(), 4u);
    EXPECT_EQ(device.firmwareVersion(), QStringLiteral("2.7"));
    EXPECT_EQ(device.testLinkMode(), 2u);
    EXPECT_EQ(device.DeviceConnectionMode(), 4u);
    EXPECT_EQ(log,
        (QStringList {
            "getKey A1B2C3D4E5F6", "product A1B2C3D4E5F6 接收器", "kHadReloadConnectImageNoti mode=4" }));
    advance(5);
    EXPECT_EQ(infoRequests(), 3); // the repeats stopped with the serial

    // Microphone on: each audio report is decoded once, recorded, then handed to the subscriber.
    const ReferenceAudio audio(40);
    mouse.setAudioFrames(audio.frames);
    log.clear();
    link.SetMicrophoneOpen(true);
    advance(0.5);
    ASSERT_TRUE(mouse.microphoneOn());
    EXPECT_EQ(mouse.audioFramesLeft(), 0u);
    ASSERT_EQ(delivered.size(), 40 * 240);
    EXPECT_EQ(recorded, delivered);
    QStringList expected;
    for (int i = 0; i < 40; ++i)
        expected << "level 240"
                 << "record 240"
                 << "pcm 240";
    EXPECT_EQ(log, expected);
    // Our decoder on the road against libsbc's decoding of the same frames.
    EXPECT_GE(roadSnrDb(audio.decoded, samples(delivered)), 60.0);
    SBCDecoder fresh;
    QByteArray inOrder;
    for (const QByteArray& frame : audio.frames)
        inOrder += fresh.decodeFrame(frame);
    EXPECT_EQ(delivered, inOrder);

    // Microphone off: the stream stops.
    link.SetMicrophoneOpen(false);
    mouse.setAudioFrames(audio.frames);
    advance(0.5);
    EXPECT_EQ(delivered.size(), 40 * 240);

    // Replies keep the low-power timer going: 300 s later the battery is asked for.
    log.clear();
    mouse.setBatteryRaw(370);
    advance(300);
    EXPECT_EQ(log, (QStringList { "chaDianchi", "kHadReloadDianciImageNoti" }));
    EXPECT_EQ(device.batteryPercentage(), QStringLiteral("59%"));
    EXPECT_EQ(alerts.shown, 0);

    // Another USB device leaving changes nothing.
    log.clear();
    watcher->remove(FakeHidHotplugWatcher::device(
        QStringLiteral("/sys/devices/usb1/1-4"), QStringLiteral("USB Composite Device"), 0x1234, 0x5678));
    EXPECT_TRUE(link.hidConnected());
    EXPECT_EQ(device.DeviceConnectionMode(), 4u);
    link.getDianchi();
    advance(0.05);
    EXPECT_EQ(log, QStringList { "kHadReloadDianciImageNoti" });

    // The receiver leaving closes the link: no timer left, nothing written afterwards.
    log.clear();
    watcher->remove(receiver);
    EXPECT_FALSE(link.hidConnected());
    EXPECT_FALSE(mouse.isOpen());
    EXPECT_EQ(device.DeviceConnectionMode(), 0u);
    EXPECT_EQ(log, QStringList { "kHadReloadConnectImageNoti mode=0" });
    EXPECT_EQ(time.pendingCount(), 0u);
    const size_t written = mouse.writes().size();
    device.setSn(QString()); // as the main window does when the mouse is gone
    advance(1000);
    link.SetMicrophoneOpen(true);
    link.sendGetDeviceInfoFromMouseCallBack();
    EXPECT_EQ(mouse.writes().size(), written);
    EXPECT_TRUE(mouse.unexpectedWrites().empty());
}

TEST_F(UsbRoadTest, RemovedBeforeTheSerialArrives)
{
    mouse.ignoreDeviceInfoRequests(1000);
    watcher->attach(receiver);
    advance(3.5);
    EXPECT_EQ(infoRequests(), 4);
    watcher->remove(receiver);
    EXPECT_EQ(time.pendingCount(), 0u);
    advance(60);
    EXPECT_EQ(infoRequests(), 4);

    // Plugged in again: a fresh link that asks again.
    watcher->attach(receiver);
    advance(0.21);
    EXPECT_EQ(infoRequests(), 5);
}

} // namespace
