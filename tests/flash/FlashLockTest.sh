#!/usr/bin/env bash
# Two odflash flash runs on one emulated drive: one updates it, the other is refused with exit
# code 8 and sends it nothing. Each process emulates the drive in its own memory, so the shared
# command log tells what reached "the drive".
#   FlashLockTest.sh ODFLASH TEMPLATE SAMPLES_DIR [SAMPLE_GENERATOR]
# ODFLASH_RUNNER runs the programs of a cross build (wine64); the generator then makes the
# sample images first.
set -u
source "$(dirname "$0")/FlashTestSetup.sh"

# drives NAME LATENCY: the drive file $work/NAME.ini logging to $work/NAME.log
drives() {
  printf '%s\n' "[Drive0]" "Vendor=ODSIM" "Product=CDRW 48X24" "Revision=1.00" "FlashId=BFB60000" \
    "Medium=1" "LatencyMicroseconds=$2" "Log=$work/$1.log" >"$work/$1.ini"
}
# flash NAME RUN: odflash flash on $work/NAME.ini in the background, output in $work/RUN.*
flash() {
  { run "$odflash" flash "$flasher" --sim "$work/$1.ini" --yes >"$work/$2.out" 2>"$work/$2.err" </dev/null
    echo $? >"$work/$2.code"; } &
}
finish() { # finish RUN...: waits for the runs, with line ends made plain
  wait
  for name in "$@"; do sed -i 's/\r$//' "$work/$name.out" "$work/$name.err"; done
}
refusal="odflash: cannot update drive .*: it is being updated by another odflash process; nothing was sent to it"

# The second run starts once the first holds the drive (its first command after INQUIRY): it
# must leave the drive alone, so the log is exactly that of a run on its own.
drives solo 0
flash solo solo
finish solo
[ "$(cat "$work/solo.code")" = 0 ] || { fail "solo: exit $(cat "$work/solo.code")"; cat "$work/solo.err"; }
drives held 40000
flash held first
for _ in $(seq 600); do
  grep -qv '^12 ' "$work/held.log" 2>/dev/null && break
  sleep 0.05
done
flash held second
finish first second
[ "$(cat "$work/first.code")" = 0 ] || { fail "held: first run exit $(cat "$work/first.code")"; cat "$work/first.err"; }
[ "$(cat "$work/second.code")" = 8 ] || { fail "held: second run exit $(cat "$work/second.code"), expected 8"; cat "$work/second.out" "$work/second.err"; }
grep -qx "odflash: cannot update drive sim:Drive0: it is being updated by another odflash process; nothing was sent to it" \
  "$work/second.err" || { fail "held: no refusal naming the drive"; cat "$work/second.err"; }
cmp -s "$work/solo.log" "$work/held.log" || { fail "held: the second run sent commands"; diff "$work/solo.log" "$work/held.log" | head; }

# Started together: whichever wins, one update and one refusal, and one Flash command.
drives race 40000
flash race a
flash race b
finish a b
codes=$(cat "$work/a.code" "$work/b.code" | sort | tr '\n' ' ')
[ "$codes" = "0 8 " ] || { fail "race: exit codes $codes, expected 0 and 8"; cat "$work/a.err" "$work/b.err"; }
[ "$(grep -cE "$flash_command" "$work/race.log")" = 1 ] || fail "race: expected exactly one Flash command"
cat "$work/a.err" "$work/b.err" | grep -qx "$refusal" || fail "race: no refusal message"

# A busy drive in the listing.
drives scan 40000
flash scan holder
for _ in $(seq 600); do
  grep -qv '^12 ' "$work/scan.log" 2>/dev/null && break
  sleep 0.05
done
listing=$(run "$odflash" scan --sim "$work/scan.ini" | tr -d '\r')
finish holder
[ "$listing" = "sim:Drive0   (busy: it is being updated by another odflash process)" ] || fail "scan: listing $listing"

# A drive file on a read-only mount (as a packaged one is to a normal user): the lock needs no
# write access to it, so the second run is still refused. Needs root to mount; not under Wine.
if [ -n "$runner" ]; then
  echo "read-only mount: skipped (a Windows program locks a range of the file itself)"
elif [ "$(id -u)" != 0 ] || ! mkdir "$work/rw" "$work/ro" || ! mount --bind "$work/rw" "$work/ro" 2>/dev/null; then
  echo "read-only mount: skipped (needs root and mount --bind)"
else
  if mount -o remount,ro,bind "$work/ro" 2>/dev/null; then
    drives ro 40000
    mv "$work/ro.ini" "$work/rw/ro.ini"
    { "$odflash" flash "$flasher" --sim "$work/ro/ro.ini" --yes >"$work/ro-first.out" 2>"$work/ro-first.err" </dev/null
      echo $? >"$work/ro-first.code"; } &
    for _ in $(seq 600); do
      grep -q '^3B ' "$work/ro.log" 2>/dev/null && break
      sleep 0.05
    done
    "$odflash" flash "$flasher" --sim "$work/ro/ro.ini" --yes >"$work/ro-second.out" 2>"$work/ro-second.err" </dev/null
    second=$?
    wait
    [ "$(cat "$work/ro-first.code")" = 0 ] || { fail "read-only mount: first run exit $(cat "$work/ro-first.code")"; cat "$work/ro-first.err"; }
    [ "$second" = 8 ] || { fail "read-only mount: second run exit $second, expected 8"; cat "$work/ro-second.err"; }
    grep -qx "$refusal" "$work/ro-second.err" || fail "read-only mount: no refusal message"
    [ "$(grep -cE "$flash_command" "$work/ro.log")" = 1 ] || fail "read-only mount: expected exactly one Flash command"
  else
    echo "read-only mount: skipped (cannot remount read-only)"
  fi
  umount "$work/ro"
fi

[ "$failures" = 0 ] && echo "all update lock checks passed"
exit $((failures != 0))
