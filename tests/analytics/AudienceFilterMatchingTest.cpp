// Filter matching of audience definitions: number filters on doubles (with
// their two-step tolerance for "equal") and on integers and numeric texts
// (exact decimals), string filters of every match type, the complement,
// and event and property filters with their "not evaluable" answers.

#include "AudienceTestSupport.h"
#include "ValidatorLogRecorder.h"
#include "analytics/audience/APMAudienceFilterMatching.h"
#include "analytics/base/APMValue.h"
#include "analytics/model/APMEventAggregates.h"
#include "analytics/model/APMUserAttribute.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace audience_test;

namespace audience_matching_test {

constexpr std::optional<bool> kNil = std::nullopt;

QString show(std::optional<bool> outcome)
{
    return outcome ? (*outcome ? QStringLiteral("YES") : QStringLiteral("NO")) : QStringLiteral("nil");
}

APMValue matchText(const QString& value)
{
    return *APMValue::initWithString(value);
}

struct DoubleCase {
    int type;
    QString value, min, max;
    double input;
    std::optional<bool> expected;
};

struct DecimalCase {
    int type;
    QString value, min, max;
    APMValue input;
    std::optional<bool> expected;
    const char* why;
};

struct StringCase {
    std::optional<int> type;
    QString expression;
    std::optional<bool> caseSensitive;
    QStringList list;
    QString input;
    std::optional<bool> expected;
};

APMEventAggregates aggregates(const QString& name, qint32 lifetime, qint32 session)
{
    return *APMEventAggregates::initWithName(name, lifetime, 0, session, 0);
}

} // namespace audience_matching_test

using namespace audience_matching_test;

TEST(AudienceFilterMatching, DoubleValuesCompareAsDoublesWithTwoStepsOfToleranceForEqual)
{
    const double five = 5.0;
    const double oneUp = std::nextafter(five, 10.0);
    const double twoUp = std::nextafter(oneUp, 10.0);
    const double oneDown = std::nextafter(five, 0.0);
    const double twoDown = std::nextafter(oneDown, 0.0);
    const DoubleCase cases[] = {
        { kComparisonEqual, "5", {}, {}, five, true },
        { kComparisonEqual, "5", {}, {}, oneUp, true },
        { kComparisonEqual, "5", {}, {}, twoUp, false },
        { kComparisonEqual, "5", {}, {}, oneDown, true },
        { kComparisonEqual, "5", {}, {}, twoDown, false },
        { kComparisonEqual, "+5.", {}, {}, five, true },
        { kComparisonEqual, "0.1", {}, {}, 0.1, true },
        { kComparisonLessThan, "5", {}, {}, 4.999, true },
        { kComparisonLessThan, "5", {}, {}, 5.0, false },
        { kComparisonGreaterThan, "-0.5", {}, {}, -0.25, true },
        { kComparisonGreaterThan, "-0.5", {}, {}, -0.5, false },
        { kComparisonBetween, {}, "1", "5", 5.0, true },
        { kComparisonBetween, {}, "1", "5", 1.0, true },
        { kComparisonBetween, {}, "1", "5", 0.999, false },
        { kComparisonBetween, {}, "5", "1", 3.0, false }, // minimum above maximum never matches
        { kComparisonEqual, "abc", {}, {}, five, kNil }, // not decimal text
        { kComparisonEqual, {}, {}, {}, five, kNil }, // no value
        { kComparisonBetween, {}, "1", {}, five, kNil }, // no maximum
        { kComparisonUnknown, "5", {}, {}, five, kNil },
        { 9, "5", {}, {}, five, kNil }, // a type this side does not know
    };
    for (const DoubleCase& c : cases) {
        const auto filter = numberFilter(c.type, c.value, c.min, c.max);
        EXPECT_EQ(show(evaluateDoubleNumberFilter(*filter, c.input)), show(c.expected))
            << "type " << c.type << " value " << qPrintable(c.value) << " [" << qPrintable(c.min) << ", "
            << qPrintable(c.max) << "] input " << c.input;
    }
}

TEST(AudienceFilterMatching, IntegersAndNumericTextsCompareAsExactDecimals)
{
    const DecimalCase cases[] = {
        { kComparisonEqual, "5.0", {}, {}, APMValue::initWithInt64(5), true, "integer against 5.0" },
        { kComparisonEqual, "9007199254740992", {}, {}, APMValue::initWithInt64(9007199254740993), false,
            "doubles would call these equal" },
        { kComparisonGreaterThan, "9223372036854775806", {}, {},
            APMValue::initWithInt64(std::numeric_limits<qint64>::max()), true, "largest integer" },
        { kComparisonLessThan, "-9223372036854775807", {}, {},
            APMValue::initWithInt64(std::numeric_limits<qint64>::min()), true, "smallest integer" },
        { kComparisonEqual, "0.3", {}, {}, matchText("0.30"), true, "text 0.30 is three tenths" },
        { kComparisonEqual, "0.3", {}, {}, matchText("0.30000000000000004"), false, "no binary rounding" },
        { kComparisonLessThan, "0.1000000000000000000001", {}, {}, matchText("0.1"), true,
            "one tenth is below, though both round to the same double" },
        { kComparisonGreaterThan, "4", {}, {}, matchText("5"), true, "numeric text" },
        { kComparisonBetween, {}, "-1.5", "+2", matchText("-1.5"), true, "ends included" },
        { kComparisonBetween, {}, "-1.5", "+2", matchText("2.0000000000000000001"), false,
            "just past the end" },
        { kComparisonEqual, "5", {}, {}, matchText("5a"), kNil, "not numeric text" },
        { kComparisonEqual, "12345678901234567890123456789012345678901234567890", {}, {},
            APMValue::initWithInt64(5), kNil, "a definition number that cannot be held exactly" },
        { kComparisonEqual, "5", {}, {}, matchText("5.0000000000000000000000000000000000000001"), kNil,
            "more digits than an exact decimal holds" },
        { kComparisonLessThan, "5.0000000000000000000000000000000000000001", {}, {}, matchText("5"), kNil,
            "nor may a definition number be rounded to one" },
    };
    for (const DecimalCase& c : cases) {
        const auto filter = valueFilter(nullptr, numberFilter(c.type, c.value, c.min, c.max).get());
        EXPECT_EQ(show(evaluateParameterFilter(*filter, c.input)), show(c.expected)) << c.why;
    }
}

TEST(AudienceFilterMatching, StringFiltersOfEveryMatchType)
{
    const StringCase cases[] = {
        { kMatchBeginsWith, "purchase", {}, {}, "Purchase_done", true },
        { kMatchBeginsWith, "purchase", true, {}, "Purchase_done", false },
        { kMatchBeginsWith, "done", {}, {}, "Purchase_done", false },
        { kMatchEndsWith, "DONE", {}, {}, "purchase_done", true },
        { kMatchEndsWith, "DONE", true, {}, "purchase_done", false },
        { kMatchEndsWith, "purchase_done!", {}, {}, "purchase_done", false },
        { kMatchContains, "CHASE", {}, {}, "purchase", true },
        { kMatchContains, "CHASE", true, {}, "purchase", false },
        { kMatchExact, "abc", {}, {}, "ABC", true },
        { kMatchExact, "abc", {}, {}, "ABCD", false },
        { kMatchExact, "abc", true, {}, "ABC", false },
        { kMatchExact, "", {}, {}, "", true },
        { kMatchInList, {}, {}, { "x", "ABC" }, "abc", true },
        { kMatchInList, {}, true, { "x", "ABC" }, "abc", false },
        { kMatchInList, {}, {}, { "x", "y" }, "abc", false },
        { kMatchRegularExpression, "b", {}, {}, "abc", true }, // not anchored
        { kMatchRegularExpression, "^b", {}, {}, "abc", false },
        { kMatchRegularExpression, "B", {}, {}, "abc", true },
        { kMatchRegularExpression, "B", true, {}, "abc", false },
        { kMatchRegularExpression, "[", {}, {}, "abc", kNil }, // does not compile
        { 9, "abc", {}, {}, "abc", false }, // an unknown type with an expression: NO, not nil
        { kMatchUnknown, "abc", {}, {}, "abc", kNil },
        { std::nullopt, "abc", {}, {}, "abc", kNil },
        { kMatchInList, {}, {}, {}, "abc", kNil }, // no list
        { kMatchBeginsWith, {}, {}, {}, "abc", kNil }, // no expression
    };
    for (const StringCase& c : cases) {
        const auto filter = stringFilter(c.type, c.expression, c.caseSensitive, c.list);
        EXPECT_EQ(show(evaluateStringFilter(*filter, c.input)), show(c.expected))
            << "type " << c.type.value_or(-1) << " expression " << qPrintable(c.expression) << " input "
            << qPrintable(c.input);
    }
}

TEST(AudienceFilterMatching, ARegularExpressionTheMatcherGivesUpOnIsNotEvaluableAndLogged)
{
    ValidatorLogRecorder log;
    log.clear(); // lines earlier tests left on the monitor's queue
    // Nested repetition makes the matcher try every split of the a's before
    // it can reach the "z" alternative.
    const auto filter = stringFilter(kMatchRegularExpression, "(a+)+c|z");
    const QString hostile = QString(30, QLatin1Char('a')) + QLatin1Char('z');
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round); // the second time the outcome is remembered
        EXPECT_EQ(show(evaluateStringFilter(*filter, hostile)), "nil");
        EXPECT_TRUE(log.hasOnly(APMMonitor::kLevelErrorMonitored, 9009));
        log.clear();
    }
    // The same expression still answers for values it can finish on.
    EXPECT_EQ(show(evaluateStringFilter(*filter, QStringLiteral("aaz"))), "YES");
    EXPECT_EQ(show(evaluateStringFilter(*filter, QStringLiteral("aab"))), "NO");
}

TEST(AudienceFilterMatching, ComplementInvertsAnAnswerAndLeavesNilAlone)
{
    const auto exactAbc = stringFilter(kMatchExact, "abc");
    const auto complemented = valueFilter(exactAbc.get(), nullptr, true);
    EXPECT_EQ(show(evaluateParameterFilter(*complemented, matchText("abc"))), "NO");
    EXPECT_EQ(show(evaluateParameterFilter(*complemented, matchText("xyz"))), "YES");
    EXPECT_EQ(show(evaluateParameterFilter(*complemented, APMValue::initWithInt64(1))), "nil");
}

TEST(AudienceFilterMatching, ValuesOfTheWrongKindAreNotEvaluableAndLogged)
{
    ValidatorLogRecorder log;
    const auto number = valueFilter(nullptr, numberFilter(kComparisonEqual, "5").get());
    EXPECT_EQ(show(evaluateParameterFilter(*number, APMValue::initWithDouble(std::nan("")))), "nil");
    EXPECT_TRUE(log.has(APMMonitor::kLevelWarning, 7002));
    log.clear();
    EXPECT_EQ(show(evaluateParameterFilter(
                  *number, APMValue::initWithDouble(std::numeric_limits<double>::infinity()))),
        "nil");
    EXPECT_TRUE(log.has(APMMonitor::kLevelWarning, 7002));
    log.clear();
    EXPECT_EQ(show(evaluateParameterFilter(*number, matchText("5a"))), "nil");
    EXPECT_TRUE(log.has(APMMonitor::kLevelWarning, 7001));
    log.clear();
    const auto string = valueFilter(stringFilter(kMatchExact, "5").get(), nullptr);
    EXPECT_EQ(show(evaluateParameterFilter(*string, APMValue::initWithInt64(5))), "nil");
    EXPECT_TRUE(log.has(APMMonitor::kLevelWarning, 7003));
    log.clear();
    const auto neither = valueFilter(nullptr, nullptr);
    EXPECT_EQ(show(evaluateParameterFilter(*neither, matchText("5"))), "nil");
    EXPECT_TRUE(log.has(APMMonitor::kLevelErrorMonitored, 7000));
}

TEST(AudienceFilterMatching, EventFilters)
{
    const QString name = QStringLiteral("purchase");
    const EventParameters parameters { { QStringLiteral("value"), APMValue::initWithInt64(20) },
        { QStringLiteral("currency"), matchText("EUR") }, { QStringLiteral("quantity"), matchText("5") } };
    const auto counts = aggregates(name, 5, 1);

    // No tests: every event of the name matches.
    EXPECT_EQ(show(evaluateEventFilter(eventFilter(1, name).get(), name, parameters, nullptr)), "YES");
    EXPECT_EQ(show(evaluateEventFilter(eventFilter(1, "other").get(), name, parameters, nullptr)), "nil");
    EXPECT_EQ(show(evaluateEventFilter(nullptr, name, parameters, nullptr)), "nil");
    EXPECT_EQ(show(evaluateEventFilter(eventFilter(1, name).get(), QString(), parameters, nullptr)), "nil");

    // The event count: the session count for a session-scoped filter.
    const auto moreThanTwo = numberFilter(kComparisonGreaterThan, "2");
    EXPECT_EQ(show(evaluateEventFilter(eventFilter(1, name, {}, moreThanTwo.get()).get(), name, parameters, &counts)),
        "YES");
    EXPECT_EQ(show(evaluateEventFilter(eventFilter(1, name, {}, moreThanTwo.get(), { .sessionScoped = true }).get(),
                  name, parameters, &counts)),
        "NO");
    const auto otherCounts = aggregates("other", 5, 5);
    EXPECT_EQ(show(evaluateEventFilter(
                  eventFilter(1, name, {}, moreThanTwo.get()).get(), name, parameters, &otherCounts)),
        "nil");

    // Parameters: the first that is not YES decides.
    auto twoParameters = [&](const QString& currency) {
        std::vector<std::unique_ptr<APMPBFilter>> list;
        list.push_back(numberOf("value", kComparisonBetween, {}, "10", "30"));
        list.push_back(stringOf("currency", kMatchExact, currency));
        return eventFilter(1, name, std::move(list));
    };
    EXPECT_EQ(show(evaluateEventFilter(twoParameters("eur").get(), name, parameters, nullptr)), "YES");
    EXPECT_EQ(show(evaluateEventFilter(twoParameters("usd").get(), name, parameters, nullptr)), "NO");

    ValidatorLogRecorder log;
    // A missing parameter is not a mismatch.
    EXPECT_EQ(show(evaluateEventFilter(
                  eventFilter(1, name, listOf(stringOf("coupon", kMatchExact, "x"))).get(), name, parameters, nullptr)),
        "nil");
    EXPECT_TRUE(log.has(APMMonitor::kLevelWarning, 7009));
    log.clear();
    // Numeric text in an event parameter is never compared with a number filter.
    EXPECT_EQ(show(evaluateEventFilter(eventFilter(1, name, listOf(numberOf("quantity", kComparisonGreaterThan, "4")))
                                           .get(),
                  name, parameters, nullptr)),
        "nil");
    EXPECT_TRUE(log.has(APMMonitor::kLevelWarning, 7010));
    log.clear();
    EXPECT_EQ(show(evaluateEventFilter(
                  eventFilter(1, name, listOf(numberOf(QString(), kComparisonGreaterThan, "4"))).get(), name,
                  parameters, nullptr)),
        "nil");
    EXPECT_TRUE(log.has(APMMonitor::kLevelErrorMonitored, 7008));
}

TEST(AudienceFilterMatching, PropertyFilters)
{
    const auto five = *APMUserAttribute::initWithOrigin("app", "level", matchText("5"), 100);
    const auto moreThanFour = valueFilter(nullptr, numberFilter(kComparisonGreaterThan, "4").get());
    // Numeric text of a user property is compared as a number.
    EXPECT_EQ(show(evaluatePropertyFilter(propertyFilter(1, "level", moreThanFour.get()).get(), &five)), "YES");
    EXPECT_EQ(show(evaluatePropertyFilter(propertyFilter(1, "other", moreThanFour.get()).get(), &five)), "nil");
    EXPECT_EQ(show(evaluatePropertyFilter(propertyFilter(1, "level", nullptr).get(), &five)), "nil");
    EXPECT_EQ(show(evaluatePropertyFilter(nullptr, &five)), "nil");
    EXPECT_EQ(show(evaluatePropertyFilter(propertyFilter(1, "level", moreThanFour.get()).get(), nullptr)), "nil");
    const auto mixed = *APMUserAttribute::initWithOrigin("app", "level", matchText("5a"), 100);
    EXPECT_EQ(show(evaluatePropertyFilter(propertyFilter(1, "level", moreThanFour.get()).get(), &mixed)), "nil");
}

TEST(AudienceFilterMatching, DefinitionChecksOfNumberAndStringFilters)
{
    EXPECT_TRUE(validateNumberFilter(*numberFilter(kComparisonEqual, "-12.5")));
    EXPECT_TRUE(validateNumberFilter(*numberFilter(kComparisonBetween, {}, "1", "2")));
    EXPECT_FALSE(validateNumberFilter(*numberFilter(std::nullopt, "1")));
    EXPECT_FALSE(validateNumberFilter(*numberFilter(kComparisonEqual, "1e5")));
    EXPECT_FALSE(validateNumberFilter(*numberFilter(kComparisonBetween, {}, "1", " 2")));
    std::optional<QRegularExpression> compiled;
    EXPECT_TRUE(validateStringFilter(*stringFilter(kMatchRegularExpression, "a+b"), &compiled));
    ASSERT_TRUE(compiled.has_value());
    EXPECT_TRUE(compiled->match("xaab").hasMatch());
    EXPECT_FALSE(validateStringFilter(*stringFilter(kMatchRegularExpression, "(")));
}
