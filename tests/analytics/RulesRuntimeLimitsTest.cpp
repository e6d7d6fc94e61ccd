// The runtime as a whole: the instruction budget, the limits that keep any
// program from exhausting the host, the collector on cyclic structures, and
// the module loader.

#include "RulesTestRunner.h"
#include "analytics/rules/APMPObjectManager.h"

#include <gtest/gtest.h>

using rulesrunner::run;

namespace rules_limits_test {

TEST(RulesBudget, EveryEvaluationCountsLiteralsIncluded)
{
    APMPRuntime runtime;
    // Three literals, then the read and its literal argument.
    EXPECT_EQ(run(runtime, "1 2 3 $runtime_counter"), QStringLiteral("5"));
    EXPECT_EQ(runtime.getInstructionCount(), 5);
    runtime.resetInstructionCount();
    EXPECT_EQ(runtime.getInstructionCount(), 0);
}

TEST(RulesBudget, AnEndlessLoopEndsAfterTheLastAllowedEvaluation)
{
    APMPRuntime runtime;
    EXPECT_EQ(run(runtime, "(while true 0 false (list))"), QStringLiteral("error 18"));
    EXPECT_EQ(runtime.getInstructionCount(), APMPLimits::kMaxInstructions);
    // The budget stays spent until it is reset.
    EXPECT_EQ(run(runtime, "1"), QStringLiteral("error 18"));
    runtime.resetInstructionCount();
    EXPECT_EQ(run(runtime, "1"), QStringLiteral("1"));
}

TEST(RulesBudget, ProgramsCannotRewindTheCounter)
{
    EXPECT_EQ(run("(while true (= \"runtime_counter\" 0) false (list))"), QStringLiteral("error 18"));
    EXPECT_EQ(run("(let \"runtime_counter\") (while true (= \"runtime_counter\" 0) false (list))"),
        QStringLiteral("error 18"));
    EXPECT_EQ(run("(while true (forin \"runtime_counter\" \"a\" (list)) false (list))"), QStringLiteral("error 18"));
}

TEST(RulesBudget, BulkWorkCountsAgainstTheBudget)
{
    // Without charging the copies, a million slices of a million elements
    // would run for hours; charged, the budget ends it at once.
    const QString program = QStringLiteral("(let \"a\") (= \"a\" (array)) (setprop $a \"length\" 1000000)"
                                           " (while true (call $a \"slice\" (array)) false (list))");
    EXPECT_EQ(run(program), QStringLiteral("error 18"));
    EXPECT_EQ(run("(let \"s\") (= \"s\" (call \"x\" \"concat\" (array))) (setprop (array) \"length\" 1000)"
                  " (while true (call (call \"ab\" \"split\" (array \"\")) \"sort\" (array)) false (list))"),
        QStringLiteral("error 18"));
}

TEST(RulesLimits, NothingAProgramDoesExhaustsTheHost)
{
    rulesrunner::expectCases({
        // Endless recursion ends with the runtime's error, not a stack overflow.
        { "(defun \"f\" (list) (f)) (f)", "error 19" },
        { "(defun \"f\" (list \"n\") (f (+ $n 1))) (f 0)", "error 19" },
        // Texts and arrays have bounded sizes.
        { "(let \"s\") (= \"s\" \"x\") (while true (= \"s\" (+ $s $s)) false (list))", "error 19" },
        { "(let \"s\") (= \"s\" \"x\") (while true (= \"s\" (call $s \"concat\" (array $s))) false (list))", "error 19" },
        { "(setprop (array) \"length\" 4294967295)", "error 19" },
        { "(setprop (array) 1e9 1)", "error 19" },
        { "(let \"a\") (= \"a\" (array 1)) (while true (= \"a\" (call $a \"concat\" (array $a))) false (list))",
            "error 19" },
        { "(let \"a\") (= \"a\" (array 1)) (while true (call $a \"push\" (array $a $a $a $a)) false (list))",
            "error 18" },
        // A deeply nested array cannot be printed, but ends with an error.
        { "(let \"a\") (= \"a\" (array)) (for (seq (let \"i\") (= \"i\" 0) (array \"i\")) (< $i 100) (= \"i\" (+ $i 1))"
          " (list (= \"a\" (array $a)))) (+ $a \"\")",
            "error 19" },
        // A comparison that answers at random cannot break the sort.
        { "(let \"a\") (= \"a\" (array 5 3 8 1 9 2 7)) (call $a \"sort\" (array (fn \"\" (list \"x\" \"y\")"
          " (- (% (* $x 7) 3) 1)))) (prop $a \"length\")",
            "7" },
    });
}

TEST(RulesLimits, LongChainsAreReleasedAndCollectedWithoutRecursion)
{
    // About 150000 nested arrays and as many linked maps: marking them and
    // releasing them must not deepen the stack.
    auto runtime = std::make_unique<APMPRuntime>();
    EXPECT_EQ(run(*runtime,
                  "(let \"a\" \"m\") (= \"a\" (array)) (= \"m\" (map))"
                  " (while true (seq (= \"a\" (array $a)) (= \"m\" (map \"next\" $m))) false (list))"),
        QStringLiteral("error 18"));
    runtime->collectGarbage();
    EXPECT_GT(runtime->objectManager().trackedObjectCount(), 100000);
    runtime->resetInstructionCount();
    EXPECT_EQ(run(*runtime, "(= \"a\" 0) (= \"m\" 0)"), QStringLiteral("0"));
    runtime->collectGarbage();
    EXPECT_LT(runtime->objectManager().trackedObjectCount(), 10);
    runtime.reset();
}

TEST(RulesCollector, CyclesAmongScriptObjectsAreCollected)
{
    APMPRuntime runtime;
    ASSERT_EQ(run(runtime,
                  "(defun \"f\" (list) (let \"a\" \"b\" \"g\") (= \"a\" (array)) (= \"b\" (map \"a\" $a))"
                  " (call $a \"push\" (array $b $a)) (= \"g\" (fn \"\" (list) $a)) (setprop $b \"g\" $g) 0)"),
        QStringLiteral("fn:f"));
    runtime.collectGarbage();
    const int before = runtime.objectManager().trackedObjectCount();
    EXPECT_EQ(run(runtime, "(f) (f) (f)"), QStringLiteral("0"));
    EXPECT_GT(runtime.objectManager().trackedObjectCount(), before);
    runtime.collectGarbage();
    EXPECT_EQ(runtime.objectManager().trackedObjectCount(), before);
}

TEST(RulesCollector, ValuesInUseSurvive)
{
    APMPRuntime runtime;
    // The closure's defining scope is a block; the value it reads lives in
    // the enclosing call's scope, which must be marked as well.
    ASSERT_EQ(run(runtime,
                  "(let \"g\" \"keep\") (= \"g\" (array 1 2))"
                  " (defun \"mk\" (list \"n\") (block (return (fn \"\" (list) $n))))"
                  " (= \"keep\" (mk (map \"v\" (array 42))))"),
        QStringLiteral("fn:"));
    runtime.collectGarbage();
    runtime.collectGarbage();
    runtime.resetInstructionCount();
    EXPECT_EQ(run(runtime, "$g"), QStringLiteral("[1,2]"));
    EXPECT_EQ(run(runtime, "(prop (keep) \"v\")"), QStringLiteral("[42]"));
    EXPECT_EQ(run(runtime, "(mk 5)"), QStringLiteral("fn:"));
}

TEST(RulesCollector, AnEndedRuntimeLeavesNoCycleBehind)
{
    std::weak_ptr<APMPRuntimeValue> function;
    std::weak_ptr<APMPScope> global;
    {
        APMPRuntime runtime;
        ASSERT_EQ(run(runtime, "(defun \"f\" (list) 1) (let \"a\") (= \"a\" (array)) (call $a \"push\" (array $a))"),
            QStringLiteral("1"));
        function = runtime.globalScope()->valueForName("f");
        global = runtime.globalScope();
    }
    EXPECT_TRUE(function.expired());
    EXPECT_TRUE(global.expired());
}

TEST(RulesModules, RequireMakesEachModuleOnce)
{
    APMPRuntime runtime;
    int made = 0;
    runtime.setModuleCreator(
        [&made]() -> std::shared_ptr<APMPRuntimeValue> {
            ++made;
            return std::make_shared<APMPStringValue>(QStringLiteral("module"));
        },
        QStringLiteral("m"));
    EXPECT_EQ(run(runtime, "(=== (require \"m\") (require \"m\"))"), QStringLiteral("true"));
    EXPECT_EQ(made, 1);
    EXPECT_EQ(run(runtime, "(require \"internal.platform\")"), QStringLiteral("fn:internal.platform"));
    EXPECT_EQ(run(runtime, "(call (require \"internal.platform\") \"getVersion\" (array (/ 1 0)))"),
        QStringLiteral("0"));
    EXPECT_EQ(run(runtime, "(let \"p\") (= \"p\" (require \"internal.platform\")) (p 1)"), QStringLiteral("undefined"));
    EXPECT_EQ(run(runtime, "(require \"late\")"), QStringLiteral("undefined"));
    runtime.setModuleCreator(
        []() -> std::shared_ptr<APMPRuntimeValue> { return std::make_shared<APMPStringValue>(QStringLiteral("x")); },
        QStringLiteral("late"));
    EXPECT_EQ(run(runtime, "(require \"late\")"), QStringLiteral("undefined"));
    runtime.setModuleCreator([]() -> std::shared_ptr<APMPRuntimeValue> { return nullptr; }, QStringLiteral("bad"));
    EXPECT_EQ(run(runtime, "(require \"bad\")"), QStringLiteral("error 15"));
    EXPECT_EQ(run(runtime, "(require)"), QStringLiteral("error 9"));
}

} // namespace rules_limits_test
