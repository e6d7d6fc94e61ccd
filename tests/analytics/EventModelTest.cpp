#include "ValidatorLogRecorder.h"
#include "analytics/model/APMEvent.h"
#include "analytics/model/APMEventNames.h"
#include "analytics/base/APMValue.h"

#include <gtest/gtest.h>

namespace {

const double kModelNow = 1'700'000'000.5;

APMValue eventStr(const QString& s)
{
    return APMValue::initWithValueType(APMValue::String, s);
}

APMValue num(qint64 v)
{
    return APMValue::initWithInt64(v);
}

QVariant boxed(const APMValue& value)
{
    return QVariant::fromValue(value);
}

class EventModelTest : public ::testing::Test {
protected:
    ValidatorLogRecorder recorder;
    EventParameterLimits limits;

    APMEvent make(const QString& name, const QVariantMap& parameters = {}, bool isPublic = true,
        const QString& origin = QStringLiteral("app"))
    {
        std::optional<APMEvent> event
            = APMEvent::initWithOrigin(origin, isPublic, name, kModelNow, 0, parameters, limits);
        EXPECT_TRUE(event.has_value()) << qPrintable(name);
        return event.value_or(
            *APMEvent::initWithOrigin(QStringLiteral("app"), false, QStringLiteral("_x"), 0, 0, {}, limits));
    }
};

TEST_F(EventModelTest, OriginAndNameDecideWhetherAnEventIsMade)
{
    const struct {
        const char* origin;
        bool isPublic;
        QString name;
        bool made;
    } rows[] = {
        { "app", true, QStringLiteral("tap"), true },
        { "auto", false, QStringLiteral("_s"), true },
        { "app", true, QStringLiteral("_s"), false },
        { "app", true, QStringLiteral("session_start"), false },
        { "auto", false, QStringLiteral("session_start"), true },
        { "app", true, QString(41, QLatin1Char('n')), false },
        { "", false, QStringLiteral("_s"), false },
        { "a-b", false, QStringLiteral("_s"), false },
        { "crash+vtm", false, QStringLiteral("_s"), true },
        { "+vtm", false, QStringLiteral("_s"), false },
        { "app", false, QString(), false },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(qPrintable(QString::fromLatin1(row.origin) + QStringLiteral(" ") + row.name));
        const std::optional<APMEvent> event = APMEvent::initWithOrigin(
            QString::fromLatin1(row.origin), row.isPublic, row.name, kModelNow, 0, {}, limits);
        ASSERT_EQ(event.has_value(), row.made);
        if (event) {
            EXPECT_EQ(event->origin(), QString::fromLatin1(row.origin));
            EXPECT_EQ(event->parameters(), (EventParameters { { QStringLiteral("_o"), eventStr(row.origin) } }));
        }
    }
}

TEST_F(EventModelTest, ParametersAreCleanedAndCarryTheOrigin)
{
    const APMEvent event = make(QStringLiteral("tap"),
        { { QStringLiteral("count"), 3 }, { QStringLiteral("_o"), QStringLiteral("forged") },
            { QStringLiteral("label"), QStringLiteral("ok") } });
    EXPECT_EQ(event.parameters().value(QStringLiteral("count")), num(3));
    EXPECT_EQ(event.parameters().value(QStringLiteral("label")), eventStr(QStringLiteral("ok")));
    EXPECT_EQ(event.parameters().value(QStringLiteral("_o")), eventStr(QStringLiteral("app")));
    // The application may not set internal parameters; the first refusal is recorded.
    EXPECT_EQ(event.parameters().value(QStringLiteral("_err")), num(APMEventErrorCodeInvalidParameterName));
    EXPECT_EQ(event.parameters().value(QStringLiteral("_ev")), eventStr(QStringLiteral("_o")));
    EXPECT_EQ(event.timestamp(), kModelNow);
}

TEST_F(EventModelTest, PreviousTimestampAfterTimestampStillMakesAnEvent)
{
    const std::optional<APMEvent> event = APMEvent::initWithOrigin(
        QStringLiteral("app"), true, QStringLiteral("tap"), kModelNow, kModelNow + 5, {}, limits);
    ASSERT_TRUE(event.has_value());
    EXPECT_EQ(event->previousTimestamp(), kModelNow + 5);
}

TEST_F(EventModelTest, ConversionFlag)
{
    APMEvent plain = make(QStringLiteral("tap"));
    const EventParameters before = plain.parameters();
    plain.setConversion(false);
    EXPECT_EQ(plain.parameters(), before);

    plain.setConversion(true);
    EXPECT_TRUE(plain.isConversion());
    EXPECT_TRUE(plain.shouldValidateParams());
    plain.setConversion(false);
    EXPECT_FALSE(plain.isConversion());
    EXPECT_EQ(
        plain.parameters().value(QStringLiteral("_err")), num(APMEventErrorCodeConversionEventLimitReached));
    plain.setConversion(true);
    EXPECT_TRUE(plain.isConversion());
    EXPECT_FALSE(plain.parameters().contains(QStringLiteral("_err")));

    // An earlier error is not replaced by the limit.
    APMEvent refused = make(QStringLiteral("tap"), { { QStringLiteral("a-b"), 1 } });
    refused.setConversion(true);
    refused.setConversion(false);
    EXPECT_EQ(refused.parameters().value(QStringLiteral("_err")), num(APMEventErrorCodeInvalidParameterName));

    // A conversion must carry a valid value and currency.
    APMEvent noCurrency = make(QStringLiteral("tap"), { { QStringLiteral("value"), 3 } });
    noCurrency.setConversion(true);
    EXPECT_FALSE(noCurrency.isConversion());
    EXPECT_FALSE(noCurrency.parameters().contains(QStringLiteral("value")));
    EXPECT_EQ(noCurrency.parameters().value(QStringLiteral("_err")),
        num(APMEventErrorCodeCurrencyCodeIsMissingOrInvalid));
}

TEST_F(EventModelTest, AdImpressionValueIsChecked)
{
    const APMEvent bad = make(QStringLiteral("ad_impression"),
        { { QStringLiteral("value"), QStringLiteral("lots") }, { QStringLiteral("_c"), 1 } }, false,
        QStringLiteral("am"));
    EXPECT_FALSE(bad.parameters().contains(QStringLiteral("value")));
    EXPECT_FALSE(bad.isConversion());
    EXPECT_EQ(bad.parameters().value(QStringLiteral("_err")), num(APMEventErrorCodeValueIsNotNumeric));
    EXPECT_EQ(bad.parameters().value(QStringLiteral("_ev")), eventStr(QStringLiteral("value")));

    const APMEvent good = make(QStringLiteral("ad_impression"),
        { { QStringLiteral("value"), 0.25 }, { QStringLiteral("currency"), QStringLiteral("USD") } });
    EXPECT_EQ(good.parameters().value(QStringLiteral("value")), APMValue::initWithDouble(0.25));
    EXPECT_FALSE(good.parameters().contains(QStringLiteral("_err")));
}

TEST_F(EventModelTest, RealtimeAndDebugFlags)
{
    APMEvent event = make(QStringLiteral("tap"));
    EXPECT_FALSE(event.isRealtime());
    event.setRealtime(true);
    event.setDebug(true);
    EXPECT_TRUE(event.isRealtime());
    EXPECT_TRUE(event.isDebug());
    EXPECT_EQ(event.parameters().value(QStringLiteral("_r")), num(1));
    event.setRealtime(false);
    event.setDebug(false);
    EXPECT_FALSE(event.parameters().contains(QStringLiteral("_r")));
    EXPECT_FALSE(event.parameters().contains(QStringLiteral("_dbg")));

    const APMEvent textFlag
        = make(QStringLiteral("_e"), { { QStringLiteral("_r"), QStringLiteral("1") } }, false);
    EXPECT_FALSE(textFlag.isRealtime());
    const APMEvent two = make(QStringLiteral("_e"), { { QStringLiteral("_r"), 2 } }, false);
    EXPECT_FALSE(two.isRealtime());
}

TEST_F(EventModelTest, AppliedParametersNeverReplaceTheEventsOwn)
{
    APMEvent event = make(QStringLiteral("tap"), { { QStringLiteral("label"), QStringLiteral("mine") } });
    event.applyParameters({ { QStringLiteral("label"), QStringLiteral("default") },
        { QStringLiteral("theme"), QStringLiteral("dark") } });
    EXPECT_EQ(event.parameters().value(QStringLiteral("label")), eventStr(QStringLiteral("mine")));
    EXPECT_EQ(event.parameters().value(QStringLiteral("theme")), eventStr(QStringLiteral("dark")));
    EXPECT_EQ(event.parameters().value(QStringLiteral("_o")), eventStr(QStringLiteral("app")));

    // A refused default is described only when the event has no error of its own.
    APMEvent clean = make(QStringLiteral("tap"));
    clean.applyParameters({ { QStringLiteral("a-b"), 1 } });
    EXPECT_EQ(clean.parameters().value(QStringLiteral("_ev")), eventStr(QStringLiteral("a-b")));
    APMEvent refused = make(QStringLiteral("tap"), { { QStringLiteral("x-y"), 1 } });
    refused.applyParameters({ { QStringLiteral("a-b"), 1 }, { QStringLiteral("ok"), 2 } });
    EXPECT_EQ(refused.parameters().value(QStringLiteral("_ev")), eventStr(QStringLiteral("x-y")));
    EXPECT_EQ(refused.parameters().value(QStringLiteral("ok")), num(2));

    APMEvent untouched = make(QStringLiteral("tap"));
    const EventParameters before = untouched.parameters();
    untouched.applyParameters({});
    EXPECT_EQ(untouched.parameters(), before);
}

TEST_F(EventModelTest, ScreenParameters)
{
    const QString tooLong(101, QLatin1Char('s'));
    const struct {
        const char* what;
        QVariantMap screen;
        bool added;
        std::optional<qint64> log; // monitor code of a warning
    } rows[] = {
        { "nothing", {}, false, {} },
        { "no instance id", { { QStringLiteral("_sc"), QStringLiteral("Main") } }, false, {} },
        { "all three",
            { { QStringLiteral("_si"), 5 }, { QStringLiteral("_sc"), QStringLiteral("Main") },
                { QStringLiteral("_sn"), QStringLiteral("Home") } },
            true, {} },
        { "instance id alone", { { QStringLiteral("_si"), 5 } }, true, {} },
        { "values",
            { { QStringLiteral("_si"), boxed(num(5)) }, { QStringLiteral("_sc"), boxed(eventStr("Main")) } }, true,
            {} },
        { "long class", { { QStringLiteral("_si"), 5 }, { QStringLiteral("_sc"), tooLong } }, false, 16003 },
        { "empty name", { { QStringLiteral("_si"), 5 }, { QStringLiteral("_sn"), QString() } }, false,
            16004 },
        { "class that is a number", { { QStringLiteral("_si"), 5 }, { QStringLiteral("_sc"), 7 } }, false,
            {} },
        { "id that is text", { { QStringLiteral("_si"), QStringLiteral("5") } }, false, {} },
        { "id that is a double value", { { QStringLiteral("_si"), boxed(APMValue::initWithDouble(5)) } },
            false, {} },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        APMEvent event = make(QStringLiteral("tap"));
        const EventParameters before = event.parameters();
        recorder.clear();
        EXPECT_EQ(event.addScreenParameters(row.screen), row.added);
        if (row.log)
            EXPECT_TRUE(recorder.has(APMMonitor::kLevelWarning, *row.log));
        else
            EXPECT_TRUE(recorder.lines().empty());
        if (!row.added) {
            EXPECT_EQ(event.parameters(), before);
            continue;
        }
        EXPECT_EQ(event.parameters().value(QStringLiteral("_si")), num(5));
        for (const QString& key : { QStringLiteral("_sc"), QStringLiteral("_sn") }) {
            if (row.screen.contains(key))
                EXPECT_EQ(event.parameters().value(key), APMValue::valueFromObject(row.screen.value(key)));
            else
                EXPECT_FALSE(event.parameters().contains(key));
        }
    }

    APMEvent event = make(QStringLiteral("tap"));
    ASSERT_TRUE(event.addScreenParameters({ { QStringLiteral("_si"), 5 } }));
    EXPECT_FALSE(event.addScreenParameters({ { QStringLiteral("_si"), 6 } }));
    EXPECT_EQ(event.parameters().value(QStringLiteral("_si")), num(5));
}

TEST_F(EventModelTest, CopiesKeepOriginNameAndTimes)
{
    const APMEvent event = make(QStringLiteral("tap"), { { QStringLiteral("n"), 1 } });
    const APMEvent later = event.copyWithPreviousTimestamp(kModelNow - 60);
    EXPECT_EQ(later.previousTimestamp(), kModelNow - 60);
    EXPECT_EQ(later.timestamp(), kModelNow);
    EXPECT_EQ(later.name(), QStringLiteral("tap"));
    EXPECT_EQ(later.parameters(), event.parameters());

    const APMEvent replaced = event.copyWithParameters({ { QStringLiteral("m"), 2 } });
    EXPECT_EQ(replaced.parameters(),
        (EventParameters { { QStringLiteral("m"), num(2) }, { QStringLiteral("_o"), eventStr("app") } }));
    EXPECT_EQ(replaced.origin(), QStringLiteral("app"));
}

TEST_F(EventModelTest, EventFamilies)
{
    EXPECT_TRUE(APMIsErrorEvent(make(QStringLiteral("_err"), {}, false)));
    EXPECT_FALSE(APMIsErrorEvent(make(QStringLiteral("error"), {}, false)));

    const struct {
        QString name;
        QVariantMap parameters;
        bool subscription;
    } rows[] = {
        { QStringLiteral("_assc"), {}, true },
        { QStringLiteral("_assr"), {}, true },
        { QStringLiteral("_iap"), { { QStringLiteral("subscription"), 1 } }, true },
        { QStringLiteral("_iap"), { { QStringLiteral("subscription"), 0 } }, false },
        { QStringLiteral("_iap"), { { QStringLiteral("subscription"), QStringLiteral("1") } }, false },
        { QStringLiteral("_iap"), {}, false },
        { QStringLiteral("_asse"), {}, false },
    };
    for (const auto& row : rows)
        EXPECT_EQ(APMIsSubscriptionEvent(make(row.name, row.parameters, false)), row.subscription)
            << qPrintable(row.name);

    QVariantList items;
    for (int i = 0; i < 3; ++i)
        items << QVariantMap { { QStringLiteral("item_id"), i } };
    const APMEvent purchase = make(QStringLiteral("purchase"), { { QStringLiteral("items"), items } });
    EXPECT_EQ(APMEventArrayItemCount(&purchase), 3);
    EXPECT_EQ(APMEventArrayItemCount(nullptr), 0);
}

} // namespace
