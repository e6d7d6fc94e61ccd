#!/usr/bin/env python3
"""Checks the language lists in resources/languages.

Each list is an XML property list whose root array holds {"name", "value"} dictionaries; the
stored language choices are positions in these lists, so this script also pins the entries that
the first-use region defaults and the start-up dictation index point at, and the code rules the
speech and translation clients apply to the values.

Exit status 0 when every check holds; otherwise each failure is printed and the status is 1.
"""
import pathlib
import plistlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
LANGUAGES = ROOT / "resources" / "languages"

LIST_NAMES = [
    "ASROfXunfei_cn",
    "ASROfXunfei_haiwai",
    "OcrLanguageXunfei",
    "OcrLanguageMicrosoft",
    "TransOfXunfeiAll",
    "TransOfWeiruanFull",
    "ttsLangsApple",
    "baiduOrcLangList",
]

# (list, position, expected value, why)
DEFAULT_POSITIONS = [
    ("ASROfXunfei_cn", 1, "zh_cn", "dictation index on a Chinese system"),
    ("ASROfXunfei_cn", 2, "en_us", "dictation index on any other system"),
    ("ASROfXunfei_haiwai", 1, "zh_cn", "dictation index on a Chinese system"),
    ("ASROfXunfei_haiwai", 2, "en_us", "dictation index on any other system"),
    ("TransOfXunfeiAll", 0, "cn", "mainland selection source/target, screenshot target"),
    ("TransOfXunfeiAll", 2, "en", "mainland voice-translation target, overseas selection source"),
    ("OcrLanguageXunfei", 0, "auto", "mainland screenshot source"),
    ("OcrLanguageMicrosoft", 35, "unk", "overseas screenshot source"),
    ("TransOfWeiruanFull", 0, "zh-Hans", "overseas translation targets"),
    ("ttsLangsApple", 0, "zh-CN", "voice of the overseas screenshot target"),
]

# Codes and names the first-use region rule writes; they must name list entries.
REGION_RULE_ENTRIES = [
    ("ASROfXunfei_cn", "普通话", "zh_cn"),
    ("ASROfXunfei_haiwai", "英语", "en_us"),
    ("ASROfXunfei_haiwai", "印尼语", "id_ID"),
]

# Dictation codes of the Chinese family that the speech clients understand: plain Mandarin,
# Mandarin with traditional output, and the dialect codes of the clients' accent table.
CHINESE_DICTATION_CODES = {
    "zh_cn",
    "zh_cn_taiwan_traditional",
    "zh_cn_cn_cantonese",
    "zh_cn_cn_lmz",
    "zh_cn_henanese",
    "zh_cn_cantonese_traditional",
    "zh_cn_shanghainese",
    "zh_cn_nanchangnese",
    "zh_cn_minnanese",
    "zh_cn_lmz",
    "zh_cn_wuhanese",
    "zh_cn_hakkanese",
}

VOICE_LOCALE = re.compile(r"^[a-z]{2,3}(-[A-Z][a-z]{3})?-[A-Z]{2}$")


def load(name, failures):
    path = LANGUAGES / f"{name}.plist"
    try:
        with path.open("rb") as f:
            data = plistlib.load(f)
    except (OSError, plistlib.InvalidFileException, ValueError) as error:
        failures.append(f"{name}: cannot read {path.relative_to(ROOT)}: {error}")
        return None
    if not isinstance(data, list) or not data:
        failures.append(f"{name}: root is not a non-empty array")
        return None
    for i, entry in enumerate(data):
        if not isinstance(entry, dict):
            failures.append(f"{name}[{i}]: not a dictionary")
            return None
        for key in ("name", "value"):
            if not isinstance(entry.get(key), str) or not entry[key].strip():
                failures.append(f"{name}[{i}]: {key!r} missing or not a non-empty string")
                return None
        extra = set(entry) - {"name", "value"}
        if extra:
            failures.append(f"{name}[{i}]: unexpected keys {sorted(extra)}")
    return data


def check_unique(name, entries, failures):
    for key in ("name", "value"):
        seen = {}
        for i, entry in enumerate(entries):
            if entry[key] in seen:
                failures.append(f"{name}: {key} {entry[key]!r} at {seen[entry[key]]} and {i}")
            seen.setdefault(entry[key], i)


def check_lists(lists, failures):
    for name, position, value, why in DEFAULT_POSITIONS:
        entries = lists[name]
        if position >= len(entries):
            failures.append(f"{name}: no entry {position} ({why})")
        elif entries[position]["value"] != value:
            failures.append(
                f"{name}[{position}] is {entries[position]['value']!r}, expected {value!r} ({why})")

    for name, display, code in REGION_RULE_ENTRIES:
        if not any(e["name"] == display and e["value"] == code for e in lists[name]):
            failures.append(f"{name}: no entry {display!r} = {code!r} (written by the region rule)")

    # Mainland dictation: codes without "zh" and "en" go to the minor-language endpoint, so a
    # code must be either of the Chinese family, exactly English, or free of both substrings.
    for name in ("ASROfXunfei_cn", "ASROfXunfei_haiwai"):
        for i, entry in enumerate(lists[name]):
            code = entry["value"]
            if "zh_cn" in code:
                if code not in CHINESE_DICTATION_CODES:
                    failures.append(f"{name}[{i}]: {code!r} is not a known Chinese dictation code")
            elif code != "en_us" and ("zh" in code or "en" in code):
                failures.append(f"{name}[{i}]: {code!r} would be routed as Chinese or English")

    # Translation targets in the overseas list: a code containing "cn" or "cht" is rewritten
    # before it reaches the translator, so none may contain them.
    for i, entry in enumerate(lists["TransOfWeiruanFull"]):
        if "cn" in entry["value"] or "cht" in entry["value"]:
            failures.append(f"TransOfWeiruanFull[{i}]: {entry['value']!r} would be rewritten")

    # The voice is taken at the translation target's position: same length, same languages.
    trans, voices = lists["TransOfWeiruanFull"], lists["ttsLangsApple"]
    if len(trans) != len(voices):
        failures.append(f"ttsLangsApple has {len(voices)} entries, TransOfWeiruanFull {len(trans)}")
    for i, (t, v) in enumerate(zip(trans, voices)):
        if t["name"] != v["name"]:
            failures.append(f"ttsLangsApple[{i}] {v['name']!r} does not match {t['name']!r}")
    for i, v in enumerate(voices):
        if not VOICE_LOCALE.match(v["value"]):
            failures.append(f"ttsLangsApple[{i}]: {v['value']!r} is not a language-REGION locale")


def main():
    failures = []
    lists = {}
    for name in LIST_NAMES:
        entries = load(name, failures)
        if entries is not None:
            check_unique(name, entries, failures)
            lists[name] = entries
    if len(lists) == len(LIST_NAMES):
        check_lists(lists, failures)
    for failure in failures:
        print(f"FAIL {failure}", file=sys.stderr)
    if failures:
        return 1
    for name in LIST_NAMES:
        print(f"{name}: {len(lists[name])} entries")
    return 0


if __name__ == "__main__":
    sys.exit(main())
