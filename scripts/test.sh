#!/usr/bin/env bash
# Installs what is missing, builds the release and the sanitizer (ASan +
# UBSan) builds, and runs every test in both.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh release asan
jobs=$(( $(nproc) + 1 ))
ctest --preset release -j "$jobs"
ctest --preset asan -j "$jobs"
