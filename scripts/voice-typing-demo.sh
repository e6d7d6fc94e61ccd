#!/usr/bin/env bash
# Holds the mouse's voice key on a virtual X server (scripted mouse, fake
# dictation service) and saves a picture of the screen while the recognised
# text is typed into a Qt text field and the speech window shows it.
#   scripts/voice-typing-demo.sh [output.png] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-voice-typing.png}")"
build="${2:-build}"
cmake --build "$build" --target e2e_tests
PRAVIK_VOICE_ROAD_SHOT="$out" QT_QPA_PLATFORM=xcb PRAVIK_RESOURCES="$PWD/$build/resources" \
  xvfb-run -a -s "-screen 0 1280x800x24" \
  "$build/bin/e2e_tests" --gtest_filter='VoiceRoadOnX11.*'
echo "screenshot: $out"
