#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for its share of the time.
# Usage: scripts/fuzz.sh [SECONDS [TARGET...]]   (default 60 seconds over all targets)
# Every decoder of outside input has a target: DMLP replies and events, the framing of what TCP
# connections send to the DMLP event port, the job messages at the front of a print job, the spooler host's request frames, registry key files, INI files and the
# frames of a named pipe (job reports).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
build=build/fuzz
all_targets=(vxdmlp_fuzz_decode vxdmlp_fuzz_tcp_framing jtrkmon2_fuzz_job_messages spoolsv_fuzz_frame pal_fuzz_registry_file
  pal_fuzz_ini_file pal_fuzz_pipe_record)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all_targets[@]}")
share=$(( seconds / ${#targets[@]} ))
[ "$share" -lt 1 ] && share=1

if ! command -v clang++ >/dev/null; then
  echo "installing clang"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq clang
fi

# Optimized, with the sanitizers and without NDEBUG: at -O0 some targets run up to nine times slower.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJTRK_SANITIZE=address -DJTRK_FUZZ=ON \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g" \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_COMPILE_WARNING_AS_ERROR="${JTRK_WERROR:-OFF}" >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

seed() { # seed TARGET NAME PRINTF-FORMAT...
  mkdir -p "$build/corpus/$1"
  local target="$1" name="$2"
  shift 2
  printf "$@" > "$build/corpus/$target/$name"
}

# DMLP: a reply header with a short body, and an attribute list behind a value-type byte pair.
seed vxdmlp_fuzz_decode reply-get2 '\xcd\xca\x10\x01\x00\x66\x00\x01\x00\x06\x00\x00\x00\x00\x00\x00\x00\x00\x00\x01\x00\x01\x01\x21\x00\x04'
seed vxdmlp_fuzz_decode value-143 '\x8e\x01\x00\x01\x01\x1a\x00\x0a\x01\x02\x00\x00\x00\x00\x03\x04\x00\x00'
# The first two bytes pick a method row (9: method 10, 84: method 102) and an event row (56: event
# 154); the rest is a notification of events 154 and 18, and a Get2 reply of one job object.
corpus="$build/corpus/vxdmlp_fuzz_decode"
printf '\x09\x38\x00\x00\x00\x03\x02\x00\x9a\x00\x00\x01\x00\x00\x10\x01\x00\x02\x00\x00\x00\x03\x09\x02\x01\x00\x00\x00\x50\x00\x00\x00\x44\x11\x22\x33\x44\x55\x66\x77\x88\x41\x42\x43\x44\x45\x46\x47\x48\x4a\x4f\x42\x30\x30\x30\x34\x32' > "$corpus/notification-154-18"
printf '\x00%.0s' $(seq 40) >> "$corpus/notification-154-18"
printf '\x00\x01\x01\x15\x00\x04\x00\x00\x00\x05\x00\x12\x00\x00\x01\x00\x00\x10\x01\x00\x00\x00\x02\x00\x00\x00\x03\x00\x00\x00\x04\x00\x00\x00\x05\x00\x00\x00\x7b\x00\x00\x00\x07\x00\x00\x00\x08\x00\x09\x00\x0a\x00\x0b\x02\x6f\x6b' >> "$corpus/notification-154-18"
printf '\x54\x00\x00\x01\x00\x00\x10\x01\x00\x03\x01\x18\x00\x40\x11\x22\x33\x44\x55\x66\x77\x88\x41\x42\x43\x44\x45\x46\x47\x48\x4a\x4f\x42\x30\x30\x30\x34\x32' > "$corpus/reply-get2-job"
printf '\x00%.0s' $(seq 40) >> "$corpus/reply-get2-job"
printf '\x01\x1b\x00\x14\x09\x00\x00\x01\x0a\x00\x00\x01\x00\x00\x00\x07\x00\x01\x27\x0f\x00\x02\x61\x62\x01\x15\x00\x04\x00\x00\x00\x11' >> "$corpus/reply-get2-job"

# TCP framing: connection 0 accepted, half a notification of event 18, connection 1 accepted and
# given a whole one, connection 0 reset, accepted again and given the whole one.
notification='\xcd\xca\x10\x00\x00\x0a\x00\x00\x00\x31\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x01\xf5\x01\x00\x12\x00\x00\x00\x00\x00\x00\x07\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x03\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00'
seed vxdmlp_fuzz_tcp_framing split "\x00\x01\x1d${notification:0:120}\x04\x05\x44${notification}\x03\x00\x01\x44${notification}"
# Job messages: a piece-size byte, then JobStart (kind 17), SetDocument N-up (kind 24), JobEnd.
seed jtrkmon2_fuzz_job_messages header '\x03\xcd\xca\x10\x01\x00\x11\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\xcd\xca\x10\x01\x00\x18\x00\x00\x00\x03\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x08\xb5\x02\xcd\xca\x10\x01\x00\x13\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00data'
# Spooler frames: EnumPorts (4) of the local server at level 1, then EnumMonitors (6) at level 2.
seed spoolsv_fuzz_frame enum '\x0c\x00\x00\x00\x04\x00\x00\x00\xff\xff\xff\xff\x01\x00\x00\x00\x0c\x00\x00\x00\x06\x00\x00\x00\xff\xff\xff\xff\x02\x00\x00\x00'
# A key file: magic, id, name "K", one REG_DWORD value "V".
seed pal_fuzz_registry_file key 'PALREG01\x01\x02\x03\x04\x05\x06\x07\x08\x01\x00\x00\x00K\x00\x01\x00\x00\x00\x01\x00\x00\x00V\x00\x04\x00\x00\x00\x04\x00\x00\x00\x01\x00\x00\x00'
seed pal_fuzz_ini_file ansi '[Port]\r\nName = "JT_1" ; c\r\nRetry=5\n[Empty]\r\nno value\r\n'
seed pal_fuzz_ini_file utf16 '\xff\xfe[\x00s\x00]\x00\r\x00\n\x00k\x00=\x00v\x00'
# A pipe stream: a 4-byte message, a disconnect mark, an empty message.
seed pal_fuzz_pipe_record frames '\x02\x04\x00\x00\x00abcd\xff\xff\xff\xff\x00\x00\x00\x00'

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in "${targets[@]}"; do
  mkdir -p "$build/corpus/$target"
  echo "=== fuzz: $target for ${share}s"
  "$build/bin/$target" -max_total_time="$share" -rss_limit_mb=4096 -print_final_stats=1 \
    "$build/corpus/$target" 2>&1 | grep -E "stat::number_of_executed_units|ERROR|SUMMARY|BINGO|==[0-9]+==" || true
  [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "fuzz: $target found a fault (see above)"; exit 1; }
done
echo "fuzz: ${targets[*]} ran without a finding"
