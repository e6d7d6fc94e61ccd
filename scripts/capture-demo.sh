#!/usr/bin/env bash
# Saves pictures of the capture window (a selection with a rectangle and an
# arrow drawn on it), of the translation result window and of the hot-key
# recorder, made under a virtual X server by the X11 capture test against
# local fake services (the recorder offscreen).
#   scripts/capture-demo.sh [output folder] [build folder] [scale]
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-capture-demo}")"
build="${2:-build-asan}"
scale="${3:-1}"
mkdir -p "$out"
export PRAVIK_DEMO_DIR="$out" PRAVIK_RESOURCES="$PWD/$build/resources" QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$scale"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
xvfb-run -a -s "-screen 0 1024x768x24" "$build/bin/translate_x11_tests" \
  --gtest_filter='*SelectionWithAnnotations*:*ResultWindow*'
QT_QPA_PLATFORM=offscreen "$build/bin/ui_tests" --gtest_filter='ShortcutRecorderTest.AKeyWith*'
echo "pictures: $out/capture-window.png $out/result-window.png $out/hotkey-window.png"
