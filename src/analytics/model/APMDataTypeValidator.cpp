#include "analytics/model/APMDataTypeValidator.h"

#include "analytics/model/APMEventNames.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/model/APMUserPropertyNames.h"
#include "analytics/base/CodePoints.h"
#include "analytics/base/APMLibrary.h"
#include "analytics/base/APMValue.h"

#include <QStringList>

#include <algorithm>
#include <array>

namespace {

using V = APMDataTypeValidator;

const QString kForwardedOriginSuffix = QStringLiteral("+vtm");
const std::array<QString, 3> kReservedPrefixes = {
    QStringLiteral("basalt_"),
    QStringLiteral("vireo_"),
    QStringLiteral("va_"),
};
// User properties whose values may be long: identifiers the library sets.
const std::array<QString, 3> kLongValueUserProperties = {
    QStringLiteral("_id"),
    QStringLiteral("_vbraid"),
    QStringLiteral("_psmvalue"),
};

constexpr qint64 kCodeInvalidString = 13000;
constexpr qint64 kCodeMissingString = 13001;
constexpr qint64 kCodeBadCharacters = 13002;
constexpr qint64 kCodeMustStartWithLetter = 13003;
constexpr qint64 kCodeNilValue = 13004;
constexpr qint64 kCodeNotAValue = 13005;
constexpr qint64 kCodeReservedEventName = 13006;
constexpr qint64 kCodeReservedEventPrefix = 13007;
constexpr qint64 kCodeReservedParameterPrefix = 13008;
constexpr qint64 kCodeReservedUserPropertyName = 13009;
constexpr qint64 kCodeReservedUserPropertyPrefix = 13010;
constexpr qint64 kCodeNotNumeric = 13011;
constexpr qint64 kCodeNotCurrencyCode = 13012;
constexpr qint64 kCodeInvalidArrayParameter = 13013;
constexpr qint64 kCodeArrayItemNotDictionary = 13014;

void log(qint64 level, qint64 code, const QString& message)
{
    APMLibrary::monitor().logWithLevel(level, code, message);
}

void log(qint64 level, qint64 code, const QString& message, const QVariant& context)
{
    APMLibrary::monitor().logWithLevel(level, code, message, context);
}

// Writes a refusal's reason and answers false.
bool refuse(qint64* failureCode, V::FailureCode code)
{
    if (failureCode)
        *failureCode = code;
    return false;
}

void clear(qint64* failureCode)
{
    if (failureCode)
        *failureCode = V::Valid;
}

bool isNilObject(const QVariant& object)
{
    return !object.isValid() || object.metaType().id() == QMetaType::Nullptr;
}

bool isString(const QVariant& object)
{
    return object.metaType().id() == QMetaType::QString;
}

bool isValueObject(const QVariant& object)
{
    return object.metaType() == QMetaType::fromType<APMValue>();
}

// Values of parameters and user properties are warnings; everything else is
// an error, because it costs the caller a whole event or property.
bool isValueType(int type)
{
    return type == V::EventParameterValue || type == V::UserPropertyValue;
}

qint64 levelForType(int type)
{
    return isValueType(type) ? APMMonitor::kLevelWarning : APMMonitor::kLevelError;
}

// Letters of any script, without combining marks.
bool isNameLetter(char32_t c)
{
    return QChar::isLetter(c);
}

bool isNameCharacter(char32_t c)
{
    return isNameLetter(c) || QChar::isDigit(c) || c == U'_';
}

bool hasOnlyNameCharacters(const QString& text)
{
    for (qsizetype i = 0; i < text.size();) {
        if (!isNameCharacter(CodePoints::at(text, i, &i)))
            return false;
    }
    return true;
}

bool startsWithNameLetter(const QString& text)
{
    qsizetype next = 0;
    return !text.isEmpty() && isNameLetter(CodePoints::at(text, 0, &next));
}

// The type check that every value rule starts with.
bool checkIsValue(const QVariant& value, int type, qint64* failureCode)
{
    if (isNilObject(value)) {
        log(APMMonitor::kLevelWarning, kCodeNilValue,
            V::labelForType(type) + QStringLiteral(" cannot be nil"));
        return refuse(failureCode, V::Missing);
    }
    if (!isValueObject(value)) {
        log(APMMonitor::kLevelWarning, kCodeNotAValue,
            V::labelForType(type) + QStringLiteral(" must be a APMValue instance. value"),
            QString::fromLatin1(value.typeName() ? value.typeName() : "(unknown)"));
        return refuse(failureCode, V::WrongType);
    }
    return true;
}

} // namespace

QString APMDataTypeValidator::labelForType(int type)
{
    switch (type) {
    case EventName:
        return QStringLiteral("Event name");
    case EventOrigin:
        return QStringLiteral("Event origin");
    case EventParameterName:
        return QStringLiteral("Event parameter name");
    case EventParameterValue:
        return QStringLiteral("Event parameter value");
    case UserPropertyName:
        return QStringLiteral("User property name");
    case UserPropertyValue:
        return QStringLiteral("User property value");
    case ScreenParameterValue:
        return QStringLiteral("Screen parameter value");
    case ConditionalUserPropertyOrigin:
        return QStringLiteral("Conditional user property origin");
    case ConditionalUserPropertyName:
        return QStringLiteral("Conditional user property name");
    case ConditionalUserPropertyValue:
        return QStringLiteral("Conditional user property value");
    default:
        return QStringLiteral("Object");
    }
}

bool APMDataTypeValidator::isValidString(
    const QVariant& object, qint64 minLength, qint64 maxLength, int type, qint64* failureCode)
{
    clear(failureCode);
    const qint64 level = levelForType(type);
    const QString label = labelForType(type);
    if (isNilObject(object)) {
        log(level, kCodeMissingString, label + QStringLiteral(" is required and can't be nil"));
        return refuse(failureCode, Missing);
    }
    if (!isString(object)) {
        log(level, kCodeInvalidString, label + QStringLiteral(" must be of type NSString"), object);
        return refuse(failureCode, WrongType);
    }
    const QString text = object.toString();
    if (text.isEmpty() && minLength >= 1) {
        // An empty value is an everyday occurrence; only names are worth a line.
        if (!isValueType(type))
            log(level, kCodeMissingString, label + QStringLiteral(" is required and can't be empty"));
        return refuse(failureCode, Missing);
    }
    const qint64 length = CodePoints::length(text);
    if (length > maxLength) {
        log(level, kCodeInvalidString,
            label + QStringLiteral(" is too long. The maximum supported length is %1").arg(maxLength), text);
        return refuse(failureCode, TooLong);
    }
    if (length < minLength) {
        log(level, kCodeInvalidString,
            label + QStringLiteral(" is too short. The minimum supported length is %1").arg(minLength), text);
        return refuse(failureCode, TooShort);
    }
    return true;
}

bool APMDataTypeValidator::isValidInternalName(
    const QVariant& name, qint64 maxLength, int type, qint64* failureCode)
{
    if (!isValidString(name, 1, maxLength, type, failureCode))
        return false;
    if (!hasOnlyNameCharacters(name.toString())) {
        log(APMMonitor::kLevelError, kCodeBadCharacters,
            labelForType(type) + QStringLiteral(" must contain only letters, numbers, or underscores"), name);
        return refuse(failureCode, BadCharacters);
    }
    return true;
}

bool APMDataTypeValidator::isValidPublicName(
    const QVariant& name, qint64 maxLength, int type, qint64* failureCode)
{
    if (!isValidInternalName(name, maxLength, type, failureCode))
        return false;
    if (!startsWithNameLetter(name.toString())) {
        log(APMMonitor::kLevelError, kCodeMustStartWithLetter,
            labelForType(type) + QStringLiteral(" must start with a letter"), name);
        return refuse(failureCode, BadCharacters);
    }
    return true;
}

bool APMDataTypeValidator::isValidValue(
    const QVariant& value, qint64 minLength, qint64 maxLength, int type, qint64* failureCode)
{
    clear(failureCode);
    if (!checkIsValue(value, type, failureCode))
        return false;
    const APMValue apmValue = value.value<APMValue>();
    if (apmValue.isString())
        return isValidString(apmValue.stringValue(), minLength, maxLength, type, failureCode);
    return true;
}

bool APMDataTypeValidator::hasReservedPrefixes(const QString& name)
{
    for (const QString& prefix : kReservedPrefixes) {
        if (name.startsWith(prefix))
            return true;
    }
    return false;
}

bool APMDataTypeValidator::isValidPublicEventName(const QVariant& name, qint64* failureCode)
{
    if (!isValidPublicName(name, kMaxEventNameLength, EventName, failureCode))
        return false;
    const QString text = name.toString();
    if (text == APMEventNames::kScreenViewEvent)
        return true;
    if (APMPublicToInternalEventNames().contains(text)
        && !APMPublicEventsConvertedToInternal().contains(text)) {
        log(APMMonitor::kLevelError, kCodeReservedEventName,
            QStringLiteral("Event name is reserved. Ignoring event"), text);
        return refuse(failureCode, Reserved);
    }
    if (hasReservedPrefixes(text)) {
        log(APMMonitor::kLevelError, kCodeReservedEventPrefix,
            QStringLiteral("Event name uses reserved prefix. Ignoring event"), text);
        return refuse(failureCode, Reserved);
    }
    return true;
}

bool APMDataTypeValidator::isValidInternalEventName(const QVariant& name, qint64* failureCode)
{
    return isValidInternalName(name, kMaxEventNameLength, EventName, failureCode);
}

bool APMDataTypeValidator::isValidInternalEventOrigin(const QVariant& origin, qint64* failureCode)
{
    return isValidInternalName(origin, kMaxOriginLength, EventOrigin, failureCode);
}

bool APMDataTypeValidator::isValidForwardedEventOrigin(const QVariant& origin, qint64* failureCode)
{
    clear(failureCode);
    if (!isString(origin)) // nil or another kind: the name rule words the refusal
        return isValidInternalName(origin, kMaxOriginLength, EventOrigin, failureCode);
    const QString text = origin.toString();
    if (text.isEmpty())
        return refuse(failureCode, Missing);
    if (!text.endsWith(kForwardedOriginSuffix))
        return refuse(failureCode, NoForwardedSuffix);
    return isValidInternalName(
        text.chopped(kForwardedOriginSuffix.size()), kMaxOriginLength, EventOrigin, failureCode);
}

bool APMDataTypeValidator::isValidPublicEventParameterName(const QVariant& name, qint64* failureCode)
{
    if (!isValidPublicName(name, kMaxEventParameterNameLength, EventParameterName, failureCode))
        return false;
    if (hasReservedPrefixes(name.toString())) {
        log(APMMonitor::kLevelError, kCodeReservedParameterPrefix,
            QStringLiteral("Parameter name uses reserved prefix. Ignoring parameter"), name);
        return refuse(failureCode, Reserved);
    }
    return true;
}

bool APMDataTypeValidator::isValidInternalEventParameterName(const QVariant& name, qint64* failureCode)
{
    return isValidInternalName(name, kMaxEventParameterNameLength, EventParameterName, failureCode);
}

bool APMDataTypeValidator::isValidPublicEventParameterValue(
    const QVariant& value, const EventParameterLimits& limits, qint64* failureCode)
{
    return isValidValue(
        value, 0, limits.maxPublicEventParameterValueLength, EventParameterValue, failureCode);
}

bool APMDataTypeValidator::isValidInternalEventParameterValue(
    const QVariant& value, const EventParameterLimits& limits, qint64* failureCode)
{
    return isValidValue(
        value, 0, limits.maxInternalEventParameterValueLength(), EventParameterValue, failureCode);
}

bool APMDataTypeValidator::isValidArrayParamForEvent(const QString& eventName, const QString& paramName,
    qint64 arrayCount, bool isNestedArrayParam, qint64* failureCode)
{
    clear(failureCode);
    if (isNestedArrayParam) {
        log(APMMonitor::kLevelError, kCodeInvalidArrayParameter,
            QStringLiteral("Nested array parameters are not allowed. Name"), paramName);
        return refuse(failureCode, NestedArray);
    }
    if (!APMIsItemArrayEvent(eventName)) {
        log(APMMonitor::kLevelError, kCodeInvalidArrayParameter,
            QStringLiteral(
                "Only ecommerce events are allowed to contain array parameters. Invalid ecommerce name"),
            eventName);
        return refuse(failureCode, ArrayOnNonEcommerceEvent);
    }
    if (paramName != APMEventNames::kItemsParameter) {
        log(APMMonitor::kLevelError, kCodeInvalidArrayParameter,
            labelForType(EventParameterName)
                + QStringLiteral(
                    " is an invalid ecommerce items. The name of array parameters for ecommerce should "
                    "be \"%1\". Invalid parameter name")
                      .arg(APMEventNames::kItemsParameter),
            paramName);
        return refuse(failureCode, ArrayNotNamedItems);
    }
    if (arrayCount > kMaxArrayItems) {
        log(APMMonitor::kLevelError, kCodeInvalidArrayParameter,
            QStringLiteral("Array parameter has too many items. The maximum number of supported items is %1. "
                           "Invalid array size")
                .arg(kMaxArrayItems),
            arrayCount);
        return refuse(failureCode, TooManyArrayItems);
    }
    return true;
}

bool APMDataTypeValidator::isValidArrayParamItem(const QVariant& item, qint64* failureCode)
{
    clear(failureCode);
    if (item.metaType().id() != QMetaType::QVariantMap) {
        log(APMMonitor::kLevelError, kCodeArrayItemNotDictionary,
            QStringLiteral("Array param must be a dictionary. Parameters"), item);
        return refuse(failureCode, ArrayItemNotDictionary);
    }
    return true;
}

bool APMDataTypeValidator::isValidScreenParameterValue(
    const QVariant& value, const EventParameterLimits& limits, qint64* failureCode)
{
    return isValidString(
        value, 1, limits.maxPublicEventParameterValueLength, ScreenParameterValue, failureCode);
}

bool APMDataTypeValidator::isValidPublicUserAttributeName(const QVariant& name, qint64* failureCode)
{
    if (!isValidPublicName(name, kMaxUserPropertyNameLength, UserPropertyName, failureCode))
        return false;
    const QString text = name.toString();
    if (APMPublicToInternalUserPropertyNames().contains(text)) {
        log(APMMonitor::kLevelError, kCodeReservedUserPropertyName,
            QStringLiteral("User property name is reserved. Ignoring user property"), text);
        return refuse(failureCode, Reserved);
    }
    if (hasReservedPrefixes(text)) {
        log(APMMonitor::kLevelError, kCodeReservedUserPropertyPrefix,
            QStringLiteral("User property name uses reserved prefix. Ignoring user property"), text);
        return refuse(failureCode, Reserved);
    }
    return true;
}

bool APMDataTypeValidator::isValidPublicUserAttributeValue(const QVariant& value, qint64* failureCode)
{
    return isValidValue(value, 1, kMaxUserPropertyValueLength, UserPropertyValue, failureCode);
}

bool APMDataTypeValidator::isValidInternalUserAttributeName(const QVariant& name, qint64* failureCode)
{
    return isValidInternalName(name, kMaxUserPropertyNameLength, UserPropertyName, failureCode);
}

bool APMDataTypeValidator::isValidInternalUserAttributeValue(
    const QVariant& value, const QString& name, qint64* failureCode)
{
    const bool isLong = std::find(kLongValueUserProperties.begin(), kLongValueUserProperties.end(), name)
        != kLongValueUserProperties.end();
    return isValidValue(value, 1, isLong ? kMaxLongUserPropertyValueLength : kMaxUserPropertyValueLength,
        UserPropertyValue, failureCode);
}

bool APMDataTypeValidator::isValidConditionalUserPropertyOrigin(const QVariant& origin, qint64* failureCode)
{
    return isValidInternalName(origin, kMaxOriginLength, ConditionalUserPropertyOrigin, failureCode);
}

bool APMDataTypeValidator::isValidConditionalUserPropertyName(const QVariant& name, qint64* failureCode)
{
    return isValidInternalName(name, kMaxUserPropertyNameLength, ConditionalUserPropertyName, failureCode);
}

bool APMDataTypeValidator::isValidConditionalUserPropertyValue(const QVariant& value, qint64* failureCode)
{
    return isValidValue(value, 1, kMaxUserPropertyValueLength, ConditionalUserPropertyValue, failureCode);
}

bool APMDataTypeValidator::isValidNumericValue(const QVariant& value, qint64* failureCode)
{
    clear(failureCode);
    if (!checkIsValue(value, EventParameterValue, failureCode))
        return false;
    const APMValue apmValue = value.value<APMValue>();
    if (apmValue.isInt64() || apmValue.isDouble())
        return true;
    log(APMMonitor::kLevelWarning, kCodeNotNumeric,
        labelForType(EventParameterValue) + QStringLiteral(" must be specified with a numeric type. value"),
        apmValue.description());
    return refuse(failureCode, NotNumeric);
}

bool APMDataTypeValidator::isValidCurrencyCode(const QVariant& value, qint64* failureCode)
{
    clear(failureCode);
    if (!checkIsValue(value, EventParameterValue, failureCode))
        return false;
    const APMValue apmValue = value.value<APMValue>();
    const QString code = apmValue.stringValue();
    bool valid = apmValue.isString() && code.size() == kCurrencyCodeLength;
    for (qsizetype i = 0; valid && i < code.size(); ++i)
        valid = isNameLetter(code.at(i).unicode());
    if (valid)
        return true;
    log(APMMonitor::kLevelWarning, kCodeNotCurrencyCode,
        labelForType(EventParameterValue)
            + QStringLiteral(" must contain a %1-letter ISO_4217 currency code. value")
                  .arg(kCurrencyCodeLength),
        value);
    return refuse(failureCode, NotCurrencyCode);
}
