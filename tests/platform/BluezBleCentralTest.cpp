// The Bluetooth LE central on BlueZ, against a scripted Bluetooth daemon on
// a private bus: looking up the mouse the system holds connected without
// waiting for the bus, scanning through BlueZ discovery, and connections
// that outlive an earlier controller for the same device.
#include "platform/BluezBleCentral.h"

#include "fakes/FakeBluez.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLowEnergyController>
#include <QPointer>
#include <QTimer>

#include <gtest/gtest.h>

namespace bluez_central_test {

using platform::BlePeripheral;

// Writes down what the central tells its owner, one line a call.
class RecordingDelegate final : public platform::BleCentralDelegate {
public:
    void centralStateChanged(platform::BleAdapterState) override { }
    void connectedPeripheralsRetrieved(
        const QString& service, const QList<BlePeripheral>& peripherals) override
    {
        QStringList found;
        for (const BlePeripheral& p : peripherals)
            found << p.identifier + QLatin1Char('/') + p.name;
        log << QStringLiteral("retrieved %1: %2").arg(service, found.join(QLatin1Char(',')));
    }
    void peripheralDiscovered(const BlePeripheral& p) override
    {
        log << QStringLiteral("discovered %1/%2").arg(p.identifier, p.name);
    }
    void peripheralConnected(const QString& id) override { log << QStringLiteral("connected ") + id; }
    void peripheralConnectFailed(const QString& id) override
    {
        log << QStringLiteral("connect failed ") + id;
    }
    void peripheralDisconnected(const QString& id) override { log << QStringLiteral("disconnected ") + id; }
    void servicesDiscovered(const QString&, const QStringList&, bool) override { }
    void characteristicsDiscovered(const QString&, const QString&, const QStringList&, bool) override { }
    void notificationStateUpdated(const QString&, const QString&, bool) override { }
    void valueUpdated(const QString&, const QString&, const QByteArray&, bool) override { }

    QStringList log;
};

// Runs the event loop until the condition holds or five seconds pass.
bool runUntil(const std::function<bool()>& condition)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return condition();
}

// Lets whatever is still on its way over the bus arrive.
void settle()
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

const QString kMouse = QStringLiteral("C0:FF:EE:00:AE:50");
const QString kMouseService = QStringLiteral("0000ae50-0000-1000-8000-00805f9b34fb");

class BluezBleCentralTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!bluez.isRunning())
            GTEST_SKIP() << "no dbus-daemon";
        central = std::make_unique<platform::BluezBleCentral>(bluez.clientConnection());
        central->setDelegate(&delegate);
    }
    void TearDown() override
    {
        if (central)
            central->setDelegate(nullptr);
    }

    fakes::FakeBluez bluez;
    RecordingDelegate delegate;
    std::unique_ptr<platform::BluezBleCentral> central;
};

TEST_F(BluezBleCentralTest, TheConnectedMouseIsLookedUpWithoutWaitingForTheBus)
{
    bluez.addDevice(kMouse, QStringLiteral("KZ31 Mouse"), true, { kMouseService });
    bluez.addDevice(QStringLiteral("11:22:33:44:55:66"), QStringLiteral("Headset"), true,
        { QStringLiteral("0000110b-0000-1000-8000-00805f9b34fb") });
    bluez.addDevice(
        QStringLiteral("AA:BB:CC:DD:EE:FF"), QStringLiteral("Other mouse"), false, { kMouseService });
    bluez.holdListings(true); // a bus slow to answer

    // The main thread goes on while the question is out: its timers still fire.
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(10);
    central->retrieveConnectedPeripherals(QStringLiteral("AE50"));
    EXPECT_TRUE(delegate.log.isEmpty()) << "no answer before the bus gave one";
    ASSERT_TRUE(runUntil([&] { return bluez.listings() == 1 && ticks >= 3; }))
        << "the daemon got the question while the window's loop kept running";
    EXPECT_TRUE(delegate.log.isEmpty());

    bluez.release();
    ASSERT_TRUE(runUntil([&] { return !delegate.log.isEmpty(); }));
    EXPECT_EQ(delegate.log, QStringList { QStringLiteral("retrieved AE50: C0:FF:EE:00:AE:50/KZ31 Mouse") })
        << "only a connected device that offers the service";
    EXPECT_EQ(bluez.listings(), 1);
    EXPECT_EQ(bluez.problems(), QStringList());
}

TEST_F(BluezBleCentralTest, ABusWithoutTheDaemonAnswersNothingFound)
{
    // The central asks a bus where nobody owns "org.bluez".
    fakes::FakeSessionBus empty;
    ASSERT_TRUE(empty.isRunning());
    platform::BluezBleCentral lonely(empty.connect());
    RecordingDelegate told;
    lonely.setDelegate(&told);
    lonely.retrieveConnectedPeripherals(QStringLiteral("AE50"));
    ASSERT_TRUE(runUntil([&] { return !told.log.isEmpty(); }));
    EXPECT_EQ(told.log, QStringList { QStringLiteral("retrieved AE50: ") });
    lonely.setDelegate(nullptr);
}

TEST_F(BluezBleCentralTest, ScanningRunsBlueZDiscoveryAndReportsWhatItSees)
{
    bluez.addObject(fakes::FakeBluez::kAdapterPath, QStringLiteral("org.bluez.Adapter1"));
    const QString known = bluez.addDevice(kMouse, QStringLiteral("KZ31 Mouse"), false, {});
    central->scanForPeripherals();
    const QStringList started { QStringLiteral("SetDiscoveryFilter le"),
        QStringLiteral("StartDiscovery /org/bluez/hci0") };
    ASSERT_TRUE(runUntil([&] { return bluez.adapterCalls() == started; }))
        << bluez.adapterCalls().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(bluez.listings(), 1);

    bluez.deviceAppears(QStringLiteral("12:34:56:78:9A:BC"), QStringLiteral("Keyboard"));
    bluez.deviceSeenAgain(known, -60);
    ASSERT_TRUE(runUntil([&] { return delegate.log.size() == 2; }));
    EXPECT_EQ(delegate.log,
        (QStringList { QStringLiteral("discovered 12:34:56:78:9A:BC/Keyboard"),
            QStringLiteral("discovered C0:FF:EE:00:AE:50/KZ31 Mouse") }));

    central->stopScan();
    ASSERT_TRUE(runUntil([&] { return bluez.adapterCalls().size() == 3; }));
    EXPECT_EQ(bluez.adapterCalls().last(), QStringLiteral("StopDiscovery /org/bluez/hci0"));
    bluez.deviceAppears(QStringLiteral("22:22:22:22:22:22"), QStringLiteral("Late"));
    bluez.deviceSeenAgain(known, -50);
    settle();
    EXPECT_EQ(delegate.log.size(), 2) << "nothing is reported once the scan stopped";
    EXPECT_EQ(bluez.problems(), QStringList());
}

TEST_F(BluezBleCentralTest, WithoutAnAdapterAScanStartsNothing)
{
    central->scanForPeripherals();
    ASSERT_TRUE(runUntil([&] { return bluez.listings() == 1; }));
    settle();
    EXPECT_EQ(bluez.adapterCalls(), QStringList());
    central->stopScan();
    settle();
    EXPECT_EQ(bluez.adapterCalls(), QStringList()) << "no discovery to stop";
    EXPECT_EQ(bluez.problems(), QStringList());
}

TEST_F(BluezBleCentralTest, ALateDisconnectionOfADroppedControllerIsNotReported)
{
    central->connectPeripheral(kMouse);
    const QList<QLowEnergyController*> first = central->findChildren<QLowEnergyController*>();
    ASSERT_EQ(first.size(), 1);
    QPointer<QLowEnergyController> old = first.first();

    // Connecting again drops the first controller, which is deleted later
    // and may still say "disconnected" meanwhile: that is not the device's
    // new connection ending.
    central->connectPeripheral(kMouse);
    ASSERT_FALSE(old.isNull());
    delegate.log.clear();
    emit old->disconnected();
    EXPECT_EQ(delegate.log, QStringList());
}

} // namespace bluez_central_test
