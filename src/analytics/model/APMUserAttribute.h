#pragma once

#include "analytics/base/APMValue.h"

#include <QString>

#include <memory>
#include <optional>

class APMPBUserAttribute;

// One user property: where it came from, its internal name, its value and
// when it was set (seconds since 1970). Immutable.
class APMUserAttribute {
public:
    // Nothing when the validator refuses the name or the value for the name.
    static std::optional<APMUserAttribute> initWithOrigin(
        const QString& origin, const QString& name, const APMValue& value, double lastSetTimestamp);

    const QString& origin() const { return origin_; }
    const QString& name() const { return name_; }
    const APMValue& value() const { return value_; }
    double lastSetTimestamp() const { return lastSetTimestamp_; }

    // A name that is not empty and does not begin with "_".
    bool isPublic() const;

    bool operator==(const APMUserAttribute& other) const = default;

    // The property as a wire message: name, the value in the slot of its
    // type (none for an array) and the set time in milliseconds. The origin
    // is not sent. A set time whose milliseconds fall outside the int64 range
    // (or are not a number) is left unset.
    std::unique_ptr<APMPBUserAttribute> protoUserAttribute() const;

private:
    APMUserAttribute(
        const QString& origin, const QString& name, const APMValue& value, double lastSetTimestamp);

    QString origin_;
    QString name_;
    APMValue value_;
    double lastSetTimestamp_;
};
