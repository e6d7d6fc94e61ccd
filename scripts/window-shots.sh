#!/usr/bin/env bash
# Saves pictures of the floating notices and small windows (the HUD, the
# speech overlay, the update window) on a virtual X server, for people to
# look at.
#   scripts/window-shots.sh [output folder] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-window-shots}")"
build="$(realpath -m "${2:-build}")"
bash scripts/demo-build.sh "$build" core_tests voice_tests ui_tests
mkdir -p "$out"
export PRAVIK_SHOT_DIR="$out" QT_QPA_PLATFORM=xcb PRAVIK_RESOURCES="$build/resources"
run() {
  xvfb-run -a -s "-screen 0 1280x800x24" "$build/bin/$1" --gtest_filter="$2"
}
run core_tests 'ArtProgressHUDShot.*'
run voice_tests 'UWSpeechViewShowTest.PictureOfTheOverlay'
run ui_tests 'MMupdateWindowTest.PictureOfTheUpdateWindow'
ls -l "$out"
