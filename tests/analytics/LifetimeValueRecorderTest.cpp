// Lifetime value: the per-currency totals that purchases and refunds keep
// as "_ltv_" user properties, the amounts each kind of purchase event adds,
// what is refused, and the limit on tracked currencies.
#include "EngineTestFixture.h"

#include "analytics/base/APMError.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/reporters/APMLifetimeValueRecorder.h"
#include "analytics/model/APMEvent.h"
#include "analytics/model/APMUserAttribute.h"
#include "analytics/store/APMDatabase.h"
#include "fakes/TempHome.h"
#include "fakes/VirtualTime.h"

#include <gtest/gtest.h>

#include <limits>

namespace lifetime_value_test {

APMEvent lifetimeValueEvent(const QString& name, const QVariantMap& parameters, double timestamp)
{
    auto made = APMEvent::initWithOrigin(
        QStringLiteral("app"), false, name, timestamp, 0, parameters, EventParameterLimits());
    EXPECT_TRUE(made) << name.toStdString();
    return *made;
}

class LifetimeValueRecorderTest : public ::testing::Test {
protected:
    void SetUp() override { openDatabase(); }

    // A new, empty database (each case of a table gets its own).
    void openDatabase()
    {
        APMError error;
        database_ = APMDatabase::initWithDatabasePath(
            home_.path() + QStringLiteral("/ltv%1.sql").arg(++databases_), nullptr, &error);
        ASSERT_TRUE(database_) << error.description().toStdString();
        database_->setClock(&time_);
    }

    bool record(const QString& name, const QVariantMap& parameters, qint32 maxCurrencies = 4)
    {
        time_.advance(1);
        return APMLifetimeValueRecorder::recordLifetimeValueToDatabase(*database_,
            lifetimeValueEvent(name, parameters, time_.now()), maxCurrencies, time_.now(), APMMeasurement::monitor());
    }

    // Name → total of every stored lifetime value.
    QMap<QString, qint64> totals()
    {
        QMap<QString, qint64> result;
        const auto all = database_->allLifetimeValueUserAttributes(nullptr);
        EXPECT_TRUE(all.has_value());
        for (const APMUserAttribute& attribute : all.value_or(QList<APMUserAttribute>())) {
            EXPECT_EQ(attribute.origin(), QStringLiteral("auto"));
            EXPECT_TRUE(attribute.value().isInt64());
            result.insert(attribute.name(), attribute.value().int64Value());
        }
        return result;
    }

    fakes::TempHome home_;
    fakes::VirtualTime time_;
    int databases_ = 0;
    std::unique_ptr<APMDatabase> database_;
};

QVariantMap money(const QVariant& value, const QVariant& currency)
{
    return { { QStringLiteral("value"), value }, { QStringLiteral("currency"), currency } };
}

TEST_F(LifetimeValueRecorderTest, OneEventOnAnEmptyDatabase)
{
    const qint64 min = std::numeric_limits<qint64>::min();
    struct Case {
        const char* what;
        QString name;
        QVariantMap parameters;
        bool answer;
        QMap<QString, qint64> totals;
    };
    const QString usd = QStringLiteral("_ltv_USD");
    const QList<Case> cases {
        { "e-commerce value in units", QStringLiteral("purchase"), money(5.0, "USD"), true, { { usd, 5000000 } } },
        { "refund lowers, lower-case code", QStringLiteral("refund"), money(5.0, "usd"), true, { { usd, -5000000 } } },
        { "a tenth is exact in micros", QStringLiteral("ecommerce_purchase"), money(0.1, "EUR"), true,
            { { QStringLiteral("_ltv_EUR"), 100000 } } },
        { "an integer value in units", QStringLiteral("purchase"), money(qint64(3), "JPY"), true,
            { { QStringLiteral("_ltv_JPY"), 3000000 } } },
        { "half a micro rounds away from zero", QStringLiteral("refund"), money(0.0000015, "USD"), true,
            { { usd, -2 } } },
        { "in-app value already in micros", QStringLiteral("_iap"), money(qint64(1990000), "USD"), true,
            { { usd, 1990000 } } },
        { "in-app double value truncated", QStringLiteral("_iap"), money(1990000.9, "USD"), true,
            { { usd, 1990000 } } },
        { "two-letter code", QStringLiteral("purchase"), money(5.0, "US"), true, {} },
        { "code that is not text", QStringLiteral("purchase"), money(5.0, qint64(840)), true, {} },
        { "no currency", QStringLiteral("purchase"), { { QStringLiteral("value"), 5.0 } }, true, {} },
        { "text value", QStringLiteral("purchase"), money("5", "USD"), true, {} },
        { "no value", QStringLiteral("purchase"), { { QStringLiteral("currency"), "USD" } }, true, {} },
        { "not a purchase", QStringLiteral("tap"), money(5.0, "USD"), true, {} },
        { "1e13 units are out of bounds", QStringLiteral("purchase"), money(1e13, "USD"), false, {} },
        // -2^63 micros fit, but the refund would negate them past the top.
        { "refund of the smallest int64", QStringLiteral("refund"), money(double(min) / 1e6, "USD"), false, {} },
        { "in-app double past int64", QStringLiteral("_iap"), money(1e19, "USD"), false, {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        openDatabase();
        EXPECT_EQ(record(c.name, c.parameters), c.answer);
        EXPECT_EQ(totals(), c.totals);
    }
}

TEST_F(LifetimeValueRecorderTest, PurchasesAccumulateAndAWrappingTotalIsRefused)
{
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(record(QStringLiteral("purchase"), money(0.1, "USD")));
    ASSERT_TRUE(record(QStringLiteral("_iap"), money(qint64(250000), "USD")));
    ASSERT_TRUE(record(QStringLiteral("refund"), money(0.5, "USD")));
    EXPECT_EQ(totals().value(QStringLiteral("_ltv_USD")), 750000);

    // The total would pass the int64 top: refused, the old total stays.
    EXPECT_FALSE(record(QStringLiteral("_iap"), money(std::numeric_limits<qint64>::max(), "USD")));
    EXPECT_EQ(totals().value(QStringLiteral("_ltv_USD")), 750000);
}

TEST_F(LifetimeValueRecorderTest, ANewCurrencyPastTheLimitReplacesTheLeastRecentlyUpdated)
{
    for (const char* code : { "USD", "EUR", "GBP", "JPY" })
        ASSERT_TRUE(record(QStringLiteral("purchase"), money(1.0, code)));
    // A tracked currency never deletes; it also becomes the most recent.
    ASSERT_TRUE(record(QStringLiteral("purchase"), money(1.0, "USD")));
    EXPECT_EQ(totals().size(), 4);

    ASSERT_TRUE(record(QStringLiteral("purchase"), money(2.0, "CHF")));
    const QMap<QString, qint64> expected { { QStringLiteral("_ltv_USD"), 2000000 },
        { QStringLiteral("_ltv_GBP"), 1000000 }, { QStringLiteral("_ltv_JPY"), 1000000 },
        { QStringLiteral("_ltv_CHF"), 2000000 } };
    EXPECT_EQ(totals(), expected);

    // A lower limit from the configuration: one gives way per new currency.
    ASSERT_TRUE(record(QStringLiteral("purchase"), money(1.0, "SEK"), 2));
    EXPECT_EQ(totals().size(), 4);
    EXPECT_FALSE(totals().contains(QStringLiteral("_ltv_GBP")));
}

TEST(LifetimeValueEventKinds, PurchaseEventNames)
{
    const struct {
        const char* name;
        bool purchase;
        bool ecommerce;
    } cases[] = {
        { "_iap", true, false },
        { "purchase", true, true },
        { "ecommerce_purchase", true, true },
        { "refund", true, true },
        { "_iapx", false, false },
        { "purchase_refund", false, false },
        { "in_app_purchase", false, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const APMEvent event = lifetimeValueEvent(QString::fromLatin1(c.name), {}, 1);
        EXPECT_EQ(APMLifetimeValueRecorder::isPurchaseEvent(event), c.purchase);
        EXPECT_EQ(APMLifetimeValueRecorder::isEcommercePurchaseEvent(event), c.ecommerce);
    }
}

// Through the engine: the pipeline records the totals in the transaction
// that stores the event, and every later bundle carries them.
class LifetimeValueEngineTest : public engine_test::EngineFixture {
};

TEST_F(LifetimeValueEngineTest, BundlesCarryTheTotalsOfEachCurrency)
{
    start();
    logEvent(QStringLiteral("purchase"), money(2.5, "usd"));
    time_.advance(1);
    logEvent(QStringLiteral("purchase"), money(1.25, "EUR"));
    // The next hour's event makes a bundle of its own (and the hour lets an
    // upload fall due on the way).
    advance(3600);
    logEvent(QStringLiteral("refund"), money(0.5, "USD"));
    engine_->dispatchSyncOnWorkerQueue([&] {
        while (engine_->bundleRawEvents()) {
        }
        engine_->uploadData();
    });
    settle();
    QList<fakes::FakeCollectionServer::Bundle> bundles;
    for (const auto& batch : server_.batches())
        bundles.append(batch.bundles);
    ASSERT_EQ(bundles.size(), 3);
    EXPECT_EQ(bundles[0].userProperties.value(QStringLiteral("_ltv_USD")), QVariant(qint64(2500000)));
    EXPECT_FALSE(bundles[0].userProperties.contains(QStringLiteral("_ltv_EUR")));
    EXPECT_EQ(bundles[1].userProperties.value(QStringLiteral("_ltv_EUR")), QVariant(qint64(1250000)));
    EXPECT_EQ(bundles[2].userProperties.value(QStringLiteral("_ltv_USD")), QVariant(qint64(2000000)));
}

} // namespace lifetime_value_test
