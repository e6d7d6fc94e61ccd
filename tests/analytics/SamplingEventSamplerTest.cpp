// Event sampling through the engine: which events of a bundle reach the
// collection server for the configured rates and scripted rolls, the marks
// they carry, and the sampling state the events table keeps from bundle to
// bundle and day to day.
#include "EngineTestFixture.h"

#include "analytics/engine/APMRateEventSampler.h"
#include "analytics/model/APMEventAggregates.h"

#include <deque>

using namespace engine_test;

namespace sampling_test {

const QString kSampledName = QStringLiteral("tap");
const QString kPlainName = QStringLiteral("open");
// 2023-11-14 22:13:20 UTC, where the virtual clock starts: the UTC day ends
// 6400 s later, the clock hour 800 s later.
constexpr double kSecondsToMidnight = 6400;

// The kept events as the server saw them: name, "_sr" and "_efs" (0 when absent).
struct SampledEvent {
    QString name;
    qint64 rate = 0;
    qint64 exempt = 0;
    bool operator==(const SampledEvent&) const = default;
};

void PrintTo(const SampledEvent& e, std::ostream* os)
{
    *os << e.name.toStdString() << " _sr=" << e.rate << " _efs=" << e.exempt;
}

class SamplingEngineFixture : public EngineFixture {
protected:
    // The engine with a sampler whose rolls come from `rolls_`.
    void startSampling()
    {
        APMMeasurement::Environment e = environment();
        APMRateEventSampler::Sources sources;
        sources.database = [this] { return engine_->database(); };
        sources.remoteConfig = [this] { return engine_->remoteConfigInstance(); };
        sources.monitor = &APMMeasurement::monitor();
        sources.randomBelow = [this](quint32 bound) {
            bounds_.push_back(bound);
            if (rolls_.empty()) {
                ADD_FAILURE() << "an unscripted roll";
                return quint32(0);
            }
            const quint32 roll = rolls_.front();
            rolls_.pop_front();
            return roll;
        };
        e.sampler = std::make_shared<APMRateEventSampler>(std::move(sources));
        start(QString(), true, &e);
    }

    bool configureSampling(bool on, std::optional<qint32> rate, qint32 offsetMinutes = 0)
    {
        rcfg::ConfigBuilder builder;
        builder.setting(QStringLiteral("measurement.event_sampling_enabled"), on ? QStringLiteral("1") : QStringLiteral("0"));
        builder.setting(QStringLiteral("measurement.account.time_zone_offset_minutes"), QString::number(offsetMinutes));
        if (rate) {
            builder.eventConfig(kSampledName, std::nullopt, std::nullopt, *rate);
            builder.eventConfig(QStringLiteral("_cev"), std::nullopt, std::nullopt, *rate);
        }
        return configure(builder);
    }

    void bundleAndUpload()
    {
        engine_->dispatchSyncOnWorkerQueue([&] {
            while (engine_->bundleRawEvents()) {
            }
            engine_->uploadData();
        });
        settle();
    }

    QList<SampledEvent> uploaded() const
    {
        QList<SampledEvent> events;
        for (const auto& event : server_.acceptedEvents()) {
            events.append({ event.name, event.parameters.value(QStringLiteral("_sr")).toLongLong(),
                event.parameters.value(QStringLiteral("_efs")).toLongLong() });
        }
        return events;
    }

    APMEventAggregates row(const QString& name)
    {
        std::optional<APMEventAggregates> found;
        engine_->dispatchSyncOnWorkerQueue([&] { found = engine_->database()->eventAggregatesWithName(name, nullptr); });
        EXPECT_TRUE(found.has_value()) << name.toStdString();
        return found.value_or(*APMEventAggregates::initWithName(name, 0, 0, 0, 0));
    }

    qint32 today(qint32 offsetMinutes = 0) const
    {
        return qint32(std::floor((time_.now() + offsetMinutes * 60.0) / 86400.0));
    }

    std::deque<quint32> rolls_;
    std::vector<quint32> bounds_;
};

// ---- One bundle, from an empty events table -------------------------------------

struct OneBundleCase {
    const char* what;
    bool samplingOn;
    std::optional<qint32> rate;
    std::vector<quint32> rolls; // 0 wins
    QList<QVariantMap> taps; // extra parameters of each "tap"; an "open" comes between the first two
    QList<SampledEvent> expected;
};

void PrintTo(const OneBundleCase& c, std::ostream* os)
{
    *os << c.what;
}

class SamplingOneBundleTest : public SamplingEngineFixture, public ::testing::WithParamInterface<OneBundleCase> {
};

TEST_P(SamplingOneBundleTest, KeptEventsAndTheirMarks)
{
    const OneBundleCase& c = GetParam();
    startSampling();
    ASSERT_TRUE(configureSampling(c.samplingOn, c.rate));
    rolls_.assign(c.rolls.begin(), c.rolls.end());
    for (int i = 0; i < c.taps.size(); ++i) {
        logEvent(kSampledName, c.taps[i]);
        if (i == 0)
            logEvent(kPlainName);
    }
    bundleAndUpload();
    EXPECT_EQ(uploaded(), c.expected);
    EXPECT_TRUE(rolls_.empty()) << "rolls left over";
    for (quint32 bound : bounds_)
        EXPECT_EQ(bound, quint32(c.rate.value_or(0)));
}

const SampledEvent kOpen { kPlainName, 0, 0 };
const SampledEvent kTapUnmarked { kSampledName, 0, 0 };
const SampledEvent kTapSampled { kSampledName, 10, 0 };
const SampledEvent kTapExempt { kSampledName, 10, 1 };

INSTANTIATE_TEST_SUITE_P(Rates, SamplingOneBundleTest,
    ::testing::Values(
        OneBundleCase { "sampling off: all kept unmarked, no roll", false, 10, {}, { {}, {}, {} },
            { kTapUnmarked, kOpen, kTapUnmarked, kTapUnmarked } },
        OneBundleCase { "rate 1 is no sampling", true, 1, {}, { {}, {} }, { kTapUnmarked, kOpen, kTapUnmarked } },
        OneBundleCase { "a rate out of range reads as 1", true, 70000, {}, { {} }, { kTapUnmarked, kOpen } },
        OneBundleCase { "no rate for the name", true, std::nullopt, {}, { {}, {} }, { kTapUnmarked, kOpen, kTapUnmarked } },
        OneBundleCase { "the day's first loser is exempt, later losers dropped", true, 10, { 3, 9, 0 }, { {}, {}, {} },
            { kTapExempt, kOpen, kTapSampled } },
        OneBundleCase { "winners carry the rate", true, 10, { 0, 0 }, { {}, {} }, { kTapSampled, kOpen, kTapSampled } }),
    [](const ::testing::TestParamInfo<OneBundleCase>& info) { return "case" + std::to_string(info.index); });

// ---- State across bundles and days ---------------------------------------------

class SamplingAcrossBundlesTest : public SamplingEngineFixture {
};

TEST_F(SamplingAcrossBundlesTest, BundledDayPreviousTimeComplexEventAndAccountTimeZone)
{
    startSampling();
    // Bundled while sampling is off: the row keeps no bundled day.
    ASSERT_TRUE(configureSampling(false, 10));
    logEvent(kSampledName);
    bundleAndUpload();
    EXPECT_EQ(row(kSampledName).lastBundledDay(), 0);

    // Sampling on: with no bundled day, the previous time (today) decides, so
    // a loser is dropped, not exempt; a bundle of losers only is no bundle.
    ASSERT_TRUE(configureSampling(true, 10));
    time_.advance(60);
    rolls_ = { 5 };
    logEvent(kSampledName);
    const qint64 queued = rowCount(APMDatabase::kQueueTable);
    bundleAndUpload();
    EXPECT_EQ(rowCount(APMDatabase::kQueueTable), queued);
    EXPECT_EQ(rowCount(APMDatabase::kRawEventsTable), 0);
    EXPECT_EQ(row(kSampledName).lastSamplingRate(), 10);

    // A dropped complex event is remembered by its id until a winner comes;
    // a winner that carries a rate of its own keeps it.
    time_.advance(60);
    rolls_ = { 4, 4 };
    logEvent(QStringLiteral("_cev"), {}, false); // first of its name: exempt
    logEvent(QStringLiteral("_cev"), { { QStringLiteral("_eid"), qint64(77) } }, false);
    bundleAndUpload();
    EXPECT_EQ(row(QStringLiteral("_cev")).lastSampledComplexEventID(), std::optional<qint64>(77));
    rolls_ = { 0 };
    logEvent(QStringLiteral("_cev"), { { QStringLiteral("_sr"), qint64(3) } }, false);
    bundleAndUpload();
    EXPECT_EQ(row(QStringLiteral("_cev")).lastSampledComplexEventID(), std::nullopt);

    // Before UTC midnight, but past midnight of an account an hour ahead:
    // a new account day, so the first loser is exempt again.
    ASSERT_TRUE(configureSampling(true, 10, 60));
    time_.advance(kSecondsToMidnight - 240 - 30);
    rolls_ = { 8, 8 };
    logEvent(kSampledName);
    logEvent(kSampledName);
    bundleAndUpload();
    const APMEventAggregates tap = row(kSampledName);
    EXPECT_EQ(tap.lastBundledDay(), today(60));
    EXPECT_NE(tap.lastBundledDay(), today());
    EXPECT_TRUE(tap.lastExemptFromSampling());
    EXPECT_DOUBLE_EQ(tap.lastBundledTimestamp(), time_.now());

    const SampledEvent cevExempt { QStringLiteral("_cev"), 10, 1 };
    const SampledEvent cevSampled { QStringLiteral("_cev"), 3, 0 };
    const QList<SampledEvent> expected { kTapUnmarked, cevExempt, cevSampled, kTapExempt };
    EXPECT_EQ(uploaded(), expected);
    EXPECT_TRUE(rolls_.empty());
}

} // namespace sampling_test
