#!/usr/bin/env bash
# Builds and runs every test. Usage: scripts/test.sh [default|asan|tsan]...  (default: default)
# JTRK_WERROR=ON makes every compiler warning an error (CI sets it).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=(default)
jobs=$(nproc)
for preset in "${presets[@]}"; do
  echo "=== build: $preset"
  cmake --preset "$preset" -DCMAKE_COMPILE_WARNING_AS_ERROR="${JTRK_WERROR:-OFF}" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== tests: $preset"
  case "$preset" in
    asan) export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ;;
    tsan) export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ;;
  esac
  ctest --test-dir "build/$preset" --output-on-failure -j "$jobs" --timeout 300
done
