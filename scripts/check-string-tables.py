#!/usr/bin/env python3
"""Checks the interface-string tables in resources/lproj.

- the five Localizable.plist files are exactly what gen-string-tables.py writes from strings.tsv;
- every table has the same keys, zh-Hans maps each key to itself;
- every display name of every language list has a text in all five tables;
- an en/id/vi/ko text never equals its Chinese key (only keys without Chinese characters may);
- printf placeholders (%@, %ld, %d, ...) appear in every translation in the key's order.

Exit status 0 when every check holds; otherwise each failure is printed and the status is 1.
"""
import importlib.util
import pathlib
import plistlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
LANGUAGES = ROOT / "resources" / "languages"
CHINESE = re.compile(r"[\u3400-\u4dbf\u4e00-\u9fff\uf900-\ufaff]")
# A printf conversion: flags, width, precision, length modifier, conversion; "%%" is a literal.
PLACEHOLDER = re.compile(r"%(?:%|[-+ #0]*(?:\d+|\*)?(?:\.(?:\d+|\*))?(?:hh|h|ll|l|q|z|t|j|L)?[@diouxXeEfgGcsSp])")


def load_generator():
    location = importlib.util.spec_from_file_location(
        "gen_string_tables", ROOT / "scripts" / "gen-string-tables.py")
    module = importlib.util.module_from_spec(location)
    location.loader.exec_module(module)
    return module


def placeholders(text):
    return [p for p in PLACEHOLDER.findall(text) if p != "%%"]


def list_names(failures):
    names = set()
    paths = sorted(LANGUAGES.glob("*.plist"))
    if not paths:
        failures.append(f"no language lists in {LANGUAGES.relative_to(ROOT)}")
    for path in paths:
        try:
            with path.open("rb") as f:
                entries = plistlib.load(f)
            names.update(e["name"] for e in entries)
        except (OSError, plistlib.InvalidFileException, ValueError, TypeError, KeyError) as error:
            failures.append(f"{path.name}: unreadable list ({error}); run check-language-lists.py")
    return names


def main():
    failures = []
    gen = load_generator()
    try:
        rows = gen.read_source()
    except (gen.TableError, OSError) as error:
        print(f"FAIL {error}", file=sys.stderr)
        return 1

    expected = gen.build_tables(rows)
    tables = {}
    for lang in gen.LANGUAGES:
        path = gen.table_path(lang)
        try:
            data = path.read_bytes()
            tables[lang] = plistlib.loads(data)
        except (OSError, plistlib.InvalidFileException, ValueError) as error:
            failures.append(f"{lang}: cannot read {path.relative_to(ROOT)}: {error}")
            continue
        if data != expected[lang]:
            failures.append(f"{lang}: table differs from strings.tsv; run scripts/gen-string-tables.py")
        if not isinstance(tables[lang], dict):
            failures.append(f"{lang}: root is not a dictionary")
            del tables[lang]

    if len(tables) == len(gen.LANGUAGES):
        keys = set(tables["zh-Hans"])
        for lang, table in tables.items():
            if set(table) != keys:
                failures.append(f"{lang}: keys differ from zh-Hans ({sorted(set(table) ^ keys)[:5]} ...)")
        for key in sorted(keys):
            if tables["zh-Hans"][key] != key:
                failures.append(f"zh-Hans: {key!r} maps to {tables['zh-Hans'][key]!r}, not itself")
            wanted = placeholders(key)
            for lang in gen.LANGUAGES[1:]:
                text = tables[lang].get(key)
                if not isinstance(text, str) or not text.strip():
                    failures.append(f"{lang}: no text for {key!r}")
                    continue
                if text == key and CHINESE.search(key):
                    failures.append(f"{lang}: {key!r} is not translated")
                if placeholders(text) != wanted:
                    failures.append(f"{lang}: {key!r} placeholders {placeholders(text)} != {wanted}")
        for name in sorted(list_names(failures)):
            for lang in gen.LANGUAGES:
                if name not in tables[lang]:
                    failures.append(f"{lang}: language name {name!r} has no entry")

    for failure in failures:
        print(f"FAIL {failure}", file=sys.stderr)
    if failures:
        return 1
    print(f"{len(rows)} strings in {len(gen.LANGUAGES)} tables")
    return 0


if __name__ == "__main__":
    sys.exit(main())
