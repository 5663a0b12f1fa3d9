#!/usr/bin/env bash
# Builds the system and prints two jobs end to end on a fresh platform root: pal-print hands each
# job to the spooler host, the port monitor JTRKMON2 reads the job messages at its front and sends
# it to a simulated device (one by RAW, one by LPR), and the device records what it received.
# Then the tracking service JTRKSVC2, with the print manager and message manager stand-ins, follows
# jobs on the RAW device to their end: one plain, one through a paper jam answered "continue", one
# without A4 paper answered "hold" and resumed in the spooler.
# Usage: scripts/demo.sh [--keep]   (--keep leaves the platform root for a look afterwards)
set -euo pipefail
cd "$(dirname "$0")/.."
keep=0
[ "${1:-}" = "--keep" ] && keep=1
if [ "${1:-}" = "--help" ]; then sed -n '2,8p' "$0" | sed 's/^# //'; exit 0; fi

scripts/setup.sh
echo "=== building (normal build)"
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" >/dev/null
bin="$PWD/build/default/bin"

export PAL_ROOT
PAL_ROOT=$(mktemp -d /tmp/jtrk-demo.XXXXXX)
jobs_dir="$PAL_ROOT/devsim-jobs"
mkdir -p "$jobs_dir" "$PAL_ROOT/config"
pids=()
service=0
cleanup() {
  [ "$service" = 1 ] && "$bin/pal-sc" stop JTRKSVC2 --wait 30 >/dev/null 2>&1
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if [ "$keep" = 1 ]; then echo "platform root kept: $PAL_ROOT"; else rm -rf "$PAL_ROOT"; fi
}
trap cleanup EXIT

# wait_for FILE TEXT: until FILE holds TEXT (at most 30 s).
wait_for() {
  for _ in $(seq 300); do
    grep -q -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "demo: timed out waiting for '$2' in $1" >&2
  cat "$1" >&2 || true
  exit 1
}

# The 508-byte port record of the Xcv method AddPort, in hex.
utf16() { # TEXT CHARS
  local text=$1 chars=$2 out="" i
  for ((i = 0; i < ${#text}; i++)); do printf -v out '%s%02x00' "$out" "'${text:i:1}"; done
  printf '%s%0*d' "$out" $(((chars - ${#text}) * 4)) 0
}
u32() { printf '%02x%02x%02x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255)); }
port_record() { # NAME ADDRESS PROTOCOL PORTNUMBER QUEUE
  local record
  record="$(utf16 "$1" 64)$(utf16 "$2" 64)$(utf16 "" 64)$(u32 "$3")$(u32 "$4")$(utf16 "$5" 33)0000"
  for value in 0 0 1 5 5 0 10 0 0 30000 10 1; do record+=$(u32 $value); done
  echo "$record"
}

echo "=== platform root $PAL_ROOT"
echo "=== device simulator: RAW printer at 127.0.0.5:9100, LPR printer at 127.0.0.6 (515 -> 40516)"
echo "127.0.0.6:515 127.0.0.6:40516" > "$PAL_ROOT/config/connect-redirect"
"$bin/devsim" --device 127.0.0.5 --raw 9100 --device 127.0.0.6 --no-raw --lpr 40516 --out "$jobs_dir" \
  --control "$PAL_ROOT/devsim.ctl" > "$PAL_ROOT/devsim.log" 2>&1 &
pids+=($!)
wait_for "$PAL_ROOT/devsim.log" "LPR on 127.0.0.6:40516"

echo "=== spooler host"
"$bin/spoolsv" > "$PAL_ROOT/spoolsv.log" 2>&1 &
pids+=($!)
wait_for "$PAL_ROOT/spoolsv.log" "spoolsv: ready"

monitor="TALLY-DESK Output Beacon Port2"
"$bin/pal-spool" add-monitor "$monitor" JTRKMON2.DLL
"$bin/pal-spool" xcv --monitor "$monitor" AddPort "$(port_record JT_RAW 127.0.0.5 1 9100 lp)" >/dev/null
"$bin/pal-spool" xcv --monitor "$monitor" AddPort "$(port_record JT_LPR 127.0.0.6 2 515 lp)" >/dev/null
"$bin/pal-spool" add-printer "Office RAW" JT_RAW
"$bin/pal-spool" add-printer "Office LPR" JT_LPR
echo "--- ports"
"$bin/pal-spool" ports
echo "--- printers"
"$bin/pal-spool" printers

echo "=== printing"
"$bin/mkjob" "$PAL_ROOT/report.job" --pages-bytes 200000
raw_id=$("$bin/pal-print" "Office RAW" "$PAL_ROOT/report.job" --document "Monthly report" --user alice)
lpr_id=$("$bin/pal-print" "Office LPR" "$PAL_ROOT/report.job" --document "Monthly report" --user bob)
echo "job $raw_id on Office RAW, job $lpr_id on Office LPR"
wait_for "$PAL_ROOT/devsim.log" "RAW job"
wait_for "$PAL_ROOT/devsim.log" "LPR job"

echo "--- what the devices received"
grep "job" "$PAL_ROOT/devsim.log"
# The monitor stamps the local time (day, hour, minute, second) into the client job id's first
# eight characters of job text, at byte 75 of this job; every other byte arrives as printed.
stamp() { dd if="$1" bs=1 skip=75 count=8 2>/dev/null; }
for received in "$jobs_dir/raw-00001.bin" "$jobs_dir/lpr-00001.df"; do
  cmp -s <(head -c 75 "$PAL_ROOT/report.job") <(head -c 75 "$received")
  cmp -s <(tail -c +84 "$PAL_ROOT/report.job") <(tail -c +84 "$received")
  echo "$(basename "$received"): all $(stat -c %s "$received") bytes as printed; JobInfo1 '$(stamp "$PAL_ROOT/report.job")' stamped '$(stamp "$received")'"
done
echo "--- LPR control file"
tr -d '\r' < "$jobs_dir/lpr-00001.cf"
echo "--- jobs in the spooler (a delivered job stays listed until the tracking service ends it)"
"$bin/pal-spool" jobs "Office RAW"
"$bin/pal-spool" jobs "Office LPR"
echo "--- event log"
"$bin/pal-eventlog"

echo "=== the RAW job on its device, read through the client library (jtrk-query)"
listed=$("$bin/jtrk-query" "Office RAW" jobs)
echo "$listed"
raw_job=$(sed -n 's/^#[0-9]* \([0-9a-f]\{128\}\) .*/\1/p' <<< "$listed" | tail -1)
[ -n "$raw_job" ] || { echo "demo: the device does not list the job" >&2; exit 1; }
echo "--- traced until the device reports it completed"
for _ in $(seq 100); do
  traced=$("$bin/jtrk-query" --count "Office RAW" trace "$raw_job" || true)
  grep -q "trace 1 completed" <<< "$traced" && break
  sleep 0.2
done
echo "$traced"
grep -q "trace 1 completed" <<< "$traced" || { echo "demo: the job did not complete" >&2; exit 1; }
"$bin/jtrk-query" "Office RAW" status "$raw_job"
echo "--- the devices' job objects over DMLP (dmlp-query: HANDLE STATE IMPRESSIONS CLIENT-JOB-ID)"
"$bin/dmlp-query" 127.0.0.5 jobs
"$bin/dmlp-query" 127.0.0.6 jobs

echo "=== the tracking service JTRKSVC2 with the print manager and the message manager (stand-ins)"
echo "127.0.0.5 reply" > "$PAL_ROOT/config/icmp"
"$bin/hbphstd" install 'C:\Harbor'
"$bin/hbmsgm" run 'C:\Msgm' --show > "$PAL_ROOT/hbmsgm.log" 2>&1 &
pids+=($!)
# Polls the device every 3 s (the shortest interval), so that a jam shows soon.
mkdir -p "$PAL_ROOT/drive_c/Program Files"
printf '[Device]\nPollingTime=3\n' > "$PAL_ROOT/drive_c/Program Files/JTRKSVC2.ini"
"$bin/pal-sc" create JTRKSVC2 binPath= "$bin/JTRKSVC2" >/dev/null
"$bin/pal-sc" start JTRKSVC2 --wait 20 | grep STATE | tail -1
service=1
journal="$PAL_ROOT/drive_c/Harbor/journal.log"

echo "--- a job tracked on its device to its end"
tracked_id=$("$bin/pal-print" "Office RAW" "$PAL_ROOT/report.job" --document "Quarterly report" --user carol)
echo "job $tracked_id on Office RAW"
wait_for "$journal" "PrStatusNoticeEnd"
echo "--- the print manager's journal for it: start, status and page count, end"
"$bin/hbphstd" journal | grep "\"job\":$tracked_id," | sed 's/"block":"[0-9a-f]*",//'
for _ in $(seq 300); do
  "$bin/pal-spool" history | grep -q "^$tracked_id sent" && break
  sleep 0.1
done
echo "--- the spooler ended it: Office RAW's jobs, then the host's history"
"$bin/pal-spool" jobs "Office RAW"
"$bin/pal-spool" history
"$bin/pal-spool" history | grep -q "^$tracked_id sent" || { echo "demo: the spooler did not end job $tracked_id" >&2; exit 1; }

ctl() { "$bin/devsim-ctl" --control "$PAL_ROOT/devsim.ctl" "$@"; }
# device_job [OLD]: sets handle to the device's printing job (not OLD) and holds it printing there
# until told otherwise.
device_job() {
  handle=""
  for _ in $(seq 300); do
    handle=$(ctl jobs 127.0.0.5 | awk -v old="${1:-}" '$1 == "127.0.0.5" && $3 == 7 && $2 != old { print $2 }' | tail -1)
    [ -n "$handle" ] && break
    sleep 0.05
  done
  [ -n "$handle" ] || { echo "demo: the device does not list job $job_id" >&2; exit 1; }
  ctl job "$handle" state 7 >/dev/null
}
# print_held DOCUMENT: prints a job on Office RAW and holds it printing on the device; sets job_id
# (spooler) and handle (device).
print_held() {
  job_id=$("$bin/pal-print" "Office RAW" "$PAL_ROOT/report.job" --document "$1" --user dave)
  echo "job $job_id on Office RAW"
  device_job
}
# device_error HINT: the device reports HINT; prints the message the service shows for it and
# sets message to its id.
device_error() {
  local shown
  shown=$(grep -c "^hbmsgm: message" "$PAL_ROOT/hbmsgm.log" || true)
  ctl device 127.0.0.5 hint "$1"
  for _ in $(seq 300); do
    [ "$(grep -c "^hbmsgm: message" "$PAL_ROOT/hbmsgm.log" || true)" -gt "$shown" ] && break
    sleep 0.1
  done
  message=$("$bin/hbmsgm" list | awk 'NR == 1 { print $1 }')
  [ -n "$message" ] || { echo "demo: no message for the device's status $1" >&2; exit 1; }
  "$bin/hbmsgm" list
}
# finish: the device prints the held job to its end; waits until the service ends it.
finish() {
  ctl job "$handle" impressions 1 >/dev/null
  ctl job "$handle" state 9 reason 21 >/dev/null
  wait_for "$journal" "\"entry\":\"PrStatusNoticeEndD\",.*\"job\":$job_id,"
  for _ in $(seq 300); do
    "$bin/pal-spool" history | grep -q "^$job_id sent" && break
    sleep 0.1
  done
  "$bin/pal-spool" history | grep "^$job_id " || { echo "demo: the spooler did not end job $job_id" >&2; exit 1; }
}

echo "=== a paper jam while a job prints, answered \"continue\" once cleared"
print_held "Jammed report"
device_error 0x00000301
ctl device 127.0.0.5 hint 0
"$bin/hbmsgm" answer "$message" continue
finish
echo "--- what the print manager heard of it"
"$bin/hbphstd" journal | grep "\"job\":$job_id," | sed 's/"block":"[0-9a-f]*",//'

echo "=== no A4 paper: answered \"hold\", then resumed in the spooler once paper is in"
print_held "A4 report"
device_error 0x03060002
"$bin/hbmsgm" answer "$message" hold
for _ in $(seq 300); do
  "$bin/pal-spool" jobs "Office RAW" | grep -q "^$job_id.*paused" && break
  sleep 0.1
done
"$bin/pal-spool" jobs "Office RAW"
echo "--- the device job of the held send: $(ctl jobs 127.0.0.5 | awk -v h="$handle" '$2 == h { print "handle " $2 ", state " $3 }')"
ctl device 127.0.0.5 hint 0
"$bin/pal-spool" job "Office RAW" "$job_id" resume
held=$handle
device_job "$held"
echo "--- resumed: the spooler sent it again, and the device prints it as job $handle"
finish
echo "--- what the print manager heard of it"
"$bin/hbphstd" journal | grep "\"job\":$job_id," | sed 's/"block":"[0-9a-f]*",//'
"$bin/pal-spool" jobs "Office RAW"
echo "=== stopping the tracking service"
"$bin/pal-sc" stop JTRKSVC2 --wait 30 | grep STATE | tail -1
service=0
"$bin/pal-sc" delete JTRKSVC2 >/dev/null
echo "=== done"
