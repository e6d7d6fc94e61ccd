#!/usr/bin/env bash
# Shows the speech window with a running text and the tip window over a text
# field that keeps the keyboard focus, on a virtual X server, and saves a
# picture of the whole screen.
#   scripts/speech-window-demo.sh [output.png] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-speech-window.png}")"
build="$(realpath -m "${2:-build}")"
bash scripts/demo-build.sh "$build" voice_tests
mkdir -p "$(dirname "$out")"
PRAVIK_SPEECH_WINDOW_SHOT="$out" QT_QPA_PLATFORM=xcb PRAVIK_RESOURCES="$build/resources" \
  xvfb-run -a -s "-screen 0 1280x800x24" \
  "$build/bin/voice_tests" --gtest_filter='SpeechWindowFocusTest.*'
echo "screenshot: $out"
