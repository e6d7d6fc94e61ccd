// The public interface: the configured checks (on-device conversion too), what it forwards regardless,
// the start through the platform registry with the installation id, and the
// whole road from a host program's calls to the collection server.
#include "FrontEndTestFixture.h"
#include "ValidatorLogRecorder.h"

#include "analytics/base/APMClassRegistry.h"
#include "analytics/interface/BASAMeasurement.h"
#include "analytics/interface/BASAnalytics.h"
#include "analytics/interface/BASApp.h"
#include "analytics/interface/BASCompatibility.h"
#include "analytics/interface/BASInstallations.h"

#include <type_traits>

using namespace front_end_test;

namespace {

// An installations service that answers from a script and counts the questions.
class ScriptedInstallations final : public BASInstallations {
public:
    void installationIDWithCompletion(Completion completion) override
    {
        ++asked;
        completion(id, error);
    }
    QString id;
    std::optional<APMError> error;
    int asked = 0;
};

class PublicInterfaceTest : public FrontEndFixture {
protected:
    PublicInterfaceTest()
    {
        BASApp::resetForTesting();
        BASAnalytics::load();
    }
    ~PublicInterfaceTest() override
    {
        BASAnalytics::resetForTesting();
        BASApp::resetForTesting();
        BASInstallations::setShared(nullptr);
    }

    static BASApp::Options hostOptions()
    {
        BASApp::Options options;
        options.vireoAppID = kFrontEndAppID;
        return options;
    }
};

} // namespace

TEST_F(PublicInterfaceTest, BeforeTheRegistryIsConfiguredEventsAndPropertiesAreRefused)
{
    ValidatorLogRecorder recorder;
    BASAnalytics::logEventWithName(QStringLiteral("too_early"), {});
    EXPECT_TRUE(recorder.has(APMMonitor::kLevelWarning, 25018));
    BASAnalytics::setUserPropertyString(QStringLiteral("v"), QStringLiteral("early_property"));
    EXPECT_TRUE(recorder.has(APMMonitor::kLevelWarning, 25019));
    // These two have no such check and reach the front end.
    BASAnalytics::setUserID(QStringLiteral("user-7"));
    BASAnalytics::setConsent({ { APMConsentSettingsUtil::kAdStorage, QStringLiteral("denied") } });
    EXPECT_EQ(APMAnalytics::persistedConsentSource(), 10);
    EXPECT_TRUE(APMAnalytics::consentSettings3P().has_value());

    listen();
    start();
    const QVariantMap properties = userProperties();
    EXPECT_EQ(properties.value(QStringLiteral("_id")), QVariant(QStringLiteral("user-7")));
    EXPECT_FALSE(properties.contains(QStringLiteral("early_property")));
    EXPECT_FALSE(heardNames().contains(QStringLiteral("too_early")));
}

// Callers that know the older names reach the very same classes and shared
// instances.
TEST_F(PublicInterfaceTest, CompatibilityNamesReachTheSameClasses)
{
    static_assert(std::is_same_v<BASAConditionalUserProperty, APMConditionalUserProperty>);
    static_assert(std::is_same_v<BASAConditionalUserPropertyController, APMConditionalUserPropertyController>);
    static_assert(std::is_same_v<BASAEvent, APMEvent>);
    EXPECT_EQ(&BASAScreenViewReporter::sharedInstance(), &APMScreenViewReporter::sharedInstance());
    EXPECT_EQ(&BASAAdExposureReporter::sharedInstance(), &APMAdExposureReporter::sharedInstance());
    EXPECT_EQ(&BASAIdentifiers::sharedInstance(), &APMIdentifiers::sharedInstance());

    const std::optional<BASAValue> value = BASAValue::initWithString(QStringLiteral("gold"));
    ASSERT_TRUE(value);
    const std::optional<BASAUserAttribute> attribute
        = BASAUserAttribute::initWithOrigin(QStringLiteral("app"), QStringLiteral("tier"), *value, 1);
    ASSERT_TRUE(attribute);
    const APMUserAttribute& plain = *attribute;
    EXPECT_EQ(plain.value().stringValue(), QStringLiteral("gold"));
}

TEST_F(PublicInterfaceTest, StartThroughTheRegistryPassesTheOptionsAndTheInstallationID)
{
    ScriptedInstallations installations;
    installations.id = QStringLiteral("installation-1");
    BASInstallations::setShared(&installations);
    BASApp::Options options = hostOptions();
    options.isAnalyticsCollectionEnabled = false;
    BASApp::configure(options);
    BASAnalytics::startWithConfiguration(QVariant(), BASApp::defaultAppOptions());
    drain();
    ASSERT_TRUE(APMMeasurement::hasSharedInstance());
    EXPECT_EQ(BASAMeasurement::sharedInstance(), APMMeasurement::sharedInstance());
    EXPECT_EQ(APMMeasurement::sharedInstance()->appID(), kFrontEndAppID);
    EXPECT_FALSE(APMAnalytics::isEnabled());
    EXPECT_EQ(APMMeasurement::monitor().logTag(), BASAnalytics::kLogTag);
    EXPECT_EQ(identity_->basaltInstallationID(), QStringLiteral("installation-1"));
    EXPECT_EQ(installations.asked, 1);

    // A change is asked about again, once however often observing began.
    BASAnalytics::observeBasaltInstallationIDChanges();
    installations.id = QStringLiteral("installation-2");
    platform::NotificationCenter::defaultCenter().post(BASInstallations::kIDDidChangeNotification);
    EXPECT_EQ(installations.asked, 2);
    EXPECT_EQ(identity_->basaltInstallationID(), QStringLiteral("installation-2"));

    // A failure without an identifier is logged and stores none.
    ValidatorLogRecorder recorder;
    installations.id = QString();
    installations.error = APMError::apm_errorWithCode(1, QStringLiteral("offline"));
    BASAnalytics::updateBasaltInstallationID();
    EXPECT_TRUE(recorder.has(APMMonitor::kLevelWarningMonitored, 25038));
    EXPECT_TRUE(identity_->basaltInstallationID().isNull());
}

TEST_F(PublicInterfaceTest, WithoutAnInstallationsServiceTheIdentifierIsNone)
{
    identity_->setBasaltInstallationID(QStringLiteral("stale"));
    BASApp::configure(hostOptions());
    BASAnalytics::startWithConfiguration(QVariant(), BASApp::defaultAppOptions());
    drain();
    EXPECT_TRUE(identity_->basaltInstallationID().isNull());
    EXPECT_EQ(BASAnalytics::topLevelVersion(), QStringLiteral("10.27.0"));
}

TEST_F(PublicInterfaceTest, AHostProgramsEventsAndUserPropertyReachTheCollectionServer)
{
    BASApp::configure(hostOptions());
    BASAnalytics::logEventWithName(QStringLiteral("before_start"), { { QStringLiteral("step"), 1 } });
    BASAnalytics::startWithConfiguration(QStringLiteral("host-configuration"), BASApp::defaultAppOptions());
    BASAnalytics::setUserPropertyString(QStringLiteral("large"), QStringLiteral("mouse_size"));
    BASAnalytics::logEventWithName(QStringLiteral("dictation_started"), { { QStringLiteral("language"), QStringLiteral("de") } });
    BASAnalytics::sharedInstance().logLibraryInternalEventWithOrigin(QStringLiteral("biam"), QStringLiteral("_biam_shown"), {});
    drain();

    advance(15); // the first upload waits that long
    ASSERT_GE(server_.requestCount(), 1);
    const QList<fakes::FakeCollectionServer::Batch> batches = server_.batches();
    ASSERT_FALSE(batches.isEmpty());
    EXPECT_TRUE(batches[0].problems.isEmpty()) << batches[0].problems.join(QStringLiteral("; ")).toStdString();
    QStringList names;
    for (const auto& event : server_.acceptedEvents())
        names.append(event.name);
    EXPECT_EQ(names.indexOf(QStringLiteral("before_start")) < names.indexOf(QStringLiteral("dictation_started")), true);
    EXPECT_TRUE(names.contains(QStringLiteral("before_start")));
    EXPECT_TRUE(names.contains(QStringLiteral("dictation_started")));
    EXPECT_TRUE(names.contains(QStringLiteral("_biam_shown")));
    const auto& bundle = batches.last().bundles.last();
    EXPECT_EQ(bundle.appID, identity_->appID()); // the application identifier
    EXPECT_EQ(bundle.vireoAppID, kFrontEndAppID);
    EXPECT_EQ(bundle.userProperties.value(QStringLiteral("mouse_size")), QVariant(QStringLiteral("large")));
    for (const auto& event : server_.acceptedEvents()) {
        if (event.name == QStringLiteral("dictation_started")) {
            EXPECT_EQ(event.parameters.value(QStringLiteral("language")), QVariant(QStringLiteral("de")));
        }
    }
}

// (Screen views and their parameters on later events are shown at the
// server by the session tests, with a screen-view reporter of their own.)
TEST_F(PublicInterfaceTest, AHostProgramsEventsArriveWithTheAutomaticOnes)
{
    reportsLifecycleAtStart_ = true;
    BASApp::configure(hostOptions());
    BASAnalytics::startWithConfiguration(QStringLiteral("host-configuration"), BASApp::defaultAppOptions());
    BASAnalytics::logEventWithName(QStringLiteral("dictation_started"), {});
    drain();

    advance(15); // the first upload waits that long
    drain();
    QStringList names;
    for (const auto& event : server_.acceptedEvents())
        names.append(event.name);
    // First open and the session it starts, beside the host's own event.
    EXPECT_TRUE(names.contains(QStringLiteral("_f"))) << names.join(',').toStdString();
    EXPECT_TRUE(names.contains(QStringLiteral("_s"))) << names.join(',').toStdString();
    EXPECT_TRUE(names.contains(QStringLiteral("dictation_started"))) << names.join(',').toStdString();
    EXPECT_EQ(names.count(QStringLiteral("_f")), 1);
}

TEST_F(PublicInterfaceTest, TheRegistryKeepsLibrariesAndItsDefaultApp)
{
    EXPECT_FALSE(BASApp::isDefaultAppConfigured());
    EXPECT_TRUE(BASApp::defaultAppOptions().vireoAppID.isEmpty());
    BASApp::registerInternalLibrary(QStringLiteral("basalt-analytics"), QStringLiteral("10.27.0"));
    BASApp::registerInternalLibrary(QString(), QStringLiteral("1"));
    EXPECT_EQ(BASApp::registeredLibraries(),
        (QMap<QString, QString> { { QStringLiteral("basalt-analytics"), QStringLiteral("10.27.0") } }));
    BASApp::configure(hostOptions());
    EXPECT_TRUE(BASApp::isDefaultAppConfigured());
    EXPECT_EQ(BASApp::defaultAppOptions().vireoAppID, kFrontEndAppID);
}

// Whether the engine took up user data: it refuses each attempt with a line
// of its own (no on-device conversion component here, or an empty value of
// the kind named).
static bool publicInterfaceEngineTried(ValidatorLogRecorder& console)
{
    for (const qint64 code : { 23233, 23234, 23239, 23264 }) {
        if (console.has(APMMonitor::kLevelErrorMonitored, code))
            return true;
    }
    return false;
}

TEST_F(PublicInterfaceTest, OnDeviceConversionEntriesAreRefusedUntilConfiguredAndThenReachTheEngine)
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
    BASApp::configure(hostOptions());
    BASAnalytics::startWithConfiguration(QVariant(), BASApp::defaultAppOptions());
    advance(1);
    ASSERT_TRUE(APMAnalytics::isEnabled());
    // Nothing refused earlier was held for later.
    EXPECT_FALSE(publicInterfaceEngineTried(console));

    for (const Entry& entry : entries) {
        console.clear();
        entry.call();
        advance(1);
        EXPECT_TRUE(console.has(APMMonitor::kLevelErrorMonitored, entry.engineCode)) << entry.label;
        EXPECT_FALSE(console.has(APMMonitor::kLevelWarning, entry.refusalCode)) << entry.label;
    }
}

// The interface is linked into the program, so it counts as present from
// load time, before any start: an ad library's start is deferred to it and
// the engine reports its version.
TEST_F(PublicInterfaceTest, TheInterfaceCountsAsLinkedFromLoadTime)
{
    BASAnalytics::resetForTesting();
    EXPECT_FALSE(APMClassRegistry::classExists(BASAnalytics::kClassName));
    BASAnalytics::load();
    EXPECT_TRUE(APMClassRegistry::classExists(BASAnalytics::kClassName));
    EXPECT_EQ(APMClassRegistry::classVersion(BASAnalytics::kClassName), BASAnalytics::kTopLevelVersion);

    APMAnalytics::Environment e = frontEndEnvironment();
    e.classExists = &APMClassRegistry::classExists;
    APMAnalytics::resetForTesting(e);
    APMAnalytics::startWithAppID(kFrontEndAppID, APMAnalytics::kAdOrigin, {});
    drain();
    EXPECT_TRUE(loggedCodes().contains(25026));
    EXPECT_FALSE(APMAnalytics::hasStarted());
}
