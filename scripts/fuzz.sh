#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a bounded time.
# Usage: scripts/fuzz.sh [seconds per target]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
build=build/fuzz

if ! command -v clang++ >/dev/null; then
  echo "installing clang"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq clang
fi

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DJTRK_SANITIZE=address -DJTRK_FUZZ=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j 8 --target vxdmlp_fuzz_decode

# Seeds: a reply header with a short body, and an attribute list behind a value-type byte pair.
corpus="$build/corpus/decode"
mkdir -p "$corpus"
printf '\xcd\xca\x10\x01\x00\x66\x00\x01\x00\x06\x00\x00\x00\x00\x00\x00\x00\x00\x00\x01\x00\x01\x01\x21\x00\x04' \
  > "$corpus/reply-get2"
printf '\x8e\x01\x00\x01\x01\x1a\x00\x0a\x01\x02\x00\x00\x00\x00\x03\x04\x00\x00' > "$corpus/value-143"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
"$build/bin/vxdmlp_fuzz_decode" -max_total_time="$seconds" -rss_limit_mb=4096 -print_final_stats=1 "$corpus"
echo "fuzz: vxdmlp_fuzz_decode ran ${seconds}s without a finding"
