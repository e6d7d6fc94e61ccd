#pragma once

#include <QMetaType>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <functional>
#include <optional>

// The one representation of a user-property value and an event-parameter
// value: an immutable pair of a value type and a boxed value. Integers,
// reals and booleans are kept apart: 7 is an int64 value, 7.0 a double value,
// a boolean an int64 value of 0 or 1. Values are immutable and may be shared
// between threads freely; copies share the boxed value.
class APMValue {
public:
    enum ValueType : qint64 {
        Double = 0,
        Int64 = 1,
        String = 2,
        Array = 3,
    };

    // A value for the object, or nothing (logged at level 0, code 35000 for
    // an invalid QVariant, 35001 for an unsupported kind). Accepted: an
    // APMValue (answered as it is), a string, a number (floating-point kinds
    // give Double; integer kinds, booleans and characters give Int64; an
    // unsigned number above the int64 range is refused), and, only when
    // allowArray is true, a QVariantList or QStringList.
    static std::optional<APMValue> valueFromObject(const QVariant& object);
    static std::optional<APMValue> valueFromObject(const QVariant& object, bool allowArray);

    static APMValue initWithDouble(double value);
    static APMValue initWithInt64(qint64 value);
    // Nothing for an invalid QVariant (code 35002) or one that is not a
    // string (35003).
    static std::optional<APMValue> initWithString(const QVariant& value);
    // Nothing for an invalid QVariant (35004) or one that is not a
    // QVariantList or QStringList (35005). Elements may be of any kind.
    static std::optional<APMValue> initWithArray(const QVariant& value);
    // Stores type and value as given, without any check.
    static APMValue initWithValueType(ValueType type, const QVariant& value);

    // The int64 value 0; containers and QVariant need a default.
    APMValue();

    ValueType valueType() const { return type_; }
    bool isDouble() const { return type_ == Double; }
    bool isInt64() const { return type_ == Int64; }
    bool isString() const { return type_ == String; }
    bool isArray() const { return type_ == Array; }

    // No conversion between types: each answers its empty value (0.0, 0, a
    // null QString, an empty list) when the type differs.
    double doubleValue() const;
    qint64 int64Value() const;
    QString stringValue() const;
    QVariantList arrayValue() const;
    // The plain number (double or qint64) or text that callers outside the
    // engine see; an invalid QVariant for an array.
    QVariant plainValue() const;

    // The boxed value as stored.
    const QVariant& value() const { return value_; }

    // The boxed value's own text: "42", "1.5", "abc", "(a, b)".
    QString description() const;

    // Equal when the types are equal and the boxed values are equal.
    bool operator==(const APMValue& other) const;
    bool operator!=(const APMValue& other) const { return !(*this == other); }
    // (type * 31) XOR the boxed value's hash, in unsigned 64-bit arithmetic.
    quint64 hash() const;

private:
    APMValue(ValueType type, QVariant value);

    ValueType type_;
    QVariant value_;
};

Q_DECLARE_METATYPE(APMValue)

inline size_t qHash(const APMValue& value, size_t seed = 0)
{
    return static_cast<size_t>(value.hash()) ^ seed;
}

template <> struct std::hash<APMValue> {
    size_t operator()(const APMValue& value) const noexcept { return static_cast<size_t>(value.hash()); }
};
