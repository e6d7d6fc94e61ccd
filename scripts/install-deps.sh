#!/usr/bin/env bash
# Installs the Debian 12 packages PraVik needs.
#   scripts/install-deps.sh        what building and running the program needs
#   scripts/install-deps.sh test   that, and the test toolchain: clang and its
#                                  sanitizer and fuzzing runtime, GoogleTest,
#                                  Google Benchmark, the independent oracles
#                                  (libsbc, protoc, python3-protobuf, sqlite3,
#                                  sox) and the screenshot tools
# Idempotent: packages already present are left alone, and the package lists are
# refreshed at most once per run (and only when something is missing).
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build ccache pkg-config python3
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev
  qt6-websockets-dev qt6-webengine-dev qt6-webengine-dev-tools qt6-webchannel-dev
  qt6-connectivity-dev qt6-speech-dev qt6-multimedia-dev
  libhidapi-dev libudev-dev libevdev-dev libx11-dev libxi-dev libxtst-dev libxext-dev libxrandr-dev
  libsqlite3-dev zlib1g-dev libssl-dev libnanopb-dev
  xvfb xauth zip fonts-noto-cjk qt6-wayland qt6-speech-flite-plugin qt6-translations-l10n
)
TEST_PACKAGES=(
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev duktape-dev
  libsbc-dev nanopb protobuf-compiler python3-protobuf sqlite3 sox
  xdotool imagemagick x11-xserver-utils unzip pulseaudio dbus-daemon
)

case "${1:-}" in
  "") ;;
  test) PACKAGES+=("${TEST_PACKAGES[@]}") ;;
  *) echo "usage: $0 [test]" >&2; exit 2 ;;
esac

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "install-deps: all packages present"
fi

# The receiver's udev rule: a logged-in user reaches its HID nodes and keys
# without root or the "input" group (the permission guide checks for this).
rule_source="$(cd "$(dirname "$0")/.." && pwd)/resources/udev/70-pravik.rules"
rule_target=/etc/udev/rules.d/70-pravik.rules
if [ -d /etc/udev/rules.d ] && ! cmp -s "$rule_source" "$rule_target"; then
  echo "install-deps: installing $rule_target"
  $SUDO install -m 644 "$rule_source" "$rule_target"
  if command -v udevadm >/dev/null && [ -d /run/udev ]; then
    $SUDO udevadm control --reload || true
    $SUDO udevadm trigger --subsystem-match=hidraw --subsystem-match=input || true
  fi
fi
