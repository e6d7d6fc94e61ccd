// Runtime values: conversions to text, numbers and truth values, the
// integer conversions, equality, property maps and the conversion between
// runtime values and plain Qt values.

#include "RulesTestRunner.h"
#include "analytics/rules/APMPControlValue.h"
#include "analytics/rules/APMPNullValue.h"
#include "analytics/rules/APMPObjectManager.h"
#include "analytics/rules/APMPPropertyMap.h"
#include "analytics/rules/APMPRuntimeEntityConverter.h"
#include "analytics/rules/APMPUndefinedValue.h"
#include "analytics/rules/APMPValueFunctions.h"

#include <QDateTime>

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace rules_values_test {

constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::nan("");

APMPValue numberValue(double value)
{
    return APMPNumberValue::valueWithDouble(value);
}

APMPValue textValue(const char* text)
{
    return std::make_shared<APMPStringValue>(QString::fromUtf8(text));
}

TEST(RulesValues, NumbersPrintAsText)
{
    const std::vector<std::pair<double, const char*>> cases = {
        { 1e21, "1e+21" },
        { 1.5e21, "1.5e+21" },
        { 1e-7, "1e-7" },
        { 1.5e-7, "1.5e-7" },
        { 1e-6, "0.000001" },
        { -0.0, "0" },
        { 0.0, "0" },
        { 2000000, "2000000" },
        { 123456789012345680000.0, "123456789012345680000" },
        { 0.1, "0.1" },
        { 123.456, "123.456" },
        { -1.5, "-1.5" },
        { 1e300, "1e+300" },
        { 5e-324, "5e-324" },
        { kNaN, "NaN" },
        { kInf, "Infinity" },
        { -kInf, "-Infinity" },
        { 4294967295, "4294967295" },
        // Whole numbers below 2^53 print their digits; from 2^53 on, the
        // shortest text that reads back.
        { 7, "7" },
        { -42, "-42" },
        { -9007199254740991.0, "-9007199254740991" },
        { 9007199254740991.0, "9007199254740991" },
        { 9007199254740992.0, "9007199254740992" },
        { 1e20, "100000000000000000000" },
        { 18014398509481988.0, "18014398509481988" },
    };
    for (const auto& [value, text] : cases)
        EXPECT_EQ(APMPNumberValue::textForDouble(value).toStdString(), text) << value;
}

TEST(RulesValues, TextsConvertToNumbers)
{
    const std::vector<std::pair<const char*, double>> cases = {
        { " 12.5 ", 12.5 },
        { "", 0 },
        { "   ", 0 },
        { "\n7\t", 7 },
        { "+5", 5 },
        { "-5", -5 },
        { ".5", 0.5 },
        { "5.", 5 },
        { "1e3", 1000 },
        { "1E-2", 0.01 },
        { "Infinity", kInf },
        { "-Infinity", -kInf },
        { "1e999", kInf },
        { "-1e999", -kInf },
        { "1e-999", 0 },
        { "12abc", kNaN },
        { "0x10", kNaN },
        { "infinity", kNaN },
        { "+Infinity", kNaN },
        { "NaN", kNaN },
        { "1e", kNaN },
        { "--1", kNaN },
        { ".", kNaN },
        { "1 2", kNaN },
        { "\xD9\xA1", kNaN },
    };
    for (const auto& [text, expected] : cases) {
        const double value = APMPStringValue::numberForText(QString::fromUtf8(text));
        if (std::isnan(expected))
            EXPECT_TRUE(std::isnan(value)) << text;
        else
            EXPECT_EQ(value, expected) << text;
    }
}

TEST(RulesValues, TruthValuesAndConversionFailures)
{
    APMError error;
    EXPECT_FALSE(numberValue(0)->booleanValueOrError(&error));
    EXPECT_FALSE(numberValue(-0.0)->booleanValueOrError(&error));
    EXPECT_FALSE(numberValue(kNaN)->booleanValueOrError(&error));
    EXPECT_TRUE(numberValue(-1)->booleanValueOrError(&error));
    EXPECT_TRUE(textValue("0")->booleanValueOrError(&error));
    EXPECT_TRUE(textValue("false")->booleanValueOrError(&error));
    EXPECT_FALSE(textValue("")->booleanValueOrError(&error));
    EXPECT_FALSE(APMPNullValue::sharedInstance()->booleanValueOrError(&error));
    EXPECT_EQ(APMPNullValue::sharedInstance()->doubleValueOrError(&error), 0);
    EXPECT_TRUE(std::isnan(APMPUndefinedValue::sharedInstance()->doubleValueOrError(&error)));
    EXPECT_EQ(error.code(), 0);

    // A control value has no text, number or truth value.
    const APMPValue control = APMPControlValue::breakValue();
    struct Row {
        std::function<void(APMError*)> convert;
        qint64 code;
    };
    const std::vector<Row> rows = {
        { [&](APMError* e) { control->stringValueOrError(e); }, 5 },
        { [&](APMError* e) { control->doubleValueOrError(e); }, 4 },
        { [&](APMError* e) { control->booleanValueOrError(e); }, 3 },
    };
    for (const Row& row : rows) {
        APMError failure;
        row.convert(&failure);
        EXPECT_EQ(failure.domain(), APMPRuntimeError::kDomain);
        EXPECT_EQ(failure.code(), row.code);
    }
}

TEST(RulesValues, IntegerConversionsStayInRange)
{
    const std::vector<std::pair<double, int32_t>> int32Cases = {
        { 4294967297.0, 1 },
        { -1.5, -1 },
        { 5.7, 5 },
        { 3000000000.0, std::numeric_limits<int32_t>::min() },
        { 2147483648.0, std::numeric_limits<int32_t>::min() },
        { 2147483647.0, 2147483647 },
        { -4294967297.0, -1 },
        { kNaN, 0 },
        { kInf, 0 },
        { -kInf, 0 },
        // Far beyond 64 bits: 1e300 is a multiple of 2^32, 1e20 leaves
        // 1661992960 (both worked out with exact integers).
        { 1e300, 0 },
        { 1e20, 1661992960 },
        { -1e20, -1661992960 },
    };
    for (const auto& [value, expected] : int32Cases)
        EXPECT_EQ(APMPToInt32(value), expected) << value;
    EXPECT_EQ(APMPToUInt32(-1), 4294967295u);

    EXPECT_EQ(APMPToInteger(kNaN), 0);
    EXPECT_TRUE(std::signbit(APMPToInteger(-0.0)));
    EXPECT_EQ(APMPToInteger(kInf), kInf);
    EXPECT_EQ(APMPToInteger(2.9), 2);
    EXPECT_EQ(APMPToInteger(-2.9), -2);

    EXPECT_EQ(APMPToInt64(1e300), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(APMPToInt64(-1e300), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(APMPToInt64(9223372036854775808.0), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(APMPToInt64(kNaN), 0);
    EXPECT_EQ(APMPToInt64(-2.5), -2);
}

TEST(RulesValues, Equality)
{
    APMError error;
    const APMPValue nan1 = numberValue(kNaN);
    const APMPValue nan2 = numberValue(kNaN);
    EXPECT_TRUE(nan1->isEqualToRuntimeValue(*nan2));
    EXPECT_FALSE(APMPNumberValuesEqual(*nan1, *nan2, &error));
    EXPECT_FALSE(APMPStrictEquals(*nan1, *nan2, &error));
    EXPECT_TRUE(numberValue(0)->isEqualToRuntimeValue(*numberValue(-0.0)));
    EXPECT_FALSE(numberValue(1)->isEqualToRuntimeValue(*textValue("1")));
    EXPECT_TRUE(APMPStringValuesEqual(*numberValue(1), *textValue("1"), &error));

    APMPRuntime runtime;
    const auto anonymous = APMPObjectManager::functionValueWithFunctionName({}, {}, {}, runtime.globalScope());
    const auto anonymous2 = APMPObjectManager::functionValueWithFunctionName({}, {}, {}, runtime.globalScope());
    const auto named = APMPObjectManager::functionValueWithFunctionName("f", {}, {}, runtime.globalScope());
    const auto named2 = APMPObjectManager::functionValueWithFunctionName("f", { "x" }, {}, runtime.globalScope());
    EXPECT_TRUE(anonymous->isEqualToRuntimeValue(*anonymous));
    EXPECT_FALSE(anonymous->isEqualToRuntimeValue(*anonymous2));
    EXPECT_TRUE(named->isEqualToRuntimeValue(*named2));

    EXPECT_TRUE(APMPControlValue::returnValueWithData(numberValue(2))
                    ->isEqualToRuntimeValue(*APMPControlValue::returnValueWithData(numberValue(2))));
    EXPECT_FALSE(APMPControlValue::returnValueWithData(nullptr)->isEqualToRuntimeValue(*APMPControlValue::breakValue()));
    EXPECT_EQ(static_cast<const APMPControlValue&>(*APMPControlValue::returnValueWithData(nullptr)).data().get(),
        APMPUndefinedValue::sharedInstance().get());

    const APMPValue statement = std::make_shared<APMPStatementValue>("0", APMPValueList { numberValue(1), textValue("a") });
    const APMPValue same = std::make_shared<APMPStatementValue>("0", APMPValueList { numberValue(1), textValue("a") });
    const APMPValue other = std::make_shared<APMPStatementValue>("0", APMPValueList { numberValue(1) });
    EXPECT_TRUE(statement->isEqualToRuntimeValue(*same));
    EXPECT_FALSE(statement->isEqualToRuntimeValue(*other));

    // Structural equality of arrays and maps, also when they hold themselves.
    const auto a = APMPObjectManager::arrayValueWithArray({ numberValue(1) }, *runtime.globalScope(), &error);
    const auto b = APMPObjectManager::arrayValueWithArray({ numberValue(1) }, *runtime.globalScope(), &error);
    EXPECT_TRUE(a->isEqualToRuntimeValue(*b));
    a->appendElements({ a }, &error);
    b->appendElements({ b }, &error);
    EXPECT_FALSE(a->isEqualToRuntimeValue(*b));
    const auto m = APMPObjectManager::mapValueWithScope(*runtime.globalScope());
    const auto n = APMPObjectManager::mapValueWithScope(*runtime.globalScope());
    m->setValueForProperty(numberValue(2), "k");
    n->setValueForProperty(numberValue(2), "k");
    EXPECT_TRUE(m->isEqualToRuntimeValue(*n));
    EXPECT_FALSE(APMPStrictEquals(*m, *n, &error));
}

TEST(RulesValues, ArrayIndexValues)
{
    EXPECT_TRUE(APMPIsArrayIndexValue(*numberValue(2)));
    EXPECT_TRUE(APMPIsArrayIndexValue(*textValue("2")));
    EXPECT_TRUE(APMPIsArrayIndexValue(*textValue(" 2")));
    EXPECT_FALSE(APMPIsArrayIndexValue(*numberValue(-1)));
    EXPECT_FALSE(APMPIsArrayIndexValue(*numberValue(2.5)));
    EXPECT_FALSE(APMPIsArrayIndexValue(*textValue("abc")));
    EXPECT_FALSE(APMPIsArrayIndexValue(*numberValue(kInf)));
    EXPECT_FALSE(APMPIsArrayIndexValue(*APMPBooleanValue::booleanValueWithBool(true)));
}

TEST(RulesValues, PropertyMapsKeepConstants)
{
    APMPPropertyMap map;
    map.setImmutableValue(numberValue(1), "c");
    map.setValue(numberValue(2), "c");
    map.removeValueForName("c");
    EXPECT_EQ(rulesrunner::show(map.valueForName("c")), QStringLiteral("1"));
    map.setValue(numberValue(3), "v");
    map.makeImmutable();
    map.setValue(numberValue(4), "v");
    map.setValue(numberValue(5), "w");
    map.removeValueForName("v");
    EXPECT_TRUE(map.isImmutable());
    EXPECT_EQ(rulesrunner::show(map.valueForName("v")), QStringLiteral("3"));
    EXPECT_FALSE(map.hasName("w"));
    EXPECT_EQ(rulesrunner::show(map.valueForName("absent")), QStringLiteral("undefined"));

    // Past the size at which lookups go through an index, names still resolve.
    APMPPropertyMap large;
    for (int i = 0; i < 40; ++i)
        large.setValue(numberValue(i), QString::number(i));
    large.removeValueForName("3");
    EXPECT_FALSE(large.hasName("3"));
    EXPECT_EQ(rulesrunner::show(large.valueForName("39")), QStringLiteral("39"));
    EXPECT_EQ(large.count(), 39);
}

TEST(RulesValues, AssignmentsGoToTheNearestBinding)
{
    // root <- outer (binds "x", "y") <- middle <- inner; `frozen` names the
    // scope made immutable, if any.
    struct Case {
        const char* name;
        const char* frozen;
        bool bound; // what assignValue answers
        const char* outerAfter; // the outer binding after both writes
        bool declaredInInner; // setValue declared the name in the inner scope
    };
    const Case cases[] = {
        { "x", "", true, "2", false },
        { "x", "middle", true, "1", false }, // between the binding and the write
        { "x", "outer", true, "1", false }, // the binding's own scope
        { "x", "root", true, "2", false }, // above the binding: no matter
        { "z", "", false, "undefined", true },
        { "z", "middle", false, "undefined", true }, // nothing to pass through
        { "z", "inner", false, "undefined", false },
        { "runtime_counter", "", true, "undefined", false }, // never written
    };
    for (const Case& c : cases) {
        const auto root = std::make_shared<APMPScope>();
        const auto outer = root->createChildScope();
        const auto middle = outer->createChildScope();
        const auto inner = middle->createChildScope();
        outer->addValue(numberValue(1), "x");
        outer->addValue(numberValue(1), "y");
        const std::pair<const char*, APMPScope*> scopes[]
            = { { "root", root.get() }, { "outer", outer.get() }, { "middle", middle.get() }, { "inner", inner.get() } };
        for (const auto& [name, scope] : scopes) {
            if (QByteArray(c.frozen) == name)
                scope->makeImmutable();
        }
        EXPECT_EQ(inner->assignValue(numberValue(2), c.name), c.bound) << c.name << " " << c.frozen;
        inner->setValue(numberValue(2), c.name);
        EXPECT_EQ(rulesrunner::show(outer->contents().valueForName(c.name)), QString::fromUtf8(c.outerAfter))
            << c.name << " " << c.frozen;
        EXPECT_EQ(inner->contents().hasName(c.name), c.declaredInInner) << c.name << " " << c.frozen;
        EXPECT_EQ(rulesrunner::show(outer->contents().valueForName("y")), QStringLiteral("1"));
        EXPECT_FALSE(middle->contents().hasName(c.name) || root->contents().hasName(c.name));
    }
}

TEST(RulesValues, EntitiesConvertToValues)
{
    using rulesnotation::entity;
    APMError error;
    EXPECT_EQ(rulesrunner::show(APMPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(*entity("nan"), &error)),
        QStringLiteral("NaN"));
    auto bare = APMPBRuntimeEntity::initWithMessageInfo();
    APMPBSetInt32Field(bare.get(), 0, 1);
    EXPECT_EQ(rulesrunner::show(APMPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(*bare, &error)),
        QStringLiteral("\"\""));
    APMPBSetInt32Field(bare.get(), 0, 3);
    EXPECT_EQ(rulesrunner::show(APMPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(*bare, &error)),
        QStringLiteral("false"));
    EXPECT_EQ(error.code(), 0);

    // A tree nested deeper than the limit is refused, not recursed into.
    QString deep;
    for (int i = 0; i < 80; ++i)
        deep += QStringLiteral("(same ");
    deep += QStringLiteral("1") + QString(80, u')');
    APMPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(*entity(deep), &error);
    EXPECT_EQ(error.code(), APMPRuntimeError::LimitExceeded);
}

TEST(RulesValues, PlainObjectsConvertBothWays)
{
    APMPRuntime runtime;
    APMPScope& scope = *runtime.globalScope();
    APMError error;
    const QVariantMap plain { { "text", "a" }, { "flag", true }, { "count", 1 }, { "ratio", 0.5 },
        { "list", QVariantList { 1, "b" } }, { "nested", QVariantMap { { "x", 2 } } }, { "none", QVariant() } };
    const APMPValue value = APMPRuntimeEntityConverter::runtimeValueFromNSObject(plain, scope, &error);
    EXPECT_EQ(rulesrunner::show(value),
        QStringLiteral("{count:1,flag:true,list:[1,\"b\"],nested:{x:2},none:null,ratio:0.5,text:\"a\"}"));
    EXPECT_EQ(error.code(), 0);

    APMPRuntimeEntityConverter::runtimeValueFromNSObject(
        QVariantMap { { "when", QDateTime::currentDateTimeUtc() } }, scope, &error);
    EXPECT_EQ(error.code(), APMPRuntimeError::UnsupportedNativeObject);

    // Back: null properties are left out, undefined becomes "", numbers are
    // doubles, texts that read as numbers become numbers.
    error = APMError();
    const auto map = APMPObjectManager::mapValueWithScope(scope);
    map->setValueForProperty(APMPNullValue::sharedInstance(), "gone");
    map->setValueForProperty(APMPUndefinedValue::sharedInstance(), "empty");
    map->setValueForProperty(textValue("12"), "numeric");
    map->setValueForProperty(textValue("x"), "text");
    map->setValueForProperty(APMPBooleanValue::booleanValueWithBool(true), "flag");
    map->setValueForProperty(numberValue(kNaN), "nan");
    const QVariantMap back = APMPRuntimeEntityConverter::dictionaryFromMapValue(*map, &error);
    EXPECT_EQ(error.code(), 0);
    EXPECT_FALSE(back.contains("gone"));
    EXPECT_EQ(back.value("empty"), QVariant(QString()));
    EXPECT_EQ(back.value("numeric").metaType().id(), QMetaType::Double);
    EXPECT_EQ(back.value("numeric").toDouble(), 12);
    EXPECT_EQ(back.value("text"), QVariant("x"));
    EXPECT_EQ(back.value("flag").toDouble(), 1);
    EXPECT_EQ(back.value("nan"), QVariant("NaN"));

    // A map that holds itself cannot become a plain object.
    map->setValueForProperty(map, "self");
    APMPRuntimeEntityConverter::dictionaryFromMapValue(*map, &error);
    EXPECT_EQ(error.code(), APMPRuntimeError::LimitExceeded);
}

} // namespace rules_values_test
