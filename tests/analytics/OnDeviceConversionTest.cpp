// On-device conversion measurement in the engine on virtual time: a scripted
// membership component supplies the query address of a local server.
#include "EngineTestFixture.h"
#include "ValidatorLogRecorder.h"

#include "analytics/base/APMPrivateSetMembershipClientClass.h"
#include "analytics/base/APMUserDataHashing.h"
#include "analytics/engine/APMOnDeviceConversion.h"
#include "analytics/engine/APMUploadScheduler.h"
#include "analytics/model/APMRawEventData.h"
#include "fakes/FakeHttpServer.h"

#include <QCryptographicHash>
#include <QMutex>
#include <QSet>

using namespace engine_test;

namespace {

using OdcInput = APMPrivateSetMembershipClient::InputType;

const QString kOdcPath = QStringLiteral("/psm");

// One attempt's client: its address carries the retry count; an answer's
// body (trimmed) is the match.
class OdcFakeClient final : public APMPrivateSetMembershipClient {
public:
    OdcFakeClient(qint32 type, QUrl base, std::optional<QString> debugKey, bool invalidURL)
        : type_(type)
        , base_(std::move(base))
        , debugKey_(std::move(debugKey))
        , invalidURL_(invalidURL)
    {
    }
    std::optional<QUrl> PSMRequestURLWithRetryCount(qint32 retryCount) override
    {
        if (invalidURL_)
            return std::nullopt;
        QUrl url = base_;
        url.setQuery(QStringLiteral("retry=%1").arg(retryCount));
        return url;
    }
    qint32 inputType() const override { return type_; }
    std::optional<QString> debugKey() const override { return debugKey_; }
    QString parsedPSMValueFromResponse(const QByteArray& body) override { return QString::fromUtf8(body).trimmed(); }

private:
    qint32 type_;
    QUrl base_;
    std::optional<QString> debugKey_;
    bool invalidURL_;
};

// The component as a script: which inputs it takes, and a record of every
// client made (kind, identifier, app ID, prefix length).
class OdcFakeClientClass final : public APMPrivateSetMembershipClientClass {
public:
    struct Made {
        qint32 type;
        QByteArray identifier;
        QString appID;
        qint32 prefixBitLength;
    };

    explicit OdcFakeClientClass(QUrl base)
        : base_(std::move(base))
    {
    }
    bool isAvailable() const override { return true; }
    bool supportsInputType(OdcInput type) const override
    {
        QMutexLocker lock(&mutex_);
        return supported_.contains(type);
    }
    std::unique_ptr<APMPrivateSetMembershipClient> clientWithIdentifier(
        OdcInput type, const QByteArray& identifier, const QString& appID, qint32 prefixBitLength) override
    {
        QMutexLocker lock(&mutex_);
        if (!supported_.contains(type))
            return nullptr;
        made_.append({ type, identifier, appID, prefixBitLength });
        return std::make_unique<OdcFakeClient>(type, base_, debugKey_, invalidURL_);
    }

    void setSupported(const QSet<qint32>& types)
    {
        QMutexLocker lock(&mutex_);
        supported_ = types;
    }
    void setInvalidURL(bool invalid)
    {
        QMutexLocker lock(&mutex_);
        invalidURL_ = invalid;
    }
    QList<Made> made() const
    {
        QMutexLocker lock(&mutex_);
        return made_;
    }

private:
    mutable QMutex mutex_;
    QUrl base_;
    QSet<qint32> supported_ { OdcInput::EmailAddress, OdcInput::PhoneNumber, OdcInput::HashedEmailAddress,
        OdcInput::HashedPhoneNumber };
    std::optional<QString> debugKey_;
    bool invalidURL_ = false;
    QList<Made> made_;
};

class OnDeviceConversionTest : public EngineFixture {
protected:
    APMMeasurement& startWithComponent(bool withComponent = true)
    {
        APMMeasurement::Environment e = environment();
        if (withComponent)
            e.PSMClientClass = component_;
        return start(QString(), true, &e);
    }

    void setUserData(const QVariantMap& data)
    {
        engine_->setUserData(data);
        drain();
        settle();
    }

    std::optional<APMUserAttribute> property(const QString& name)
    {
        std::optional<APMUserAttribute> found;
        engine_->dispatchSyncOnWorkerQueue([&] { found = engine_->database()->userAttributeWithName(name, nullptr); });
        return found;
    }

    qint64 count(const QString& name)
    {
        const std::optional<APMUserAttribute> stored = property(name);
        return stored && stored->value().isInt64() ? stored->value().int64Value() : 0;
    }

    // The raw events stored, by name, with whether they were real-time.
    QList<std::pair<QString, bool>> storedEvents()
    {
        QList<std::pair<QString, bool>> events;
        engine_->dispatchSyncOnWorkerQueue([&] {
            APMDatabase& database = *engine_->database();
            const auto rows = database.sqliteStore()->recordsForQuery(
                QStringLiteral("SELECT rowid, * FROM raw_events ORDER BY rowid"), {}, nullptr);
            for (const APMRow& row : rows.value_or(QList<APMRow>())) {
                if (const auto data = database.rawEventDataFromDictionary(row, nullptr))
                    events.append({ data->rawEvent().name(), row.value(QStringLiteral("is_realtime")).toLongLong() == 1 });
            }
        });
        return events;
    }

    QUrlQuery lastQuery() const { return psmServer_.requests().last().query(); }

    fakes::FakeHttpServer psmServer_;
    std::shared_ptr<OdcFakeClientClass> component_ = std::make_shared<OdcFakeClientClass>(psmServer_.url(kOdcPath));
};

QByteArray odcSha256(const QByteArray& text)
{
    return QCryptographicHash::hash(text, QCryptographicHash::Sha256);
}

TEST_F(OnDeviceConversionTest, MatchIsStoredAsPropertyAndReportedInRealTime)
{
    startWithComponent();
    psmServer_.enqueue("GET", kOdcPath, fakes::FakeHttpServer::Reply::text("match-42\n"));
    setUserData({ { APMOnDeviceConversion::kUserDataEmailAddressKey, QStringLiteral("  Jane.Doe@Example.com ") } });

    // The component gets the digest of the normalised address, never the address.
    const QList<OdcFakeClientClass::Made> made = component_->made();
    ASSERT_EQ(made.size(), 1);
    EXPECT_EQ(made[0].type, OdcInput::EmailAddress);
    EXPECT_EQ(made[0].identifier.toHex(), QByteArray("86e0b9e56c17cc4d12387e1949b85053fbe73bc3ce5a1188713a9d300cc6133d"));
    EXPECT_EQ(made[0].appID, identity_->appID()); // the identity's application identifier
    EXPECT_EQ(made[0].prefixBitLength, 14);

    ASSERT_EQ(psmServer_.requestCount(), 1);
    const QUrlQuery query = lastQuery();
    EXPECT_EQ(query.queryItemValue(QStringLiteral("retry")), QStringLiteral("0"));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("psm_count")), QStringLiteral("0"));
    // The first open (here the engine's start) rounded down to the minute, plus a minute.
    EXPECT_EQ(query.queryItemValue(QStringLiteral("timestamp_first_open")), QStringLiteral("1700000040"));
    EXPECT_FALSE(query.hasQueryItem(QStringLiteral("debug_psm_key")));

    const std::optional<APMUserAttribute> value = property(QStringLiteral("_psmvalue"));
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->value().stringValue(), QStringLiteral("match-42"));
    EXPECT_EQ(value->origin(), QStringLiteral("auto"));
    EXPECT_EQ(count(QStringLiteral("_psmcount")), 1);
    EXPECT_TRUE(storedEvents().contains(std::make_pair(QStringLiteral("_fx"), true)));
    EXPECT_FALSE(engine_->conversion().isPSMRequestInProgress());
    EXPECT_FALSE(engine_->conversion().hasPSMClient());

    // A stored match refuses every later attempt.
    ValidatorLogRecorder recorder;
    setUserData({ { APMOnDeviceConversion::kUserDataPhoneNumberKey, QStringLiteral("+1 650 555 1234") } });
    EXPECT_TRUE(recorder.has(APMMonitor::kLevelErrorMonitored, 23237));
    EXPECT_EQ(psmServer_.requestCount(), 1);
}

TEST_F(OnDeviceConversionTest, EachKindOfInputKeepsItsOwnCount)
{
    struct Case {
        QVariantMap data;
        qint32 type;
        QByteArray identifierHex;
        const char* queryKey;
        const char* countProperty;
    };
    const QByteArray given = odcSha256("already hashed");
    const QList<Case> cases {
        // With both, only the address is used.
        { { { APMOnDeviceConversion::kUserDataEmailAddressKey, QStringLiteral("Jane.Doe@example.com") },
              { APMOnDeviceConversion::kUserDataPhoneNumberKey, QStringLiteral("+1 650 555 1234") } },
            OdcInput::EmailAddress, "86e0b9e56c17cc4d12387e1949b85053fbe73bc3ce5a1188713a9d300cc6133d", "psm_count",
            "_psmcount" },
        { { { APMOnDeviceConversion::kUserDataPhoneNumberKey, QStringLiteral("+1 (650) 555-1234") } }, OdcInput::PhoneNumber,
            "a2996076d3ad4af5dc818b908b3d8e354f26ededf7df0e0aa6ac354143805ee0", "psm_phone_count", "_psmcountph" },
        { { { APMOnDeviceConversion::kUserDataHashedEmailAddressKey, given } }, OdcInput::HashedEmailAddress, given.toHex(),
            "psm_count", "_psmcounth" },
        { { { APMOnDeviceConversion::kUserDataHashedPhoneNumberKey, given } }, OdcInput::HashedPhoneNumber, given.toHex(),
            "psm_phone_count", "_psmcounthph" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.countProperty);
        for (qint64 round = 0; round < 2; ++round) {
            startWithComponent(); // a new run: the per-run start limit does not interfere
            const int before = psmServer_.requestCount();
            psmServer_.enqueue("GET", kOdcPath, fakes::FakeHttpServer::Reply::text("", 204));
            setUserData(c.data);
            ASSERT_EQ(psmServer_.requestCount(), before + 1);
            EXPECT_EQ(component_->made().last().type, c.type);
            EXPECT_EQ(component_->made().last().identifier.toHex(), c.identifierHex);
            // The count sent is the one stored before this request.
            EXPECT_EQ(lastQuery().queryItemValue(QString::fromLatin1(c.queryKey)), QString::number(round));
            EXPECT_EQ(count(QString::fromLatin1(c.countProperty)), round + 1);
            EXPECT_FALSE(property(QStringLiteral("_psmvalue")).has_value());
            EXPECT_FALSE(engine_->conversion().hasPSMClient()); // no match: released until new user data
        }
    }
}

TEST_F(OnDeviceConversionTest, RefusedAttemptsSendNothing)
{
    struct Case {
        const char* what;
        std::function<void()> arrange;
        QVariantMap data;
        qint64 code;
    };
    const auto email = [](const QString& address) { return QVariantMap { { APMOnDeviceConversion::kUserDataEmailAddressKey, address } }; };
    const QList<Case> cases {
        { "no component", [this] { startWithComponent(false); }, email(QStringLiteral("a@b.c")), 23233 },
        { "empty address", nullptr, email(QString()), 23234 },
        { "blank address", nullptr, email(QStringLiteral(" \t ")), 23234 },
        { "number without digits", nullptr, { { APMOnDeviceConversion::kUserDataPhoneNumberKey, QStringLiteral("n/a") } }, 23239 },
        { "phone not supported",
            [this] {
                component_->setSupported({ OdcInput::EmailAddress });
                startWithComponent();
            },
            { { APMOnDeviceConversion::kUserDataPhoneNumberKey, QStringLiteral("+16505551234") } }, 23262 },
        { "empty digest", nullptr, { { APMOnDeviceConversion::kUserDataHashedEmailAddressKey, QByteArray() } }, 23264 },
        { "hashed not supported",
            [this] {
                component_->setSupported({ OdcInput::EmailAddress, OdcInput::PhoneNumber });
                startWithComponent();
            },
            { { APMOnDeviceConversion::kUserDataHashedPhoneNumberKey, odcSha256("x") } }, 23265 },
        { "outside the first-open window",
            [this] {
                persisted_->setFirstOpenTimestampMilliseconds(qint64((time_.now() - 61 * 86400.0) * 1000));
                startWithComponent();
            },
            email(QStringLiteral("a@b.c")), 23261 },
        { "first open in the future beyond the window",
            [this] {
                persisted_->setFirstOpenTimestampMilliseconds(qint64((time_.now() + 61 * 86400.0) * 1000));
                startWithComponent();
            },
            email(QStringLiteral("a@b.c")), 23261 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        component_->setSupported({ OdcInput::EmailAddress, OdcInput::PhoneNumber, OdcInput::HashedEmailAddress,
            OdcInput::HashedPhoneNumber });
        persisted_->setFirstOpenTimestampMilliseconds(0);
        if (c.arrange)
            c.arrange();
        else
            startWithComponent();
        const int before = psmServer_.requestCount();
        ValidatorLogRecorder recorder;
        setUserData(c.data);
        EXPECT_TRUE(recorder.has(APMMonitor::kLevelErrorMonitored, c.code));
        EXPECT_EQ(psmServer_.requestCount(), before);
        EXPECT_FALSE(engine_->conversion().hasPSMClient());
    }
}

TEST_F(OnDeviceConversionTest, AttemptsPerRunAreLimited)
{
    startWithComponent();
    for (int i = 0; i < 3; ++i)
        psmServer_.enqueue("GET", kOdcPath, fakes::FakeHttpServer::Reply::text("", 200));
    for (int i = 0; i < 3; ++i)
        setUserData({ { APMOnDeviceConversion::kUserDataEmailAddressKey, QStringLiteral("a@b.c") } });
    EXPECT_EQ(psmServer_.requestCount(), 3);
    ValidatorLogRecorder recorder;
    setUserData({ { APMOnDeviceConversion::kUserDataEmailAddressKey, QStringLiteral("a@b.c") } });
    EXPECT_TRUE(recorder.has(APMMonitor::kLevelErrorMonitored, 23236));
    EXPECT_EQ(psmServer_.requestCount(), 3);
}

TEST_F(OnDeviceConversionTest, FailedQueriesAreRetriedWithDoublingDelaysUpToTheLimit)
{
    startWithComponent();
    rcfg::ConfigBuilder builder;
    builder.setting(QStringLiteral("measurement.psm_retry_interval"), QStringLiteral("60000"));
    ASSERT_TRUE(configure(builder));
    psmServer_.on("GET", kOdcPath, fakes::FakeHttpServer::Reply::text("busy", 500));
    ValidatorLogRecorder recorder;
    setUserData({ { APMOnDeviceConversion::kUserDataEmailAddressKey, QStringLiteral("a@b.c") } });
    ASSERT_EQ(psmServer_.requestCount(), 1);

    for (const double delay : { 60.0, 120.0, 240.0, 480.0 }) {
        SCOPED_TRACE(delay);
        std::optional<double> due;
        engine_->dispatchSyncOnWorkerQueue([&] {
            ASSERT_NE(engine_->conversion().PSMRetryAlarm(), nullptr);
            EXPECT_EQ(engine_->conversion().PSMRetryAlarm()->name(), QStringLiteral("On-device conversion measurement timer"));
            due = engine_->conversion().PSMRetryAlarm()->scheduledTimestamp();
        });
        ASSERT_TRUE(due.has_value());
        EXPECT_DOUBLE_EQ(*due - time_.now(), delay);
        const int before = psmServer_.requestCount();
        advance(delay - 1);
        EXPECT_EQ(psmServer_.requestCount(), before);
        advance(1);
        EXPECT_EQ(psmServer_.requestCount(), before + 1);
        // Each retry carries its number and the count so far.
        EXPECT_EQ(lastQuery().queryItemValue(QStringLiteral("retry")), QString::number(before));
        EXPECT_EQ(lastQuery().queryItemValue(QStringLiteral("psm_count")), QString::number(before));
    }
    // The fifth failure reaches the limit of five: nothing more is scheduled.
    EXPECT_TRUE(recorder.has(APMMonitor::kLevelWarningMonitored, 23231));
    std::optional<double> due;
    engine_->dispatchSyncOnWorkerQueue([&] { due = engine_->conversion().PSMRetryAlarm()->scheduledTimestamp(); });
    EXPECT_FALSE(due.has_value());
    advance(3600);
    EXPECT_EQ(psmServer_.requestCount(), 5);
    EXPECT_EQ(count(QStringLiteral("_psmcount")), 5);
    // The client is kept, but the retry check refuses it until new user data.
    EXPECT_TRUE(engine_->conversion().hasPSMClient());
}

TEST_F(OnDeviceConversionTest, NotModifiedIsReadLikeAnAnswer)
{
    startWithComponent();
    psmServer_.enqueue("GET", kOdcPath, fakes::FakeHttpServer::Reply::text("", 304));
    ValidatorLogRecorder recorder;
    setUserData({ { APMOnDeviceConversion::kUserDataEmailAddressKey, QStringLiteral("a@b.c") } });
    EXPECT_TRUE(recorder.has(APMMonitor::kLevelDebug, 23230));
    EXPECT_FALSE(recorder.has(APMMonitor::kLevelErrorMonitored, 23228));
    EXPECT_EQ(engine_->conversion().PSMRetryAlarm(), nullptr);
    EXPECT_FALSE(engine_->conversion().hasPSMClient());
}

TEST_F(OnDeviceConversionTest, QueryWaitsForAnUploadInFlight)
{
    startWithComponent();
    psmServer_.enqueue("GET", kOdcPath, fakes::FakeHttpServer::Reply::text("late-match"));
    logEvent(QStringLiteral("level_up"));
    drain();
    time_.advance(15); // the upload starts; its reply is not handled yet
    drain();
    ASSERT_TRUE(engine_->uploads().isNetworkRequestPending());

    ValidatorLogRecorder recorder;
    engine_->setUserData({ { APMOnDeviceConversion::kUserDataEmailAddressKey, QStringLiteral("a@b.c") } });
    drain();
    EXPECT_TRUE(recorder.has(APMMonitor::kLevelDebug, 23232));
    EXPECT_TRUE(engine_->conversion().isPSMRequestPostponed());
    EXPECT_EQ(psmServer_.requestCount(), 0);

    settle(); // the upload finishes, then the query goes out
    EXPECT_EQ(server_.requestCount(), 1);
    EXPECT_EQ(psmServer_.requestCount(), 1);
    EXPECT_FALSE(engine_->conversion().isPSMRequestPostponed());
    const std::optional<APMUserAttribute> value = property(QStringLiteral("_psmvalue"));
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->value().stringValue(), QStringLiteral("late-match"));
}

TEST_F(OnDeviceConversionTest, AnInvalidAddressIsReportedAndNothingIsSent)
{
    component_->setInvalidURL(true);
    startWithComponent();
    ValidatorLogRecorder recorder;
    setUserData({ { APMOnDeviceConversion::kUserDataEmailAddressKey, QStringLiteral("a@b.c") } });
    EXPECT_TRUE(recorder.has(APMMonitor::kLevelErrorMonitored, 23227));
    EXPECT_EQ(psmServer_.requestCount(), 0);
}

TEST_F(OnDeviceConversionTest, PlainAddressesAndNumbersNeverReachTheLogOrTheNetwork)
{
    APMMonitor& monitor = ValidatorLogRecorder::useTestHome();
    monitor.setVerboseLoggingEnabled(true);
    monitor.monitoringDataForDispatchWithSamplePeriod(-1e9, 0); // start with an empty sampled record
    ValidatorLogRecorder recorder;
    startWithComponent();
    psmServer_.on("GET", kOdcPath, fakes::FakeHttpServer::Reply::text("oops", 500));
    // Accepted, refused and failing attempts alike.
    setUserData({ { APMOnDeviceConversion::kUserDataEmailAddressKey, QStringLiteral("Secret.Person@Example.com") },
        { APMOnDeviceConversion::kUserDataPhoneNumberKey, QStringLiteral("+1 (650) 555-9876") } });
    setUserData({ { APMOnDeviceConversion::kUserDataEmailAddressKey, QStringLiteral("Secret.Person@Example.com") } });
    setUserData({ { APMOnDeviceConversion::kUserDataPhoneNumberKey, QStringLiteral("+1 (650) 555-9876") } });
    advance(7200);
    const QString sampled = monitor.monitoringDataForDispatchWithSamplePeriod(-1e9, 0);
    monitor.setVerboseLoggingEnabled(false);

    const std::vector<RecordedLine> lines = recorder.lines();
    ASSERT_FALSE(lines.empty());
    QString everything = sampled;
    for (const RecordedLine& line : lines)
        everything += line.message + QLatin1Char('\n');
    for (const auto& request : psmServer_.requests())
        everything += QString::fromUtf8(request.target) + QString::fromUtf8(request.body);
    EXPECT_GT(psmServer_.requestCount(), 1);
    for (const QString& secret : { QStringLiteral("secret"), QStringLiteral("person"), QStringLiteral("5559876"),
             QStringLiteral("555-9876"), QStringLiteral("16505559876") })
        EXPECT_FALSE(everything.contains(secret, Qt::CaseInsensitive)) << secret.toStdString();
}

TEST_F(OnDeviceConversionTest, AMatchExpiresAfterNinetyDaysAtStart)
{
    for (const double age : { 89.0, 90.0 }) {
        SCOPED_TRACE(age);
        startWithComponent();
        engine_->dispatchSyncOnWorkerQueue([&] {
            const double then = time_.now() - age * 86400;
            for (const auto& [name, value] : { std::pair { QStringLiteral("_psmvalue"), QVariant(QStringLiteral("m")) },
                     std::pair { QStringLiteral("_psmcount"), QVariant(qint64(2)) },
                     std::pair { QStringLiteral("_psmcountph"), QVariant(qint64(1)) } }) {
                const auto attribute = APMUserAttribute::initWithOrigin(
                    QStringLiteral("auto"), name, *APMValue::valueFromObject(value), then);
                ASSERT_TRUE(attribute.has_value());
                engine_->setUserAttributeOnWorkerQueue(*attribute);
            }
        });
        startWithComponent();
        const bool kept = age < 90;
        EXPECT_EQ(property(QStringLiteral("_psmvalue")).has_value(), kept);
        EXPECT_EQ(property(QStringLiteral("_psmcount")).has_value(), kept);
        EXPECT_EQ(property(QStringLiteral("_psmcountph")).has_value(), kept);
        engine_->dispatchSyncOnWorkerQueue([&] {
            for (const QString& name : { QStringLiteral("_psmvalue"), QStringLiteral("_psmcount"), QStringLiteral("_psmcountph") })
                engine_->database()->deleteUserAttributeWithName(name, nullptr);
        });
    }
}

} // namespace
