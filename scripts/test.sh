#!/usr/bin/env bash
# Installs what is missing (the test toolchain too), builds every test and runs it.
#   scripts/test.sh          under AddressSanitizer and UBSan (clang, -O1; build-asan/)
#   scripts/test.sh dev      the development build with the application (build/)
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-asan}"
bash scripts/install-deps.sh test
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
if [ "$preset" = asan ]; then
  export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi
# Widget tests run offscreen; tests that need a real X server start their own.
# One test binary per core that this process may use.
xvfb-run -a -s "-screen 0 1440x900x24" ctest --preset "$preset" -j "$(nproc)"
