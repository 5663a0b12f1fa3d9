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
# The first two bytes pick a method row (9: method 10, 84: method 102) and an event row (56: event
# 154); the rest is a notification of events 154 and 18, and a Get2 reply of one job object.
printf '\x09\x38\x00\x00\x00\x03\x02\x00\x9a\x00\x00\x01\x00\x00\x10\x01\x00\x02\x00\x00\x00\x03\x09\x02\x01\x00\x00\x00\x50\x00\x00\x00\x44\x11\x22\x33\x44\x55\x66\x77\x88\x41\x42\x43\x44\x45\x46\x47\x48\x4a\x4f\x42\x30\x30\x30\x34\x32' > "$corpus/notification-154-18"
printf '\x00%.0s' $(seq 40) >> "$corpus/notification-154-18"
printf '\x00\x01\x01\x15\x00\x04\x00\x00\x00\x05\x00\x12\x00\x00\x01\x00\x00\x10\x01\x00\x00\x00\x02\x00\x00\x00\x03\x00\x00\x00\x04\x00\x00\x00\x05\x00\x00\x00\x7b\x00\x00\x00\x07\x00\x00\x00\x08\x00\x09\x00\x0a\x00\x0b\x02\x6f\x6b' >> "$corpus/notification-154-18"
printf '\x54\x00\x00\x01\x00\x00\x10\x01\x00\x03\x01\x18\x00\x40\x11\x22\x33\x44\x55\x66\x77\x88\x41\x42\x43\x44\x45\x46\x47\x48\x4a\x4f\x42\x30\x30\x30\x34\x32' > "$corpus/reply-get2-job"
printf '\x00%.0s' $(seq 40) >> "$corpus/reply-get2-job"
printf '\x01\x1b\x00\x14\x09\x00\x00\x01\x0a\x00\x00\x01\x00\x00\x00\x07\x00\x01\x27\x0f\x00\x02\x61\x62\x01\x15\x00\x04\x00\x00\x00\x11' >> "$corpus/reply-get2-job"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
"$build/bin/vxdmlp_fuzz_decode" -max_total_time="$seconds" -rss_limit_mb=4096 -print_final_stats=1 "$corpus"
echo "fuzz: vxdmlp_fuzz_decode ran ${seconds}s without a finding"
