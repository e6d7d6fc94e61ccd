#!/usr/bin/env bash
# Starts PraVik under a virtual X server with a private home, once per
# interface language, and saves a screenshot of the main window on each of
# the five settings pages (menu rows clicked with xdotool).
#   scripts/settings-pages-demo.sh [output folder] [build folder] [languages]
# languages: interface-language indexes (0 zh-Hans, 1 en, 2 id, 3 vi, 4 ko),
# default "0 1". Pictures: <output>/settings-<lang>-page<N>.png
# At 200 %: QT_SCALE_FACTOR=2 PRAVIK_DEMO_SCREEN=2400x1600 scripts/settings-pages-demo.sh ...
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-settings-pages}")"
build="$(realpath -m "${2:-build}")"
languages="${3:-0 1}"
bash scripts/demo-build.sh "$build" pravik
mkdir -p "$out"
for lang in $languages; do
  home="$(mktemp -d)"
  mkdir -p "$home/Preferences"
  # The interface language, and a mouse-free session (no receiver, no key tap).
  python3 - "$home/Preferences/org.pravik.PraVik.plist" "$lang" <<'PY'
import plistlib, sys
with open(sys.argv[1], "wb") as f:
    plistlib.dump({"k_indexOfUIKey": int(sys.argv[2])}, f, fmt=plistlib.FMT_XML)
PY
  PRAVIK_HOME="$home" PRAVIK_RESOURCES="$build/resources" \
  PRAVIK_KEYTAP=null PRAVIK_KEYPOSTER=null PRAVIK_HID=null PRAVIK_STATUSITEM=null \
  QT_SCALE_FACTOR="${QT_SCALE_FACTOR:-1}" \
  xvfb-run -a -s "-screen 0 ${PRAVIK_DEMO_SCREEN:-1440x900}x24" bash -c '
    "$0/bin/pravik" 2>/dev/null & pid=$!
    for i in $(seq 1 60); do
      window=$(xdotool search --onlyvisible --name "^PraVik$" 2>/dev/null | head -1 || true)
      [ -n "$window" ] && break
      sleep 0.5
    done
    [ -n "$window" ] || { echo "no window" >&2; kill $pid; exit 1; }
    sleep 4 # the pages load
    eval "$(xdotool getwindowgeometry --shell "$window")"
    scale=$(python3 -c "print(float(\"${QT_SCALE_FACTOR:-1}\"))")
    for page in 0 1 2 3 4; do
      # Menu rows: the left column, 41 px apart from y = 77 (unscaled).
      x=$(python3 -c "print(int($X + 110 * $scale))")
      y=$(python3 -c "print(int($Y + (77 + 41 * $page) * $scale))")
      xdotool mousemove "$x" "$y" click 1
      sleep 1.5
      import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$1/settings-$2-page$page.png"
    done
    # Every other window (the permission guide when something is missing).
    for other in $(xdotool search --onlyvisible --pid $pid 2>/dev/null); do
      [ "$other" = "$window" ] && continue
      eval "$(xdotool getwindowgeometry --shell "$other")"
      [ "$WIDTH" -gt 100 ] || continue
      xdotool windowraise "$other"; sleep 1
      import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$1/settings-$2-window$other.png"
    done
    kill $pid; wait $pid 2>/dev/null || true
  ' "$build" "$out" "$lang"
  rm -rf "$home"
done
ls "$out"
