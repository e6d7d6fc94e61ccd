#include "analytics/model/APMEventParameters.h"

#include "analytics/model/APMEvent.h"
#include "analytics/model/APMEventNames.h"
#include "analytics/base/APMMonitor.h"
#include "analytics/base/CodePoints.h"
#include "analytics/model/APMDataTypeValidator.h"
#include "analytics/base/APMLibrary.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>

namespace {

using V = APMDataTypeValidator;
namespace N = APMEventNames;

const QString kNilDescription = QStringLiteral("(nil)");
const QString kEllipsis = QStringLiteral("...");
// Offending names are cut where a parameter name would have to end.
constexpr qint64 kMaxErrorNameLength = V::kMaxEventParameterNameLength;

bool isNilParameter(const QVariant& object)
{
    return !object.isValid() || object.metaType().id() == QMetaType::Nullptr;
}

bool isParameterValue(const QVariant& object)
{
    return object.metaType() == QMetaType::fromType<APMValue>();
}

bool isParameterList(const QVariant& object)
{
    const int id = object.metaType().id();
    return id == QMetaType::QVariantList || id == QMetaType::QStringList;
}

// What an APMValue holds, so that a value is measured like the plain object.
QVariant unwrapped(const QVariant& object)
{
    return isParameterValue(object) ? object.value<APMValue>().value() : object;
}

APMValue stringValue(const QString& text)
{
    return APMValue::initWithValueType(APMValue::String, text);
}

template <typename Map> bool hasScreenParameters(const Map& parameters)
{
    return parameters.contains(N::kScreenIDParameter) || parameters.contains(N::kScreenClassParameter)
        || parameters.contains(N::kScreenNameParameter);
}

template <typename Map> Map screenParametersFrom(const Map& parameters)
{
    Map screen;
    for (const QString& key : { N::kScreenNameParameter, N::kScreenClassParameter, N::kScreenIDParameter }) {
        const auto it = parameters.constFind(key);
        if (it != parameters.cend())
            screen.insert(key, it.value());
    }
    return screen;
}

bool hasAnyError(const EventParameters& parameters)
{
    return parameters.contains(N::kErrorParameter) || parameters.contains(N::kErrorValueParameter)
        || parameters.contains(N::kErrorLengthParameter);
}

void applyParameterLimits(EventParameters& parameters, bool isItem, const EventParameterLimits& limits)
{
    APMMonitor& monitor = APMLibrary::monitor();
    if (!isItem) {
        const qint64 limit = limits.maxPublicEventParams;
        if (APMCountPublicParameters(parameters, false) > limit) {
            APMTrimParametersToLimit(parameters, limit, false);
            APMSetErrorCodeIfAbsent(parameters, APMEventErrorCodeParameterLimitReached);
            monitor.logWithLevel(APMMonitor::kLevelErrorMonitored, 18017,
                QStringLiteral("Event cannot contain more than %1 parameters").arg(limit));
        }
        return;
    }
    const qint64 allowance
        = limits.itemScopedCustomParameterEnabled ? limits.maxItemScopedCustomParameters : 0;
    if (APMCountPublicParameters(parameters, true) > allowance) {
        APMTrimParametersToLimit(parameters, allowance, true);
        APMSetErrorCodeIfAbsent(parameters,
            allowance > 0 ? APMEventErrorCodeItemScopedCustomParameterLimitReached
                          : APMEventErrorCodeCustomParamsInArrayElement);
        monitor.logWithLevel(
            APMMonitor::kLevelError, 18016, QStringLiteral("Item cannot contain custom parameters"));
    }
}

} // namespace

QVariantMap APMVariantMapFromParameters(const EventParameters& parameters)
{
    QVariantMap map;
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it)
        map.insert(it.key(), QVariant::fromValue(it.value()));
    return map;
}

bool APMHasScreenParameters(const QVariantMap& parameters)
{
    return hasScreenParameters(parameters);
}

bool APMHasScreenParameters(const EventParameters& parameters)
{
    return hasScreenParameters(parameters);
}

QVariantMap APMScreenParametersFromParameters(const QVariantMap& parameters)
{
    return screenParametersFrom(parameters);
}

EventParameters APMScreenParametersFromParameters(const EventParameters& parameters)
{
    return screenParametersFrom(parameters);
}

bool APMHasArrayParameter(const QVariantMap& parameters)
{
    for (const QVariant& value : parameters) {
        if (isParameterList(value) || (isParameterValue(value) && value.value<APMValue>().isArray()))
            return true;
    }
    return false;
}

bool APMHasArrayParameter(const EventParameters& parameters)
{
    for (const APMValue& value : parameters) {
        if (value.isArray())
            return true;
    }
    return false;
}

qint64 APMEventArrayItemCount(const APMEvent* event)
{
    if (!event)
        return 0;
    qint64 count = 0;
    for (const APMValue& value : event->parameters()) {
        if (value.isArray())
            count += value.arrayValue().size();
    }
    return count;
}

qint64 APMCountPublicParameters(const EventParameters& parameters, bool excludeItemParameters)
{
    qint64 count = 0;
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it) {
        if (APMIsPublicName(it.key()) && !(excludeItemParameters && APMIsItemParameterName(it.key())))
            ++count;
    }
    return count;
}

bool APMIsValidParameterName(const QString& name, bool checkPublic, EventParameters* errors)
{
    qint64 failureCode = V::Valid;
    const bool valid = (!checkPublic || V::isValidPublicEventParameterName(name, &failureCode))
        && V::isValidInternalEventParameterName(name, &failureCode);
    if (!valid && failureCode != V::Valid && errors) {
        const qint64 code = failureCode == V::Reserved ? APMEventErrorCodeParameterNameIsReserved
                                                       : APMEventErrorCodeInvalidParameterName;
        // The length is only worth sending when the name was cut.
        const bool cut = CodePoints::length(name) > kMaxErrorNameLength;
        APMSetErrorIfAbsent(*errors, code, name, kMaxErrorNameLength, cut ? QVariant(name) : QVariant());
    }
    return valid;
}

void APMSetErrorCodeIfAbsent(EventParameters& parameters, qint64 code)
{
    if (!parameters.contains(N::kErrorParameter))
        parameters.insert(N::kErrorParameter, APMValue::initWithInt64(code));
}

void APMSetErrorIfAbsent(EventParameters& parameters, qint64 code, const QVariant& value, qint64 maxLength,
    const QVariant& lengthSource)
{
    if (hasAnyError(parameters))
        return;
    parameters.insert(N::kErrorParameter, APMValue::initWithInt64(code));
    trimStringToLength(parameters, value, maxLength, lengthSource);
}

void trimStringToLength(
    EventParameters& parameters, const QVariant& value, qint64 maxLength, const QVariant& lengthSource)
{
    if (parameters.contains(N::kErrorValueParameter) || parameters.contains(N::kErrorLengthParameter))
        return;
    QString text;
    if (isNilParameter(value))
        text = kNilDescription;
    else if (value.metaType().id() == QMetaType::QString)
        text = value.toString();
    else
        text = QString::fromLatin1(value.typeName());
    const qint64 limit = std::max<qint64>(0, maxLength);
    if (CodePoints::length(text) > limit)
        text = CodePoints::left(text, limit) + kEllipsis;
    parameters.insert(N::kErrorValueParameter, stringValue(text));

    if (isNilParameter(lengthSource))
        return;
    const QVariant source = unwrapped(lengthSource);
    qint64 length = 0;
    if (source.metaType().id() == QMetaType::QString)
        length = CodePoints::length(source.toString());
    else if (isParameterList(source))
        length = source.toList().size();
    parameters.insert(N::kErrorLengthParameter, APMValue::initWithInt64(length));
}

void APMSetArrayParameterError(
    EventParameters& parameters, qint64 failureCode, const QString& parameterName, const QString& eventName)
{
    switch (failureCode) {
    case V::ArrayOnNonEcommerceEvent:
        APMSetErrorIfAbsent(parameters, APMEventErrorCodeInvalidArrayParamEventName, eventName,
            kMaxErrorNameLength, QVariant());
        break;
    case V::ArrayNotNamedItems:
        APMSetErrorIfAbsent(parameters, APMEventErrorCodeInvalidArrayParamName, parameterName,
            kMaxErrorNameLength, QVariant());
        break;
    case V::TooManyArrayItems:
        APMSetErrorIfAbsent(parameters, APMEventErrorCodeTooManyExtraParamEvents, parameterName,
            kMaxErrorNameLength, QVariant());
        break;
    case V::NestedArray:
        APMSetErrorIfAbsent(parameters, APMEventErrorCodeInvalidArrayParamNesting, parameterName,
            kMaxErrorNameLength, QVariant());
        break;
    default:
        break;
    }
}

void APMLogErrorEvent(qint64 code, const InternalEventLogger& logger)
{
    if (code == APMEventErrorCodeNoError || !logger)
        return;
    EventParameters parameters;
    APMSetErrorCodeIfAbsent(parameters, code);
    logger(N::kAutoOrigin, N::kErrorEvent, APMVariantMapFromParameters(parameters));
}

void APMLogErrorEventWithValue(qint64 code, const QString& name, qint64 maxLength, const QVariant& value,
    const InternalEventLogger& logger)
{
    if (code == APMEventErrorCodeNoError || !logger)
        return;
    EventParameters parameters;
    parameters.insert(N::kErrorParameter, APMValue::initWithInt64(code));
    const QVariant plain = unwrapped(value);
    const bool tooLong
        = plain.metaType().id() == QMetaType::QString && CodePoints::length(plain.toString()) > maxLength;
    const bool withLength = !isNilParameter(value)
        && (code == APMEventErrorCodeInvalidParameterValue
            || code == APMEventErrorCodeUserPropertyValueTooLong || tooLong);
    trimStringToLength(parameters, name, maxLength, withLength ? value : QVariant());
    logger(N::kAutoOrigin, N::kErrorEvent, APMVariantMapFromParameters(parameters));
}

std::optional<EventParameters> APMCleanEventParameters(const QVariantMap& parameters,
    const QString& eventName, bool checkPublic, bool isItem, const EventParameterLimits& limits)
{
    if (parameters.isEmpty())
        return std::nullopt;
    const bool internalEvent
        = APMPublicToInternalEventNames().contains(eventName) || eventName.startsWith(QLatin1Char('_'));
    const qint64 maxInternalLength = limits.maxInternalEventParameterValueLength();

    EventParameters kept;
    EventParameters errors; // the first violation found, as error parameters
    std::optional<qint64> trimmedErrorValueLength;

    // Keys in sorted order: which violation is recorded first never depends
    // on how the caller built its dictionary.
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it) {
        const QString& key = it.key();
        if (!APMIsValidParameterName(key, checkPublic, &errors))
            continue;
        std::optional<APMValue> value = APMValue::valueFromObject(it.value(), true);
        if (!value) {
            APMLibrary::monitor().logWithLevel(APMMonitor::kLevelWarning, 18015,
                QStringLiteral("Event parameter value must be of type NSString, NSNumber or NSArray. Type"),
                QString::fromLatin1(it.value().typeName() ? it.value().typeName() : "(nil)"));
            continue;
        }
        qint64 failureCode = V::Valid;
        bool keep = true;
        if (checkPublic
            && !V::isValidPublicEventParameterValue(QVariant::fromValue(*value), limits, &failureCode)) {
            keep = false;
        } else if (key == N::kErrorValueParameter) {
            // The offending text of an error event; cut, not refused, when long.
            // A text already cut to the limit with "..." is left as it is.
            const QString text = value->stringValue();
            const qint64 length = CodePoints::length(text);
            const bool alreadyTrimmed
                = length == maxInternalLength + kEllipsis.size() && text.endsWith(kEllipsis);
            if (value->isString() && length > maxInternalLength && !alreadyTrimmed) {
                value = stringValue(CodePoints::left(text, maxInternalLength) + kEllipsis);
                trimmedErrorValueLength = length;
            }
        } else if (internalEvent
            && !V::isValidInternalEventParameterValue(QVariant::fromValue(*value), limits, &failureCode)) {
            keep = false;
        } else if (value->isArray() && !isParameterValue(it.value())) {
            std::optional<APMValue> cleaned = APMCleanArrayParameter(
                value->arrayValue(), key, eventName, &errors, isItem, checkPublic, limits, &failureCode);
            if (cleaned)
                value = cleaned;
            else
                keep = false;
        }
        if (!keep && failureCode == V::TooLong) {
            const QVariant lengthSource = value->isString() ? QVariant(value->stringValue()) : QVariant();
            APMSetErrorIfAbsent(
                errors, APMEventErrorCodeInvalidParameterValue, key, kMaxErrorNameLength, lengthSource);
        }
        if (value->isArray() && failureCode != V::Valid)
            APMSetArrayParameterError(errors, failureCode, key, eventName);
        if (keep)
            kept.insert(key, *value);
    }

    if (trimmedErrorValueLength && kept.contains(N::kErrorValueParameter)
        && !kept.contains(N::kErrorLengthParameter))
        kept.insert(N::kErrorLengthParameter, APMValue::initWithInt64(*trimmedErrorValueLength));
    // A dictionary that already describes an error keeps its own description.
    if (!hasAnyError(kept))
        kept.insert(errors);
    applyParameterLimits(kept, isItem, limits);
    return kept;
}

std::optional<EventParameters> APMCleanParameters(
    const QVariantMap& parameters, bool checkPublic, const EventParameterLimits& limits)
{
    return APMCleanEventParameters(parameters, QString(), checkPublic, false, limits);
}

std::optional<APMValue> APMCleanArrayParameter(const QVariantList& array, const QString& parameterName,
    const QString& eventName, EventParameters* errors, bool isNested, bool checkPublic,
    const EventParameterLimits& limits, qint64* failureCode)
{
    qint64 code = V::Valid;
    const bool valid = V::isValidArrayParamForEvent(eventName, parameterName, array.size(), isNested, &code);
    if (failureCode)
        *failureCode = code;
    if (!valid && code != V::TooManyArrayItems)
        return std::nullopt;

    QVariantList items;
    const qsizetype count = std::min<qsizetype>(array.size(), V::kMaxArrayItems);
    for (qsizetype i = 0; i < count; ++i) {
        const QVariant& item = array.at(i);
        if (!V::isValidArrayParamItem(item, nullptr)) {
            if (errors)
                APMSetErrorIfAbsent(*errors, APMEventErrorCodeInvalidParameterValue,
                    QStringLiteral("%1[%2]").arg(parameterName).arg(i), kMaxErrorNameLength, QVariant());
            continue;
        }
        if (const auto cleaned = APMCleanEventParameters(item.toMap(), eventName, checkPublic, true, limits))
            items.append(APMVariantMapFromParameters(*cleaned));
    }
    return APMValue::initWithValueType(APMValue::Array, items);
}

bool APMCheckValueAndCurrency(EventParameters& parameters)
{
    const auto value = parameters.constFind(N::kValueParameter);
    if (value == parameters.cend())
        return true;
    if (!V::isValidNumericValue(QVariant::fromValue(value.value()), nullptr)) {
        parameters.remove(N::kValueParameter);
        APMSetErrorIfAbsent(parameters, APMEventErrorCodeValueIsNotNumeric, N::kValueParameter,
            kMaxErrorNameLength, QVariant());
        return false;
    }
    const auto currency = parameters.constFind(N::kCurrencyParameter);
    const QVariant currencyValue
        = currency == parameters.cend() ? QVariant() : QVariant::fromValue(currency.value());
    if (!V::isValidCurrencyCode(currencyValue, nullptr)) {
        APMLibrary::monitor().logWithLevel(APMMonitor::kLevelWarning, 18014,
            QStringLiteral(
                "Value parameter discarded. You must also supply a 3-letter ISO_4217 currency code in the "
                "currency parameter."));
        parameters.remove(N::kValueParameter);
        APMSetErrorIfAbsent(parameters, APMEventErrorCodeCurrencyCodeIsMissingOrInvalid,
            N::kCurrencyParameter, kMaxErrorNameLength, QVariant());
        return false;
    }
    return true;
}

void APMTrimParametersToLimit(EventParameters& parameters, qint64 limit, bool itemScoped)
{
    qint64 count = APMCountPublicParameters(parameters, itemScoped);
    if (count <= limit)
        return;
    const QStringList keys = parameters.keys(); // in key order
    for (qsizetype i = keys.size() - 1; i >= 0 && count > limit; --i) {
        const QString& key = keys.at(i);
        if (!APMIsPublicName(key) || (itemScoped && APMIsItemParameterName(key)))
            continue;
        parameters.remove(key);
        --count;
    }
}

void APMTrimPublicParametersToLimit(EventParameters& parameters, qint64 limit)
{
    APMTrimParametersToLimit(parameters, limit, false);
}

QStringList APMValidParameterNamesSorted(const QVariantMap& parameters, bool checkPublic, EventParameters* errors)
{
    QStringList names;
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it) {
        if (APMIsValidParameterName(it.key(), checkPublic, errors))
            names.append(it.key());
    }
    std::sort(names.begin(), names.end(),
        [](const QString& a, const QString& b) { return APMCompareNamesEnUS(a, b) < 0; });
    return names;
}

int APMCompareNamesEnUS(const QString& a, const QString& b)
{
    if (a.isNull())
        return -1;
    if (b.isNull())
        return 1;
    QCollator collator { QLocale(QLocale::English, QLocale::UnitedStates) };
    const int order = collator.compare(a, b);
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}
