#include "analytics/rules/APMPStringCommandEvaluator.h"

#include "analytics/base/APMError.h"
#include "analytics/rules/APMPArrayValue.h"
#include "analytics/rules/APMPBooleanValue.h"
#include "analytics/rules/APMPFunctionValue.h"
#include "analytics/rules/APMPNullValue.h"
#include "analytics/rules/APMPNumberValue.h"
#include "analytics/rules/APMPObjectManager.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPScope.h"
#include "analytics/rules/APMPStringValue.h"
#include "analytics/rules/APMPUndefinedValue.h"
#include "analytics/rules/APMPValueFunctions.h"

#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace APMPRuntimeError;

namespace APMPStringCommandEvaluatorLocal {

const QString kUndefinedText = QStringLiteral("undefined");

const APMPValue& stringUndefined()
{
    return APMPUndefinedValue::sharedInstance();
}

APMPValue text(QString value)
{
    return std::make_shared<APMPStringValue>(std::move(value));
}

APMPValue number(double value)
{
    return APMPNumberValue::valueWithDouble(value);
}

// The argument's string value, or `absent` when there is no such argument.
QString textArgument(
    const APMPValueList& values, std::size_t at, const QString& absent, APMPScope& scope, APMError* error)
{
    return at < values.size() ? APMPChargedStringValue(*values[at], scope, error) : absent;
}

// APMPToInteger of the argument's number, or `absent`.
double integerArgument(const APMPValueList& values, std::size_t at, double absent, APMPScope& scope, APMError* error)
{
    if (at >= values.size())
        return absent;
    const double value = APMPChargedDoubleValue(*values[at], scope, error);
    return APMPToInteger(value);
}

qsizetype clampPosition(double position, qsizetype length)
{
    if (std::isnan(position) || position <= 0)
        return 0;
    return position >= static_cast<double>(length) ? length : static_cast<qsizetype>(position);
}

bool checkLength(qsizetype length, APMPScope& scope, APMError* error)
{
    if (length > APMPLimits::kMaxStringLength) {
        set(error, LimitExceeded);
        return false;
    }
    return scope.chargeWork(length, error);
}

// A compiled pattern; an invalid one is reported with the compiler's message.
bool compilePattern(const QString& pattern, APMPScope& scope, QRegularExpression* compiled, APMError* error)
{
    if (!scope.chargeWork(static_cast<qint64>(APMPLimits::kRegularExpressionCost) * APMPLimits::kUnitsPerInstruction, error))
        return false;
    *compiled = QRegularExpression(pattern);
    if (compiled->isValid())
        return true;
    if (error)
        *error = APMError(APMPRuntimeError::kDomain, RegularExpression, compiled->errorString());
    return false;
}

APMPValue charAt(const QString& string, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (!APMPCheckMaximumArgumentCount(values, 1, error))
        return stringUndefined();
    const double position = integerArgument(values, 0, 0, scope, error);
    if (failed(error))
        return stringUndefined();
    if (position < 0 || position >= static_cast<double>(string.size()))
        return text(QString());
    return text(QString(string[static_cast<qsizetype>(position)]));
}

APMPValue concat(const QString& string, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    QString result = string;
    for (const APMPValue& value : values) {
        result += APMPChargedStringValue(*value, scope, error);
        if (failed(error) || !checkLength(result.size(), scope, error))
            return stringUndefined();
    }
    return text(result);
}

APMPValue hasOwnProperty(const QString& string, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (!APMPCheckArgumentCount(values, 1, error))
        return stringUndefined();
    if (const auto* key = APMPAs<APMPStringValue>(values[0]); key && key->value() == kAPMPLengthProperty)
        return APMPBooleanValue::booleanValueWithBool(true);
    const double index = APMPChargedDoubleValue(*values[0], scope, error);
    if (failed(error))
        return stringUndefined();
    return APMPBooleanValue::booleanValueWithBool(
        std::trunc(index) == index && index >= 0 && index < static_cast<double>(string.size()));
}

APMPValue indexOf(const QString& string, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (!APMPCheckMaximumArgumentCount(values, 2, error))
        return stringUndefined();
    const QString search = textArgument(values, 0, kUndefinedText, scope, error);
    if (failed(error))
        return stringUndefined();
    const double start = integerArgument(values, 1, 0, scope, error);
    if (failed(error))
        return stringUndefined();
    if (search.isEmpty())
        return number(-1);
    return number(static_cast<double>(string.indexOf(search, clampPosition(start, string.size()))));
}

APMPValue lastIndexOf(const QString& string, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (!APMPCheckMaximumArgumentCount(values, 2, error))
        return stringUndefined();
    const QString search = textArgument(values, 0, kUndefinedText, scope, error);
    if (failed(error))
        return stringUndefined();
    double start = std::numeric_limits<double>::infinity();
    if (values.size() >= 2) {
        const double given = APMPChargedDoubleValue(*values[1], scope, error);
        if (failed(error))
            return stringUndefined();
        if (!std::isnan(given))
            start = APMPToInteger(given);
    }
    if (search.isEmpty())
        return number(-1);
    const qsizetype windowEnd = std::min(clampPosition(start, string.size()) + search.size(), string.size());
    const qsizetype from = windowEnd - search.size();
    if (from < 0)
        return number(-1);
    return number(static_cast<double>(string.lastIndexOf(search, from)));
}

APMPValue match(const QString& string, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (!APMPCheckMaximumArgumentCount(values, 1, error))
        return stringUndefined();
    const QString pattern = textArgument(values, 0, QString(), scope, error);
    if (failed(error))
        return stringUndefined();
    if (pattern.isEmpty())
        return APMPObjectManager::arrayValueWithArray({ text(QString()) }, scope, error);
    QRegularExpression expression;
    if (!compilePattern(pattern, scope, &expression, error))
        return stringUndefined();
    const QRegularExpressionMatch found = expression.match(string);
    if (!found.hasMatch())
        return APMPNullValue::sharedInstance();
    return APMPObjectManager::arrayValueWithArray({ text(found.captured(0)) }, scope, error);
}

APMPValue replace(const QString& string, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (!APMPCheckMaximumArgumentCount(values, 2, error))
        return stringUndefined();
    const QString search = textArgument(values, 0, kUndefinedText, scope, error);
    if (failed(error))
        return stringUndefined();
    const qsizetype at = search.isEmpty() ? 0 : string.indexOf(search);
    if (at < 0)
        return text(string);
    QString replacement = kUndefinedText;
    if (values.size() >= 2) {
        if (auto* function = APMPAs<APMPFunctionValue>(values[1])) {
            const APMPValue result = function->invokeWithArguments(
                { text(search), number(static_cast<double>(at)), text(string) }, scope, error);
            if (failed(error))
                return stringUndefined();
            replacement = APMPChargedStringValue(*result, scope, error);
        } else {
            replacement = APMPChargedStringValue(*values[1], scope, error);
        }
        if (failed(error))
            return stringUndefined();
    }
    QString result = string;
    result.replace(at, search.size(), replacement);
    if (!checkLength(result.size(), scope, error))
        return stringUndefined();
    return text(result);
}

APMPValue search(const QString& string, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (!APMPCheckMaximumArgumentCount(values, 1, error))
        return stringUndefined();
    const QString pattern = textArgument(values, 0, kUndefinedText, scope, error);
    if (failed(error))
        return stringUndefined();
    if (pattern.isEmpty())
        return number(0);
    QRegularExpression expression;
    if (!compilePattern(pattern, scope, &expression, error))
        return stringUndefined();
    const QRegularExpressionMatch found = expression.match(string);
    return number(found.hasMatch() ? static_cast<double>(found.capturedStart(0)) : -1);
}

APMPValue slice(const QString& string, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (!APMPCheckMaximumArgumentCount(values, 2, error))
        return stringUndefined();
    const double length = static_cast<double>(string.size());
    double start = integerArgument(values, 0, 0, scope, error);
    if (failed(error))
        return stringUndefined();
    double end = integerArgument(values, 1, length, scope, error);
    if (failed(error))
        return stringUndefined();
    const auto bound = [length](double value) {
        if (value < 0)
            value = std::max(value + length, 0.0);
        return std::min(value, length);
    };
    start = bound(start);
    end = bound(end);
    if (end <= start)
        return text(QString());
    return text(string.mid(static_cast<qsizetype>(start), static_cast<qsizetype>(end - start)));
}

APMPValue split(const QString& string, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (!APMPCheckMaximumArgumentCount(values, 2, error))
        return stringUndefined();
    if (string.isEmpty() || values.empty())
        return APMPObjectManager::arrayValueWithArray({ text(string) }, scope, error);
    const QString separator = APMPChargedStringValue(*values[0], scope, error);
    if (failed(error))
        return stringUndefined();
    quint64 limit = std::numeric_limits<quint64>::max();
    if (values.size() >= 2) {
        const double given = APMPChargedDoubleValue(*values[1], scope, error);
        if (failed(error))
            return stringUndefined();
        limit = APMPToUInt32(given);
    }
    if (!scope.chargeWork(string.size(), error))
        return stringUndefined();
    APMPValueList pieces;
    if (separator.isEmpty()) {
        for (qsizetype i = 0; i < string.size() && pieces.size() < limit; ++i)
            pieces.push_back(text(QString(string[i])));
    } else {
        qsizetype from = 0;
        while (pieces.size() < limit) {
            const qsizetype at = string.indexOf(separator, from);
            if (at < 0) {
                pieces.push_back(text(string.mid(from)));
                break;
            }
            pieces.push_back(text(string.mid(from, at - from)));
            from = at + separator.size();
        }
    }
    return APMPObjectManager::arrayValueWithArray(std::move(pieces), scope, error);
}

APMPValue substring(const QString& string, const APMPValueList& values, APMPScope& scope, APMError* error)
{
    if (!APMPCheckMaximumArgumentCount(values, 2, error))
        return stringUndefined();
    const qsizetype length = string.size();
    const auto bound = [length](double value) -> qsizetype {
        // Outside the 32-bit range a bound becomes the lowest 32-bit value.
        const qint64 whole = value >= -2147483648.0 && value <= 2147483647.0 ? static_cast<qint64>(value)
                                                                               : std::numeric_limits<qint32>::min();
        return static_cast<qsizetype>(std::clamp<qint64>(whole, 0, length));
    };
    const double first = integerArgument(values, 0, 0, scope, error);
    if (failed(error))
        return stringUndefined();
    const double second = integerArgument(values, 1, static_cast<double>(length), scope, error);
    if (failed(error))
        return stringUndefined();
    const qsizetype a = bound(first);
    const qsizetype b = bound(second);
    return text(string.mid(std::min(a, b), std::abs(b - a)));
}

template <QString (*Transform)(const QString&)>
APMPValue noArguments(const QString& string, const APMPValueList& values, APMPScope&, APMError* error)
{
    if (!APMPCheckArgumentCount(values, 0, error))
        return stringUndefined();
    return text(Transform(string));
}

QString lower(const QString& string)
{
    return string.toLower();
}

QString upper(const QString& string)
{
    return string.toUpper();
}

QString localeLower(const QString& string)
{
    return QLocale().toLower(string);
}

QString localeUpper(const QString& string)
{
    return QLocale().toUpper(string);
}

QString same(const QString& string)
{
    return string;
}

QString trimmed(const QString& string)
{
    return string.trimmed();
}

} // namespace APMPStringCommandEvaluatorLocal

APMPStringCommandEvaluator& APMPStringCommandEvaluator::sharedInstance()
{
    static APMPStringCommandEvaluator* evaluator = new APMPStringCommandEvaluator(); // lives as long as the process
    return *evaluator;
}

APMPStringCommandEvaluator::APMPStringCommandEvaluator()
{
    using namespace APMPStringCommandEvaluatorLocal;
    handlers_ = {
        { QStringLiteral("charAt"), charAt },
        { QStringLiteral("concat"), concat },
        { QStringLiteral("hasOwnProperty"), hasOwnProperty },
        { QStringLiteral("indexOf"), indexOf },
        { QStringLiteral("lastIndexOf"), lastIndexOf },
        { QStringLiteral("match"), match },
        { QStringLiteral("replace"), replace },
        { QStringLiteral("search"), search },
        { QStringLiteral("slice"), slice },
        { QStringLiteral("split"), split },
        { QStringLiteral("substring"), substring },
        { QStringLiteral("toLowerCase"), noArguments<lower> },
        { QStringLiteral("toLocaleLowerCase"), noArguments<localeLower> },
        { QStringLiteral("toUpperCase"), noArguments<upper> },
        { QStringLiteral("toLocaleUpperCase"), noArguments<localeUpper> },
        { QStringLiteral("toString"), noArguments<same> },
        { QStringLiteral("trim"), noArguments<trimmed> },
    };
}

APMPValue APMPStringCommandEvaluator::evaluateCommand(const QString& name, const QString& text,
    const APMPValueList& arguments, APMPScope& scope, APMError* error) const
{
    const Handler handler = handlers_.value(name);
    if (!handler) {
        set(error, NoSuchMethod);
        return APMPUndefinedValue::sharedInstance();
    }
    const APMPValueList values = APMPEvaluateArguments(arguments, scope, error);
    if (failed(error))
        return APMPUndefinedValue::sharedInstance();
    return handler(text, values, scope, error);
}
