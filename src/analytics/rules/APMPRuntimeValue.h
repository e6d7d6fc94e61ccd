#pragma once

// A value a rule program works with. The modules that the host offers to
// programs (a settings lookup, an object provider, a logger) are runtime
// values too; a program reaches them by name through its runtime.
class APMPRuntimeValue {
public:
    virtual ~APMPRuntimeValue() = default;

    APMPRuntimeValue(const APMPRuntimeValue&) = delete;
    APMPRuntimeValue& operator=(const APMPRuntimeValue&) = delete;

protected:
    APMPRuntimeValue() = default;
};
