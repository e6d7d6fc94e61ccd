#!/usr/bin/env bash
# Starts PraVik under a virtual X server with a private home, waits for its
# window and saves a screenshot of the whole screen.
#   scripts/screenshot.sh [output.png] [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-pravik-screenshot.png}"
build="${2:-build}"
home="$(mktemp -d)"
export PRAVIK_HOME="$home" PRAVIK_RESOURCES="$PWD/$build/resources"
xvfb-run -a -s "-screen 0 1440x900x24" bash -c '
  "$0/bin/pravik" & pid=$!
  sleep 4
  import -window root "$1"
  kill $pid; wait $pid 2>/dev/null || true
' "$build" "$out"
echo "screenshot: $out (home: $home)"
ls "$home/Documents" "$home/Documents/Log"
