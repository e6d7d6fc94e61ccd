#pragma once

#include "analytics/rules/APMPRuntimeValue.h"

#include <QVariant>

class APMPBRuntimeEntity;
class APMPMapValue;

// Between the forms of a program's data: entity trees from the
// configuration become runtime values, and runtime values become plain Qt
// values (maps, lists, texts, numbers) and back for the host's functions.
class APMPRuntimeEntityConverter {
public:
    // Type 1 string, 2 number, 3 boolean, 4 statement; any other type is
    // error 12, a statement without a name error 14, a tree nested deeper
    // than APMPLimits::kMaxEntityDepth error 19. The first error stops the
    // conversion with the undefined value.
    static APMPValue runtimeValueFromRuntimeEntity(const APMPBRuntimeEntity& entity, APMError* error);

    // Invalid → null; text → string; bool → boolean; other numbers → number;
    // maps → map values (registered with the scope's manager); lists → array
    // values; anything else error 13.
    static APMPValue runtimeValueFromNSObject(const QVariant& object, APMPScope& scope, APMError* error);

    // Null → invalid; undefined → ""; maps → QVariantMap (null properties
    // left out); arrays → QVariantList; other values → their number as a
    // double unless NaN, then their text.
    static QVariant objectFromRuntimeValue(const APMPRuntimeValue& value, APMError* error);
    static QVariantMap dictionaryFromMapValue(const APMPMapValue& map, APMError* error);
};
