#!/usr/bin/env bash
# Starts PraVik under a virtual X server with a private home, waits for its
# window and saves a screenshot of the whole screen.
#   scripts/screenshot.sh [--damaged-database] [output.png] [build folder]
# --damaged-database starts from a command database that cannot be read, so
# the picture shows how the main window tells the user about it.
set -euo pipefail
cd "$(dirname "$0")/.."
damaged=0
if [ "${1:-}" = --damaged-database ]; then
  damaged=1
  shift
fi
out="$(realpath -m "${1:-pravik-screenshot.png}")"
build="$(realpath -m "${2:-build}")"
bash scripts/demo-build.sh "$build" pravik
mkdir -p "$(dirname "$out")"
home="$(mktemp -d)"
if [ "$damaged" = 1 ]; then
  mkdir -p "$home/Documents"
  head -c 4096 /dev/urandom > "$home/Documents/MMmouseDataBase.sqlite"
fi
export PRAVIK_HOME="$home" PRAVIK_RESOURCES="$build/resources"
xvfb-run -a -s "-screen 0 1440x900x24" bash -c '
  "$0/bin/pravik" & pid=$!
  sleep 4
  import -window root "$1"
  kill $pid; wait $pid 2>/dev/null || true
' "$build" "$out"
echo "screenshot: $out (home: $home)"
ls "$home/Documents" "$home/Documents/Log"
