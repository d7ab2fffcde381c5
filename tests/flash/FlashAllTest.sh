#!/usr/bin/env bash
# odflash flash --all against eight emulated drives: one drive failing at each phase while the
# other seven complete, one never ready, an interrupt during the commits, a worker killed after
# Entry critical, no eligible drive, and --all together with --drive.
#   FlashAllTest.sh ODFLASH TEMPLATE SAMPLES_DIR [SAMPLE_GENERATOR]
# ODFLASH_RUNNER runs the programs of a cross build (wine64); the generator then makes the
# sample images first.
set -u
source "$(dirname "$0")/FlashTestSetup.sh"

# drives NAME KEY-OF-DRIVE3 [KEY-OF-EVERY-DRIVE]: eight drives that fit, each with its own log.
drives() {
  local name=$1 odd=$2 every=${3:-}
  for i in 0 1 2 3 4 5 6 7; do
    printf '%s\n' "[Drive$i]" "Vendor=ODSIM" "Product=CDRW 48X24" "Revision=1.00" "FlashId=BFB60000" \
      "BecomingReadyPolls=2" "Medium=1" "Log=$work/$name.$i.log" "$every"
    if [ "$i" = 3 ]; then printf '%s\n' "$odd"; fi
  done >"$work/$name.ini"
}

# name | key of Drive3 (spaces inside its value as _) | expected exit | Drive3's outcome
cases=(
  "ready|NeverReady=1|5|notReady"
  "profile|FailCommand=DF:1:04_08_00|5|profileFailed"
  "upload|FailCommand=3B:2:04_08_00|5|uploadFailed"
  "critical|FailCommand=3B:34:04_08_00|5|entryCriticalFailed"
  "compare|CorruptReadAt=0x4000|6|compareFailed"
  "flash|FailCommit=03_0C_00|7|flashFailed"
)
for entry in "${cases[@]}"; do
  IFS='|' read -r name odd code outcome <<<"$entry"
  drives "$name" "${odd//_/ }"
  $runner "$odflash" flash "$work/1.10.EXE" --all --sim "$work/$name.ini" --yes --json \
    >"$work/$name.out" 2>"$work/$name.err" </dev/null
  got=$?
  sed -i 's/\r$//' "$work/$name".*
  [ "$got" = "$code" ] || fail "$name: exit $got, expected $code"
  for i in 0 1 2 4 5 6 7; do
    grep -qE "^sim:Drive$i +.* 1\.00 +1\.10 +flashed$" "$work/$name.err" || fail "$name: Drive$i is not flashed in the table"
    [ "$(grep -cE "$flash_command" "$work/$name.$i.log")" = 1 ] || fail "$name: Drive$i was not flashed once"
  done
  grep -qE "^sim:Drive3 +.* 1\.00 +1\.00 +$outcome$" "$work/$name.err" || fail "$name: Drive3 is not $outcome in the table"
  if [ "$name" != flash ]; then
    grep -qE "$flash_command" "$work/$name.3.log" && fail "$name: the failed drive got a Flash command"
  fi
  grep -q "^odflash: sim:Drive3: " "$work/$name.err" || fail "$name: no failure line for Drive3"
  # Every event but the last names its drive; the last is the whole run's result.
  [ "$(head -n -1 "$work/$name.out" | grep -vc '"device":"sim:Drive[0-7]"')" = 0 ] || fail "$name: an event without its drive"
  tail -1 "$work/$name.out" | grep -q "^{\"schemaVersion\":1,\"event\":\"result\",\"exitCode\":$code," ||
    fail "$name: the last event is not the result"
  if [ "$failures" != 0 ]; then
    sed 's/^/  err | /' "$work/$name.err"
    break
  fi
done

# An interrupt while every drive programs its flash: each drive finishes, then odflash ends as
# the interrupt would have. Wine turns SIGINT into the console's Ctrl+C, which the test's
# console does not deliver: run on the host only.
if [ -z "$runner" ]; then
  drives interrupt "" "CommitMilliseconds=1500"
  "$odflash" flash "$work/1.10.EXE" --all --sim "$work/interrupt.ini" --yes >"$work/interrupt.out" \
    2>"$work/interrupt.err" </dev/null &
  pid=$!
  for _ in $(seq 500); do
    [ "$(cat "$work"/interrupt.*.log 2>/dev/null | grep -cE "$flash_command")" = 8 ] && break
    sleep 0.01
  done
  kill -INT "$pid"
  wait "$pid"
  got=$?
  pid=
  [ "$got" = 130 ] || fail "interrupt: exit $got, expected 130"
  [ "$(grep -cE '^sim:Drive[0-7] +.* 1\.00 +1\.10 +flashed$' "$work/interrupt.out")" = 8 ] ||
    fail "interrupt: not every drive finished its update"
  for i in 0 1 2 3 4 5 6 7; do
    [ "$(tail -1 "$work/interrupt.$i.log" | cut -c1-2)" = 12 ] || fail "interrupt: Drive$i's log does not end with the INQUIRY"
  done
fi

# A worker killed after Entry critical: its drive is reported as possibly mid-update (not as
# never started), with a failure line, in the JSON result, and the run fails as a failed flash
# does. The other drives finish. Signals and the worker's pid: host only.
if [ -z "$runner" ]; then
  entry_critical='^3B 05 01 ([0-9A-F]{2} ){6}7F 00 00 (in|out) 0$'
  drives killed "LatencyMicroseconds=20000"
  "$odflash" flash "$work/1.10.EXE" --all --sim "$work/killed.ini" --yes --json >"$work/killed.out" \
    2>"$work/killed.err" </dev/null &
  pid=$!
  for _ in $(seq 2000); do
    grep -qE "$entry_critical" "$work/killed.3.log" 2>/dev/null && break
    sleep 0.01
  done
  worker=$(pgrep -P "$pid" -f -- '--drive sim:Drive3 --worker')
  if [ -z "$worker" ]; then
    fail "killed: no worker of Drive3 after Entry critical"
  else
    kill -KILL "$worker"
  fi
  wait "$pid"
  got=$?
  pid=
  died='ended by signal 9 (while entering the critical phase|during the read-back): the drive may be mid-update; do not power it off, run the update again'
  [ "$got" = 7 ] || fail "killed: exit $got, expected 7"
  grep -qE "^sim:Drive3 +.* 1\.00 +1\.00 +workerDied$" "$work/killed.err" || fail "killed: Drive3 is not workerDied in the table"
  grep -qE "^odflash: sim:Drive3: $died$" "$work/killed.err" || fail "killed: no failure line for Drive3"
  tail -1 "$work/killed.out" | grep -qE "\{\"device\":\"sim:Drive3\",[^}]*\"outcome\":\"workerDied\",\"exitCode\":7,\"error\":\"$died\",\"lastPhase\":\"(entryCritical|verify)\"\}" ||
    fail "killed: Drive3's JSON result"
  [ "$(grep -cE '^sim:Drive[0-7] +.* 1\.00 +1\.10 +flashed$' "$work/killed.err")" = 7 ] || fail "killed: the other drives did not finish"
  if [ "$failures" != 0 ]; then
    sed 's/^/  err | /' "$work/killed.err"
    tail -1 "$work/killed.out" | sed 's/^/  out | /'
  fi
fi

# No drive fits; --all with --drive.
printf '%s\n' "[Drive0]" "Vendor=OTHERCO" "Product=CD-ROM 52X" "Medium=1" >"$work/none.ini"
$runner "$odflash" flash "$work/1.10.EXE" --all --sim "$work/none.ini" --yes >"$work/none.out" 2>"$work/none.err" </dev/null
got=$?
[ "$got" = 3 ] || fail "none: exit $got, expected 3"
sed -i 's/\r$//' "$work/none.err"
grep -q "^odflash: no drive fits this flasher" "$work/none.err" || fail "none: no reason given"
$runner "$odflash" flash "$work/1.10.EXE" --all --drive 0 --sim "$work/none.ini" >/dev/null 2>&1 </dev/null
got=$?
[ "$got" = 2 ] || fail "--all with --drive: exit $got, expected 2"

[ "$failures" = 0 ] || exit 1
echo "flash --all: all checks passed"
