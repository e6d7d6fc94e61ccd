#!/usr/bin/env bash
# Builds what a demo needs: installs the packages (the demos run test
# programs), configures the build folder when it is new, and builds the
# targets named. The folder is the demos' second argument; "build" (the
# default) and any other new folder get the dev preset's settings,
# "build-asan" the sanitizer preset's.
#   scripts/demo-build.sh BUILD_FOLDER TARGET...
set -euo pipefail
cd "$(dirname "$0")/.."
build="$1"
shift
bash scripts/install-deps.sh test >/dev/null
if [ ! -f "$build/build.ninja" ]; then
  case "$(basename "$build")" in
    build-asan) preset=asan ;;
    *) preset=dev ;;
  esac
  cmake --preset "$preset" -B "$build" >/dev/null
fi
cmake --build "$build" --target "$@"
