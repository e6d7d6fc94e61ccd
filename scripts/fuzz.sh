#!/usr/bin/env bash
# Runs the libFuzzer targets of tests/fuzz on their seed corpus.
#   scripts/fuzz.sh TARGET SECONDS   one target for that long
#   scripts/fuzz.sh --all SECONDS    every target in turn, two at a time
# Fails on any finding; the input that broke a target is kept in
# $PRAVIK_FUZZ_BUILD/fuzz-findings/TARGET/. The targets come from a tree
# configured with PRAVIK_FUZZ=ON (default build-asan, or PRAVIK_FUZZ_BUILD).
# Reproduce a finding: $PRAVIK_FUZZ_BUILD/bin/fuzz_TARGET FILE
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build="${PRAVIK_FUZZ_BUILD:-build-asan}"
case "$build" in /*) ;; *) build="$root/$build" ;; esac
corpus="$root/tests/fuzz/corpus"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

usage() {
  echo "usage: $0 TARGET SECONDS | --all SECONDS" >&2
  echo "targets: $(ls "$corpus" | tr '\n' ' ')" >&2
  exit 2
}

# Memory limits per target: libFuzzer reports a run whose resident memory
# or a single allocation goes past them, so a program or message that makes
# the code under test allocate without bound is a finding, not a swapping
# machine. The rules runtime holds at most a few tens of megabytes
# (its arrays' element limit), so its limits are tight; every other target
# gets libFuzzer's own resident limit, stated here.
memory_limits() {
  case "$1" in
    rules_program) echo "-rss_limit_mb=1024 -malloc_limit_mb=128" ;;
    *) echo "-rss_limit_mb=2048" ;;
  esac
}

# One target: its corpus copied to a scratch folder, so runs leave the
# repository as it was; the log goes to $2 when given.
run_one() {
  local target=$1 seconds=$2 log=${3:-/dev/stderr}
  local binary="$build/bin/fuzz_$target"
  if [ ! -d "$corpus/$target" ]; then
    echo "fuzz: no target $target" >&2
    return 2
  fi
  if [ ! -x "$binary" ]; then
    echo "fuzz: $binary is missing; build with -DPRAVIK_FUZZ=ON (see tests/fuzz)" >&2
    return 2
  fi
  local work findings status=0
  work=$(mktemp -d)
  findings="$build/fuzz-findings/$target"
  mkdir -p "$findings"
  cp -r "$corpus/$target" "$work/corpus"
  # Standard output is closed: the code under test reports there, and
  # libFuzzer's own report goes to standard error.
  # shellcheck disable=SC2046 # the limits are separate words
  "$binary" -max_total_time="$seconds" -timeout=10 $(memory_limits "$target") -close_fd_mask=1 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$work/corpus" >"$log" 2>&1 || status=$?
  rm -rf "$work"
  return $status
}

summary() {
  local target=$1 log=$2 status=$3
  local runs
  runs=$(grep -a -o 'stat::number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$' || true)
  if [ "$status" -eq 0 ]; then
    echo "fuzz: $target passed (${runs:-?} runs)"
  else
    echo "fuzz: $target FAILED (exit $status); findings in $build/fuzz-findings/$target" >&2
    grep -a -E -A30 '^==[0-9]+==ERROR|^fuzz: |runtime error|^SUMMARY' "$log" | head -60 >&2 || tail -40 "$log" >&2
  fi
}

[ $# -eq 2 ] || usage
seconds=$2
[[ "$seconds" =~ ^[0-9]+$ ]] || usage

if [ "$1" != --all ]; then
  log=$(mktemp)
  status=0
  run_one "$1" "$seconds" "$log" || status=$?
  [ "$status" -eq 2 ] && { rm -f "$log"; exit 2; }
  summary "$1" "$log" "$status"
  rm -f "$log"
  exit "$status"
fi

# Two at a time: CI machines may have two cores.
start=$(date +%s)
logs=$(mktemp -d)
declare -A pids=()
failed=0
finish_one() {
  local pid=$1 status=0 target
  wait "$pid" || status=$?
  target=${pids[$pid]}
  unset "pids[$pid]"
  summary "$target" "$logs/$target.log" "$status"
  [ "$status" -eq 0 ] || failed=1
}
for dir in "$corpus"/*/; do
  target=$(basename "$dir")
  while [ "${#pids[@]}" -ge 2 ]; do
    sleep 1
    for pid in "${!pids[@]}"; do
      kill -0 "$pid" 2>/dev/null || finish_one "$pid"
    done
  done
  run_one "$target" "$seconds" "$logs/$target.log" &
  pids[$!]=$target
done
for pid in "${!pids[@]}"; do
  finish_one "$pid"
done
rm -rf "$logs"
echo "fuzz: all targets in $(( $(date +%s) - start )) s"
exit "$failed"
