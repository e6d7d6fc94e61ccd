#pragma once

#include "analytics/rules/APMPRuntimeValue.h"

// The carrier of break, continue and return. Jumps do not unwind: a
// statement list stops at a control value and hands it back, and each
// enclosing construct consumes it or passes it on.
class APMPControlValue final : public APMPRuntimeValue {
public:
    static constexpr Kind kKind = Kind::Control;
    enum class Type { Break, Continue, Return };

    static const APMPValue& breakValue();
    static const APMPValue& continueValue();
    static APMPValue returnValueWithData(APMPValue data);
    // The same, reusing `spare` when nothing else holds it (a return
    // allocates nothing once a run has made one); `spare` keeps the value.
    static APMPValue returnValueWithData(APMPValue data, APMPValue& spare);
    // Lets go of the data of a spare return value nothing else holds, and
    // of a spare still held elsewhere (the holders keep it).
    static void releaseSpare(APMPValue& spare);
    // The data of a return value a body ended with, and the spare let go
    // of as releaseSpare does; taken without a copy when the return value
    // is the spare and nothing else holds it.
    static APMPValue takeReturnData(APMPValue&& returned, APMPValue& spare);

    APMPControlValue(Type type, APMPValue data);

    Type type() const { return type_; }
    // "break", "continue" or "return".
    QString typeName() const;
    const APMPValue& data() const { return data_; }
    bool isReturn() const { return type_ == Type::Return; }
    static bool isBreak(const APMPValue& value) { return value.get() == breakValue().get(); }

    bool isEqualToRuntimeValue(const APMPRuntimeValue& other) const override;
    void mark(APMPMarker& marker) override { marker.push(data_.get()); }

private:
    Type type_;
    APMPValue data_;
};
