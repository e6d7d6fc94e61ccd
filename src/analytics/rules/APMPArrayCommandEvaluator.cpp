#include "analytics/rules/APMPArrayCommandEvaluator.h"

#include "analytics/rules/APMPArrayValue.h"
#include "analytics/rules/APMPBooleanValue.h"
#include "analytics/rules/APMPEvaluator.h"
#include "analytics/rules/APMPFunctionValue.h"
#include "analytics/rules/APMPNumberValue.h"
#include "analytics/rules/APMPObjectManager.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPScope.h"
#include "analytics/rules/APMPStringValue.h"
#include "analytics/rules/APMPUndefinedValue.h"
#include "analytics/rules/APMPValueFunctions.h"

#include <array>
#include <cmath>
#include <limits>

using namespace APMPRuntimeError;
using ArrayPtr = std::shared_ptr<APMPArrayValue>;

namespace APMPArrayCommandEvaluatorLocal {

const QString kDefaultSeparator = QStringLiteral(",");

const APMPValue& arrayUndefined()
{
    return APMPUndefinedValue::sharedInstance();
}

APMPValue count(qint64 value)
{
    return APMPNumberValue::valueWithDouble(static_cast<double>(value));
}

// NaN made 0, infinities kept, else truncated.
double integerOf(const APMPValue& value, APMPScope& scope, APMError* error)
{
    return APMPToInteger(APMPChargedDoubleValue(*value, scope, error));
}

// With the count added when negative.
double relativeOf(const APMPValue& value, qint64 size, APMPScope& scope, APMError* error)
{
    const double integer = integerOf(value, scope, error);
    return integer < 0 ? integer + static_cast<double>(size) : integer;
}

qint64 clampTo(double value, qint64 low, qint64 high)
{
    if (!(value > static_cast<double>(low)))
        return low;
    if (value >= static_cast<double>(high))
        return high;
    return static_cast<qint64>(value);
}

// The one function argument of the callback methods, with the walk over
// the array's count (holes included) charged.
APMPFunctionValue* callbackOf(const ArrayPtr& array, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (!APMPCheckArgumentCount(values, 1, error))
        return nullptr;
    auto* function = APMPAs<APMPFunctionValue>(values[0]);
    if (!function)
        set(error, ArgumentType);
    else if (!scope.chargeWalk(array->count(), error))
        return nullptr;
    return function;
}

// Calls the function for every present element below the count read at the
// start; `step` sees each result and says whether to go on.
template <class Step>
bool eachElement(const ArrayPtr& array, APMPFunctionValue& function, APMPScope& scope, APMError* error, Step step)
{
    const qint64 size = array->count();
    for (qint64 i = 0; i < size; ++i) {
        if (i >= array->count() || array->isHoleAt(i))
            continue;
        const std::array<APMPValue, 3> arguments { array->valueAt(i), count(i), array };
        const APMPValue& element = arguments[0];
        const APMPValue result = function.callWithArguments(arguments, scope, error);
        if (failed(error))
            return false;
        if (!step(i, element, result))
            break;
    }
    return !failed(error);
}

APMPValue every(const ArrayPtr& array, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    APMPFunctionValue* function = callbackOf(array, values, scope, error);
    if (!function)
        return arrayUndefined();
    bool all = true;
    const bool done = eachElement(array, *function, scope, error, [&](qint64, const APMPValue&, const APMPValue& result) {
        all = result->booleanValueOrError(error);
        return all && !failed(error);
    });
    return done ? APMPBooleanValue::booleanValueWithBool(all) : arrayUndefined();
}

APMPValue some(const ArrayPtr& array, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    APMPFunctionValue* function = callbackOf(array, values, scope, error);
    if (!function)
        return arrayUndefined();
    bool any = false;
    const bool done = eachElement(array, *function, scope, error, [&](qint64, const APMPValue&, const APMPValue& result) {
        any = result->booleanValueOrError(error);
        return !any && !failed(error);
    });
    return done ? APMPBooleanValue::booleanValueWithBool(any) : arrayUndefined();
}

APMPValue filter(const ArrayPtr& array, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    APMPFunctionValue* function = callbackOf(array, values, scope, error);
    if (!function)
        return arrayUndefined();
    APMPValueList kept;
    const bool done
        = eachElement(array, *function, scope, error, [&](qint64, const APMPValue& element, const APMPValue& result) {
              if (result->booleanValueOrError(error))
                  kept.push_back(element);
              return !failed(error);
          });
    return done ? APMPValue(APMPObjectManager::arrayValueWithArray(std::move(kept), scope, error)) : arrayUndefined();
}

APMPValue forEach(const ArrayPtr& array, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    APMPFunctionValue* function = callbackOf(array, values, scope, error);
    if (!function)
        return arrayUndefined();
    eachElement(array, *function, scope, error, [](qint64, const APMPValue&, const APMPValue&) { return true; });
    return arrayUndefined();
}

APMPValue map(const ArrayPtr& array, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    APMPFunctionValue* function = callbackOf(array, values, scope, error);
    if (!function)
        return arrayUndefined();
    // The result is made at full size before the first call.
    if (!scope.chargeWork(array->count(), error))
        return arrayUndefined();
    APMPValueList mapped(static_cast<std::size_t>(array->count()), APMPArrayValue::emptyValue());
    const bool done = eachElement(array, *function, scope, error, [&](qint64 i, const APMPValue&, const APMPValue& result) {
        mapped[static_cast<std::size_t>(i)] = result;
        return true;
    });
    return done ? APMPValue(APMPObjectManager::arrayValueWithArray(std::move(mapped), scope, error)) : arrayUndefined();
}

APMPValue reduceIn(const ArrayPtr& array, const APMPValueList& values, APMPScope& scope, APMError* error, bool backward)
{
    if (!APMPCheckArgumentCountBetween(values, 1, 2, error))
        return arrayUndefined();
    auto* function = APMPAs<APMPFunctionValue>(values[0]);
    if (!function || (values.size() == 2 && values[1]->kind() == APMPRuntimeValue::Kind::Control)) {
        set(error, ArgumentType);
        return arrayUndefined();
    }
    const qint64 size = array->count();
    if (!scope.chargeWalk(size, error))
        return arrayUndefined();
    qint64 i = backward ? size - 1 : 0;
    const qint64 direction = backward ? -1 : 1;
    const auto inside = [&] { return backward ? i >= 0 : i < size; };
    APMPValue accumulator;
    if (values.size() == 2) {
        accumulator = values[1];
    } else {
        while (inside() && (i >= array->count() || array->isHoleAt(i)))
            i += direction;
        if (!inside()) {
            set(error, ReduceOfNothing);
            return arrayUndefined();
        }
        accumulator = array->valueAt(i);
        i += direction;
    }
    for (; inside(); i += direction) {
        if (i >= array->count() || array->isHoleAt(i))
            continue;
        const std::array<APMPValue, 4> arguments { std::move(accumulator), array->valueAt(i), count(i),
            array };
        accumulator = function->callWithArguments(arguments, scope, error);
        if (failed(error))
            return arrayUndefined();
    }
    return accumulator;
}

APMPValue reduce(const ArrayPtr& array, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    return reduceIn(array, values, scope, error, false);
}

APMPValue reduceRight(const ArrayPtr& array, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    return reduceIn(array, values, scope, error, true);
}

APMPValue concat(const ArrayPtr& array, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    const auto result = APMPObjectManager::subarrayWithArray(*array, 0, array->count(), scope, error);
    if (failed(error))
        return arrayUndefined();
    for (const APMPValue& value : values) {
        if (!result->concat(value, error))
            return arrayUndefined();
    }
    if (!scope.chargeWork(result->count(), error))
        return arrayUndefined();
    return result;
}

APMPValue hasOwnProperty(const ArrayPtr& array, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (!APMPCheckArgumentCount(values, 1, error) || !APMPChargeConversion(*values[0], true, scope, error))
        return arrayUndefined();
    const QString name = values[0]->stringValueOrError(error);
    if (failed(error))
        return arrayUndefined();
    if (name == kAPMPLengthProperty)
        return APMPBooleanValue::booleanValueWithBool(true);
    const bool has = array->hasProperty(values[0], error);
    return failed(error) ? arrayUndefined() : APMPBooleanValue::booleanValueWithBool(has);
}

APMPValue indexOf(const ArrayPtr& array, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (!APMPCheckMaximumArgumentCount(values, 2, error))
        return arrayUndefined();
    const APMPValue& wanted = values.empty() ? APMPUndefinedValue::sharedInstance() : values[0];
    double start = 0;
    if (values.size() == 2) {
        start = std::max(relativeOf(values[1], array->count(), scope, error), 0.0);
        if (failed(error))
            return arrayUndefined();
    }
    if (start >= static_cast<double>(array->count()))
        return count(-1);
    if (!scope.chargeWork(array->count(), error))
        return arrayUndefined();
    const qint64 found = array->indexOfValue(wanted, static_cast<qint64>(start), error);
    return failed(error) ? arrayUndefined() : count(found);
}

APMPValue lastIndexOf(const ArrayPtr& array, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (!APMPCheckMaximumArgumentCount(values, 2, error))
        return arrayUndefined();
    const APMPValue& wanted = values.empty() ? APMPUndefinedValue::sharedInstance() : values[0];
    const qint64 size = array->count();
    double start = static_cast<double>(size - 1);
    if (values.size() == 2) {
        const double given = APMPChargedDoubleValue(*values[1], scope, error);
        if (failed(error))
            return arrayUndefined();
        if (!std::isnan(given))
            start = relativeOf(values[1], size, scope, error);
    }
    if (start < 0)
        return count(-1);
    if (start > static_cast<double>(size - 1))
        start = static_cast<double>(size - 1);
    if (!scope.chargeWork(size, error))
        return arrayUndefined();
    const qint64 found = array->lastIndexOfValue(wanted, static_cast<qint64>(start), error);
    return failed(error) ? arrayUndefined() : count(found);
}

APMPValue join(const ArrayPtr& array, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (!APMPCheckMaximumArgumentCount(values, 1, error))
        return arrayUndefined();
    QString separator = kDefaultSeparator;
    if (values.size() == 1) {
        separator = values[0]->isNullOrUndefined() ? QString() : APMPChargedStringValue(*values[0], scope, error);
        if (failed(error))
            return arrayUndefined();
    }
    if (!APMPChargeConversion(*array, false, scope, error))
        return arrayUndefined();
    const QString joined = array->stringValueWithSeparator(separator, error);
    if (failed(error) || !scope.chargeWork(joined.size(), error))
        return arrayUndefined();
    return std::make_shared<APMPStringValue>(joined);
}

APMPValue pop(const ArrayPtr& array, const APMPValueList& values, APMPScope&, APMError* error)
{
    return APMPCheckArgumentCount(values, 0, error) ? array->removeLastElement() : arrayUndefined();
}

APMPValue shift(const ArrayPtr& array, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (!APMPCheckArgumentCount(values, 0, error) || !scope.chargeWork(array->count(), error))
        return arrayUndefined();
    return array->removeFirstElement();
}

APMPValue push(const ArrayPtr& array, const APMPValueList& values, APMPScope&, APMError* error)
{
    const qint64 size = array->appendElements(values, error);
    return failed(error) ? arrayUndefined() : count(size);
}

APMPValue unshift(const ArrayPtr& array, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (!scope.chargeWork(array->count(), error))
        return arrayUndefined();
    const qint64 size = array->prependElements(values, error);
    return failed(error) ? arrayUndefined() : count(size);
}

APMPValue reverse(const ArrayPtr& array, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (!APMPCheckArgumentCount(values, 0, error) || !scope.chargeWork(array->count(), error))
        return arrayUndefined();
    array->reverse();
    return array;
}

APMPValue slice(const ArrayPtr& array, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (!APMPCheckMaximumArgumentCount(values, 2, error))
        return arrayUndefined();
    const qint64 size = array->count();
    qint64 start = 0;
    if (!values.empty()) {
        start = clampTo(relativeOf(values[0], size, scope, error), 0, size);
        if (failed(error))
            return arrayUndefined();
    }
    qint64 end = size;
    if (values.size() == 2) {
        end = clampTo(relativeOf(values[1], size, scope, error), start, size);
        if (failed(error))
            return arrayUndefined();
    }
    if (!scope.chargeWork(end - start, error))
        return arrayUndefined();
    return APMPObjectManager::subarrayWithArray(*array, start, end - start, scope, error);
}

APMPValue sort(const ArrayPtr& array, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (!APMPCheckMaximumArgumentCount(values, 1, error))
        return arrayUndefined();
    if (array->count() < 2)
        return array;
    APMPFunctionValue* function = nullptr;
    if (!values.empty()) {
        function = APMPAs<APMPFunctionValue>(values[0]);
        if (!function) {
            set(error, ArgumentType);
            return arrayUndefined();
        }
    }
    const double size = static_cast<double>(array->count());
    if (!scope.chargeWork(static_cast<qint64>(size * std::log2(size)), error))
        return arrayUndefined();
    array->sortUsingFunctionValue(function, scope, error);
    return array;
}

APMPValue splice(const ArrayPtr& array, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (values.empty())
        return APMPObjectManager::arrayValueWithScope(scope);
    const qint64 size = array->count();
    const qint64 start = clampTo(relativeOf(values[0], size, scope, error), 0, size);
    if (failed(error))
        return arrayUndefined();
    qint64 deleteCount = size - start;
    if (values.size() >= 2) {
        deleteCount = clampTo(integerOf(values[1], scope, error), 0, size - start);
        if (failed(error))
            return arrayUndefined();
    }
    if (!scope.chargeWork(size, error))
        return arrayUndefined();
    const APMPValueList inserted(values.size() > 2 ? values.begin() + 2 : values.end(), values.end());
    APMPValueList removed = array->spliceFrom(start, deleteCount, inserted, error);
    if (failed(error))
        return arrayUndefined();
    return APMPObjectManager::arrayValueWithArray(std::move(removed), scope, error);
}

APMPValue toString(const ArrayPtr& array, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (!APMPCheckArgumentCount(values, 0, error))
        return arrayUndefined();
    const QString text = APMPChargedStringValue(*array, scope, error);
    if (failed(error) || !scope.chargeWork(text.size(), error))
        return arrayUndefined();
    return std::make_shared<APMPStringValue>(text);
}

} // namespace APMPArrayCommandEvaluatorLocal

APMPArrayCommandEvaluator& APMPArrayCommandEvaluator::sharedInstance()
{
    static APMPArrayCommandEvaluator* evaluator = new APMPArrayCommandEvaluator(); // lives as long as the process
    return *evaluator;
}

APMPArrayCommandEvaluator::APMPArrayCommandEvaluator()
{
    using namespace APMPArrayCommandEvaluatorLocal;
    handlers_ = {
        { QStringLiteral("concat"), concat },
        { QStringLiteral("every"), every },
        { QStringLiteral("filter"), filter },
        { QStringLiteral("forEach"), forEach },
        { QStringLiteral("hasOwnProperty"), hasOwnProperty },
        { QStringLiteral("indexOf"), indexOf },
        { QStringLiteral("join"), join },
        { QStringLiteral("lastIndexOf"), lastIndexOf },
        { QStringLiteral("map"), map },
        { QStringLiteral("pop"), pop },
        { QStringLiteral("push"), push },
        { QStringLiteral("reduce"), reduce },
        { QStringLiteral("reduceRight"), reduceRight },
        { QStringLiteral("reverse"), reverse },
        { QStringLiteral("shift"), shift },
        { QStringLiteral("slice"), slice },
        { QStringLiteral("some"), some },
        { QStringLiteral("sort"), sort },
        { QStringLiteral("splice"), splice },
        { QStringLiteral("toString"), toString },
        { QStringLiteral("unshift"), unshift },
    };
}

APMPValue APMPArrayCommandEvaluator::evaluateCommand(const QString& name, const std::shared_ptr<APMPArrayValue>& array,
    const APMPValueList& arguments, APMPScope& scope, APMError* error) const
{
    const Handler handler = handlers_.value(name);
    if (!handler) {
        set(error, NoSuchMethod);
        return APMPUndefinedValue::sharedInstance();
    }
    const APMPPooledValueList values(scope);
    for (const APMPValue& argument : arguments) {
        values->push_back(APMPEvaluator::evaluateStatement(argument, scope, error));
        if (failed(error))
            return APMPUndefinedValue::sharedInstance();
    }
    return handler(array, *values, scope, error);
}
