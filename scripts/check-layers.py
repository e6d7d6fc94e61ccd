#!/usr/bin/env python3
"""Fails when a source file includes one from a layer above its own or from
another folder on its own level.

Every folder under src/ is one library and may include only folders below it;
the analytics library's subfolders are layers of their own. Reads the
`#include "..."` lines of src/** under the given root (default: the
repository) and lists every include that goes up or sideways.
"""
import pathlib
import re
import sys

# Bottom first; folders with the same number are on one level and never
# include each other. The analytics library as a whole sits on the platform
# layer only, so it is placed between platform and core.
APPLICATION = {
    "platform": 0,
    "analytics": 1,
    "core": 2,
    "device": 3,
    "voice": 4,
    "translate": 4,
    "ui": 5,
    "app": 6,
}
ANALYTICS = {
    "base": 0,
    "wire": 1,
    "model": 2,
    "store": 3,
    "config": 4,
    "userproperties": 4,
    "identity": 5,
    "rules": 6,
    "audience": 6,
    "experiments": 6,
    "reporters": 7,
    "engine": 8,
    "frontend": 9,
    "interface": 10,
}
SOURCE_SUFFIXES = {".h", ".hpp", ".cpp", ".cc"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def unit_of(parts):
    """(folder, analytics layer or None) of a path relative to src/, or None
    when the path names no known folder."""
    if not parts or parts[0] not in APPLICATION:
        return None
    if parts[0] == "analytics":
        if len(parts) < 3 or parts[1] not in ANALYTICS:
            return ("analytics", None)
        return ("analytics", parts[1])
    return (parts[0], None)


def describe(unit):
    folder, layer = unit
    return f"{folder}/{layer}" if layer else folder


def against_order(levels, source, target):
    if levels[target] > levels[source]:
        return "upward"
    if levels[target] == levels[source]:
        return "sideways"
    return None


def violation(source, target):
    """Why the include from source to target breaks the order, or None."""
    if source == target:
        return None
    s_folder, s_layer = source
    t_folder, t_layer = target
    if s_folder == t_folder == "analytics":
        if s_layer is None or t_layer is None:
            return "outside the analytics layers"
        return against_order(ANALYTICS, s_layer, t_layer)
    if s_folder == "analytics" and t_folder != "platform":
        return "the analytics library depends on platform only"
    return against_order(APPLICATION, s_folder, t_folder)


def check(root):
    src = root / "src"
    found = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in SOURCE_SUFFIXES or not path.is_file():
            continue
        source = unit_of(path.relative_to(src).parts)
        if source is None:
            continue
        for number, line in enumerate(path.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = unit_of(pathlib.PurePosixPath(match.group(1)).parts)
            if target is None:
                continue  # a file beside the includer, a generated or external header
            why = violation(source, target)
            if why:
                found.append(
                    f"{path.relative_to(root)}:{number}: {describe(source)} includes "
                    f"{match.group(1)} ({describe(target)}): {why}"
                )
    return found


def main(argv):
    root = pathlib.Path(argv[1]) if len(argv) > 1 else pathlib.Path(__file__).resolve().parent.parent
    if not (root / "src").is_dir():
        print(f"check-layers: no src/ under {root}", file=sys.stderr)
        return 2
    found = check(root)
    for line in found:
        print(line)
    if found:
        print(f"check-layers: {len(found)} include(s) against the layer order", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
