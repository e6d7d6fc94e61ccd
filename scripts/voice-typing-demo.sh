#!/usr/bin/env bash
# Holds the mouse's voice key on a virtual X server (scripted mouse, fake
# dictation service) and saves a picture of the screen while the recognised
# text is typed into a Qt text field and the speech window shows it.
#   scripts/voice-typing-demo.sh [output.png] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-voice-typing.png}")"
build="$(realpath -m "${2:-build}")"
bash scripts/demo-build.sh "$build" e2e_tests
mkdir -p "$(dirname "$out")"
PRAVIK_VOICE_ROAD_SHOT="$out" QT_QPA_PLATFORM=xcb PRAVIK_RESOURCES="$build/resources" \
  xvfb-run -a -s "-screen 0 1280x800x24" \
  "$build/bin/e2e_tests" --gtest_filter='VoiceRoadOnX11.*'
echo "screenshot: $out"
