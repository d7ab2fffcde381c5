#!/usr/bin/env bash
# odflash flash against emulated drives: a whole update, the dry run, and each exit code.
#   FlashCommandTest.sh ODFLASH TEMPLATE SAMPLES_DIR [SAMPLE_GENERATOR]
# ODFLASH_RUNNER runs the programs of a cross build (wine64); the generator then makes the
# sample images first.
set -u
odflash=$1 template=$2 samples=$3 generator=${4:-}
runner=${ODFLASH_RUNNER:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

run() { $runner "$@"; }
if [ -n "$generator" ]; then
  run "$generator" "$samples" >/dev/null || { echo "FAIL: cannot make the sample images"; exit 1; }
fi

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

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

run "$odflash" build --ini "$samples/models.ini" --model 0 --firmware "$samples/1.10.BIN" \
  --template "$template" --output-dir "$work" >/dev/null || { echo "FAIL: cannot build the flasher"; exit 1; }
flasher=$work/1.10.EXE
flash_command='3B 05 01 00 00 00 00 00 00 (80|A0) 00 00 in 16'

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

# The dry run writes and verifies but sends no Flash command.
drives "$work/dry.ini"
expect 0 dry -- "$flasher" --sim "$work/dry.ini" --yes --dry-run
grep -qE "$flash_command" "$work/dry.log" && fail "dry: a Flash command was sent"
grep -q '^Dry run: ' "$work/dry.out" || fail "dry: no dry-run notice"
[ "$(grep -c '^3C 01 01' "$work/dry.log")" = 33 ] || fail "dry: expected 32 image reads and the profile read"

# Without --yes and without a terminal the question is declined: nothing is sent.
drives "$work/no.ini"
expect 4 no -- "$flasher" --sim "$work/no.ini"
[ "$(grep -vc '^12 ' "$work/no.log")" = 0 ] || fail "no: commands other than INQUIRY were sent"

# A drive of another model; a drive that is not there.
drives "$work/other.ini"
sed -i 's/^Product=.*/Product=DVD-ROM 16X/' "$work/other.ini"
expect 3 other -- "$flasher" --sim "$work/other.ini" --yes
expect 2 nodrive -- "$flasher" --sim "$work/ok.ini" --yes --drive 5

# Failures of the drive: a command, the read-back, the commit.
drives "$work/cmd.ini" "FailCommand=3B:5:04 08 00"
expect 5 cmd -- "$flasher" --sim "$work/cmd.ini" --yes
grep -qx "Write Buffer> 04 08 00. 02, 0000" "$work/cmd.err" || fail "cmd: no Write Buffer message"
grep -qx "odflash: writing the image failed at offset 0x0C000; the drive's flash is unchanged" "$work/cmd.err" \
  || fail "cmd: no offset in the error"
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
grep -qx "odflash: the drive's answer to the last command: CHECK CONDITION without sense data" "$work/nosense.err" \
  || fail "nosense: the outcome is not described"
drives "$work/critical.ini" "StatusCommand=3B:34:08"
expect 5 critical -- "$flasher" --sim "$work/critical.ini" --yes
grep -qE "$flash_command" "$work/critical.log" && fail "critical: a Flash command followed a BUSY Entry critical"

# Bad input.
expect 1 builder -- "$template" --sim "$work/ok.ini" --yes
grep -q '^Exit codes:' <(run "$odflash" flash --help) || fail "help: no exit codes"

[ "$failures" = 0 ] && echo "all odflash flash checks passed"
exit $((failures != 0))
