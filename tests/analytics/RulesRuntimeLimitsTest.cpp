// The runtime as a whole: the instruction budget, the limits that keep any
// program from exhausting the host, the collector on cyclic structures, and
// the module loader.

#include "RulesTestRunner.h"
#include "analytics/rules/APMPObjectManager.h"

#include <QElapsedTimer>

#include <algorithm>

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

    // Each kind of bulk work costs by its size: a handful of statements that
    // touch 2^20 elements or code units cost at least 2^20 / 16 instructions
    // each, where their steps alone would cost a few dozen.
    const QString holes = QStringLiteral("(let \"a\" \"s\") (= \"a\" (array)) (setprop $a \"length\" 1048576) ");
    constexpr int kOneMillionUnits = (1 << 20) / APMPLimits::kUnitsPerInstruction;
    const std::vector<std::pair<QString, int>> cases = {
        // Growing, by "length" and by an index, and the walks over the holes.
        { QStringLiteral("(let \"a\") (= \"a\" (array)) (setprop $a \"length\" 1048576)"), kOneMillionUnits },
        { QStringLiteral("(let \"a\") (= \"a\" (array)) (setprop $a 1048575 1)"), kOneMillionUnits },
        { holes + "(call $a \"map\" (array (fn \"\" (list) 0)))", 2 * kOneMillionUnits },
        { holes + "(call $a \"forEach\" (array (fn \"\" (list) 0)))", 2 * kOneMillionUnits },
        { holes + "(call $a \"reduce\" (array (fn \"\" (list) 0) 0))", 2 * kOneMillionUnits },
        { holes + "(forin \"k\" $a (list))", 2 * kOneMillionUnits },
        { holes + "(switch 0 (list) $a)", 2 * kOneMillionUnits },
        // Converting the array to text or to a number, wherever it happens.
        { holes + "(== $a \"x\")", 2 * kOneMillionUnits },
        { holes + "(< $a \"x\")", 2 * kOneMillionUnits },
        { holes + "(- $a 1)", 2 * kOneMillionUnits },
        { holes + "(| $a 0)", 2 * kOneMillionUnits },
        { holes + "(map $a 1)", 2 * kOneMillionUnits },
        { holes + "(prop (map) $a)", 2 * kOneMillionUnits },
        { holes + "(call (array 1) \"indexOf\" (array 1 $a))", 2 * kOneMillionUnits },
        { holes + "(call $a \"join\" (array \"\"))", 2 * kOneMillionUnits },
        // Reading a long text as a number scans all of it.
        { holes + "(= \"s\" (call $a \"join\" (array \" \"))) (- $s 1)", 3 * kOneMillionUnits },
    };
    for (const auto& [text, least] : cases) {
        APMPRuntime runtime;
        run(runtime, text);
        EXPECT_GE(runtime.getInstructionCount(), least) << text.toStdString();
        EXPECT_LT(runtime.getInstructionCount(), APMPLimits::kMaxInstructions) << text.toStdString();
    }
}

TEST(RulesLimits, HostileProgramsEndWithinASecond)
{
    // Each holds a huge array or text and then asks for bulk work on it over
    // and over. Charged by size, every one of them runs out of budget (18)
    // or into a limit (19) within a second, or, in a build where an ordinary
    // program that spends its whole budget is slow itself (sanitizers, whose
    // checks slow tight loops over elements more than evaluation), within a
    // few times that program's time; charged by the step, some ran for
    // minutes, hundreds of times longer. Eight times leaves room for a
    // loaded machine, where the bulk work on huge arrays slows more than the
    // ordinary program's evaluation does.
    QElapsedTimer ordinaryTimer;
    ordinaryTimer.start();
    EXPECT_EQ(run("(let \"i\" \"s\" \"m\") (= \"i\" 0) (= \"m\" (map \"k\" 1)) (while true (seq (= \"i\" (+ $i"
                  " (prop $m \"k\"))) (= \"s\" (+ \"ab\" $i))) false (list))"),
        QStringLiteral("error 18"));
    const qint64 limit = std::max<qint64>(1000, 8 * ordinaryTimer.elapsed());
    RecordProperty("limit_ms", static_cast<int>(limit));
    qint64 slowest = 0;

    const QString holes = QStringLiteral("(let \"a\" \"b\" \"s\" \"i\") (= \"a\" (array))"
                                         " (setprop $a \"length\" 1048576) ");
    const QString endless = QStringLiteral("(while true %1 false (list))");
    const std::vector<QString> programs = {
        holes + endless.arg("(== $a \"x\")"),
        holes + endless.arg("(< $a \"x\")"),
        holes + endless.arg("(- $a 1)"),
        holes + endless.arg("(^ $a 1)"),
        holes + endless.arg("(map $a 1)"),
        holes + endless.arg("(prop (map) $a)"),
        holes + endless.arg("(setprop (array) $a 1)"),
        holes + endless.arg("(call (array 1) \"indexOf\" (array 1 $a))"),
        holes + endless.arg("(call $a \"join\" (array \"\"))"),
        holes + endless.arg("(call $a \"forEach\" (array (fn \"\" (list) 0)))"),
        holes + endless.arg("(call $a \"some\" (array (fn \"\" (list) false)))"),
        holes + endless.arg("(call $a \"reduce\" (array (fn \"\" (list) 0) 0))"),
        holes + endless.arg("(forin \"k\" $a (list))"),
        holes + endless.arg("(switch 0 (list) $a)"),
        holes + endless.arg("(call $a \"map\" (array (fn \"\" (list) 0)))"),
        // One sort of a thousand references to the huge array.
        holes + "(= \"b\" (array)) (= \"i\" 0) (while (< $i 1000) (= \"i\" (+ $i 1)) false"
                " (list (call $b \"push\" (array $a)))) (call $b \"sort\" (array))",
        // A text of 2^20 blanks read as a number again and again.
        holes + "(= \"s\" (call $a \"join\" (array \" \"))) " + endless.arg("(- $s 1)"),
        // Arrays kept until memory runs out.
        "(let \"k\" \"a\") (= \"k\" (array)) (while true (seq (= \"a\" (array)) (setprop $a \"length\" 1048576)"
        " (call $k \"push\" (array $a))) false (list))",
    };
    for (const QString& program : programs) {
        QElapsedTimer timer;
        timer.start();
        const QString result = run(program);
        const qint64 elapsed = timer.elapsed();
        EXPECT_TRUE(result == QStringLiteral("error 18") || result == QStringLiteral("error 19"))
            << result.toStdString() << " from " << program.toStdString();
        EXPECT_LT(elapsed, limit) << program.toStdString();
        slowest = std::max(slowest, elapsed);
    }
    RecordProperty("slowest_ms", static_cast<int>(slowest));
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
        // All arrays of a runtime together hold a bounded number of elements.
        { "(let \"k\" \"i\") (= \"k\" (array)) (= \"i\" 0) (while (< $i 100) (= \"i\" (+ $i 1)) false"
          " (list (let \"a\") (= \"a\" (array)) (setprop $a \"length\" 1048576) (call $k \"push\" (array $a))))",
            "error 19" },
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
