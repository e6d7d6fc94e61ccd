#!/usr/bin/env bash
# Installs what building and running needs (not the test toolchain), builds
# PraVik and starts it. Without a display (no DISPLAY and no WAYLAND_DISPLAY)
# it runs under a virtual X server.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target pravik
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1440x900x24" build-release/bin/pravik "$@"
fi
exec build-release/bin/pravik "$@"
