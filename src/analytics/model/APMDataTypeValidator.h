#pragma once

#include "analytics/model/EventParameterLimits.h"

#include <QString>
#include <QVariant>

// Decides whether a name or value handed to the analytics engine may be
// stored: event names and origins, parameter names and values, array
// parameters and their items, user property names and values, screen
// parameter values, the fields of a conditional user property, numeric values
// and currency codes.
//
// "Public" rules apply to names the application chooses; "internal" rules to
// names the library makes itself (only they may begin with "_"). Lengths count
// code points, not UTF-16 units.
//
// Every check answers true or false and, when `failureCode` is given, writes
// 0 there first and the reason of a refusal afterwards. Most refusals also
// write one line to the monitor (codes 13000-13014). Objects are passed as
// QVariant: an invalid QVariant stands for nil, a value is an APMValue held in
// the QVariant. Stateless; safe on any thread.
class APMDataTypeValidator {
public:
    // What is being checked; used to word the monitor messages.
    enum SubjectType : int {
        EventName = 0,
        EventOrigin = 1,
        EventParameterName = 2,
        EventParameterValue = 3,
        UserPropertyName = 4,
        UserPropertyValue = 5,
        ScreenParameterValue = 6,
        ConditionalUserPropertyOrigin = 7,
        ConditionalUserPropertyName = 8,
        ConditionalUserPropertyValue = 9,
    };

    enum FailureCode : qint64 {
        Valid = 0,
        Missing = 1, // nil, or empty where at least one character is needed
        TooLong = 2,
        BadCharacters = 3, // not only letters, digits and "_", or not starting with a letter
        Reserved = 4, // reserved name or reserved prefix
        WrongType = 5, // not a string, or not an APMValue
        NoForwardedSuffix = 6, // forwarded origin without "+vtm"
        TooShort = 7,
        NotNumeric = 8,
        NotCurrencyCode = 9,
        ArrayOnNonEcommerceEvent = 10,
        ArrayNotNamedItems = 11,
        TooManyArrayItems = 12,
        NestedArray = 13,
        ArrayItemNotDictionary = 14,
    };

    static constexpr qint64 kMaxEventNameLength = 40;
    static constexpr qint64 kMaxEventParameterNameLength = 40;
    static constexpr qint64 kMaxOriginLength = 32;
    static constexpr qint64 kMaxUserPropertyNameLength = 24;
    static constexpr qint64 kMaxUserPropertyValueLength = 36;
    static constexpr qint64 kMaxLongUserPropertyValueLength = 256; // "_id", "_vbraid", "_psmvalue"
    static constexpr qint64 kMaxArrayItems = 200;
    static constexpr qint64 kCurrencyCodeLength = 3;

    // The label that starts the monitor messages about this subject.
    static QString labelForType(int type);

    // Building blocks.
    static bool isValidString(
        const QVariant& object, qint64 minLength, qint64 maxLength, int type, qint64* failureCode);
    static bool isValidInternalName(const QVariant& name, qint64 maxLength, int type, qint64* failureCode);
    static bool isValidPublicName(const QVariant& name, qint64 maxLength, int type, qint64* failureCode);
    static bool isValidValue(
        const QVariant& value, qint64 minLength, qint64 maxLength, int type, qint64* failureCode);
    // Begins with "basalt_", "vireo_" or "va_".
    static bool hasReservedPrefixes(const QString& name);

    // Events.
    static bool isValidPublicEventName(const QVariant& name, qint64* failureCode);
    static bool isValidInternalEventName(const QVariant& name, qint64* failureCode);
    static bool isValidInternalEventOrigin(const QVariant& origin, qint64* failureCode);
    // An origin ending in "+vtm" whose rest is a valid internal origin.
    static bool isValidForwardedEventOrigin(const QVariant& origin, qint64* failureCode);
    static bool isValidPublicEventParameterName(const QVariant& name, qint64* failureCode);
    static bool isValidInternalEventParameterName(const QVariant& name, qint64* failureCode);
    static bool isValidPublicEventParameterValue(
        const QVariant& value, const EventParameterLimits& limits, qint64* failureCode);
    static bool isValidInternalEventParameterValue(
        const QVariant& value, const EventParameterLimits& limits, qint64* failureCode);
    // Whether an array of `arrayCount` items may be the parameter
    // `paramName` of the event; `isNestedArrayParam` says that the array sits
    // inside an item of another array.
    static bool isValidArrayParamForEvent(const QString& eventName, const QString& paramName,
        qint64 arrayCount, bool isNestedArrayParam, qint64* failureCode);
    // An item of an array parameter must be a dictionary (QVariantMap).
    static bool isValidArrayParamItem(const QVariant& item, qint64* failureCode);
    static bool isValidScreenParameterValue(
        const QVariant& value, const EventParameterLimits& limits, qint64* failureCode);

    // User properties.
    static bool isValidPublicUserAttributeName(const QVariant& name, qint64* failureCode);
    static bool isValidPublicUserAttributeValue(const QVariant& value, qint64* failureCode);
    static bool isValidInternalUserAttributeName(const QVariant& name, qint64* failureCode);
    static bool isValidInternalUserAttributeValue(
        const QVariant& value, const QString& name, qint64* failureCode);

    // Conditional user properties.
    static bool isValidConditionalUserPropertyOrigin(const QVariant& origin, qint64* failureCode);
    static bool isValidConditionalUserPropertyName(const QVariant& name, qint64* failureCode);
    static bool isValidConditionalUserPropertyValue(const QVariant& value, qint64* failureCode);

    // An APMValue holding an int64 or a double.
    static bool isValidNumericValue(const QVariant& value, qint64* failureCode);
    // An APMValue holding three letters (either case).
    static bool isValidCurrencyCode(const QVariant& value, qint64* failureCode);
};
