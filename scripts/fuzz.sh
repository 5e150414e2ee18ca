#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each for a
# bounded time; fails when any target finds a fault. It first proves that it
# would: the canary target, given the one input it crashes on, must fail.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
command -v clang++ >/dev/null || { echo "fuzzing needs clang" >&2; exit 1; }
scripts/setup.sh fuzz >/dev/null

# Runs TARGET over CORPUS; its status is the target's. The summary lines are
# printed, and the end of the log when it failed.
run() {
  local target=$1 corpus=$2 log status
  log=$(mktemp)
  set +e
  "$target" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1
  status=$?
  set -e
  grep -E "^(Done|stat::number_of_executed_units|==.*ERROR|SUMMARY)" "$log" || true
  [ "$status" -eq 0 ] || tail -n 40 "$log" >&2
  rm -f "$log"
  return "$status"
}

# Inputs that crash a target are kept here, not in the working folder.
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
  seeds=tests/fuzz/seeds/${name#fuzz_}
  [ -d "$seeds" ] && cp -n "$seeds"/* "$corpus"/ 2>/dev/null || true
  echo "== $name (${seconds}s)"
  run "$target" "$corpus" || { echo "$name found a fault" >&2; exit 1; }
done
