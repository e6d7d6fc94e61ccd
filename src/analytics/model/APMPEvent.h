#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

// An event in the form that event-editing programs see and change: a public
// name, a time in seconds since 1970 and parameters as plain values (numbers,
// texts, and lists of dictionaries of the same for item arrays). Copies are
// independent.
class APMPEvent {
public:
    APMPEvent() = default;
    APMPEvent(const QString& name, double timestamp, const QVariantMap& parameters);

    const QString& name() const { return name_; }
    void setName(const QString& name) { name_ = name; }
    double timestamp() const { return timestamp_; }
    void setTimestamp(double timestamp) { timestamp_ = timestamp; }
    const QVariantMap& parameters() const { return parameters_; }

    QVariant parameterForName(const QString& name) const { return parameters_.value(name); }
    bool hasParameterName(const QString& name) const { return parameters_.contains(name); }
    // An invalid value removes the parameter; otherwise the value is coerced
    // against the parameter's current value (APMPCoerceParameterValue).
    void setParameter(const QVariant& value, const QString& name);

    // Same name, timestamps within one double epsilon, and every parameter
    // of this event present in the other with an equal value of the same
    // kind (integer or floating point). Parameters only the other event has
    // are not examined.
    bool isEqualToEvent(const APMPEvent& other) const;

private:
    QString name_;
    double timestamp_ = 0;
    QVariantMap parameters_;
};

// The value to store for a parameter given its current value and a new one:
// - a new value that is not a number is stored as it is;
// - "_syn", "_err" and "_el" take whole numbers;
// - over a floating-point number the new number is stored as it is; over a
//   whole number, an internal ("_") parameter keeps its current value and a
//   public one takes the new number made whole;
// - over a text, the new number's text;
// - otherwise the new value as it is.
// Numbers are made whole by truncation, saturating at the 64-bit range.
QVariant APMPCoerceParameterValue(const QString& name, const QVariant& current, const QVariant& value);

// Whole-number and floating-point kinds of QVariant.
bool APMPIsIntegerVariant(const QVariant& value);
bool APMPIsFloatingVariant(const QVariant& value);
