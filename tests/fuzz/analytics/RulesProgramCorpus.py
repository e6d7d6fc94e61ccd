#!/usr/bin/env python3
"""Writes the seed corpus of the rules_program fuzz target.

Each seed is a measurement configuration carrying one event-editing program,
written here in the compact notation of the rules tests and encoded by protoc
from the hand-written schema the wire tests read. Run from the repository
root after changing a seed.
"""
import re
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[3]
PROTO_DIR = ROOT / "tests" / "analytics" / "data"
CORPUS = ROOT / "tests" / "fuzz" / "corpus" / "rules_program"

OPERATORS = {
    "+": "0", "&&": "1", "call": "2", "=": "3", "break": "4", "run": "5", "continue": "6", "array": "7",
    "map": "8", "/": "10", "==": "12", "seq": "13", "get": "15", "prop": "16", ">": "18", ">=": "19",
    "===": "20", "!==": "21", "if": "22", "<": "23", "<=": "24", "%": "25", "*": "26", "neg": "27", "!": "28",
    "!=": "29", "||": "30", "return": "36", "-": "37", "switch": "38", "?": "39", "typeof": "40", "let": "41",
    "while": "42", "setprop": "43", "undefined": "44", "null": "45", "list": "46", "forin": "47",
    "defun": "50", "fn": "51", "const": "52", "block": "53", "for": "63", "forof": "64", "forof-let": "66",
}

TOKEN = re.compile(r'\s*(?:(\()|(\))|("(?:[^"\\]|\\.)*")|([^\s()]+))')


def entities(text):
    tokens = [m.groups() for m in TOKEN.finditer(text) if any(m.groups())]
    position = 0

    def one():
        nonlocal position
        opening, _, string, word = tokens[position]
        position += 1
        if opening:
            head = tokens[position][3]
            position += 1
            parts = [f'type: NUMBER_4 statement: "{OPERATORS.get(head, head)}"']
            while tokens[position][1] is None:
                parts.append(f"value {{ {one()} }}")
            position += 1
            return " ".join(parts)
        if string:
            return f"type: NUMBER_1 string_value: {string}"
        if word in ("true", "false"):
            return f"type: NUMBER_3 boolean_value: {word}"
        if word.startswith("$"):
            return f'type: NUMBER_4 statement: "15" value {{ type: NUMBER_1 string_value: "{word[1:]}" }}'
        return f"type: NUMBER_2 number_value: {word}"

    found = []
    while position < len(tokens):
        found.append(one())
    return found


PRELUDE = ('(const "reg" (require "internal.registerCallback") "log" (require "internal.eventLogger")'
           ' "rc" (require "internal.remoteConfig") "logger" (require "internal.logger"))')

SEEDS = {
    "edit-and-create": PRELUDE
    + ' (reg 0 (fn "" (list "e") (call $e "setParamValue" (array "currency" (call $rc "getValue" (array "c" "USD"))))'
      ' (call $e "setEventName" (array (+ (call $e "getEventName" (array)) "_x"))) 1) (map "type" "edit" "priority" 5))'
      ' (reg 0 (fn "" (list "e") (log "copy" (call $e "getTimestamp" (array)) (call $e "getParams" (array))))'
      ' (map "type" "create"))',
    "loops-and-methods": PRELUDE
    + ' (let "a" "s") (= "a" (array 3 1 2)) (= "s" "")'
      ' (for (seq (let "i") (= "i" 0) (array "i")) (< $i 3) (= "i" (+ $i 1)) (list (= "s" (+ $s $i))))'
      ' (forof-let "x" (call $a "sort" (array)) (list (= "s" (call $s "concat" (array $x)))))'
      ' (while (< (prop $s "length") 20) 0 false (list (= "s" (+ $s (call "ab,c" "split" (array ","))))))'
      ' (call $logger "log" (array 5 $s "ctx"))',
    "activity": PRELUDE
    + ' (defun "onEvent" (list "rule") (reg 0 (fn "" (list "e") (call $e "setParamValue" (array (prop $rule "p")'
      ' (* 2 (call $e "getParamValue" (array "value")))))) (map "type" "edit")))'
    + " @onEvent (map \"p\" \"doubled\") (map \"p\" \"again\")",
    "switch-and-closures": PRELUDE
    + ' (defun "mk" (list "n") (return (fn "" (list) (switch $n (list 1 2) (list (return "one") (return "two")'
      ' (return "many"))))))'
      ' (reg 0 (fn "" (list "e") (let "h") (= "h" (mk 2)) (call $e "setParamValue" (array "k" (h))) 0)'
      ' (map "type" "edit"))',
    "growing-arrays": PRELUDE
    + ' (let "kept") (= "kept" (array))'
      ' (reg 0 (fn "" (list "e") (let "a") (= "a" (array)) (setprop $a "length" 4096)'
      ' (call $kept "push" (array (call $a "map" (array (fn "" (list "x") $x)))))'
      ' (call $e "setParamValue" (array "k" (+ (== $a "x") (call (array 1) "indexOf" (array 1 $a)))))'
      ' (call (array $a "z" (undefined)) "sort" (array)) 1) (map "type" "edit"))',
}


def program_text(source):
    statements, _, activity = source.partition(" @")
    parts = [f"instructions {{ {e} }}" for e in entities(statements)]
    if activity:
        name, _, data = activity.partition(" ")
        datas = " ".join(f"data {{ {e} }}" for e in entities(data))
        parts.append(f'activities {{ activities {{ name: "{name}" {datas} }} }}')
    return " ".join(parts)


def main():
    CORPUS.mkdir(parents=True, exist_ok=True)
    for name, source in SEEDS.items():
        text = ('vmp_app_id: "1:1234567890:linux:0a1b2c3d" settings { name: "c" value: "GBP" } '
                f"dynamic_event_editing {{ {program_text(source)} }}")
        run = subprocess.run(["protoc", "--encode=wire.MeasurementConfig", "-I", str(PROTO_DIR), "wire_messages.proto"],
                             input=text.encode(), capture_output=True, cwd=PROTO_DIR)
        if run.returncode != 0:
            sys.exit(f"protoc cannot encode {name}: {run.stderr.decode()}")
        (CORPUS / name).write_bytes(run.stdout)


if __name__ == "__main__":
    main()
