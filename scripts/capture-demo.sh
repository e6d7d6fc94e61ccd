#!/usr/bin/env bash
# Saves pictures of the capture window (a selection with a rectangle and an
# arrow drawn on it, and the capture of a window with the part selected), of
# the translation result window and of the hot-key recorder, made under a
# virtual X server by the X11 capture test against local fake services (the
# recorder offscreen). The scale is Qt's (1, 1.25, 1.5, 2).
#   scripts/capture-demo.sh [output folder] [build folder] [scale]
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-capture-demo}")"
build="$(realpath -m "${2:-build}")"
scale="${3:-1}"
bash scripts/demo-build.sh "$build" translate_x11_tests ui_tests
mkdir -p "$out"
export PRAVIK_DEMO_DIR="$out" PRAVIK_RESOURCES="$build/resources" QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$scale"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
xvfb-run -a -s "-screen 0 1280x1027x24" "$build/bin/translate_x11_tests" \
  --gtest_filter='*SelectionWithAnnotations*:*ResultWindow*:*EveryScreenIsCapturedWhole*'
QT_QPA_PLATFORM=offscreen "$build/bin/ui_tests" --gtest_filter='ShortcutRecorderTest.AKeyWith*'
ls "$out"
