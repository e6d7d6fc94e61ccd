#pragma once

// Runs rule programs written in the test notation and shows their results
// as short texts, so that tables of cases can state what they expect:
//   undefined null true false 12 "text" [1,_,3] {a:1,b:"x"} fn:name
//   error 9 (runtime domain) / editing error 7.

#include "RulesProgramNotation.h"
#include "analytics/base/APMError.h"
#include "analytics/rules/APMPArrayValue.h"
#include "analytics/rules/APMPBooleanValue.h"
#include "analytics/rules/APMPControlValue.h"
#include "analytics/rules/APMPFunctionValue.h"
#include "analytics/rules/APMPMapValue.h"
#include "analytics/rules/APMPNumberValue.h"
#include "analytics/rules/APMPRuntime.h"
#include "analytics/rules/APMPRuntimeError.h"
#include "analytics/rules/APMPStatementValue.h"
#include "analytics/rules/APMPStringValue.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>

namespace rulesrunner {

inline QString show(const APMPValue& value, int depth = 0)
{
    using Kind = APMPRuntimeValue::Kind;
    if (!value)
        return QStringLiteral("(none)");
    if (depth > 8)
        return QStringLiteral("...");
    switch (value->kind()) {
    case Kind::Undefined:
        return QStringLiteral("undefined");
    case Kind::Null:
        return QStringLiteral("null");
    case Kind::Boolean:
        return static_cast<const APMPBooleanValue&>(*value).value() ? QStringLiteral("true") : QStringLiteral("false");
    case Kind::Number:
        return APMPNumberValue::textForDouble(static_cast<const APMPNumberValue&>(*value).value());
    case Kind::String:
        return QLatin1Char('"') + static_cast<const APMPStringValue&>(*value).value() + QLatin1Char('"');
    case Kind::Function:
        return QStringLiteral("fn:") + static_cast<const APMPFunctionValue&>(*value).functionName();
    case Kind::Statement:
        return QStringLiteral("stmt:") + static_cast<const APMPStatementValue&>(*value).functionName();
    case Kind::Control:
        return QStringLiteral("control:") + static_cast<const APMPControlValue&>(*value).typeName();
    case Kind::Array: {
        const auto& array = static_cast<const APMPArrayValue&>(*value);
        QStringList parts;
        for (qint64 i = 0; i < array.count(); ++i)
            parts << (array.isHoleAt(i) ? QStringLiteral("_") : show(array.valueAt(i), depth + 1));
        return QLatin1Char('[') + parts.join(QLatin1Char(',')) + QLatin1Char(']');
    }
    case Kind::Map: {
        const auto& map = static_cast<const APMPMapValue&>(*value);
        QStringList names = map.allPropertyNames();
        std::sort(names.begin(), names.end());
        QStringList parts;
        for (const QString& name : names)
            parts << name + QLatin1Char(':') + show(map.valueForProperty(name), depth + 1);
        return QLatin1Char('{') + parts.join(QLatin1Char(',')) + QLatin1Char('}');
    }
    default:
        return QStringLiteral("(plain)");
    }
}

inline QString showError(const APMError& error)
{
    if (error.domain() == APMPRuntimeError::kEditingDomain)
        return QStringLiteral("editing error %1").arg(error.code());
    return QStringLiteral("error %1").arg(error.code());
}

// The program's top level run in a fresh runtime: its last result shown, or
// its error.
inline QString run(APMPRuntime& runtime, const QString& text)
{
    const rulesnotation::Entities entities = rulesnotation::entities(text);
    std::vector<const APMPBRuntimeEntity*> pointers;
    for (const auto& entity : entities)
        pointers.push_back(entity.get());
    APMError error;
    const APMPValue result = runtime.executeStatements(pointers, &error);
    if (error.code() != 0)
        return showError(error);
    return show(result);
}

inline QString run(const QString& text)
{
    APMPRuntime runtime;
    return run(runtime, text);
}

struct Case {
    const char* program;
    const char* expected;
};

// Runs every case and reports each mismatch with its program.
inline void expectCases(const std::vector<Case>& cases)
{
    for (const Case& c : cases)
        EXPECT_EQ(run(QString::fromUtf8(c.program)).toStdString(), std::string(c.expected)) << c.program;
}

} // namespace rulesrunner
