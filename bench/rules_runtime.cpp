// The rules runtime against Duktape on the same small programs: a numeric
// loop, string building, array methods, map lookups and a call-heavy
// recursion. Each program is converted (or compiled) once and run once per
// iteration, ours with a fresh instruction budget, run scope and collection
// as for every handled event. Prints the ratio of our time to Duktape's for
// each program.

#include "BestRunReporter.h"
#include "RulesProgramNotation.h"
#include "analytics/base/APMError.h"
#include "analytics/rules/APMPEvaluator.h"
#include "analytics/rules/APMPNumberValue.h"
#include "analytics/rules/APMPRuntime.h"
#include "analytics/rules/APMPRuntimeEntityConverter.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <duktape.h>
#include <string>
#include <vector>

namespace {

constexpr int kRounds = 5;

struct Program {
    const char* name;
    const char* ours; // test notation
    const char* javascript; // the same program for Duktape
    double expected; // what both yield
};

const Program kPrograms[] = {
    { "numeric_loop",
        "(let \"s\" \"i\") (= \"s\" 0) (= \"i\" 0)"
        " (while (< $i 20000) (= \"i\" (+ $i 1)) false (list (= \"s\" (+ $s (% (* $i $i) 7))))) $s",
        "var s = 0; var i = 0; while (i < 20000) { s = s + (i * i) % 7; i = i + 1; } s", 39998 },
    { "string_building",
        "(let \"s\" \"i\") (= \"s\" \"\") (= \"i\" 0)"
        " (while (< $i 1000) (= \"i\" (+ $i 1)) false (list (= \"s\" (+ (+ $s $i) \",\")))) (prop $s \"length\")",
        "var s = ''; var i = 0; while (i < 1000) { s = s + i + ','; i = i + 1; } s.length", 3890 },
    { "array_methods",
        "(let \"a\" \"i\") (= \"a\" (array)) (= \"i\" 0)"
        " (while (< $i 1000) (= \"i\" (+ $i 1)) false (list (call $a \"push\" (array $i))))"
        " (call (call (call $a \"map\" (array (fn \"\" (list \"x\") (return (* $x 2))))) \"filter\""
        " (array (fn \"\" (list \"x\") (return (== (% $x 3) 0))))) \"reduce\""
        " (array (fn \"\" (list \"p\" \"c\") (return (+ $p $c))) 0))",
        "var a = []; var i = 0; while (i < 1000) { a.push(i); i = i + 1; }"
        " a.map(function (x) { return x * 2; }).filter(function (x) { return x % 3 == 0; })"
        ".reduce(function (p, c) { return p + c; }, 0)",
        333666 },
    { "map_lookups",
        "(let \"m\" \"i\" \"s\" \"j\") (= \"m\" (map)) (= \"i\" 0)"
        " (while (< $i 200) (= \"i\" (+ $i 1)) false (list (setprop $m (+ \"k\" $i) $i)))"
        " (= \"s\" 0) (= \"j\" 0)"
        " (while (< $j 5000) (= \"j\" (+ $j 1)) false (list (= \"s\" (+ $s (prop $m (+ \"k\" (% $j 200))))))) $s",
        "var m = {}; var i = 0; while (i < 200) { m['k' + i] = i; i = i + 1; }"
        " var s = 0; var j = 0; while (j < 5000) { s = s + m['k' + (j % 200)]; j = j + 1; } s",
        497500 },
    { "function_calls",
        "(defun \"fib\" (list \"n\") (if (< $n 2) (list (return $n))) (return (+ (fib (- $n 1)) (fib (- $n 2)))))"
        " (fib 18)",
        "function fib(n) { if (n < 2) return n; return fib(n - 1) + fib(n - 2); } fib(18)", 2584 },
};

std::string oursName(const Program& program)
{
    return std::string("BM_Ours_") + program.name;
}

std::string duktapeName(const Program& program)
{
    return std::string("BM_Duktape_") + program.name;
}

void BM_Ours(benchmark::State& state, const Program* program)
{
    APMPRuntime runtime;
    APMPValueList statements;
    for (const auto& entity : rulesnotation::entities(QString::fromUtf8(program->ours))) {
        APMError error;
        statements.push_back(APMPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(*entity, &error));
    }
    for (auto _ : state) {
        runtime.resetInstructionCount();
        APMError error;
        APMPValue result;
        {
            const APMPScopePtr scope = runtime.getRunScope();
            result = APMPEvaluator::executeStatements(statements, *scope, &error);
        }
        runtime.collectGarbage();
        const auto* number = APMPAs<APMPNumberValue>(result);
        if (error.code() != 0 || !number || number->value() != program->expected) {
            state.SkipWithError("the program did not yield its expected result");
            break;
        }
    }
}

void BM_Duktape(benchmark::State& state, const Program* program)
{
    duk_context* context = duk_create_heap_default();
    duk_push_string(context, program->javascript);
    duk_push_string(context, program->name);
    if (duk_pcompile(context, DUK_COMPILE_EVAL) != 0) {
        state.SkipWithError(duk_safe_to_string(context, -1));
        duk_destroy_heap(context);
        return;
    }
    for (auto _ : state) {
        duk_dup(context, -1);
        const bool failed = duk_pcall(context, 0) != 0;
        const double result = failed ? 0 : duk_get_number(context, -1);
        duk_pop(context);
        if (failed || result != program->expected) {
            state.SkipWithError("the program did not yield its expected result");
            break;
        }
    }
    duk_destroy_heap(context);
}

} // namespace

int main(int argc, char** argv)
{
    // The two take turns, so that a change in the machine's load between
    // them does not decide the ratio.
    for (int round = 0; round < kRounds; ++round) {
        for (const Program& program : kPrograms) {
            benchmark::RegisterBenchmark(oursName(program).c_str(), BM_Ours, &program)->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark(duktapeName(program).c_str(), BM_Duktape, &program)
                ->Unit(benchmark::kMicrosecond);
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    BestRunReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    for (const Program& program : kPrograms) {
        const auto ours = reporter.bestSeconds.find(oursName(program));
        const auto duktape = reporter.bestSeconds.find(duktapeName(program));
        if (ours == reporter.bestSeconds.end() || duktape == reporter.bestSeconds.end())
            continue; // a filter left one of the pair out
        std::printf("%-16s ours %9.1f us, duktape %9.1f us, ratio ours/duktape: %.2f (goal: at most 1.00)\n",
            program.name, ours->second * 1e6, duktape->second * 1e6, ours->second / duktape->second);
    }
    return 0;
}
