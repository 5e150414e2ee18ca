#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each for a
# bounded time; fails when any target crashes, leaks, runs out of memory or
# takes too long on one input. It first proves that it would: the canary
# target, given the one input it crashes on, must fail.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 60)
# Each target starts from its seeds (tests/fuzz/seeds/<name>) and from the
# inputs that once made it fail (tests/fuzz/regressions/<name>). An input
# that makes a target fail is kept in build/fuzz/artifacts; once the fault
# is fixed it belongs in tests/fuzz/regressions/<name>, which ctest replays
# in every build.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
command -v clang++ >/dev/null || { echo "fuzzing needs clang" >&2; exit 1; }
cmake --preset fuzz -DRESTORIX_WERROR="${RESTORIX_WERROR:-OFF}" >/dev/null
cmake --build --preset fuzz --target fuzzers canary_fuzz

# Runs TARGET over CORPUS; its status is the target's. The summary lines are
# printed, and the end of the log when it failed.
run() {
  local target=$1 corpus=$2 log status
  log=$(mktemp)
  set +e
  "$target" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
    -detect_leaks=1 -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1
  status=$?
  set -e
  grep -E "^(Done|stat::(number_of_executed_units|average_exec_per_sec|slowest_unit_time_sec)|==.*ERROR|SUMMARY)" "$log" || true
  [ "$status" -eq 0 ] || tail -n 40 "$log" >&2
  rm -f "$log"
  return "$status"
}

artifacts=build/fuzz/artifacts
mkdir -p "$artifacts"
canary=$(mktemp -d)
trap 'rm -rf "$canary"' EXIT
printf 'CRASH' >"$canary/planted"
if run build/fuzz/bin/canary_fuzz "$canary" >/dev/null 2>&1; then
  echo "the fuzz runner did not see the canary crash: it cannot be trusted" >&2
  exit 1
fi
echo "== canary_fuzz crashed on its planted input, as it must"

for target in build/fuzz/bin/fuzz_*; do
  name=$(basename "$target")
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  for saved in tests/fuzz/seeds/${name#fuzz_} tests/fuzz/regressions/${name#fuzz_}; do
    [ -d "$saved" ] && cp -n "$saved"/* "$corpus"/ 2>/dev/null || true
  done
  echo "== $name (${seconds}s)"
  run "$target" "$corpus" || {
    echo "$name found a fault; its input is in $artifacts" >&2
    exit 1
  }
done
