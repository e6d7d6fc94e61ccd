// The engine's doors for the front end: events made elsewhere, listeners
// told of handled events, the user-property limit per origin, the session
// identifier and the first-open count.
#include "EngineTestFixture.h"
#include "ScriptedSession.h"

#include "analytics/base/APMValue.h"
#include "analytics/model/APMEvent.h"
#include "platform/GlobalQueue.h"

#include <QMutex>

using namespace engine_test;

namespace {

class EngineFrontEndDoorsTest : public EngineFixture { };

struct SessionAnswer {
    qint64 id = -1;
    std::optional<APMError> error;
};

} // namespace

TEST_F(EngineFrontEndDoorsTest, HandledEventsAreAnnouncedUnlessDisabledOrFromTheAdLibrary)
{
    QStringList announced;
    QMutex mutex;
    APMMeasurement::Environment e = environment();
    e.eventListeners = [&](const APMEvent& event) {
        QMutexLocker lock(&mutex);
        announced.append(event.name());
    };
    start(QString(), true, &e);
    struct Case {
        QString origin;
        QString name;
        bool enabled;
        bool ignoreEnabled;
        bool announced;
    };
    const QList<Case> cases {
        { QStringLiteral("app"), QStringLiteral("told"), true, false, true },
        { QStringLiteral("app"), QStringLiteral("while_disabled"), false, false, false },
        { QStringLiteral("app"), QStringLiteral("forced"), false, true, true },
        { QStringLiteral("am"), QStringLiteral("ad_event"), true, false, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        announced.clear();
        engine_->logEventWithOrigin(c.origin, true, c.name, {}, time_.now(), c.enabled, c.ignoreEnabled, false, nullptr, {});
        drain();
        EXPECT_EQ(announced.contains(c.name), c.announced);
    }

    // An event made elsewhere goes through the pipeline without being announced.
    announced.clear();
    const qint64 before = rowCount(APMDatabase::kRawEventsTable);
    engine_->logEvent(APMEvent::initWithOrigin(QStringLiteral("app"), true, QStringLiteral("made_elsewhere"), time_.now(),
        0, {}, APMMeasurement::remoteConfig()->eventParameterLimits()));
    engine_->logEvent(std::nullopt);
    drain();
    EXPECT_EQ(rowCount(APMDatabase::kRawEventsTable), before + 1);
    EXPECT_TRUE(announced.isEmpty());
}

TEST_F(EngineFrontEndDoorsTest, MaxUserPropertiesAndTheUserIDQuery)
{
    start();
    qint64 answer = -1;
    engine_->maxUserPropertiesForOrigin(QStringLiteral("crash"), [&answer](qint64 n) { answer = n; });
    engine_->maxUserPropertiesForOrigin(QString(), [&answer](qint64) { answer = -2; });
    engine_->maxUserPropertiesForOrigin(QStringLiteral("crash"), nullptr);
    platform::GlobalQueue::waitForDone();
    EXPECT_EQ(answer, 25);

    bool hasUserID = true;
    engine_->dispatchSyncOnWorkerQueue([&] { hasUserID = engine_->pipeline().hasUserPropertyUserIDOnWorkerQueue(); });
    EXPECT_FALSE(hasUserID);
    engine_->setUserAttribute(
        APMUserAttribute::initWithOrigin(QStringLiteral("app"), QStringLiteral("_id"), *APMValue::initWithString(QStringLiteral("u")), time_.now()));
    drain();
    engine_->dispatchSyncOnWorkerQueue([&] { hasUserID = engine_->pipeline().hasUserPropertyUserIDOnWorkerQueue(); });
    EXPECT_TRUE(hasUserID);
}

TEST_F(EngineFrontEndDoorsTest, SessionIDAnswersInTheirOrder)
{
    auto session = std::make_shared<session_test::ScriptedSession>();
    APMMeasurement::Environment e = environment();
    e.session = session;
    start(QString(), true, &e);
    const auto ask = [this] {
        SessionAnswer answer;
        engine_->sessionIDWithCompletion([&answer](qint64 id, const std::optional<APMError>& error) { answer = { id, error }; });
        drain();
        return answer;
    };
    const auto description = [](const SessionAnswer& answer) {
        return answer.error ? answer.error->localizedDescription() : QStringLiteral("(none)");
    };
    EXPECT_EQ(description(ask()), QStringLiteral("Session ID not found"));

    // A text where the identifier should be is no identifier.
    engine_->setUserAttribute(APMUserAttribute::initWithOrigin(
        QStringLiteral("auto"), QStringLiteral("_sid"), *APMValue::initWithString(QStringLiteral("12")), time_.now()));
    EXPECT_EQ(description(ask()), QStringLiteral("Session ID not found"));

    engine_->setUserAttribute(APMUserAttribute::initWithOrigin(
        QStringLiteral("auto"), QStringLiteral("_sid"), APMValue::initWithInt64(1700000042), time_.now()));
    SessionAnswer answer = ask();
    EXPECT_FALSE(answer.error.has_value());
    EXPECT_EQ(answer.id, 1700000042);

    session->expired = true;
    answer = ask();
    EXPECT_EQ(description(answer), QStringLiteral("Session expired"));
    EXPECT_EQ(answer.error->code(), 13);
    EXPECT_EQ(answer.id, 0);

    engine_->setEnabled(false);
    EXPECT_EQ(description(ask()), QStringLiteral("Analytics disabled"));

    // Work still queued when the engine goes is answered, not dropped: the
    // engine finishes its queue before it is gone.
    SessionAnswer late;
    engine_->dispatchSyncOnWorkerQueue([&] {
        engine_->sessionIDWithCompletion([&late](qint64 id, const std::optional<APMError>& error) { late = { id, error }; });
    });
    engine_.reset();
    EXPECT_EQ(description(late), QStringLiteral("Analytics disabled"));
}

TEST_F(EngineFrontEndDoorsTest, FirstOpenCountIsKeptAsANumberAndHandedOutAsText)
{
    start();
    EXPECT_TRUE(engine_->previousFirstOpenCount().isNull());
    struct Case {
        QString given;
        QString read;
    };
    const QList<Case> cases {
        { QStringLiteral("3"), QStringLiteral("3") },
        { QStringLiteral("9223372036854775807"), QStringLiteral("9223372036854775807") },
        { QStringLiteral("many"), QStringLiteral("0") }, // a text without a number counts as 0
        { QString(), QString() },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.given.toStdString());
        engine_->setPreviousFirstOpenCount(c.given);
        EXPECT_EQ(engine_->previousFirstOpenCount(), c.read);
        EXPECT_EQ(engine_->previousFirstOpenCount().isNull(), c.read.isNull());
    }
    engine_->setPreviousFirstOpenCount(QStringLiteral("4"));
    EXPECT_EQ(persisted_->previousFirstOpenCount(), QVariant(qint64(4)));
}

TEST_F(EngineFrontEndDoorsTest, AdNetworkRegistrationFollowsANumberOnly)
{
    const QString key = QStringLiteral("VIREO_ANALYTICS_REGISTRATION_WITH_AD_NETWORK_ENABLED");
    struct Case {
        const char* label;
        QVariant value;
        bool allowed;
    };
    const QList<Case> cases {
        { "absent", QVariant(), true },
        { "false", false, false },
        { "zero", 0, false },
        { "one", qint64(1), true },
        { "text is not a number", QStringLiteral("NO"), true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        QVariantMap info;
        if (c.value.isValid())
            info.insert(key, c.value);
        EXPECT_EQ(APMMeasurement::shouldAllowAdNetworkRegistrationWithInfoDictionary(info), c.allowed);
    }
}
