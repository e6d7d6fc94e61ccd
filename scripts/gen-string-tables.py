#!/usr/bin/env python3
"""Writes the interface-string tables from resources/lproj/strings.tsv.

One table per interface language, resources/lproj/<lang>.lproj/Localizable.plist: an XML
property list whose root dictionary maps each Chinese source text to its text in that language.
The zh-Hans table maps every key to itself. Keys are written sorted, so the output only changes
when the source table does.

Usage: gen-string-tables.py [--check]
  --check  write nothing; exit 1 when a table on disk differs from what would be written.
"""
import pathlib
import plistlib
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
LPROJ = ROOT / "resources" / "lproj"
SOURCE = LPROJ / "strings.tsv"
COLUMNS = ["key", "en", "id", "vi", "ko"]
LANGUAGES = ["zh-Hans", "en", "id", "vi", "ko"]


class TableError(Exception):
    pass


def unescape(field, where):
    out = []
    i = 0
    while i < len(field):
        c = field[i]
        if c != "\\":
            out.append(c)
            i += 1
            continue
        if i + 1 >= len(field):
            raise TableError(f"{where}: lone backslash at the end of a field")
        nxt = field[i + 1]
        if nxt == "t":
            out.append("\t")
        elif nxt == "n":
            out.append("\n")
        elif nxt == "\\":
            out.append("\\")
        else:
            raise TableError(f"{where}: unknown escape \\{nxt}")
        i += 2
    return "".join(out)


def read_source(path=SOURCE):
    """Returns {key: {"en": ..., "id": ..., "vi": ..., "ko": ...}} in file order."""
    rows = {}
    header_seen = False
    for number, raw in enumerate(path.read_text(encoding="utf-8").split("\n"), start=1):
        line = raw[:-1] if raw.endswith("\r") else raw
        if not line or line.startswith("#"):
            continue
        fields = line.split("\t")
        where = f"{path.name}:{number}"
        if not header_seen:
            if fields != COLUMNS:
                raise TableError(f"{where}: expected the header {COLUMNS}, found {fields}")
            header_seen = True
            continue
        if len(fields) != len(COLUMNS):
            raise TableError(f"{where}: expected {len(COLUMNS)} tab-separated fields, found {len(fields)}")
        values = [unescape(f, where) for f in fields]
        key = values[0]
        if not key.strip():
            raise TableError(f"{where}: empty key")
        if key in rows:
            raise TableError(f"{where}: duplicate key {key!r}")
        for column, value in zip(COLUMNS[1:], values[1:]):
            if not value.strip():
                raise TableError(f"{where}: empty {column} text for {key!r}")
        rows[key] = dict(zip(COLUMNS[1:], values[1:]))
    if not header_seen:
        raise TableError(f"{path.name}: no header line")
    return rows


def build_tables(rows):
    """Returns {language: plist bytes} for the five tables."""
    tables = {}
    for lang in LANGUAGES:
        if lang == "zh-Hans":
            mapping = {key: key for key in rows}
        else:
            mapping = {key: texts[lang] for key, texts in rows.items()}
        tables[lang] = plistlib.dumps(mapping, fmt=plistlib.FMT_XML, sort_keys=True)
    return tables


def table_path(lang):
    return LPROJ / f"{lang}.lproj" / "Localizable.plist"


def main(argv):
    check_only = "--check" in argv[1:]
    try:
        tables = build_tables(read_source())
    except (TableError, OSError) as error:
        print(f"gen-string-tables: {error}", file=sys.stderr)
        return 1
    stale = []
    for lang, data in tables.items():
        path = table_path(lang)
        current = path.read_bytes() if path.exists() else None
        if current == data:
            continue
        if check_only:
            stale.append(str(path.relative_to(ROOT)))
        else:
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(data)
            print(f"wrote {path.relative_to(ROOT)}")
    if stale:
        print("gen-string-tables: out of date: " + ", ".join(stale), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
