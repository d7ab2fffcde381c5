#!/usr/bin/env bash
# odflash flash interrupted by a signal, against a slowed emulated drive. Before the first write
# to drive memory the run stops between commands with nothing written; from then on the update
# finishes (Flash command, fresh INQUIRY) and only then does the program end, with 128 + signal.
#   FlashInterruptTest.sh ODFLASH TEMPLATE SAMPLES_DIR [SAMPLE_GENERATOR]
# ODFLASH_RUNNER runs the programs of a cross build (wine64, which turns SIGINT into the console's
# Ctrl+C: the program ends with STATUS_CONTROL_C_EXIT, seen here as 58); the generator then makes
# the sample images first.
set -u
source "$(dirname "$0")/FlashTestSetup.sh"
notice='odflash: interrupt received; the update is finishing safely and odflash will stop when the drive is safe'

# Waits until FILE has a line matching the pattern while the program runs.
wait_for() {
  local file=$1 pattern=$2
  for _ in $(seq 2000); do
    grep -qE "$pattern" "$file" 2>/dev/null && return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.01
  done
  return 1
}

# name | signal | sent how often | the file and line that must be seen first | ready polls | expected exit | flashed
# [| microseconds per command, 20000 unless given: a one-command window needs a longer one]
cases=(
  "critical|INT|2|out|^Drive entry critical|2|130|yes"
  "upload|INT|1|out|^Write BIN to drive's DRAM|2|130|yes"
  "upload-hangup|HUP|1|log|^3B 05 01 00 40 00 .* out 16384|2|129|yes"
  "flash-id|INT|1|log|^DF 11 |2|130|no|400000"
  "ready-wait|INT|1|log|^00 |40|130|no"
  "ready-wait-term|TERM|2|log|^00 |40|143|no"
)
for entry in "${cases[@]}"; do
  IFS='|' read -r name signal times where pattern polls code flashed latency <<<"$entry"
  if [ -n "$runner" ]; then
    [ "$signal" = INT ] || continue
    code=58
  fi
  log=$work/$name.log out=$work/$name.out err=$work/$name.err
  printf '%s\n' "[Drive0]" "Vendor=ODSIM" "Product=CDRW 48X24" "Revision=1.00" "FlashId=BFB60000" \
    "BecomingReadyPolls=$polls" "Medium=1" "LatencyMicroseconds=${latency:-20000}" "Log=$log" >"$work/$name.ini"
  $runner "$odflash" flash "$work/1.10.EXE" --sim "$work/$name.ini" --yes >"$out" 2>"$err" </dev/null &
  pid=$!
  if [ "$where" = out ]; then watched=$out; else watched=$log; fi
  wait_for "$watched" "$pattern" || fail "$name: the program ended or stalled before /$pattern/"
  for _ in $(seq "$times"); do
    kill -"$signal" "$pid" 2>/dev/null
    sleep 0.05
  done
  wait "$pid"
  got=$?
  pid=
  sed -i 's/\r$//' "$out" "$err" "$log" # a Windows program's line ends
  [ "$got" = "$code" ] || fail "$name: exit $got, expected $code"
  if [ "$flashed" = yes ]; then
    [ "$(grep -cE "$flash_command" "$log")" = 1 ] || fail "$name: expected one Flash command"
    grep -A1 -E "$flash_command" "$log" | tail -1 | grep -q '^12 ' || fail "$name: no INQUIRY after the Flash command"
    [ "$(tail -1 "$log" | cut -c1-2)" = 12 ] || fail "$name: the log does not end with the INQUIRY"
    [ "$(tail -1 "$out")" = "The drive's firmware was updated." ] || fail "$name: no success line"
    [ "$(grep -cxF "$notice" "$err")" = 1 ] || fail "$name: the notice is not shown once"
  else
    grep -q '^3B ' "$log" && fail "$name: a WRITE BUFFER was sent"
    [ "$(cat "$err")" = "odflash: interrupted; nothing was written to the drive" ] || fail "$name: wrong report"
    grep -q "Write BIN" "$out" && fail "$name: the image transfer began"
  fi
  if [ "$failures" != 0 ]; then
    sed 's/^/  out | /' "$out"
    sed 's/^/  err | /' "$err"
    tail -3 "$log" | sed 's/^/  log | /'
  fi
done

[ "$failures" = 0 ] && echo "all interrupt checks passed"
exit $((failures != 0))
