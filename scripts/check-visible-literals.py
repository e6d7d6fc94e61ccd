#!/usr/bin/env python3
"""Fails when a text a person can see is written into src/ instead of being
looked up in the interface-string tables.

Usage: check-visible-literals.py [ROOT]   (default: the repository)
ROOT holds src/ and resources/lproj/strings.tsv.

Two kinds of finding, both ignoring comments and log lines:
- a string literal with letters passed straight to a call that shows text
  (setText, setWindowTitle, QMessageBox::information, addAction, ...) without
  going through the lookup (LGNLocalizedString or one of the small wrappers
  named in LOOKUPS);
- a string literal with Chinese characters that is not a key of the tables:
  Chinese wording in src/ is shown to someone, and a text missing from the
  tables comes back untranslated in every other language.
Names that are never translated (NAMES) are not findings, nor is a line that
says why its text is never shown with a "// not shown: why" comment.

ROOT/scripts/visible-literals-pending.txt, when present, lists findings that
are known and waiting for their owner ("path: literal" per line). They are
printed on every run, so they stay in sight, and do not fail the check; a
listed finding that no longer occurs fails it, so the list only shrinks.

Exit status 0 when nothing is found; otherwise each finding is printed and the
status is 1.
"""
import pathlib
import re
import sys

CHINESE = re.compile(r"[\u3400-\u4dbf\u4e00-\u9fff\uf900-\ufaff\u3000-\u303f\uff00-\uffef]")
HAN = re.compile(r"[\u3400-\u4dbf\u4e00-\u9fff\uf900-\ufaff]")
LETTER = re.compile(r"[^\W\d_]")
# Qt's %1 and printf's conversions: not words.
PLACEHOLDER = re.compile(r"%(?:\d+|[-+ #0]*\d*(?:\.\d+)?(?:hh|h|ll|l|q|z|L)?[@diouxXeEfgGcsSp])")

# Calls that put their text arguments in front of a person.
SINKS = (
    "setText", "setWindowTitle", "setToolTip", "setPlaceholderText", "setStatusTip", "setWhatsThis",
    "setTitle", "setLabelText", "setInformativeText", "setDetailedText", "setWindowIconText",
    "addAction", "addItem", "addItems", "insertItem", "addTab", "insertTab", "setTabText", "addButton",
    "setButtonText", "showMessage", "setNameFilter", "setNameFilters",
    "information", "warning", "critical", "question", "about",
    "getText", "getItem", "getInt", "getDouble", "getMultiLineText",
    "getOpenFileName", "getOpenFileNames", "getSaveFileName", "getExistingDirectory",
    "QLabel", "QPushButton", "QCheckBox", "QRadioButton", "QGroupBox", "QAction", "QMenu", "QToolButton",
    "showAlert", "showNotice", "showError", "showInfo", "showMessageWithText", "showText",
    "notice", "alert", "presentAlert", "showTip", "showTips",
)
# Calls that look a text up in the tables: everything inside them is a key.
LOOKUPS = ("lgnAppLocalizedString", "lgnLocalizedString", "appLocalizedString", "systemLocalizedString",
           "lookup", "tr", "localized", "snipTransLocalized", "noticeText")
# Calls whose text goes to the log, a file or the wire, never to a person.
NOT_SHOWN = re.compile(
    r"\b(?:q(?:Debug|Info|Warning|Critical|Fatal)|qC(?:Debug|Info|Warning|Critical)|log\w*|\w+Log\w*"
    r"|say|Q_ASSERT\w*|static_assert)\s*\(")
# A line that says why its text never reaches a person (sent to a service,
# stored, printed for a developer) carries this comment, and is skipped.
NOT_SHOWN_MARK = "// not shown:"
# Product and hardware names, the same in every language.
NAMES = {"PraVik", "AI", "BLE"}

LITERAL = re.compile(r'(?:u8|u|U|L)?"((?:[^"\\\n]|\\.)*)"(?:_s|_L1)?')
CALL = re.compile(r"\b(" + "|".join(SINKS) + r")\s*[({]")


def strip_comments(text):
    """Blanks comments (keeping line numbers and offsets) and leaves literals."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if c == '"' or c == "'":
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            out.append(text[i:j + 1])
            i = j + 1
        elif text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        else:
            out.append(c)
            i += 1
    return "".join(out)


def closing(text, start):
    """Index of the bracket closing the one at start (or the end of text)."""
    pairs = {"(": ")", "{": "}"}
    stack = [pairs[text[start]]]
    i = start + 1
    while i < len(text) and stack:
        c = text[i]
        if c == '"':
            m = LITERAL.match(text, i)
            i = m.end() if m else i + 1
            continue
        if c in pairs:
            stack.append(pairs[c])
        elif stack and c == stack[-1]:
            stack.pop()
        i += 1
    return i


def spans(text, pattern):
    """(start, end) of the bracketed arguments of every call matching pattern."""
    for m in pattern.finditer(text):
        yield m.end() - 1, closing(text, m.end() - 1)


def inside(offset, ranges):
    return any(a < offset < b for a, b in ranges)


def unescape(body):
    return body.replace('\\"', '"').replace("\\\\", "\\")


def table_keys(root):
    keys = set()
    path = root / "resources" / "lproj" / "strings.tsv"
    for line in path.read_text(encoding="utf-8").splitlines():
        if line and not line.startswith("#"):
            keys.add(line.split("\t", 1)[0].replace("\\n", "\n").replace("\\t", "\t").replace("\\\\", "\\"))
    return keys


def key_form(body):
    """A C++ literal body as the table writes its key."""
    return body.replace("\\n", "\n").replace("\\t", "\t").replace('\\"', '"').replace("\\\\", "\\")


def adjacent_literals(text):
    """Each run of literals that C++ joins into one (separated by white space
    only), as its start offset and the joined body: a long text written over
    several lines is one table key."""
    run_start, bodies, run_end = None, [], None
    for m in LITERAL.finditer(text):
        if run_start is not None and text[run_end:m.start()].strip() == "":
            bodies.append(m.group(1))
        else:
            if run_start is not None:
                yield run_start, "".join(bodies)
            run_start, bodies = m.start(), [m.group(1)]
        run_end = m.end()
    if run_start is not None:
        yield run_start, "".join(bodies)


def findings_in(path, rel, keys):
    raw = path.read_text(encoding="utf-8")
    marked = {n for n, line in enumerate(raw.splitlines(), 1) if NOT_SHOWN_MARK in line}
    text = strip_comments(raw)
    # Calls are searched with the literals blanked, so a style sheet naming
    # "QLabel {" is not taken for a call.
    code = LITERAL.sub(lambda m: '"' + " " * (m.end() - m.start() - 2) + '"', text)
    lookups = list(spans(code, re.compile(r"\b(?:" + "|".join(LOOKUPS) + r")\s*\(")))
    quiet = list(spans(code, NOT_SHOWN))
    shown = list(spans(code, CALL))
    found = []
    for start, body in adjacent_literals(text):
        if len(LETTER.findall(PLACEHOLDER.sub("", body))) < 2 or body in NAMES:
            continue
        if text[:start].rstrip().endswith("#include"):
            continue
        if inside(start, quiet):
            continue
        line = text.count("\n", 0, start) + 1
        if line in marked:
            continue
        key = key_form(body)
        if HAN.search(body) and key not in keys:
            found.append((line, body, "Chinese text missing from the string tables"))
        elif inside(start, shown) and not inside(start, lookups):
            found.append((line, body, "shown without a lookup in the string tables"))
    return [(f"{rel}:{line}", body, why) for line, body, why in found]


def main(argv):
    root = pathlib.Path(argv[1]).resolve() if len(argv) > 1 else pathlib.Path(__file__).resolve().parent.parent
    keys = table_keys(root)
    pending_path = root / "scripts" / "visible-literals-pending.txt"
    pending = set()
    if pending_path.exists():
        for line in pending_path.read_text(encoding="utf-8").splitlines():
            if line.strip() and not line.startswith("#"):
                pending.add(line.rstrip("\n"))
    findings = []
    for path in sorted((root / "src").rglob("*")):
        if path.suffix in (".cpp", ".h") and path.is_file():
            findings += findings_in(path, path.relative_to(root).as_posix(), keys)

    failed = False
    seen = set()
    for where, body, why in findings:
        entry = f"{where.rsplit(':', 1)[0]}: {body}"
        if entry in pending:
            seen.add(entry)
            print(f"PENDING {where}: \"{body}\" ({why})")
            continue
        failed = True
        print(f"FAIL {where}: \"{body}\" ({why})", file=sys.stderr)
    for entry in sorted(pending - seen):
        failed = True
        print(f"FAIL {pending_path.name}: \"{entry}\" no longer occurs; remove it from the list", file=sys.stderr)
    if failed:
        return 1
    print(f"no visible literal outside the string tables ({len(seen)} pending)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
