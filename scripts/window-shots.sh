#!/usr/bin/env bash
# Saves pictures of every window for people to look at: the main window and
# its pages, the permission guide, the hot-key recorder, the update window,
# the alerts, the translation result window, the HUD notices and the speech
# windows, in English and in Chinese at 100 % and 200 %, each run of the
# picture tests on a virtual X server whose screen holds the largest window
# at that scale. One folder per language and scale: en-1x, en-2x, zh-1x, zh-2x.
#   scripts/window-shots.sh [output folder] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-window-shots}")"
build="$(realpath -m "${2:-build}")"
bash scripts/demo-build.sh "$build" core_tests voice_tests translate_tests ui_tests
export QT_QPA_PLATFORM=xcb PRAVIK_RESOURCES="$build/resources" PRAVIK_TEST_SOURCE_DIR="$PWD/tests"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
# Test program and the picture tests it runs.
shots=(
  "core_tests ArtProgressHUDShot.*"
  "voice_tests SpeechWindowsLanguageTest.PicturesOfTheSpeechWindows"
  "translate_tests ResultWindowTest.PicturesOfTheWindow"
  "ui_tests AppStyleTest.PicturesOfTheSecondaryWindows:MMupdateWindowTest.PictureOfTheUpdateWindow:DocumentExporterTest.PictureOfTheExportMessages"
  "ui_tests MainWindowSize.*:PagesInBrowserTest.PicturesOfTheMainWindow"
)
failed=0
for lang in en zh; do
  for scale in 1 2; do
    dir="$out/$lang-${scale}x"
    mkdir -p "$dir"
    for shot in "${shots[@]}"; do
      read -r program filter <<<"$shot"
      echo "== $lang at ${scale}x: $program $filter"
      PRAVIK_SHOT_DIR="$dir" PRAVIK_SHOT_LANG="$lang" QT_SCALE_FACTOR="$scale" \
        xvfb-run -a -s "-screen 0 $((1440 * scale))x$((900 * scale))x24" \
        "$build/bin/$program" --gtest_filter="$filter" --gtest_brief=1 || failed=1
    done
  done
done
ls -l "$out"/*
exit "$failed"
