#!/usr/bin/env bash
# odflash flash against emulated drives: a whole update, the dry run, and each exit code.
#   FlashCommandTest.sh ODFLASH TEMPLATE SAMPLES_DIR [SAMPLE_GENERATOR]
# ODFLASH_RUNNER runs the programs of a cross build (wine64); the generator then makes the
# sample images first.
set -u
source "$(dirname "$0")/FlashTestSetup.sh"

# expect CODE NAME -- ARGS...: runs odflash flash, keeps stdout and stderr in $work/NAME.*
expect() {
  local code=$1 name=$2
  shift 3
  run "$odflash" flash "$@" >"$work/$name.out" 2>"$work/$name.err" </dev/null
  local got=$?
  sed -i 's/\r$//' "$work/$name.out" "$work/$name.err" # a Windows program's line ends
  if [ "$got" != "$code" ]; then
    fail "$name: exit $got, expected $code"
    sed 's/^/  | /' "$work/$name.out" "$work/$name.err"
  fi
}

drives() { # drives FILE [extra keys of Drive0...]
  local file=$1
  shift
  {
    echo "[Drive0]"
    echo "Vendor=ODSIM"
    echo "Product=CDRW 48X24"
    echo "Revision=1.00"
    echo "FlashId=BFB60000"
    echo "BecomingReadyPolls=2"
    echo "Medium=1"
    echo "Log=$work/$(basename "$file" .ini).log"
    printf '%s\n' "$@"
  } >"$file"
}


# A whole update: the exact terminal output, and the drive's new revision.
drives "$work/ok.ini"
expect 0 ok -- "$flasher" --sim "$work/ok.ini" --yes
cat >"$work/ok.expected" <<'TEXT'
Drive:    0-0-0  : ODSIM   CDRW 48X24      1.00 (sim:Drive0)
Firmware: ODSIM CDRW 48X24, revision 1.10, 524288 bytes
Update Firmware 1.00 to 1.10 ?
Answered yes (--yes).
Write profile to drive's DRAM... 
Write BIN to drive's DRAM... 
    0%  0 of 524288 bytes
   25%  131072 of 524288 bytes
   50%  262144 of 524288 bytes
   75%  393216 of 524288 bytes
  100%  524288 of 524288 bytes
Drive entry critical... 
Read back and Verify drive's DRAM... 
    0%  0 of 524288 bytes
   25%  131072 of 524288 bytes
   50%  262144 of 524288 bytes
   75%  393216 of 524288 bytes
  100%  524288 of 524288 bytes
Don't turn off the system, Flash is in progress...
Flash Completed.
Drive now reports: 0-0-0  : ODSIM   CDRW 48X24      1.10
Restart the computer for the new firmware to take effect (--restart has odflash request it).
The drive's firmware was updated.
TEXT
cmp -s "$work/ok.out" "$work/ok.expected" || { fail "ok: output differs"; diff "$work/ok.expected" "$work/ok.out"; }
[ "$(grep -cE "$flash_command" "$work/ok.log")" = 1 ] || fail "ok: expected one Flash command"

# The dry run writes and verifies but never enters the critical phase: no Entry critical, no
# Read Profile after it, no Flash command.
entry_critical='^3B 05 01 00 00 00 00 00 00 [0-9A-F]{2} 00 00 in 0$'
drives "$work/dry.ini"
expect 0 dry -- "$flasher" --sim "$work/dry.ini" --yes --dry-run
grep -qE "$flash_command" "$work/dry.log" && fail "dry: a Flash command was sent"
grep -qE "$entry_critical" "$work/dry.log" && fail "dry: Entry critical was sent"
grep -qE "$entry_critical" "$work/ok.log" || fail "ok: no Entry critical (the dry run's check would prove nothing)"
[ "$(tail -1 "$work/dry.out")" = "Dry run: the image was written to drive memory and verified; Entry critical and the Flash command were not sent, the drive's flash is unchanged." ] \
  || fail "dry: final line: $(tail -1 "$work/dry.out")"
[ "$(grep -c '^3C 01 01' "$work/dry.log")" = 32 ] || fail "dry: expected the 32 image reads and no profile read"

# Without --yes and without a terminal the question is declined: nothing is sent.
drives "$work/no.ini"
expect 4 no -- "$flasher" --sim "$work/no.ini"
[ "$(grep -vc '^12 ' "$work/no.log")" = 0 ] || fail "no: commands other than INQUIRY were sent"

# A drive of another model; a drive that is not there.
drives "$work/other.ini"
sed -i 's/^Product=.*/Product=DVD-ROM 16X/' "$work/other.ini"
expect 3 other -- "$flasher" --sim "$work/other.ini" --yes
expect 2 nodrive -- "$flasher" --sim "$work/ok.ini" --yes --drive 5

# Failures of the drive: a command, the read-back, the commit. Each ends in one failure line
# "odflash: <what failed>: <the drive's answer>", after the system's own message.
drives "$work/cmd.ini" "FailCommand=3B:5:04 08 00"
expect 5 cmd -- "$flasher" --sim "$work/cmd.ini" --yes
grep -qx "Write Buffer> 04 08 00. 02, 0000" "$work/cmd.err" || fail "cmd: no Write Buffer message"
grep -qx "odflash: writing the image failed at offset 0x0C000; the drive's flash is unchanged: CHECK CONDITION.* 04/08/00.*" "$work/cmd.err" \
  || fail "cmd: no offset or drive answer in the error"
drives "$work/corrupt.ini" "CorruptReadAt=0x8005"
expect 6 corrupt -- "$flasher" --sim "$work/corrupt.ini" --yes
grep -q "^odflash: verification failed at image offset 0x08005: " "$work/corrupt.err" || fail "corrupt: no mismatch report"
drives "$work/commit.ini" "FailCommit=03 0C 00"
expect 7 commit -- "$flasher" --sim "$work/commit.ini" --yes
for name in cmd corrupt; do
  grep -qE "$flash_command" "$work/$name.log" && fail "$name: a Flash command was sent after the failure"
done
# CHECK CONDITION without sense data is a failure: on the Flash command, and before it.
drives "$work/nosense.ini" "StatusCommand=3B:35:02"
expect 7 nosense -- "$flasher" --sim "$work/nosense.ini" --yes
grep -qx "Flash Fail." "$work/nosense.out" || fail "nosense: no Flash Fail. caption"
grep -qx "odflash: the drive did not commit the image to its flash: CHECK CONDITION without sense data.*" "$work/nosense.err" \
  || fail "nosense: the outcome is not described"
drives "$work/critical.ini" "StatusCommand=3B:34:08"
expect 5 critical -- "$flasher" --sim "$work/critical.ini" --yes
grep -qE "$flash_command" "$work/critical.log" && fail "critical: a Flash command followed a BUSY Entry critical"
grep -qx "odflash: Entry critical failed; the drive's flash is unchanged: BUSY" "$work/critical.err" \
  || fail "critical: no failure line naming Entry critical"
for name in cmd corrupt commit nosense critical; do
  [ "$(grep -c '^odflash: ' "$work/$name.err")" = 1 ] || { fail "$name: not exactly one failure line"; cat "$work/$name.err"; }
done

# Answers: --yes answers a newer revision only; a downgrade or a reinstall needs its own option
# as well, and without it nothing is sent to the drive.
for answer in "downgrade|1.20|--allow-older|the flasher's firmware 1.10 is older than the drive's 1.20; --yes answers a downgrade only with --allow-older" \
              "reinstall|1.10|--allow-reinstall|the drive already runs firmware 1.10; --yes answers a reinstall only with --allow-reinstall"; do
  IFS='|' read -r name revision option reason <<<"$answer"
  drives "$work/$name.ini"
  sed -i "s/^Revision=.*/Revision=$revision/" "$work/$name.ini"
  other=--allow-older; [ "$option" = --allow-older ] && other=--allow-reinstall
  expect 4 "$name" -- "$flasher" --sim "$work/$name.ini" --yes "$other"
  [ "$(grep -vc '^12 ' "$work/$name.log")" = 0 ] || fail "$name: commands other than INQUIRY were sent"
  [ "$(grep '^odflash: ' "$work/$name.err")" = "odflash: update declined; nothing was sent to the drive: $reason" ] \
    || fail "$name: refusal line: $(cat "$work/$name.err")"
  expect 0 "$name-allowed" -- "$flasher" --sim "$work/$name.ini" --yes "$option"
  [ "$(grep -cE "$flash_command" "$work/$name.log")" = 1 ] || fail "$name: not flashed with --yes $option"
done
grep -qx "odflash: update declined; nothing was sent to the drive: no answer on a terminal; --yes answers it" "$work/no.err" \
  || fail "no: refusal line: $(cat "$work/no.err")"

# --json: JSON Lines on standard output, the terminal text on standard error.
read -r -d '' check_json_py <<'PY'
import json, sys
name, code, outcome, phases = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4:]
events = [json.loads(line) for line in sys.stdin]
problems = []
if any(e.get("schemaVersion") != 1 for e in events): problems.append("an event without schemaVersion 1")
seen = [e["phase"] for e in events if e["event"] == "phase"]
if seen != phases: problems.append("phases %s" % seen)
last = {}
for e in (e for e in events if e["event"] == "progress"):
    if e["bytes"] < last.get(e["phase"], 0) or e["bytes"] > e["total"]: problems.append("bytes not monotonic: %s" % e)
    last[e["phase"]] = e["bytes"]
results = [e for e in events if e["event"] == "result"]
if len(results) != 1 or events[-1]["event"] != "result": problems.append("not one result at the end")
else:
    r = results[0]
    if (r["exitCode"], r["outcome"]) != (code, outcome): problems.append("result %s" % r)
    if code == 0 and (r["revisionBefore"], r["revisionAfter"], r["drive"]["device"]) != ("1.00", "1.10", "sim:Drive0"):
        problems.append("result %s" % r)
    if code != 0 and not r.get("error"): problems.append("a failed result without its error line")
for p in problems: print("  %s: %s" % (name, p))
sys.exit(1 if problems else 0)
PY
check_json() { # NAME EXIT OUTCOME PHASES...: the stream of run NAME
  python3 -c "$check_json_py" "$@" <"$work/$1.out" || fail "$1: JSON stream: see above"
}
drives "$work/json.ini"
expect 0 json -- "$flasher" --sim "$work/json.ini" --yes --json
check_json json 0 flashed readyWait profile upload entryCritical verify flash done
[ "$(awk -F'"upload"' 'NF > 1 && /"progress"/' "$work/json.out" | wc -l)" = 33 ] || fail "json: expected a progress event per chunk"
grep -qx "Write BIN to drive's DRAM... " "$work/json.err" || fail "json: no terminal text on standard error"
drives "$work/jsoncmd.ini" "FailCommand=3B:5:04 08 00"
expect 5 jsoncmd -- "$flasher" --sim "$work/jsoncmd.ini" --yes --json
check_json jsoncmd 5 uploadFailed readyWait profile upload done
grep -q '"error":"writing the image failed at offset 0x0C000;' "$work/jsoncmd.out" || fail "jsoncmd: the result lacks the failure line"
expect 3 jsonother -- "$flasher" --sim "$work/other.ini" --yes --json
check_json jsonother 3 notStarted

# A damaged flasher: one byte changed in what it sends (the image, the header, the routine store),
# in its integrity record, or a record of a version this program does not know, is refused before
# any command reaches a drive; a record left empty is no record and flashes as before.
block_at() { # FILE MARKER: the offset of the block behind MARKER's 14 characters and NUL
  python3 -c 'import sys; print(open(sys.argv[1], "rb").read().index(sys.argv[2].encode() + b"\0") + 15)' "$1" "$2"
}
patch_byte() { # FILE OFFSET HEX|flip
  python3 -c '
import sys
f = open(sys.argv[1], "r+b"); f.seek(int(sys.argv[2])); old = f.read(1)[0]; f.seek(-1, 1)
f.write(bytes([old ^ 1 if sys.argv[3] == "flip" else int(sys.argv[3], 16)]))' "$@"
}
header_at=$(block_at "$flasher" "{odflash:data}")
store_at=$(block_at "$flasher" "{odflash:code}")
record_at=$(block_at "$flasher" "{odflash:seal}")
damaged_line="odflash: $flasher: This flasher is damaged: the firmware, header or flash routines it carries do not match its integrity record. Download or build it again; nothing was sent to any drive."
for entry in "image|$((header_at + 137 + 0x8000))|flip" "header|$((header_at + 100))|flip" \
             "store|$((store_at + 300))|flip" "record|$((record_at + 9))|flip" "version|$record_at|02"; do
  IFS='|' read -r name at value <<<"$entry"
  cp "$flasher" "$work/damaged-$name.EXE"
  patch_byte "$work/damaged-$name.EXE" "$at" "$value"
  drives "$work/damaged-$name.ini"
  expect 1 "damaged-$name" -- "$work/damaged-$name.EXE" --sim "$work/damaged-$name.ini" --yes --json
  [ ! -s "$work/damaged-$name.log" ] || fail "damaged-$name: commands were sent: $(head -3 "$work/damaged-$name.log")"
  [ "$(cat "$work/damaged-$name.err")" = "${damaged_line/$flasher/$work/damaged-$name.EXE}" ] \
    || fail "damaged-$name: refusal line: $(cat "$work/damaged-$name.err")"
  check_json "damaged-$name" 1 damaged
  drives "$work/damaged-$name-all.ini"
  expect 1 "damaged-$name-all" -- "$work/damaged-$name.EXE" --sim "$work/damaged-$name-all.ini" --yes --all --json
  [ ! -s "$work/damaged-$name-all.log" ] || fail "damaged-$name --all: commands were sent"
  grep -q '"event":"result".*"outcome":"damaged"' "$work/damaged-$name-all.out" || fail "damaged-$name --all: result not damaged"
done
cp "$flasher" "$work/unsealed.EXE"
for i in $(seq 0 32); do patch_byte "$work/unsealed.EXE" $((record_at + i)) 00; done
drives "$work/unsealed.ini"
expect 0 unsealed -- "$work/unsealed.EXE" --sim "$work/unsealed.ini" --yes
[ "$(grep -cE "$flash_command" "$work/unsealed.log")" = 1 ] || fail "unsealed: a flasher with an empty record was not flashed"

# Bad input: a builder; a firmware file, which carries no payload at all.
expect 1 builder -- "$template" --sim "$work/ok.ini" --yes
cp "$samples/1.10.BIN" "$work/1.10.BIN"
(cd "$work" && run "$odflash" flash 1.10.BIN --sim ok.ini --yes >bin.out 2>bin.err </dev/null)
[ "$(tr -d '\r' <"$work/bin.err")" = "odflash: 1.10.BIN carries no payload block: it is not a flasher (a firmware file? build a flasher from it with odflash build)" ] \
  || fail "bin: $(cat "$work/bin.err")"
grep -q '^Exit codes:' <(run "$odflash" flash --help) || fail "help: no exit codes"

[ "$failures" = 0 ] && echo "all odflash flash checks passed"
exit $((failures != 0))
