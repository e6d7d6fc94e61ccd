#pragma once

#include "analytics/base/APMError.h"

#include <QString>

#include <memory>

class APMPRuntimeValue;

// Error domains and codes of the rules runtime. Runtime operations never
// unwind: each returns a value (as a rule the undefined value) and fills the
// error out-parameter, which every caller checks after each nested step.
// Inside the runtime the out-parameter is never null and is clean on entry;
// the public entry points (program loading, event handling, conversion)
// accept null and start from a clean error.
namespace APMPRuntimeError {

extern const QString kDomain; // "com.vireo.vmp.measurement.pixie.ErrorDomain"
extern const QString kEditingDomain; // "com.vireo.vmp.measurement.pixie.editing.ErrorDomain"

enum Code : qint64 {
    AssignToUndeclared = 2,
    NoBooleanValue = 3,
    NoNumberValue = 4,
    NoStringValue = 5,
    PropertyOfNullOrUndefined = 6,
    MethodOfNullOrUndefined = 7,
    ReduceOfNothing = 8,
    ArgumentCount = 9,
    ArgumentType = 10,
    InvalidLength = 11,
    UnknownEntityType = 12,
    UnsupportedNativeObject = 13,
    StatementWithoutFunctionName = 14,
    ModuleCreatorFailed = 15,
    NotIterable = 16,
    NoSuchMethod = 17,
    InstructionBudgetExhausted = 18,
    // This runtime's own code: a program went past one of the runtime's
    // size or depth limits (string length, array length, elements held by
    // all arrays, nesting of calls and statements). The run ends as it does
    // for the instruction budget.
    LimitExceeded = 19,
    RegularExpression = 20,
};

enum EditingCode : qint64 {
    CallbackWithoutType = 2,
    UnknownRuleType = 3,
    TooManyCallbacks = 4,
    ProgramEndedInControlValue = 5,
    ActivityDataNotMap = 6,
    NoFunctionForActivity = 7,
};

// Fills the error with a runtime-domain code.
void set(APMError* error, qint64 code);
void setEditing(APMError* error, qint64 code);
inline bool failed(const APMError* error)
{
    return error && error->code() != 0;
}

} // namespace APMPRuntimeError

// Limits that keep any program from exhausting the host. A program that
// reaches one ends with runtime error 19 (LimitExceeded), never a crash.
namespace APMPLimits {
constexpr int kMaxInstructions = 1000000; // evaluations per run
constexpr qsizetype kMaxStringLength = 1 << 20; // UTF-16 code units
constexpr qsizetype kMaxArrayLength = 1 << 20; // elements, holes included
// Elements, holes included, that all arrays of one runtime hold together at
// any time: what a program keeps from one event to the next counts too.
constexpr qint64 kMaxLiveElements = 4 << 20;
constexpr int kMaxEvaluationDepth = 300; // nested evaluations (calls included)
constexpr int kMaxEntityDepth = 64; // nesting of a program tree from the configuration
constexpr int kMaxConversionDepth = 64; // nesting of maps and arrays converted to plain objects
// Bulk work (copying, joining, sorting, growing an array, converting an
// array or a long text) costs one instruction per this many elements or code
// units, so that the budget bounds time and memory as well as steps.
constexpr qsizetype kUnitsPerInstruction = 16;
// Reading a text of up to this many code units as a number, or walking a
// statement or argument list of up to this many elements, is part of the
// instruction that asks for it, as programs are written; anything longer is
// charged as bulk work.
constexpr qsizetype kFreeBulkUnits = 64;
// One regular-expression match costs this many instructions.
constexpr int kRegularExpressionCost = 1000;
} // namespace APMPLimits
