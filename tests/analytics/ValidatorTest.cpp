#include "ValidatorLogRecorder.h"
#include "analytics/model/APMDataTypeValidator.h"
#include "analytics/base/APMValue.h"

#include <functional>
#include <gtest/gtest.h>
#include <optional>

namespace {

using V = APMDataTypeValidator;

QString repeated(const QString& unit, int count)
{
    return unit.repeated(count);
}

const QString kValidatorEmoji = QString::fromUcs4(U"\U0001F600"); // one code point, two UTF-16 units
const QString kWideLetter = QString::fromUcs4(U"\U00020000"); // a CJK letter outside the BMP

QVariant text(const QString& s)
{
    return QVariant::fromValue(APMValue::initWithValueType(APMValue::String, s));
}

QVariant integer(qint64 v)
{
    return QVariant::fromValue(APMValue::initWithInt64(v));
}

QVariant real(double v)
{
    return QVariant::fromValue(APMValue::initWithDouble(v));
}

QVariant array(int count)
{
    QVariantList items;
    for (int i = 0; i < count; ++i)
        items << QVariantMap { { QStringLiteral("item_id"), i } };
    return QVariant::fromValue(APMValue::initWithValueType(APMValue::Array, items));
}

struct Log {
    qint64 level;
    qint64 code;
};

struct ValidatorCase {
    const char* what;
    std::function<bool(qint64*)> check;
    bool valid;
    qint64 failureCode;
    std::optional<Log> log; // the one line written; none when nothing is written
};

std::function<bool(qint64*)> publicEventName(const QVariant& name)
{
    return [name](qint64* code) { return V::isValidPublicEventName(name, code); };
}

std::function<bool(qint64*)> internalEventName(const QVariant& name)
{
    return [name](qint64* code) { return V::isValidInternalEventName(name, code); };
}

std::function<bool(qint64*)> publicValue(const QVariant& value, EventParameterLimits limits = {})
{
    return [value, limits](qint64* code) { return V::isValidPublicEventParameterValue(value, limits, code); };
}

std::function<bool(qint64*)> internalValue(const QVariant& value, EventParameterLimits limits = {})
{
    return
        [value, limits](qint64* code) { return V::isValidInternalEventParameterValue(value, limits, code); };
}

std::function<bool(qint64*)> arrayParam(const QString& event, const QString& name, qint64 count, bool nested)
{
    return [=](qint64* code) { return V::isValidArrayParamForEvent(event, name, count, nested, code); };
}

constexpr qint64 kError = APMMonitor::kLevelError;
constexpr qint64 kWarning = APMMonitor::kLevelWarning;

EventParameterLimits publicLimit(qint64 length)
{
    EventParameterLimits limits;
    limits.maxPublicEventParameterValueLength = length;
    return limits;
}

std::vector<ValidatorCase> cases()
{
    const QString a40 = repeated(QStringLiteral("a"), 40);
    const QString a41 = repeated(QStringLiteral("a"), 41);
    return {
        // Event names: length in code points, letters of any script.
        { "40 letters", publicEventName(a40), true, V::Valid, {} },
        { "41 letters", publicEventName(a41), false, V::TooLong, Log { kError, 13000 } },
        { "40 letters outside the BMP (80 UTF-16 units)", publicEventName(repeated(kWideLetter, 40)), true,
            V::Valid, {} },
        { "41 letters outside the BMP", publicEventName(repeated(kWideLetter, 41)), false, V::TooLong,
            Log { kError, 13000 } },
        { "emoji are not letters", publicEventName(repeated(kValidatorEmoji, 40)), false, V::BadCharacters,
            Log { kError, 13002 } },
        { "accented letters", publicEventName(QStringLiteral("caf\u00e9_2")), true, V::Valid, {} },
        { "combining mark", publicEventName(QStringLiteral("cafe\u0301")), false, V::BadCharacters,
            Log { kError, 13002 } },
        { "digits of another script", publicEventName(QStringLiteral("a\u0663")), true, V::Valid, {} },
        { "screen_view is public though reserved", publicEventName(QStringLiteral("screen_view")), true,
            V::Valid, {} },
        { "ad_impression may be logged", publicEventName(QStringLiteral("ad_impression")), true, V::Valid,
            {} },
        { "session_start is reserved", publicEventName(QStringLiteral("session_start")), false, V::Reserved,
            Log { kError, 13006 } },
        { "basalt_ prefix", publicEventName(QStringLiteral("basalt_x")), false, V::Reserved,
            Log { kError, 13007 } },
        { "vireo_ prefix", publicEventName(QStringLiteral("vireo_x")), false, V::Reserved,
            Log { kError, 13007 } },
        { "va_ prefix", publicEventName(QStringLiteral("va_x")), false, V::Reserved, Log { kError, 13007 } },
        { "public name starting with a digit", publicEventName(QStringLiteral("1abc")), false,
            V::BadCharacters, Log { kError, 13003 } },
        { "public name starting with _", publicEventName(QStringLiteral("_abc")), false, V::BadCharacters,
            Log { kError, 13003 } },
        { "hyphen", publicEventName(QStringLiteral("a-b")), false, V::BadCharacters, Log { kError, 13002 } },
        { "empty public name", publicEventName(QString()), false, V::Missing, Log { kError, 13001 } },
        { "nil public name", publicEventName(QVariant()), false, V::Missing, Log { kError, 13001 } },
        { "number as a name", publicEventName(42), false, V::WrongType, Log { kError, 13000 } },
        { "internal name starting with a digit", internalEventName(QStringLiteral("1abc")), true, V::Valid,
            {} },
        { "internal name starting with _", internalEventName(QStringLiteral("_abc")), true, V::Valid, {} },
        { "internal name with a hyphen", internalEventName(QStringLiteral("a-b")), false, V::BadCharacters,
            Log { kError, 13002 } },
        { "41 letters internal", internalEventName(a41), false, V::TooLong, Log { kError, 13000 } },

        // Origins.
        { "internal origin",
            [](qint64* c) { return V::isValidInternalEventOrigin(QStringLiteral("app"), c); }, true, V::Valid,
            {} },
        { "33-letter origin",
            [](qint64* c) { return V::isValidInternalEventOrigin(QString(33, QLatin1Char('o')), c); }, false,
            V::TooLong, Log { kError, 13000 } },
        { "forwarded origin",
            [](qint64* c) { return V::isValidForwardedEventOrigin(QStringLiteral("abc+vtm"), c); }, true,
            V::Valid, {} },
        { "forwarded origin without suffix",
            [](qint64* c) { return V::isValidForwardedEventOrigin(QStringLiteral("abc"), c); }, false,
            V::NoForwardedSuffix, {} },
        { "empty forwarded origin", [](qint64* c) { return V::isValidForwardedEventOrigin(QString(), c); },
            false, V::Missing, {} },
        { "suffix alone", [](qint64* c) { return V::isValidForwardedEventOrigin(QStringLiteral("+vtm"), c); },
            false, V::Missing, Log { kError, 13001 } },
        { "forwarded origin with a hyphen",
            [](qint64* c) { return V::isValidForwardedEventOrigin(QStringLiteral("a-b+vtm"), c); }, false,
            V::BadCharacters, Log { kError, 13002 } },

        // Parameter names.
        { "public parameter name",
            [](qint64* c) { return V::isValidPublicEventParameterName(QStringLiteral("value"), c); }, true,
            V::Valid, {} },
        { "reserved parameter prefix",
            [](qint64* c) { return V::isValidPublicEventParameterName(QStringLiteral("va_x"), c); }, false,
            V::Reserved, Log { kError, 13008 } },
        { "public parameter name with _",
            [](qint64* c) { return V::isValidPublicEventParameterName(QStringLiteral("_o"), c); }, false,
            V::BadCharacters, Log { kError, 13003 } },
        { "internal parameter name",
            [](qint64* c) { return V::isValidInternalEventParameterName(QStringLiteral("_o"), c); }, true,
            V::Valid, {} },

        // Parameter values: warnings, lengths in code points, empty allowed.
        { "100 code points", publicValue(text(repeated(kValidatorEmoji, 100))), true, V::Valid, {} },
        { "101 code points", publicValue(text(repeated(kValidatorEmoji, 101))), false, V::TooLong,
            Log { kWarning, 13000 } },
        { "configured public limit", publicValue(text(repeated(QStringLiteral("x"), 300)), publicLimit(300)),
            true, V::Valid, {} },
        { "empty value", publicValue(text(QString())), true, V::Valid, {} },
        { "integer value", publicValue(integer(1)), true, V::Valid, {} },
        { "array value", publicValue(array(3)), true, V::Valid, {} },
        { "nil value", publicValue(QVariant()), false, V::Missing, Log { kWarning, 13004 } },
        { "plain string instead of a value", publicValue(QStringLiteral("x")), false, V::WrongType,
            Log { kWarning, 13005 } },
        { "256 code points internal", internalValue(text(repeated(QStringLiteral("x"), 256))), true, V::Valid,
            {} },
        { "257 code points internal", internalValue(text(repeated(QStringLiteral("x"), 257))), false,
            V::TooLong, Log { kWarning, 13000 } },
        { "internal limit follows a larger public one",
            internalValue(text(repeated(QStringLiteral("x"), 300)), publicLimit(300)), true, V::Valid, {} },

        // Array parameters.
        { "200 items", arrayParam(QStringLiteral("purchase"), QStringLiteral("items"), 200, false), true,
            V::Valid, {} },
        { "201 items", arrayParam(QStringLiteral("purchase"), QStringLiteral("items"), 201, false), false,
            V::TooManyArrayItems, Log { kError, 13013 } },
        { "array on a non-ecommerce event",
            arrayParam(QStringLiteral("login"), QStringLiteral("items"), 1, false), false,
            V::ArrayOnNonEcommerceEvent, Log { kError, 13013 } },
        { "array not named items",
            arrayParam(QStringLiteral("purchase"), QStringLiteral("products"), 1, false), false,
            V::ArrayNotNamedItems, Log { kError, 13013 } },
        { "nested array", arrayParam(QStringLiteral("purchase"), QStringLiteral("items"), 1, true), false,
            V::NestedArray, Log { kError, 13013 } },
        { "dictionary item", [](qint64* c) { return V::isValidArrayParamItem(QVariantMap(), c); }, true,
            V::Valid, {} },
        { "text item", [](qint64* c) { return V::isValidArrayParamItem(QStringLiteral("x"), c); }, false,
            V::ArrayItemNotDictionary, Log { kError, 13014 } },

        // User properties.
        { "public user property",
            [](qint64* c) { return V::isValidPublicUserAttributeName(QStringLiteral("hat"), c); }, true,
            V::Valid, {} },
        { "reserved user property",
            [](qint64* c) { return V::isValidPublicUserAttributeName(QStringLiteral("user_id"), c); }, false,
            V::Reserved, Log { kError, 13009 } },
        { "reserved user property with a reserved prefix",
            [](qint64* c) { return V::isValidPublicUserAttributeName(QStringLiteral("va_session_id"), c); },
            false, V::Reserved, Log { kError, 13009 } },
        { "user property prefix",
            [](qint64* c) { return V::isValidPublicUserAttributeName(QStringLiteral("basalt_hat"), c); },
            false, V::Reserved, Log { kError, 13010 } },
        { "25-letter user property",
            [](qint64* c) { return V::isValidPublicUserAttributeName(QString(25, QLatin1Char('u')), c); },
            false, V::TooLong, Log { kError, 13000 } },
        { "internal user property",
            [](qint64* c) { return V::isValidInternalUserAttributeName(QStringLiteral("_id"), c); }, true,
            V::Valid, {} },
        { "empty user property value",
            [](qint64* c) { return V::isValidPublicUserAttributeValue(text({}), c); }, false, V::Missing,
            {} },
        { "37-character user property value",
            [](qint64* c) {
                return V::isValidPublicUserAttributeValue(text(QString(37, QLatin1Char('v'))), c);
            },
            false, V::TooLong, Log { kWarning, 13000 } },
        { "100 characters for _ga",
            [](qint64* c) {
                return V::isValidInternalUserAttributeValue(
                    text(QString(100, QLatin1Char('v'))), QStringLiteral("_ga"), c);
            },
            false, V::TooLong, Log { kWarning, 13000 } },
        { "100 characters for _id",
            [](qint64* c) {
                return V::isValidInternalUserAttributeValue(
                    text(QString(100, QLatin1Char('v'))), QStringLiteral("_id"), c);
            },
            true, V::Valid, {} },
        { "100 characters for _vbraid",
            [](qint64* c) {
                return V::isValidInternalUserAttributeValue(
                    text(QString(100, QLatin1Char('v'))), QStringLiteral("_vbraid"), c);
            },
            true, V::Valid, {} },
        { "257 characters for _psmvalue",
            [](qint64* c) {
                return V::isValidInternalUserAttributeValue(
                    text(QString(257, QLatin1Char('v'))), QStringLiteral("_psmvalue"), c);
            },
            false, V::TooLong, Log { kWarning, 13000 } },

        // Screen parameters and conditional user properties.
        { "screen class",
            [](qint64* c) { return V::isValidScreenParameterValue(QStringLiteral("Main"), {}, c); }, true,
            V::Valid, {} },
        { "screen class as a value",
            [](qint64* c) { return V::isValidScreenParameterValue(text("Main"), {}, c); }, false,
            V::WrongType, Log { kError, 13000 } },
        { "empty screen class", [](qint64* c) { return V::isValidScreenParameterValue(QString(), {}, c); },
            false, V::Missing, Log { kError, 13001 } },
        { "conditional origin",
            [](qint64* c) { return V::isValidConditionalUserPropertyOrigin(QStringLiteral("app"), c); }, true,
            V::Valid, {} },
        { "conditional name too long",
            [](qint64* c) { return V::isValidConditionalUserPropertyName(QString(25, QLatin1Char('n')), c); },
            false, V::TooLong, Log { kError, 13000 } },
        { "conditional value nil",
            [](qint64* c) { return V::isValidConditionalUserPropertyValue(QVariant(), c); }, false,
            V::Missing, Log { kWarning, 13004 } },

        // Numbers and currencies.
        { "int64 is numeric", [](qint64* c) { return V::isValidNumericValue(integer(3), c); }, true, V::Valid,
            {} },
        { "double is numeric", [](qint64* c) { return V::isValidNumericValue(real(2.5), c); }, true, V::Valid,
            {} },
        { "text is not numeric", [](qint64* c) { return V::isValidNumericValue(text("3"), c); }, false,
            V::NotNumeric, Log { kWarning, 13011 } },
        { "plain number is no value", [](qint64* c) { return V::isValidNumericValue(3, c); }, false,
            V::WrongType, Log { kWarning, 13005 } },
        { "upper-case currency", [](qint64* c) { return V::isValidCurrencyCode(text("USD"), c); }, true,
            V::Valid, {} },
        { "lower-case currency", [](qint64* c) { return V::isValidCurrencyCode(text("usd"), c); }, true,
            V::Valid, {} },
        { "currency with a digit", [](qint64* c) { return V::isValidCurrencyCode(text("US1"), c); }, false,
            V::NotCurrencyCode, Log { kWarning, 13012 } },
        { "four-letter currency", [](qint64* c) { return V::isValidCurrencyCode(text("USDX"), c); }, false,
            V::NotCurrencyCode, Log { kWarning, 13012 } },
        { "number as currency", [](qint64* c) { return V::isValidCurrencyCode(integer(840), c); }, false,
            V::NotCurrencyCode, Log { kWarning, 13012 } },
        { "no currency", [](qint64* c) { return V::isValidCurrencyCode(QVariant(), c); }, false, V::Missing,
            Log { kWarning, 13004 } },
    };
}

TEST(ValidatorTest, FailureCodesAndMonitorLines)
{
    ValidatorLogRecorder recorder;
    for (const ValidatorCase& c : cases()) {
        SCOPED_TRACE(c.what);
        recorder.clear();
        qint64 failureCode = 99;
        EXPECT_EQ(c.check(&failureCode), c.valid);
        EXPECT_EQ(failureCode, c.failureCode);
        const std::vector<RecordedLine> lines = recorder.lines();
        if (c.log) {
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(lines.front().code, c.log->code);
            EXPECT_EQ(lines.front().utilitiesLevel, APMASLLogger::VULLoggerLevelFromLogLevel(c.log->level));
        } else {
            EXPECT_TRUE(lines.empty()) << qPrintable(lines.front().message);
        }
        // The failure code is optional.
        EXPECT_EQ(c.check(nullptr), c.valid);
    }
}

TEST(ValidatorTest, MessagesNameTheSubject)
{
    ValidatorLogRecorder recorder;
    const struct {
        std::function<void()> check;
        QString message;
    } rows[] = {
        { [] { V::isValidPublicEventName(QStringLiteral("1abc"), nullptr); },
            QStringLiteral("Event name must start with a letter: 1abc") },
        { [] { V::isValidPublicEventName(QString(41, QLatin1Char('a')), nullptr); },
            QStringLiteral("Event name is too long. The maximum supported length is 40: ")
                + QString(41, QLatin1Char('a')) },
        { [] { V::isValidInternalUserAttributeName(QVariant(), nullptr); },
            QStringLiteral("User property name is required and can't be nil") },
        { [] { V::isValidString(QStringLiteral("ab"), 3, 5, 99, nullptr); },
            QStringLiteral("Object is too short. The minimum supported length is 3: ab") },
        { [] {
             V::isValidArrayParamForEvent(
                 QStringLiteral("purchase"), QStringLiteral("products"), 1, false, nullptr);
         },
            QStringLiteral(
                "Event parameter name is an invalid ecommerce items. The name of array parameters for "
                "ecommerce should be \"items\". Invalid parameter name: products") },
        { [] {
             V::isValidArrayParamForEvent(
                 QStringLiteral("purchase"), QStringLiteral("items"), 250, false, nullptr);
         },
            QStringLiteral(
                "Array parameter has too many items. The maximum number of supported items is 200. Invalid "
                "array size: 250") },
        { [] { V::isValidCurrencyCode(text("US"), nullptr); },
            QStringLiteral(
                "Event parameter value must contain a 3-letter ISO_4217 currency code. value: US") },
    };
    for (const auto& row : rows) {
        recorder.clear();
        row.check();
        const std::vector<RecordedLine> lines = recorder.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines.front().message, row.message);
    }
}

TEST(ValidatorTest, ReservedPrefixes)
{
    for (const char* name : { "basalt_", "vireo_event", "va_x" })
        EXPECT_TRUE(V::hasReservedPrefixes(QString::fromLatin1(name))) << name;
    for (const char* name : { "", "va", "xva_", "Basalt_x" })
        EXPECT_FALSE(V::hasReservedPrefixes(QString::fromLatin1(name))) << name;
}

TEST(ValidatorTest, LabelsOfSubjects)
{
    EXPECT_EQ(V::labelForType(V::EventName), QStringLiteral("Event name"));
    EXPECT_EQ(
        V::labelForType(V::ConditionalUserPropertyValue), QStringLiteral("Conditional user property value"));
    EXPECT_EQ(V::labelForType(10), QStringLiteral("Object"));
    EXPECT_EQ(V::labelForType(-1), QStringLiteral("Object"));
}

} // namespace
