#!/usr/bin/env bash
# Memory of the tray program and how fast its window shows a drawn page.
# Starts the release binary under Xvfb with a private PRAVIK_HOME and a
# stand-in system tray, and prints:
#   - start to drawn page (first start, window shown with its page)
#   - proportional set size of pravik plus its browser-engine helpers while
#     the window is open, 60 s after it was closed, and after a start in the
#     background (before the window is ever opened)
#   - the time from asking the running program to reopen to a drawn page
# Each figure is printed with the load average at that moment. With
# TRAY_MEMORY_MAPS set, each memory figure is followed by where the memory
# is: the largest groups of mappings (by file, heap, stack, anonymous) summed
# over all the processes.
# Usage: scripts/tray-memory.sh [build-folder]   (default build-release)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-release}
if [[ -z "${TRAY_MEMORY_IN_XVFB:-}" ]]; then
    exec env TRAY_MEMORY_IN_XVFB=1 xvfb-run -a -s "-screen 0 1440x900x24" "$0" "$@"
fi
binary=$build/bin/pravik
[[ -x $binary ]] || { echo "no $binary: cmake --build --preset release --target pravik" >&2; exit 1; }

home=$(mktemp -d)
export PRAVIK_HOME=$home PRAVIK_RESOURCES=$build/resources QT_QPA_PLATFORM=xcb
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$home"
}
trap cleanup EXIT

load() { cut -d' ' -f1-3 /proc/loadavg; }
now() { date +%s.%N; }
elapsed() { python3 -c "import sys; print(f'{float(sys.argv[2]) - float(sys.argv[1]):.2f}')" "$1" "$2"; }

# pravik and every process below it (the browser engine's helpers).
tree() {
    local pid=$1 child
    echo "$pid"
    for child in $(pgrep -P "$pid" || true); do tree "$child"; done
}
pss_mb() {
    local total=0 pid kb
    for pid in $(tree "$1"); do
        kb=$(awk '/^Pss:/ {print $2}' "/proc/$pid/smaps_rollup" 2>/dev/null || echo 0)
        total=$((total + ${kb:-0}))
    done
    echo "$((total / 1024)) MB in $(tree "$1" | wc -l) processes"
    [[ -z ${TRAY_MEMORY_MAPS:-} ]] || mappings "$1" >&2
}
# Proportional set size by mapping: a library's code, read-only and writable
# segments apart, then the heap, the stacks and the anonymous maps.
mappings() {
    python3 - $(tree "$1") <<'PY'
import collections, os, sys
sizes = collections.Counter()
for pid in sys.argv[1:]:
    try:
        with open(f"/proc/{pid}/smaps_rollup") as rollup:
            pss = next(int(line.split()[1]) for line in rollup if line.startswith("Pss:"))
        with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
            words = [w.decode(errors="replace") for w in cmdline.read().split(b"\0") if w]
        kind = next((w for w in words if w.startswith("--type=")), "")
        print(f"      {pss / 1024:7.1f} MB  process {pid} {os.path.basename(words[0]) if words else ''} {kind}")
        with open(f"/proc/{pid}/smaps") as smaps:
            name = None
            for line in smaps:
                fields = line.split()
                if not fields[0].endswith(":"):
                    kind = "code" if "x" in fields[1] else "writable" if "w" in fields[1] else "read-only"
                    name = f"{os.path.basename(fields[5])} {kind}" if len(fields) > 5 else "anonymous"
                elif fields[0] == "Pss:":
                    sizes[name] += int(fields[1])
    except OSError:
        pass
for name, kb in sizes.most_common(14):
    print(f"      {kb / 1024:7.1f} MB  {name}")
PY
}

window_of() { xdotool search --onlyvisible --pid "$1" --name '^PraVik$' 2>/dev/null | head -n1 || true; }

# Waits until the window shows a drawn page: visible, and its page area no
# longer one flat colour. Prints the moment; says on stderr when the window
# showed an empty white panel first (a window not yet painted at all, black
# under Xvfb, is not counted). With TRAY_MEMORY_SHOTS
# set to a folder, the first pictures of the window are saved there.
shots=0
wait_drawn() {
    local pid=$1 deadline=$(($(date +%s) + 60)) window spread seen=""
    while (($(date +%s) < deadline)); do
        window=$(window_of "$pid")
        if [[ -n $window ]]; then
            local picture=$home/window.png
            import -silent -window "$window" "$picture" 2>/dev/null || true
            if [[ $shots -lt 20 && -n ${TRAY_MEMORY_SHOTS:-} ]]; then
                shots=$((shots + 1))
                cp "$picture" "$TRAY_MEMORY_SHOTS/visible-$(date +%s.%N).png"
            fi
            # The page area: right of the menu, below the notices a private
            # home shows above it (no back end is configured there), which
            # would otherwise pass an empty panel off as a drawn page.
            read -r spread mean < <(convert "$picture" -crop 600x250+320+380 +repage -colorspace gray \
                -format '%[fx:standard_deviation] %[fx:mean]\n' info: 2>/dev/null || echo "0 0")
            if python3 -c "import sys; sys.exit(0 if float(sys.argv[1]) > 0.02 else 1)" "$spread"; then
                [[ -z $seen ]] || echo "  (the window showed an empty white panel before its page)" >&2
                now
                return 0
            fi
            if python3 -c "import sys; sys.exit(0 if float(sys.argv[1]) > 0.9 else 1)" "$mean"; then
                seen=1
            fi
        fi
        sleep 0.02
    done
    echo "the page was not drawn within 60 s" >&2
    return 1
}

python3 "$here/scripts/x11-session-helper.py" tray &
pids+=($!)
sleep 0.5

echo "== first start"
start=$(now)
"$binary" >"$home/run1.log" 2>&1 &
app=$!
pids+=($app)
drawn=$(wait_drawn $app)
echo "start to drawn page: $(elapsed "$start" "$drawn") s   (load $(load))"
sleep 5
echo "window open:         $(pss_mb $app)   (load $(load))"

python3 "$here/scripts/x11-session-helper.py" close "$(window_of $app)"
sleep 60
echo "60 s after closing:  $(pss_mb $app)   (load $(load))"

asked=$(now)
"$binary" >>"$home/run1.log" 2>&1 # the running instance shows its window
drawn=$(wait_drawn $app)
echo "reopen to drawn page: $(elapsed "$asked" "$drawn") s   (load $(load))"
sleep 3
echo "window open again:   $(pss_mb $app)   (load $(load))"
kill $app
wait $app 2>/dev/null || true

echo "== start in the background"
python3 - "$home/Preferences/org.pravik.PraVik.plist" <<'PY'
import plistlib, sys
with open(sys.argv[1], "rb") as f:
    values = plistlib.load(f)
values["key_backgroundmode"] = 1
with open(sys.argv[1], "wb") as f:
    plistlib.dump(values, f)
PY
"$binary" >"$home/run2.log" 2>&1 &
app=$!
pids+=($app)
sleep 15
echo "before the window opens: $(pss_mb $app)   (load $(load))"
asked=$(now)
"$binary" >>"$home/run2.log" 2>&1
drawn=$(wait_drawn $app)
echo "open to drawn page:  $(elapsed "$asked" "$drawn") s   (load $(load))"
