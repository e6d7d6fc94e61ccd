#!/usr/bin/env bash
# Shows the AI-assistant chat window on a virtual X server, with the local
# page that stands in for the portal: a question asked with the AI key was
# sent and the page listens to the mouse again. Saves a picture of it.
#   scripts/chat-demo.sh [output.png] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-chat-window.png}")"
build="$(realpath -m "${2:-build}")"
bash scripts/demo-build.sh "$build" ui_tests
mkdir -p "$(dirname "$out")"
# The browser engine will not start its sandbox as root.
if [ "$(id -u)" -eq 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
PRAVIK_CHAT_WINDOW_SHOT="$out" QT_QPA_PLATFORM=xcb PRAVIK_RESOURCES="$build/resources" \
  PRAVIK_TEST_SOURCE_DIR="$PWD/tests" xvfb-run -a -s "-screen 0 1280x800x24" \
  "$build/bin/ui_tests" --gtest_filter='ChatWindowTest.AConversationOnScreen'
echo "screenshot: $out"
