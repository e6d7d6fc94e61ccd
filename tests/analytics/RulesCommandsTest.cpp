// The built-in commands of the rules runtime, family by family: each case is
// a small program in the test notation and what its last statement yields.

#include "RulesTestRunner.h"

#include <gtest/gtest.h>

using rulesrunner::expectCases;
using rulesrunner::run;

namespace {

TEST(RulesCommands, Control)
{
    expectCases({
        { "(if true 1 2)", "1" },
        { "(if false 1 2)", "2" },
        { "(if true)", "undefined" },
        { "(if false 1)", "undefined" },
        { "(if)", "error 9" },
        { "(if 1 2 3 4)", "error 9" },
        // A branch written as a statement list runs; a plain value is yielded as it is.
        { "(if true (list 1 (+ 1 2)))", "3" },
        { "(if 1 7)", "7" },
        { "(? 0 \"a\" \"b\")", "\"b\"" },
        { "(? 1 (list 5) 2)", "[5]" },
        { "(seq 1 2 3)", "3" },
        { "(seq 1 (break) 2)", "error 10" },
        { "(seq)", "error 9" },
        { "(return)", "control:return" },
        { "(break 1)", "error 9" },
        { "(list (+ 1 2) 4)", "[stmt:0,4]" },
        { "(run 5)", "error 10" },
        { "(run (list (+ 1 1) (* 3 3)))", "9" },
        { "(let \"x\") (= \"x\" 1) (block (let \"x\") (= \"x\" 2)) $x", "1" },
        // Functions: missing parameters are undefined, a return hands back its data.
        { "(defun \"f\" (list \"a\" \"b\") (typeof $b)) (f 1)", "\"undefined\"" },
        { "(defun \"f\" (list \"a\") $a) (f 1 2 3)", "1" },
        { "(defun \"f\" (list) (return 5) 6) (f)", "5" },
        { "(defun \"f\" (list) 6) (f)", "6" },
        { "(fn \"g\" 5)", "error 10" },
        { "(fn (+ 1 1) (list))", "error 5" },
        { "(defun \"f\" (list) 1) (block (defun \"f\" (list) 2)) (f)", "2" },
        // "11" is no opcode: it is looked up as a function name.
        { "(11 (= \"nope\" 1))", "undefined" },
        { "(defun \"11\" (list) 5) (11)", "5" },
        { "(unknown (= \"nope\" 1))", "undefined" },
        // Closures and recursion.
        { "(defun \"mk\" (list \"n\") (return (fn \"\" (list) $n))) (let \"g\") (= \"g\" (mk 7)) (g)", "7" },
        { "(defun \"fact\" (list \"n\") (if (<= $n 1) (list (return 1)) (list (return (* $n (fact (- $n 1)))))))"
          " (fact 10)",
            "3628800" },
        { "(defun \"counter\" (list) (let \"c\") (= \"c\" 0) (return (fn \"\" (list) (= \"c\" (+ $c 1)))))"
          " (let \"k\") (= \"k\" (counter)) (k) (k) (k)",
            "3" },
        // Each call starts from an empty scope, even when an earlier call's
        // scope is used again; a scope a closure kept is never used again.
        { "(defun \"f\" (list \"p\") (if $p (list (let \"y\") (= \"y\" 4))) (typeof $y)) (f true) (f false)",
            "\"undefined\"" },
        { "(defun \"f\" (list \"n\") (if (> $n 0) (list (return (fn \"\" (list) $n)))) $n)"
          " (f 0) (let \"g\") (= \"g\" (f 5)) (f 0) (f 6) (g)",
            "5" },
        // Returns nested in the evaluation of another return each keep their data.
        { "(defun \"id\" (list \"v\") (return $v)) (defun \"pair\" (list) (return (array (id 1) (id (+ (id 1) 1)))))"
          " (pair)",
            "[1,2]" },
        // Method calls.
        { "(call \"abc\" \"toUpperCase\" (array))", "\"ABC\"" },
        { "(call \"abc\" 5 (array))", "error 10" },
        { "(call \"abc\" \"charAt\" 1)", "error 10" },
        { "(call (null) \"x\" (array))", "error 7" },
        { "(call (undefined) \"toString\" (array))", "error 7" },
        { "(call 5 \"toString\" (array))", "\"5\"" },
        { "(call 5 \"foo\" (array))", "error 17" },
        { "(call true \"toString\" (array))", "\"true\"" },
    });
}

TEST(RulesCommands, Switch)
{
    const char* body = "(let \"r\") (= \"r\" \"\") (switch %1 (list 1 2 3) (list (= \"r\" \"a\") (= \"r\" (+ $r \"b\"))"
                       " (run (list (= \"r\" (+ $r \"c\")) (break))) (= \"r\" \"default\"))) $r";
    // Fall-through from the match until a break; the default only when the end is reached.
    EXPECT_EQ(run(QString::fromUtf8(body).arg(2)), QStringLiteral("\"bc\""));
    EXPECT_EQ(run(QString::fromUtf8(body).arg(1)), QStringLiteral("\"abc\""));
    EXPECT_EQ(run(QString::fromUtf8(body).arg(9)), QStringLiteral("\"default\""));
    EXPECT_EQ(run(QString::fromUtf8(body).arg(QStringLiteral("\"2\""))), QStringLiteral("\"default\""));
    expectCases({
        // As many bodies as cases: no default.
        { "(let \"r\") (= \"r\" 0) (switch 9 (list 1) (list (= \"r\" 1))) $r", "0" },
        { "(let \"r\") (switch 1 (list) (list (= \"r\" \"d\"))) $r", "\"d\"" },
        { "(switch 1 2 (list))", "error 9" },
        { "(switch 1 (list) 2)", "error 9" },
        { "(switch 1 (list 1) (list (continue)))", "control:continue" },
        { "(switch 1 (list 1) (list 5))", "undefined" },
        // A match without a break falls through into the default as well.
        { "(let \"r\") (= \"r\" \"\") (switch 2 (list 1 2) (list (= \"r\" \"a\") (= \"r\" (+ $r \"b\"))"
          " (= \"r\" (+ $r \"d\")))) $r",
            "\"bd\"" },
    });
}

TEST(RulesCommands, Operators)
{
    expectCases({
        { "(+ \"1\" 2)", "\"12\"" },
        { "(+ 1 true)", "2" },
        { "(+ (array 1 2) 3)", "\"1,23\"" },
        { "(+ (undefined) 1)", "NaN" },
        { "(+ (null) 1)", "1" },
        { "(+ (map) 1)", "\"[object Object]1\"" },
        { "(+ 1 2 3)", "error 9" },
        { "(+ 1 (return))", "error 4" },
        { "(- 1 (list))", "1" },
        { "(% 7 -3)", "1" },
        { "(% -7 3)", "-1" },
        { "(% 1 0)", "NaN" },
        { "(% 5 (/ 1 0))", "5" },
        { "(% (/ 1 0) 2)", "NaN" },
        { "(/ 1 0)", "Infinity" },
        { "(/ 1 (neg 0))", "-Infinity" },
        { "(/ 0 0)", "NaN" },
        { "(* 1.5 4)", "6" },
        { "(neg \"3\")", "-3" },
        { "(first 1 2)", "1" },
        { "(33 1 2)", "1" },
        { "(same (map \"a\" 1))", "{a:1}" },
        { "(35 7)", "7" },
        { "(same 1 2)", "error 9" },
        // Bitwise operands become signed 32-bit integers.
        { "(<< 1 32)", "1" },
        { "(<< 1 31)", "-2147483648" },
        { "(>>> -1 0)", "4294967295" },
        { "(>> -1 28)", "-1" },
        { "(& 5.7 3)", "1" },
        { "(& -5.7 -1)", "-5" },
        { "(| 4294967301 0)", "5" },
        { "(| 2147483648 0)", "-2147483648" },
        { "(| 3000000000 0)", "-2147483648" },
        { "(| nan 0)", "0" },
        { "(| (/ 1 0) 0)", "0" },
        { "(~ 0)", "-1" },
        { "(^ 6 3)", "5" },
        { "(~ 1 2)", "error 9" },
        // Comparisons.
        { "(< nan 1)", "false" },
        { "(> nan 1)", "false" },
        { "(<= nan nan)", "false" },
        { "(== nan nan)", "false" },
        { "(=== nan nan)", "false" },
        // NaN on the general path, where an operand is not a number value.
        { "(== nan \"x\")", "false" },
        { "(!= \"x\" nan)", "true" },
        { "(== nan (array nan))", "false" },
        { "(<= \"a\" 1)", "false" },
        { "(>= 1 \"a\")", "false" },
        { "(<= (undefined) (undefined))", "false" },
        { "(=== 0 (neg 0))", "true" },
        { "(== (undefined) (null))", "true" },
        { "(=== (undefined) (null))", "false" },
        { "(=== (undefined) (undefined))", "true" },
        { "(== (null) 0)", "false" },
        { "(== 1 \"1\")", "true" },
        { "(== 1 true)", "true" },
        { "(== \"true\" true)", "false" },
        { "(== (array 1 2) (array 1 2))", "false" },
        { "(=== (array 1 2) (array 1 2))", "false" },
        { "(== (array 1 2) \"1,2\")", "true" },
        { "(== (map) \"[object Object]\")", "true" },
        { "(== (map) (map))", "false" },
        { "(< \"10\" \"9\")", "true" },
        { "(< 10 \"9\")", "false" },
        { "(< (array 2) (array 10))", "false" },
        // A function is text (its name) to comparison and addition.
        { "(< (fn \"a\" (list) 0) \"b\")", "true" },
        { "(+ (fn \"g\" (list) 0) 1)", "\"g1\"" },
        { "(!= 1 2)", "true" },
        { "(!== 1 \"1\")", "true" },
        { "(>= 2 2)", "true" },
        { "(<= 3 2)", "false" },
        { "(> 3 2)", "true" },
        { "(< 1 2 3)", "error 9" },
        // Logical operators yield an operand and short-circuit.
        { "(&& 0 \"a\")", "0" },
        { "(|| \"\" 5)", "5" },
        { "(&& 1 2)", "2" },
        { "(|| 1 2)", "1" },
        { "(! 0)", "true" },
        { "(! \"x\")", "false" },
        { "(! (break))", "error 3" },
        { "(&& 1)", "error 9" },
        { "(let \"x\") (= \"x\" 1) (&& false (= \"x\" 2)) (|| true (= \"x\" 3)) $x", "1" },
    });
}

TEST(RulesCommands, CountsAreCheckedBeforeOrAfterEvaluatingAsEachFamilySays)
{
    // A comparison refuses a third argument before evaluating any; a math
    // command evaluates all three first.
    APMPRuntime runtime;
    EXPECT_EQ(rulesrunner::run(runtime, "(let \"x\") (= \"x\" 0) (< 1 2 (= \"x\" 5))"), QStringLiteral("error 9"));
    EXPECT_EQ(rulesrunner::run(runtime, "$x"), QStringLiteral("0"));
    EXPECT_EQ(rulesrunner::run(runtime, "(+ 1 2 (= \"x\" 5))"), QStringLiteral("error 9"));
    EXPECT_EQ(rulesrunner::run(runtime, "$x"), QStringLiteral("5"));
}

TEST(RulesCommands, Loops)
{
    expectCases({
        { "(let \"i\" \"s\") (= \"i\" 0) (= \"s\" 0) (while (< $i 5) (= \"i\" (+ $i 1)) false (list (= \"s\" (+ $s $i)))) $s",
            "10" },
        // A do-while runs once before the first test and skips the step then.
        { "(let \"n\" \"k\") (= \"n\" 0) (= \"k\" 0) (while false (= \"k\" 1) true (list (= \"n\" (+ $n 1))))"
          " (array $n $k)",
            "[1,0]" },
        { "(let \"i\") (= \"i\" 0) (while true (= \"i\" (+ $i 1)) false (list (if (>= $i 3) (list (break))))) $i", "3" },
        { "(while true 0 false 5)", "error 10" },
        { "(while true 0 false)", "error 9" },
        { "(let \"s\") (= \"s\" 0) (for (seq (let \"i\") (= \"i\" 0) (array \"i\")) (< $i 4) (= \"i\" (+ $i 1))"
          " (list (= \"s\" (+ $s $i)))) $s",
            "6" },
        // Each pass of a counted loop has its own copy of the loop variable.
        { "(let \"fs\") (= \"fs\" (array)) (for (seq (let \"i\") (= \"i\" 0) (array \"i\")) (< $i 3) (= \"i\" (+ $i 1))"
          " (list (call $fs \"push\" (array (fn \"\" (list) $i)))))"
          " (call (call $fs \"map\" (array (fn \"\" (list \"f\") (return (f))))) \"join\" (array \"-\"))",
            "\"0-1-2\"" },
        { "(for 1 true 0 (list))", "error 10" },
        { "(for (array \"i\") true 0 1)", "error 10" },
        { "(let \"k\" \"r\") (= \"r\" \"\") (forin \"k\" \"ab\" (list (= \"r\" (+ $r $k)))) $r", "\"01\"" },
        { "(let \"k\" \"r\") (= \"r\" \"\") (forof \"k\" \"ab\" (list (= \"r\" (+ $r $k)))) $r", "\"ab\"" },
        { "(let \"a\" \"r\") (= \"a\" (array)) (setprop $a 2 \"x\") (setprop $a 0 \"y\") (= \"r\" \"\")"
          " (forin-let \"k\" $a (list (= \"r\" (+ $r $k)))) $r",
            "\"02\"" },
        { "(let \"r\") (= \"r\" \"\") (forof-let \"v\" (array 1 2) (list (= \"r\" (+ $r $v)))) $r", "\"12\"" },
        // Named properties come before the indices.
        { "(let \"a\" \"r\") (= \"a\" (array 5 6)) (setprop $a \"x\" 0) (= \"r\" \"\")"
          " (forin \"k\" $a (list (= \"r\" (+ $r $k)))) $r",
            "\"x01\"" },
        { "(let \"r\") (= \"r\" 0) (forin-const \"k\" (map \"a\" 1 \"b\" 2) (list (= \"r\" (+ $r 1)))) $r", "2" },
        { "(forin \"k\" 5 (list))", "undefined" },
        { "(forin \"k\" (null) (list))", "undefined" },
        { "(forof \"k\" 5 (list))", "error 16" },
        { "(forof \"k\" (null) (list))", "error 16" },
        { "(forof \"k\" (map) (list))", "error 16" },
        { "(forin \"k\" 5 1)", "error 10" },
        { "(forin \"k\" 5)", "error 9" },
        // A return ends the loop and the function; a break only the innermost loop.
        { "(defun \"f\" (list) (forof-let \"x\" (array 1 2 3) (list (if (== $x 2) (list (return (* $x 10)))))) 0) (f)",
            "20" },
        { "(let \"n\") (= \"n\" 0) (forof-let \"a\" (array 1 2) (list (forof-let \"b\" (array 1 2 3) (list (break)"
          " (= \"n\" 99))) (= \"n\" (+ $n 1)))) $n",
            "2" },
        // A continue inside a switch reaches the loop.
        { "(let \"r\") (= \"r\" \"\") (forof-let \"x\" (array 1 2 3) (list (switch $x (list 2) (list (continue)))"
          " (= \"r\" (+ $r $x)))) $r",
            "\"13\"" },
        // A constant loop binding cannot be assigned.
        { "(defun \"f\" (list) (forof-const \"x\" (array 1) (list (= \"x\" 5) (return $x)))) (f)", "1" },
        // The item list is taken once.
        { "(let \"a\" \"n\") (= \"a\" (array 1 2)) (= \"n\" 0) (forof \"v\" $a (list (call $a \"push\" (array 0))"
          " (= \"n\" (+ $n 1)))) $n",
            "2" },
    });
}

TEST(RulesCommands, VariablesAndProperties)
{
    expectCases({
        { "(= \"nope\" 1)", "error 2" },
        { "(= \"nope\" 1) $nope", "error 2" },
        { "(= 5 1)", "error 10" },
        { "(let \"a\") $a", "undefined" },
        { "(let \"a\" 5)", "error 10" },
        { "(let \"a\") (= \"a\" 3) (let \"a\") $a", "undefined" },
        { "(const \"c\" 1) (= \"c\" 2) $c", "1" },
        { "(const \"c\" 1 \"d\") ", "error 9" },
        { "(const \"c\" 1 5 2) $c", "error 10" },
        { "(get 5)", "error 10" },
        { "(get \"a\" \"b\")", "error 9" },
        { "$runtime_counter", "2" },
        { "(array 1 (+ 1 1))", "[1,2]" },
        { "(map \"a\" 1 \"b\" 2 \"a\" 3)", "{a:3,b:2}" },
        { "(map 1 2)", "{1:2}" },
        { "(map \"a\")", "error 9" },
        { "(prop \"abc\" \"length\")", "3" },
        { "(prop \"abc\" 1)", "\"b\"" },
        { "(prop \"abc\" \"1\")", "\"b\"" },
        { "(prop \"abc\" 5)", "undefined" },
        { "(prop \"abc\" 1.5)", "undefined" },
        { "(prop \"\xF0\x9F\x98\x80\" \"length\")", "2" },
        { "(prop (null) \"x\")", "undefined" },
        { "(prop 5 \"x\")", "undefined" },
        { "(setprop (null) \"x\" 1)", "error 6" },
        { "(setprop (undefined) \"x\" 1)", "error 6" },
        { "(setprop 5 \"x\" 1)", "1" },
        { "(17 (map \"a\" 4) \"a\")", "4" },
        { "(let \"m\") (= \"m\" (map)) (setprop $m \"k\" 2) (prop $m \"k\")", "2" },
        { "(defun \"f\" (list) 1) (setprop $f \"p\" 3) (prop $f \"p\")", "3" },
        { "(typeof true)", "\"boolean\"" },
        { "(typeof $require)", "\"function\"" },
        { "(typeof 1)", "\"number\"" },
        { "(typeof \"\")", "\"string\"" },
        { "(typeof (undefined))", "\"undefined\"" },
        { "(typeof (null))", "\"object\"" },
        { "(typeof (array))", "\"object\"" },
        { "(typeof (map))", "\"object\"" },
        { "(typeof (list 1))", "\"object\"" },
        { "(typeof)", "error 9" },
        { "(undefined 1 2)", "undefined" },
        { "(null 1)", "null" },
    });
}

TEST(RulesCommands, AssignmentReachesTheNearestBinding)
{
    // Inside a call, a global is changed in place; an undeclared name is
    // bound in the call's own scope only.
    expectCases({
        { "(let \"g\") (= \"g\" 1) (defun \"f\" (list) (= \"g\" 2)) (f) $g", "2" },
        { "(defun \"f\" (list) (forin \"h\" \"a\" (list)) (return $h)) (f)", "\"0\"" },
        { "(defun \"f\" (list) (forin \"h\" \"a\" (list))) (f) $h", "undefined" },
    });
}

} // namespace
