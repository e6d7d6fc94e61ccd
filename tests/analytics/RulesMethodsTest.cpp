// The methods programs call on strings, arrays and maps, and the property
// rules of arrays, maps and booleans.

#include "RulesTestRunner.h"

#include <gtest/gtest.h>

using rulesrunner::expectCases;

namespace {

TEST(RulesMethods, Strings)
{
    expectCases({
        { "(call \"abc\" \"charAt\" (array -1))", "\"\"" },
        { "(call \"abc\" \"charAt\" (array 3))", "\"\"" },
        { "(call \"abc\" \"charAt\" (array 1.9))", "\"b\"" },
        { "(call \"abc\" \"charAt\" (array))", "\"a\"" },
        { "(call \"abc\" \"charAt\" (array 1 2))", "error 9" },
        { "(call \"a\" \"concat\" (array 1 (null)))", "\"a1null\"" },
        { "(call \"a\" \"concat\" (array (break)))", "error 5" },
        { "(call \"abc\" \"hasOwnProperty\" (array \"length\"))", "true" },
        { "(call \"abc\" \"hasOwnProperty\" (array 2))", "true" },
        { "(call \"abc\" \"hasOwnProperty\" (array 3))", "false" },
        { "(call \"abc\" \"hasOwnProperty\" (array 1.5))", "false" },
        { "(call \"abc\" \"hasOwnProperty\" (array))", "error 9" },
        { "(call \"abcabc\" \"indexOf\" (array \"c\" 3))", "5" },
        { "(call \"abcabc\" \"indexOf\" (array \"c\" -9))", "2" },
        { "(call \"abc\" \"indexOf\" (array \"\"))", "-1" },
        { "(call \"abc\" \"indexOf\" (array \"z\"))", "-1" },
        { "(call \"xundefined\" \"indexOf\" (array))", "1" },
        { "(call \"abcabc\" \"lastIndexOf\" (array \"c\"))", "5" },
        { "(call \"abcabc\" \"lastIndexOf\" (array \"c\" 4))", "2" },
        { "(call \"abcabc\" \"lastIndexOf\" (array \"abc\" 0))", "0" },
        { "(call \"abcabc\" \"lastIndexOf\" (array \"c\" -5))", "-1" },
        { "(call \"abcabc\" \"lastIndexOf\" (array \"c\" nan))", "5" },
        { "(call \"a1b22\" \"match\" (array \"[0-9]+\"))", "[\"1\"]" },
        { "(call \"ab\" \"match\" (array \"[0-9]\"))", "null" },
        { "(call \"ab\" \"match\" (array))", "[\"\"]" },
        { "(call \"ab\" \"match\" (array \"(\"))", "error 20" },
        { "(call \"aXbX\" \"replace\" (array \"X\" \"-\"))", "\"a-bX\"" },
        { "(call \"aXbX\" \"replace\" (array \"Y\" \"-\"))", "\"aXbX\"" },
        { "(call \"ab\" \"replace\" (array \"\" \"-\"))", "\"-ab\"" },
        { "(call \"a.c\" \"replace\" (array \".\" \"$&\"))", "\"a$&c\"" },
        { "(call \"abc\" \"replace\" (array \"b\"))", "\"aundefinedc\"" },
        { "(call \"abc\" \"replace\" (array \"b\" (fn \"\" (list \"m\" \"p\" \"s\") (+ (+ $m $p) $s))))",
            "\"ab1abcc\"" },
        { "(call \"ab12\" \"search\" (array \"[0-9]\"))", "2" },
        { "(call \"ab\" \"search\" (array \"\"))", "0" },
        { "(call \"ab\" \"search\" (array \"z\"))", "-1" },
        { "(call \"abcdef\" \"slice\" (array 1 -1))", "\"bcde\"" },
        { "(call \"abcdef\" \"slice\" (array -2))", "\"ef\"" },
        { "(call \"abcdef\" \"slice\" (array 4 2))", "\"\"" },
        { "(call \"a,b,,c\" \"split\" (array \",\"))", "[\"a\",\"b\",\"\",\"c\"]" },
        { "(call \"a,b,,c\" \"split\" (array \",\" 2))", "[\"a\",\"b\"]" },
        { "(call \"a,b,,c\" \"split\" (array \",\" 0))", "[]" },
        { "(call \"\" \"split\" (array \",\"))", "[\"\"]" },
        { "(call \"a,b\" \"split\" (array))", "[\"a,b\"]" },
        { "(call \"abc\" \"split\" (array \"\" 2))", "[\"a\",\"b\"]" },
        { "(call \"abcdefg\" \"substring\" (array 5 2))", "\"cde\"" },
        { "(call \"abcdefg\" \"substring\" (array 2 5))", "\"cde\"" },
        { "(call \"abc\" \"substring\" (array -3 100))", "\"abc\"" },
        { "(call \"abc\" \"substring\" (array 1e10 1))", "\"a\"" },
        { "(call \"AbC\" \"toLowerCase\" (array))", "\"abc\"" },
        { "(call \"AbC\" \"toUpperCase\" (array))", "\"ABC\"" },
        { "(call \"AbC\" \"toLocaleUpperCase\" (array))", "\"ABC\"" },
        { "(call \"AbC\" \"toLowerCase\" (array 1))", "error 9" },
        { "(call \"  a b \\n\" \"trim\" (array))", "\"a b\"" },
        { "(call \"x\" \"toString\" (array))", "\"x\"" },
        { "(call \"x\" \"length\" (array))", "error 17" },
    });
}

TEST(RulesMethods, ArrayProperties)
{
    expectCases({
        { "(let \"a\") (= \"a\" (array)) (setprop $a 3 \"x\") $a", "[_,_,_,\"x\"]" },
        { "(let \"a\") (= \"a\" (array)) (setprop $a 3 \"x\") (+ $a \"\")", "\",,,x\"" },
        { "(let \"a\") (= \"a\" (array)) (setprop $a 3 \"x\") (prop $a 1)", "undefined" },
        { "(let \"a\") (= \"a\" (array)) (setprop $a 3 \"x\") (prop $a \"length\")", "4" },
        { "(let \"a\") (= \"a\" (array 1 2 3)) (setprop $a \"length\" 1) $a", "[1]" },
        { "(let \"a\") (= \"a\" (array 1)) (setprop $a \"length\" 3) $a", "[1,_,_]" },
        { "(setprop (array 1 2 3) \"length\" 2.5)", "error 11" },
        { "(setprop (array 1 2 3) \"length\" -1)", "error 11" },
        { "(prop (array 5 6) \" 1\")", "6" },
        { "(prop (array 5 6) \"1\")", "6" },
        { "(prop (array 5 6) 1.0)", "6" },
        { "(let \"a\") (= \"a\" (array)) (setprop $a -1 \"n\") (array (prop $a \"-1\") (prop $a \"length\"))",
            "[\"n\",0]" },
        { "(+ (array 1 (undefined) (null) 2) \"\")", "\"1,,,2\"" },
        { "(* (array 1 (undefined)) 1)", "NaN" },
        { "(* (array) 1)", "0" },
        { "(* (array 7) 1)", "7" },
        { "(! (array))", "false" },
        { "(+ true \"\")", "\"true\"" },
        { "(* false 1)", "0" },
        { "(+ (map) \"\")", "\"[object Object]\"" },
        { "(* (map) 1)", "NaN" },
        { "(! (map))", "false" },
        // An array that holds itself prints empty text where it recurs.
        { "(let \"a\") (= \"a\" (array 1)) (call $a \"push\" (array $a)) (+ $a \"\")", "\"1,\"" },
    });
}

TEST(RulesMethods, Arrays)
{
    expectCases({
        { "(call (array 1) \"concat\" (array (array 2 3) 4))", "[1,2,3,4]" },
        { "(let \"a\") (= \"a\" (array)) (setprop $a 1 1) (call (array 0) \"concat\" (array $a))", "[0,_,1]" },
        { "(call (array) \"concat\" (array (break)))", "error 10" },
        { "(call (array 1 2 3) \"every\" (array (fn \"\" (list \"x\") (< $x 3))))", "false" },
        { "(call (array) \"every\" (array (fn \"\" (list \"x\") false)))", "true" },
        { "(call (array 1 2 3) \"some\" (array (fn \"\" (list \"x\") (> $x 2))))", "true" },
        { "(call (array 1 2 3) \"filter\" (array (fn \"\" (list \"x\") (% $x 2))))", "[1,3]" },
        { "(call (array 1 2 3) \"forEach\" (array (fn \"\" (list \"x\") 0) 1))", "error 9" },
        { "(call (array 1 2 3) \"forEach\" (array 5))", "error 10" },
        { "(let \"s\") (= \"s\" 0) (call (array 1 2 3) \"forEach\" (array (fn \"\" (list \"x\") (= \"s\" (+ $s $x))))) $s",
            "6" },
        { "(let \"a\") (= \"a\" (array 1)) (setprop $a 2 3) (call $a \"map\" (array (fn \"\" (list \"x\") (* $x 2))))",
            "[2,_,6]" },
        { "(call (array 5 6) \"map\" (array (fn \"\" (list \"x\" \"i\" \"a\") (+ $i (prop $a \"length\")))))", "[2,3]" },
        { "(call (array 1 2) \"map\" (array (fn \"\" (list \"x\") (call $x \"nope\" (array)))))", "error 17" },
        { "(call (array 1 2 3) \"indexOf\" (array 3 -1))", "2" },
        { "(call (array 1 2 3) \"indexOf\" (array 1 -1))", "-1" },
        { "(call (array 1 2 3) \"indexOf\" (array \"1\"))", "-1" },
        { "(call (array 1 2 3) \"indexOf\" (array 1 5))", "-1" },
        // Strict equality: NaN is found nowhere, and arrays only as themselves.
        { "(call (array nan) \"indexOf\" (array nan))", "-1" },
        { "(call (array (array 1)) \"indexOf\" (array (array 1)))", "-1" },
        { "(let \"a\") (= \"a\" (array 1)) (call (array 0 $a) \"indexOf\" (array $a))", "1" },
        { "(call (array nan) \"lastIndexOf\" (array nan))", "-1" },
        { "(call (array 1 2 3) \"lastIndexOf\" (array 1 -4))", "-1" },
        { "(call (array 1 2 1) \"lastIndexOf\" (array 1))", "2" },
        { "(call (array 1 2 1) \"lastIndexOf\" (array 1 1))", "0" },
        { "(call (array 1 2 1) \"lastIndexOf\" (array 1 nan))", "2" },
        { "(call (array 1 2 1) \"lastIndexOf\" (array 1 99))", "2" },
        { "(call (array 1 2) \"join\" (array))", "\"1,2\"" },
        { "(call (array 1 2) \"join\" (array (undefined)))", "\"12\"" },
        { "(call (array 1 2) \"join\" (array \"-\"))", "\"1-2\"" },
        { "(call (array) \"pop\" (array))", "undefined" },
        { "(call (array) \"shift\" (array))", "undefined" },
        { "(let \"a\") (= \"a\" (array 1 2 3)) (array (call $a \"pop\" (array)) (call $a \"shift\" (array)) $a)",
            "[3,1,[2]]" },
        { "(call (array 1 2) \"push\" (array))", "2" },
        { "(let \"a\") (= \"a\" (array 1)) (array (call $a \"push\" (array 2 3)) $a)", "[3,[1,2,3]]" },
        { "(let \"a\") (= \"a\" (array 3)) (call $a \"unshift\" (array 1 2)) $a", "[1,2,3]" },
        { "(call (array 1 2 3) \"reduce\" (array (fn \"\" (list \"a\" \"b\") (+ $a $b))))", "6" },
        { "(call (array) \"reduce\" (array (fn \"\" (list) 0) 7))", "7" },
        { "(call (array) \"reduce\" (array (fn \"\" (list) 0)))", "error 8" },
        { "(call (array) \"reduce\" (array 5))", "error 10" },
        { "(call (array) \"reduce\" (array))", "error 9" },
        { "(call (array 1 2 3) \"reduceRight\" (array (fn \"\" (list \"a\" \"b\") (+ (+ $a \"\") $b))))", "\"321\"" },
        { "(let \"a\") (= \"a\" (array 1 2 3)) (array (call $a \"reverse\" (array)) $a)", "[[3,2,1],[3,2,1]]" },
        { "(call (array 1 2 3) \"slice\" (array 0 (undefined)))", "[]" },
        { "(call (array 1 2 3) \"slice\" (array -2))", "[2,3]" },
        { "(call (array 1 2 3) \"slice\" (array))", "[1,2,3]" },
        { "(call (array 3 (undefined) 1) \"sort\" (array))", "[1,3,undefined]" },
        { "(call (array 10 9) \"sort\" (array))", "[10,9]" },
        // Undefined goes last rather than sorting as the text "undefined".
        { "(call (array \"z\" (undefined) \"a\") \"sort\" (array))", "[\"a\",\"z\",undefined]" },
        { "(call (array 10 9 1) \"sort\" (array (fn \"\" (list \"a\" \"b\") (- $a $b))))", "[1,9,10]" },
        { "(call (array 2 1) \"sort\" (array 5))", "error 10" },
        { "(call (array 2) \"sort\" (array 5))", "[2]" },
        { "(call (array 2 1) \"sort\" (array (fn \"\" (list \"a\" \"b\") (call $a \"nope\" (array)))))", "error 17" },
        { "(let \"a\") (= \"a\" (array 1 2 3 4)) (array (call $a \"splice\" (array 1 2 \"x\")) $a)",
            "[[2,3],[1,\"x\",4]]" },
        { "(let \"a\") (= \"a\" (array 1 2)) (array (call $a \"splice\" (array)) $a)", "[[],[1,2]]" },
        { "(let \"a\") (= \"a\" (array 1 2 3)) (array (call $a \"splice\" (array -1)) $a)", "[[3],[1,2]]" },
        { "(call (array 1 2) \"toString\" (array))", "\"1,2\"" },
        { "(call (array 1) \"hasOwnProperty\" (array \"length\"))", "true" },
        { "(call (array 1) \"hasOwnProperty\" (array 0))", "true" },
        { "(call (array 1) \"hasOwnProperty\" (array 5))", "false" },
        { "(call (array) \"nope\" (array))", "error 17" },
        { "(let \"a\") (= \"a\" (array)) (setprop $a \"f\" (fn \"\" (list) 9)) (call $a \"f\" (array))", "9" },
        { "(let \"a\") (= \"a\" (array)) (setprop $a \"f\" 1) (call $a \"f\" (array))", "error 17" },
    });
}

TEST(RulesMethods, MapsAndFunctions)
{
    expectCases({
        { "(call (map \"a\" 1) \"hasOwnProperty\" (array \"a\"))", "true" },
        { "(call (map \"a\" 1) \"hasOwnProperty\" (array \"b\"))", "false" },
        { "(call (map) \"hasOwnProperty\" (array))", "error 9" },
        { "(call (map) \"toString\" (array))", "\"[object Object]\"" },
        { "(call (map) \"nope\" (array))", "error 17" },
        { "(call (map \"f\" (fn \"\" (list \"x\") (* $x 2))) \"f\" (array 4))", "8" },
        { "(call (map \"f\" 1) \"f\" (array))", "error 17" },
        { "(defun \"f\" (list) 1) (setprop $f \"g\" (fn \"\" (list) 2)) (call $f \"g\" (array))", "2" },
        { "(defun \"f\" (list) 1) (call $f \"hasOwnProperty\" (array \"g\"))", "false" },
        { "(defun \"f\" (list) 1) (call $f \"toString\" (array))", "\"f\"" },
        { "(defun \"f\" (list) 1) (call $f \"nope\" (array))", "error 17" },
    });
}

} // namespace
