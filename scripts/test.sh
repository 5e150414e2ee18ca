#!/usr/bin/env bash
# Installs what is missing, builds the release and the sanitizer (ASan +
# UBSan) builds, runs every test in both, runs the tests that use threads
# (the task layer, read-ahead, the scans that read ahead) under
# ThreadSanitizer, then runs each fuzz target (clang, ASan + UBSan) for a
# bounded time. A warning fails the build.
set -euo pipefail
cd "$(dirname "$0")/.."
export RESTORIX_WERROR=ON
scripts/setup.sh release asan tsan
jobs=$(( $(nproc) + 1 ))
ctest --preset release -j "$jobs"
ctest --preset asan -j "$jobs"
ctest --preset tsan -j "$jobs"
scripts/fuzz.sh "${RESTORIX_FUZZ_SECONDS:-15}"
