#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each for a
# bounded time. Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
command -v clang++ >/dev/null || { echo "fuzzing needs clang" >&2; exit 1; }
scripts/setup.sh fuzz >/dev/null
for target in build/fuzz/bin/fuzz_*; do
  name=$(basename "$target")
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  seeds=tests/fuzz/seeds/${name#fuzz_}
  [ -d "$seeds" ] && cp -n "$seeds"/* "$corpus"/ 2>/dev/null || true
  echo "== $name (${seconds}s)"
  "$target" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -print_final_stats=1 \
    "$corpus" 2>&1 | grep -E "^(Done|stat::number_of_executed_units|==.*ERROR|SUMMARY)" || true
  [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "$name found a fault" >&2; exit 1; }
done
