#pragma once

#include <QVariant>

#include <memory>

class APMMonitor;
class APMPBFlag;

// Experiment flag values and their wire message. A flag holds one value:
// an integer, a real, a string or a boolean.

// The flag's value: the integer (qlonglong) when present, else the real
// (double), else the string, else the boolean; an invalid QVariant for no
// message or no value.
QVariant APMEFlagValueFromProto(const APMPBFlag* flag);

// A flag message of the name and value, or nothing. The name must be a
// string (logged at level 1 with code 850000 when missing, 850001 when of
// another kind) and the value a number or a string (850002). A string goes
// into the string value, a floating-point number into the real value, any
// other number (booleans as 0 or 1) into the integer value. Refusals are
// logged to the given monitor, the experimentation client's.
std::unique_ptr<APMPBFlag> APMEFlagProtoFromNameAndValue(
    const QVariant& name, const QVariant& value, APMMonitor& monitor);
