// The public interface's on-device conversion entries: refused with their
// own warning until the platform registry is configured, handed to the
// engine afterwards (empty values included).
#include "FrontEndTestFixture.h"
#include "ValidatorLogRecorder.h"

#include "analytics/interface/BASAnalytics.h"
#include "analytics/interface/BASApp.h"
#include "analytics/interface/BASInstallations.h"

using namespace front_end_test;

namespace public_interface_conversion_test {

class PublicInterfaceConversionTest : public FrontEndFixture {
protected:
    PublicInterfaceConversionTest() { BASApp::resetForTesting(); }
    ~PublicInterfaceConversionTest() override
    {
        BASAnalytics::resetForTesting();
        BASApp::resetForTesting();
        BASInstallations::setShared(nullptr);
    }

    // Whether the engine took up user data: it refuses each attempt with a
    // line of its own (no on-device conversion component here, or an empty
    // value of the kind named).
    static bool engineTried(ValidatorLogRecorder& console)
    {
        for (const qint64 code : { 23233, 23234, 23239, 23264 }) {
            if (console.has(APMMonitor::kLevelErrorMonitored, code))
                return true;
        }
        return false;
    }
};

TEST_F(PublicInterfaceConversionTest, EachEntryIsRefusedUntilConfiguredAndThenReachesTheEngine)
{
    struct Entry {
        const char* label;
        qint64 refusalCode;
        // How the engine answers it: missing component, or an empty value.
        qint64 engineCode;
        std::function<void()> call;
    };
    const std::vector<Entry> entries = {
        { "email address", 25051, 23233,
            [] { BASAnalytics::initiateOnDeviceConversionMeasurementWithEmailAddress(QStringLiteral("a@b.example")); } },
        { "empty email address", 25051, 23234,
            [] { BASAnalytics::initiateOnDeviceConversionMeasurementWithEmailAddress(QString()); } },
        { "phone number", 25052, 23233,
            [] { BASAnalytics::initiateOnDeviceConversionMeasurementWithPhoneNumber(QStringLiteral("+15550100")); } },
        { "hashed email address", 25053, 23233,
            [] { BASAnalytics::initiateOnDeviceConversionMeasurementWithHashedEmailAddress(QByteArray(32, 'e')); } },
        { "empty hashed phone number", 25054, 23264,
            [] { BASAnalytics::initiateOnDeviceConversionMeasurementWithHashedPhoneNumber(QByteArray()); } },
    };

    ValidatorLogRecorder console;
    for (const Entry& entry : entries) {
        console.clear();
        entry.call();
        EXPECT_TRUE(console.has(APMMonitor::kLevelWarning, entry.refusalCode)) << entry.label;
    }
    BASApp::Options options;
    options.vireoAppID = kFrontEndAppID;
    BASApp::configure(options);
    BASAnalytics::startWithConfiguration(QVariant(), BASApp::defaultAppOptions());
    advance(1);
    ASSERT_TRUE(APMAnalytics::isEnabled());
    // Nothing refused earlier was held for later.
    EXPECT_FALSE(engineTried(console));

    for (const Entry& entry : entries) {
        console.clear();
        entry.call();
        advance(1);
        EXPECT_TRUE(console.has(APMMonitor::kLevelErrorMonitored, entry.engineCode)) << entry.label;
        EXPECT_FALSE(console.has(APMMonitor::kLevelWarning, entry.refusalCode)) << entry.label;
    }
}

} // namespace public_interface_conversion_test
