#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
#   scripts/test.sh          the development build (build/)
#   scripts/test.sh asan     the same tests under AddressSanitizer and UBSan (build-asan/)
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-dev}"
bash scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
if [ "$preset" = asan ]; then
  export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi
# Widget tests run offscreen; tests that need a real X server start their own.
xvfb-run -a -s "-screen 0 1440x900x24" ctest --preset "$preset"
