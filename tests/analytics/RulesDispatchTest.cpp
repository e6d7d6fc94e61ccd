// The short ways through statement evaluation: reads of a literal name,
// operators and conditions on two numbers, calls by name and the reuse of
// their scopes, a body's own return statements, and method arguments
// written as an array literal. Each must give the result and cost the
// instructions of the general path, to the last unit of the budget.

#include "RulesTestRunner.h"
#include "analytics/rules/APMPElementAccount.h"
#include "analytics/rules/APMPObjectManager.h"

#include <gtest/gtest.h>

using rulesrunner::run;

namespace rules_dispatch_test {

struct DispatchCase {
    const char* program;
    const char* expected;
    int instructions; // evaluations the program costs; -1 when not checked
};

// Every evaluation counts, literals included: a statement costs one plus
// what it evaluates, so a read of a literal name costs two.
const DispatchCase kDispatchCases[] = {
    // Reads and assignments.
    { "(let \"x\") $x", "undefined", 4 },
    { "(let \"x\") (= \"x\" 5) $x", "5", 7 },
    { "$nowhere", "undefined", 2 },
    { "(get 12)", "error 10", 2 },
    // Two operands: numbers take the short way, everything else the handler.
    { "(+ 1 2)", "3", 3 },
    { "(+ 1 \"a\")", "\"1a\"", 3 },
    { "(+ (array 1) 2)", "\"12\"", 4 },
    { "(- \"5\" 2)", "3", 3 },
    { "(* true 4)", "4", 3 },
    { "(/ 1 0)", "Infinity", 3 },
    { "(% 7 0)", "NaN", 3 },
    { "(% -7 2)", "-1", 3 },
    { "(< 1 2)", "true", 3 },
    { "(< \"10\" \"9\")", "true", 3 },
    { "(< 10 \"9\")", "false", 3 },
    { "(<= 2 2)", "true", 3 },
    { "(> nan 1)", "false", 3 },
    { "(>= nan nan)", "false", 3 },
    { "(== 1 \"1\")", "true", 3 },
    { "(=== 1 \"1\")", "false", 3 },
    { "(=== nan nan)", "false", 3 },
    { "(!= nan nan)", "true", 3 },
    { "(!== 0 (neg 0))", "false", 4 },
    { "(=== 1 1 1)", "error 9", 1 },
    { "(+ 1 2 3)", "error 9", 4 },
    { "(+ (array) (= \"undeclared\" 1))", "error 2", 5 },
    // Calls by name: arguments are evaluated in the caller's scope, in
    // order, extra ones too; missing parameters are undefined.
    { "(defun \"f\" (list \"a\" \"b\") (return (+ $a $b))) (f 1 2)", "3", 11 },
    { "(defun \"f\" (list \"a\" \"b\") (return $b)) (f 1)", "undefined", 7 },
    { "(let \"c\") (= \"c\" 0) (defun \"f\" (list \"a\") (return $a)) (f 1 (= \"c\" 5)) $c", "5", 17 },
    { "(let \"a\") (= \"a\" 7) (defun \"f\" (list \"a\" \"b\") (return $b)) (f 1 $a)", "7", 14 },
    { "(defun \"f\" (list \"x\" \"x\") (return $x)) (f 1 2)", "2", 8 },
    // Calls inside the arguments of a call of the same function keep their
    // own parameters.
    { "(defun \"f\" (list \"a\" \"b\") (return (+ (* $a 10) $b))) (f (f 1 2) (f 3 4))", "154", 33 },
    { "(defun \"fib\" (list \"n\") (if (< $n 2) (list (return $n))) (return (+ (fib (- $n 1)) (fib (- $n 2)))))"
      " (fib 10)",
        "55", 2301 },
    // A scope kept from an earlier call holds nothing of it: not a name the
    // body declared, nor a parameter the body made constant.
    { "(defun \"f\" (list \"a\") (let \"b\") (= \"b\" $a) (return $b)) (+ (f 1) (f 2))", "3", 25 },
    { "(defun \"f\" (list \"a\") (const \"a\" 5) (return $a)) (+ (f 1) (f 2))", "10", 19 },
    { "(defun \"f\" (list \"a\") (if $a (list (let \"b\"))) (= \"b\" 1)) (f true) (f false)", "error 2", -1 },
    // Returns: from the body itself, from inside a branch, with no data, and
    // a return whose data is itself a return.
    { "(defun \"f\" (list) (return)) (f)", "undefined", 4 },
    { "(defun \"f\" (list \"a\") (if $a (list (return 1))) (return 2)) (+ (f true) (f false))", "3", 18 },
    { "(defun \"f\" (list) (return (return 5))) (f)", "control:return", 6 },
    // A branch of the body written with statement lists runs the list taken
    // as the body's own statements: its returns, its last result, a break
    // handed back as it is, an error, and a branch inside a branch.
    { "(defun \"f\" (list \"a\") (if $a (list 5) (list))) (f true)", "5", 9 },
    { "(defun \"f\" (list \"a\") (if $a (list 5) (list))) (f false)", "undefined", 8 },
    { "(defun \"f\" (list) (if true (list (break))) 7) (f)", "control:break", 7 },
    { "(defun \"f\" (list) (if true (list (return))) 7) (f)", "undefined", 7 },
    { "(defun \"f\" (list) (if true (list (= \"undeclared\" 1))) 7) (f)", "error 2", -1 },
    { "(defun \"f\" (list \"a\") (if $a (list (if $a (list (return 3))))) 4) (+ (f true) (f false))", "7", 21 },
    // Conditions on two plain operands: numbers take the short way, texts
    // and undefined the comparison's own.
    { "(if (< \"10\" \"9\") (list 1) (list 2))", "1", 6 },
    { "(if (< $nowhere 1) (list 1) (list 2))", "2", 7 },
    { "(let \"i\") (= \"i\" 0) (while (< $i 3) (= \"i\" (+ $i 1)) false (list)) $i", "3", 44 },
    // Method arguments as an array literal cost what the array would; the
    // callbacks of array methods are called as calls by name are.
    { "(call (array) \"push\" (array 1))", "1", 6 },
    { "(let \"l\") (= \"l\" (array 1)) (call (array) \"push\" $l)", "1", 12 },
    { "(call (array 1 2) \"map\" (array (fn \"\" (list \"x\") (return (* $x 2)))))", "[2,4]", 25 },
    { "(call (array) \"push\" (array (= \"undeclared\" 1)))", "error 2", -1 },
    { "(call (array) 5 (array 1))", "error 10", -1 },
    // A name bound to something else is no call, and its arguments are not
    // evaluated.
    { "(let \"g\") (= \"g\" 1) (g (= \"undeclared\" 1))", "undefined", 6 },
    { "(defun \"f\" (list \"a\") (return $a)) (f (= \"undeclared\" 1))", "error 2", -1 },
};

TEST(RulesDispatch, ResultsAndCostsMatchTheGeneralPath)
{
    for (const DispatchCase& c : kDispatchCases) {
        APMPRuntime runtime;
        EXPECT_EQ(run(runtime, QString::fromUtf8(c.program)).toStdString(), std::string(c.expected)) << c.program;
        if (c.instructions >= 0) {
            EXPECT_EQ(runtime.getInstructionCount(), c.instructions) << c.program;
        }
    }
}

TEST(RulesDispatch, TheLastUnitOfTheBudgetIsExact)
{
    for (const DispatchCase& c : kDispatchCases) {
        if (c.instructions < 0 || QByteArray(c.expected).startsWith("error"))
            continue;
        for (const int spare : { 0, 1 }) {
            APMPRuntime runtime;
            APMError charged;
            const qint64 used = APMPLimits::kMaxInstructions - c.instructions + spare;
            ASSERT_TRUE(runtime.initialScope()->chargeWork(used * APMPLimits::kUnitsPerInstruction, &charged));
            const std::string expected = spare == 0 ? c.expected : "error 18";
            EXPECT_EQ(run(runtime, QString::fromUtf8(c.program)).toStdString(), expected) << c.program;
        }
    }
}

// A read, an operator on plain operands and a comparison used as a
// condition are counted at once when the whole of them fits. An operand
// spelled like the instruction count keeps an operator on single steps;
// bound as a parameter, it reads like any other name. So each program below
// runs once with its operators counted at once (parameter "k") and once
// step by step (parameter "runtime_counter"), and both must stop at the
// same instruction with the same work done.
QString withStep(const char* program, const char* name)
{
    return QString::fromUtf8(program).replace(QStringLiteral("@"), QString::fromUtf8(name));
}

const char* const kStraightPrograms[] = {
    "(let \"last\") (defun \"f\" (list \"n\" \"@\") (= \"last\" $n)"
    " (if (< $n 4) (list (return (f (+ $n $@) $@)))) (return (* $n $@))) (f 0 1)",
    "(let \"s\" \"i\") (= \"s\" 0) (= \"i\" 0) (defun \"g\" (list \"@\")"
    " (while (< $i 3) (= \"i\" (+ $i $@)) false (list (= \"s\" (- $s $i))))) (g 1) $s",
};

TEST(RulesDispatch, AStretchCountedAtOnceStopsWhereSingleStepsWould)
{
    for (const char* program : kStraightPrograms) {
        APMPRuntime whole;
        ASSERT_EQ(run(whole, withStep(program, "k")), run(withStep(program, "runtime_counter"))) << program;
        const int cost = whole.getInstructionCount();
        for (int left = 0; left <= cost; ++left) {
            QString outcomes[2];
            int counts[2] = {};
            QString last[2];
            int i = 0;
            for (const char* name : { "k", "runtime_counter" }) {
                APMPRuntime runtime;
                APMError charged;
                ASSERT_TRUE(runtime.initialScope()->chargeWork(
                    qint64(APMPLimits::kMaxInstructions - left) * APMPLimits::kUnitsPerInstruction, &charged));
                outcomes[i] = run(runtime, withStep(program, name));
                counts[i] = runtime.getInstructionCount();
                // What the program had done when it stopped.
                runtime.resetInstructionCount();
                last[i] = run(runtime, "(seq $last $s)");
                ++i;
            }
            EXPECT_EQ(outcomes[0], outcomes[1]) << program << " left " << left;
            EXPECT_EQ(outcomes[0] == QStringLiteral("error 18"), left < cost) << program << " left " << left;
            EXPECT_EQ(counts[0], counts[1]) << program << " left " << left;
            EXPECT_EQ(last[0], last[1]) << program << " left " << left;
        }
    }
}

TEST(RulesDispatch, AStretchCountedAtOnceReachesTheNestingLimitWhereSingleStepsWould)
{
    // Each call nests two levels deeper until the limit (300) ends the run.
    // The defun costs 2 and the first call 3; then each level costs its
    // return 1, its call 1, the operator 5 (1 more inside the sequence) and
    // the read of "k" 2. Level j runs its body at depth 2j - 1.
    struct NestingCase {
        const char* program;
        int instructions;
    };
    const NestingCase cases[] = {
        // At level 149 the operator starts at depth 299: its statement
        // enters, its first read finds no room (4 counted at that level).
        { "(defun \"f\" (list \"n\" \"k\") (return (f (+ $n $k) $k))) (f 0 1)", 5 + 148 * 9 + 4 },
        // One level deeper inside the sequence: at level 149 the operator's
        // own statement finds no room.
        { "(defun \"f\" (list \"n\" \"k\") (return (f (seq (+ $n $k)) $k))) (f 0 1)", 5 + 148 * 10 + 4 },
    };
    for (const NestingCase& c : cases) {
        APMPRuntime runtime;
        EXPECT_EQ(run(runtime, QString::fromUtf8(c.program)), QStringLiteral("error 19")) << c.program;
        EXPECT_EQ(runtime.getInstructionCount(), c.instructions) << c.program;
    }
}

TEST(RulesDispatch, MethodArgumentsWrittenAsALiteralAreChargedToTheAccountForTheCall)
{
    // The literal's elements count among the runtime's elements while the
    // method runs, as the array would: with room for one more element
    // only, the push that follows finds none.
    for (const qint64 room : { 1, 2 }) {
        APMPRuntime runtime;
        ASSERT_TRUE(runtime.objectManager().elementAccount()->admit(APMPLimits::kMaxLiveElements - room));
        EXPECT_EQ(
            run(runtime, "(call (array) \"push\" (array 1))").toStdString(), room == 1 ? "error 19" : "1")
            << room;
        EXPECT_EQ(runtime.objectManager().liveElementCount(), APMPLimits::kMaxLiveElements - room) << room;
    }
}

TEST(RulesDispatch, AFailedArgumentLeavesTheFunctionCallable)
{
    APMPRuntime runtime;
    EXPECT_EQ(run(runtime, "(defun \"f\" (list \"a\" \"b\") (return (+ $a $b)))"), QStringLiteral("fn:f"));
    EXPECT_EQ(run(runtime, "(f 1 (= \"undeclared\" 1))"), QStringLiteral("error 2"));
    EXPECT_EQ(run(runtime, "(f 2)"), QStringLiteral("NaN"));
    EXPECT_EQ(run(runtime, "(f 2 3)"), QStringLiteral("5"));
}

TEST(RulesDispatch, AFunctionThatDropsItsOwnBindingFinishesItsCall)
{
    // The call holds the function while its body runs.
    EXPECT_EQ(run("(defun \"f\" (list \"a\") (= \"f\" (null)) (return (+ $a 1))) (+ (f 1) (typeof $f))"),
        QStringLiteral("\"2object\""));
}

} // namespace rules_dispatch_test
