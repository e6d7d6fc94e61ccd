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
# over all the processes. With TRAY_MEMORY_SHOTS set to a folder, the
# window's first frames of each wait for a drawn page are saved there.
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

# Waits until the window shows a drawn page and prints the moment. The
# window's pixels are read from the X server every 10 ms from before it is
# mapped, so the first frame a person would see is the one judged: an
# unpainted (black) part, an empty white panel or a flat panel over the page
# area is not a drawn page, and each seen before the page is said on stderr.
# With TRAY_MEMORY_SHOTS set to a folder, the first distinct frames of each
# wait are saved there as PNG, named by time and verdict.
cat >"$home/watch.py" <<'PY'
# Watches the X server for the program's window and prints the wall-clock
# moment its first drawn page is on screen. Samples the window's pixels from
# the server every 10 ms, so the first frame shown is what is judged.
import collections, ctypes, os, struct, sys, time, zlib

pid, shots = int(sys.argv[1]), sys.argv[2] if len(sys.argv) > 2 else ""
x11 = ctypes.CDLL("libX11.so.6")
Display, Window, Atom = ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong


class XWindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("border_width", ctypes.c_int), ("depth", ctypes.c_int), ("visual", ctypes.c_void_p),
                ("root", Window), ("class_", ctypes.c_int), ("bit_gravity", ctypes.c_int),
                ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int),
                ("backing_planes", ctypes.c_ulong), ("backing_pixel", ctypes.c_ulong),
                ("save_under", ctypes.c_int), ("colormap", ctypes.c_ulong), ("map_installed", ctypes.c_int),
                ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_char)), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int)]


ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, Display, ctypes.c_void_p)
ignore_errors = ERROR_HANDLER(lambda display, event: 0)  # a window that went away between two calls
x11.XSetErrorHandler(ignore_errors)
x11.XOpenDisplay.restype = Display
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = Window
x11.XDefaultRootWindow.argtypes = [Display]
x11.XInternAtom.restype = Atom
x11.XInternAtom.argtypes = [Display, ctypes.c_char_p, ctypes.c_int]
x11.XQueryTree.argtypes = [Display, Window, ctypes.POINTER(Window), ctypes.POINTER(Window),
                           ctypes.POINTER(ctypes.POINTER(Window)), ctypes.POINTER(ctypes.c_uint)]
x11.XGetWindowAttributes.argtypes = [Display, Window, ctypes.POINTER(XWindowAttributes)]
x11.XGetWindowProperty.argtypes = [Display, Window, Atom, ctypes.c_long, ctypes.c_long, ctypes.c_int, Atom,
                                   ctypes.POINTER(Atom), ctypes.POINTER(ctypes.c_int),
                                   ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_ulong),
                                   ctypes.POINTER(ctypes.c_void_p)]
x11.XFetchName.argtypes = [Display, Window, ctypes.POINTER(ctypes.c_char_p)]
x11.XGetImage.restype = ctypes.POINTER(XImage)
x11.XGetImage.argtypes = [Display, Window, ctypes.c_int, ctypes.c_int, ctypes.c_uint, ctypes.c_uint,
                          ctypes.c_ulong, ctypes.c_int]
x11.XDestroyImage.argtypes = [ctypes.POINTER(XImage)]
x11.XFree.argtypes = [ctypes.c_void_p]

display = x11.XOpenDisplay(None)
root = x11.XDefaultRootWindow(display)
pid_atom = x11.XInternAtom(display, b"_NET_WM_PID", 0)
IS_VIEWABLE, Z_PIXMAP, ALL_PLANES = 2, 2, 0xFFFFFFFF


def window_pid(window):
    kind, format_, count, after, value = Atom(), ctypes.c_int(), ctypes.c_ulong(), ctypes.c_ulong(), ctypes.c_void_p()
    if x11.XGetWindowProperty(display, window, pid_atom, 0, 1, 0, 0, ctypes.byref(kind), ctypes.byref(format_),
                              ctypes.byref(count), ctypes.byref(after), ctypes.byref(value)) != 0 or not value.value:
        return None
    found = ctypes.cast(value, ctypes.POINTER(ctypes.c_ulong))[0] if count.value else None
    x11.XFree(value)
    return found


def window_name(window):
    name = ctypes.c_char_p()
    if not x11.XFetchName(display, window, ctypes.byref(name)) or not name.value:
        return None
    text = name.value
    return text


def shown_window():
    """The program's main window while it is viewable, with its size."""
    parent, root_out, children, count = Window(), Window(), ctypes.POINTER(Window)(), ctypes.c_uint()
    if not x11.XQueryTree(display, root, ctypes.byref(root_out), ctypes.byref(parent), ctypes.byref(children),
                          ctypes.byref(count)):
        return None
    windows = [children[i] for i in range(count.value)]
    if children:
        x11.XFree(children)
    for window in windows:
        attributes = XWindowAttributes()
        if not x11.XGetWindowAttributes(display, window, ctypes.byref(attributes)):
            continue
        if attributes.map_state == IS_VIEWABLE and window_pid(window) == pid and window_name(window) == b"PraVik":
            return window, attributes.width, attributes.height
    return None


def picture(window, width, height):
    image = x11.XGetImage(display, window, 0, 0, width, height, ALL_PLANES, Z_PIXMAP)
    if not image:
        return None
    frame = image.contents
    if frame.bits_per_pixel != 32:
        x11.XDestroyImage(image)
        sys.exit(f"the window has {frame.bits_per_pixel} bits per pixel; run the X server at depth 24")
    data = ctypes.string_at(frame.data, frame.bytes_per_line * height)
    stride = frame.bytes_per_line
    x11.XDestroyImage(image)
    return data, stride


def judge(data, stride, width, height):
    """What the frame shows: "drawn", "unpainted", "white" or "flat"."""
    # Any pure black is a part the program has not painted (the page's darkest
    # ink is not black): a window painted only in part is not drawn.
    pixels = width * height
    black = sum(data[y * stride:y * stride + width * 4].count(b"\0\0\0") for y in range(0, height, 4)) * 4
    # The page area: right of the menu, below the notices a private home shows
    # above it (no back end is configured there), which would otherwise pass an
    # empty panel off as a drawn page.
    left, top, crop_w, crop_h = 320, 380, min(600, width - 320), min(250, height - 380)
    if crop_w <= 0 or crop_h <= 0:
        return "flat", 0.0
    histogram = collections.Counter()
    for y in range(top, top + crop_h):
        row = data[y * stride + left * 4:y * stride + (left + crop_w) * 4]
        histogram.update(row[1::4])  # green: the page's ink, lines and controls all differ from its white in it
    count = sum(histogram.values())
    mean = sum(v * n for v, n in histogram.items()) / count
    spread = (sum((v - mean) ** 2 * n for v, n in histogram.items()) / count) ** 0.5 / 255
    background = histogram.most_common(1)[0][0]
    if black > pixels // 50:
        return "unpainted", black / pixels
    if spread <= 0.02:
        return ("white" if mean > 0.9 * 255 else "flat"), mean / 255
    if background < 0.9 * 255:
        return "flat", mean / 255  # not the page's white: something else is over the page area
    return "drawn", spread


def png(data, stride, width, height):
    rows = []
    for y in range(height):
        line = data[y * stride:y * stride + width * 4]
        rgb = bytearray(width * 3)
        rgb[0::3], rgb[1::3], rgb[2::3] = line[2::4], line[1::4], line[0::4]
        rows.append(b"\0" + bytes(rgb))
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(b"".join(rows), 1)) + chunk(b"IEND", b""))


frames, last, before = [], None, []
deadline = time.time() + 60
while time.time() < deadline:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        sys.exit("the program ended before its page was drawn")
    found = shown_window()
    if found:
        window, width, height = found
        seen = time.time()
        taken = picture(window, width, height)
        if taken and taken[0] != last:
            data, stride = taken
            last = data
            verdict, figure = judge(data, stride, width, height)
            if shots and len(frames) < 20:
                frames.append((seen, verdict, data, stride, width, height))
            if verdict == "drawn":
                print(f"{seen:.3f}")
                sys.stdout.flush()
                for name in dict.fromkeys(before):
                    print(f"  (the window showed {name} before its page)", file=sys.stderr)
                for at, kind, data, stride, width, height in frames:
                    with open(os.path.join(shots, f"visible-{at:.3f}-{kind}.png"), "wb") as out:
                        out.write(png(data, stride, width, height))
                sys.exit(0)
            before.append({"unpainted": "an unpainted (black) area", "white": "an empty white panel",
                           "flat": "a flat panel that is not the page"}[verdict])
    time.sleep(0.01)
sys.exit("the page was not drawn within 60 s")
PY
wait_drawn() { python3 "$home/watch.py" "$1" "${TRAY_MEMORY_SHOTS:-}"; }

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
wait_drawn $app >"$home/drawn" &
watcher=$!
"$binary" >>"$home/run1.log" 2>&1 # the running instance shows its window
wait $watcher
drawn=$(cat "$home/drawn")
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
wait_drawn $app >"$home/drawn" &
watcher=$!
"$binary" >>"$home/run2.log" 2>&1
wait $watcher
drawn=$(cat "$home/drawn")
echo "open to drawn page:  $(elapsed "$asked" "$drawn") s   (load $(load))"
