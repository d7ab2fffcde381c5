#!/usr/bin/env bash
# odflash --version, help and an unknown command; the command trace (-v) and the support log
# (--log) of a Write Buffer that the drive refuses, and of a scan.
# Arguments: ODFLASH PROBE SAMPLE_GENERATOR MODELS_INI VERSION [EMULATOR]
set -uo pipefail
odflash=$1 probe=$2 generator=$3 models=$4 version=$5 emulator=${6:-}

source "$(dirname "$0")/CliTestSetup.sh"

# --- version, help, unknown commands
version_re="odflash ${version//./\\.}( \(.+\))?"
run "$odflash" --version
check "--version exit" 0 "$rc"
has_line "--version" "$version_re" "$out"

run "$odflash" help
check "help exit" 0 "$rc"
has_line "help lists flash" " *flash +Update a drive with the firmware a flasher file carries" "$out"
has_line "help lists help" " *help +.*" "$out"
run "$odflash" flash --help
flash_help=$out
run "$odflash" help flash
check "help flash exit" 0 "$rc"
check "help flash is flash --help" "$flash_help" "$out"
has_line "help flash: --verbose" " *-v,--verbose .*" "$out"
has_line "help flash: --log" " *--log FILE .*" "$out"

for words in "bogus" "help bogus"; do
  # shellcheck disable=SC2086 # the words are two arguments
  run "$odflash" $words
  check "$words exit" 2 "$rc"
  check "$words first line" "odflash: unknown command 'bogus'" "$(head -n 1 <<<"$err")"
  has_line "$words lists scan" "  scan +List the optical drives found, with their identity" "$err"
  has_line "$words lists flash" "  flash +Update a drive with the firmware a flasher file carries" "$err"
done

# --- a flasher and a drive that refuses the upload
cp "$models" models.ini
cp "$probe" builder.exe
run "$generator" .
check "sample generator" 0 "$rc"
mkdir out
run "$odflash" build --ini models.ini --model 0 --firmware 1.10.BIN --template builder.exe --output-dir out
check "build exit" 0 "$rc"
flasher=out/1.10.EXE
drives() { # FILE [extra keys of Drive0...]
  local file=$1
  shift
  printf '%s\n' "[Drive0]" "Vendor=ODSIM" "Product=CDRW 48X24" "Revision=1.00" "FlashId=BFB60000" \
    "Medium=1" "Log=${file%.ini}.drivelog" "$@" >"$file"
}
drives fail.ini "FailCommand=3B:5:04 08 00"

run "$odflash" flash "$flasher" --sim fail.ini --yes -v --log trace.log
check "failed upload exit" 5 "$rc"
sense="CHECK CONDITION, sense 04/08/00 HARDWARE ERROR: LOGICAL UNIT COMMUNICATION FAILURE"
cdb_re="sim:Drive0 ( [0-9A-F]{2}){12}  (in [0-9]+( residual [0-9]+)?|out [0-9]+|no data)  [0-9]+\.[0-9] ms  .+"
has_line "trace: INQUIRY" "sim:Drive0  12 00 00 00 80 00 00 00 00 00 00 00  in 128 residual 92  [0-9]+\.[0-9] ms  GOOD" "$err"
has_line "trace: refused Write Buffer" "sim:Drive0  3B 05( [0-9A-F]{2}){10}  out [0-9]+  [0-9]+\.[0-9] ms  $sense" "$err"
has_line "one failure line with the decoded answer" "odflash: writing the image failed at offset 0x0C000; the drive's flash is unchanged: $sense" "$err"
# Each command once, as it completed: before the drive layer's own message about it.
trace_lines=$(grep -xE -- "$cdb_re" <<<"$err")
check "trace: one line per command sent" "$(grep -c . "$(ls ./*.drivelog)")" "$(grep -c . <<<"$trace_lines")"
check "trace before the message" "Write Buffer> 04 08 00. 02, 0000" \
  "$(grep -A1 -E "  $sense\$" <<<"$err" | sed -n 2p)"

# The log: every line timestamped; version, command line, payload, drive, the same commands.
log=$(tr -d '\r' <trace.log)
stamp_re="[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}Z"
check "log: every line timestamped" "" "$(grep -vE "^$stamp_re " <<<"$log")"
body=$(sed -E "s/^$stamp_re //" <<<"$log")
has_line "log: version" "$version_re" "$(head -n 1 <<<"$body")"
has_line "log: command line" "command line: .*flash .*1\.10\.EXE --sim fail\.ini --yes -v --log trace\.log" "$body"
has_line "log: payload model" "flasher Model: +CDRW 48X24" "$body"
has_line "log: payload range" "flasher FW-Range: +.+" "$body"
has_line "log: payload revision" "flasher New revision: 1\.10" "$body"
has_line "log: payload image" "flasher Image: +524288 bytes, .+" "$body"
has_line "log: image SHA-256" "flasher Image SHA-256: $(sha256sum 1.10.BIN | cut -d' ' -f1), integrity intact" "$body"
has_line "-v: image SHA-256" "flasher Image SHA-256: [0-9a-f]{64}, integrity intact" "$err"
has_line "log: drive identity" "chosen drive: 0-0-0  : ODSIM   CDRW 48X24      1\.00 \(sim:Drive0\).*" "$body"
check "log: the trace's command lines" "$trace_lines" "$(grep -xE -- "$cdb_re" <<<"$body")"
has_line "log: the failure" "odflash: writing the image failed at offset .*" "$body"
check "log: exit code last" "exit code 5" "$(tail -n 1 <<<"$body")"

# --- a log that cannot be opened stops the run before anything is sent
drives nolog.ini
run "$odflash" flash "$flasher" --sim nolog.ini --yes --log missing/dir/x.log
check "unopenable log exit" 1 "$rc"
has_line "unopenable log message" "odflash: cannot open the log file missing/dir/x\.log: .+; nothing was sent to a drive" "$err"
[ -s nolog.drivelog ] && fail "unopenable log: commands were sent"

# --- scan: the log whatever the verbosity, nothing on the terminal without -v
drives scan.ini
run "$odflash" scan --sim scan.ini --log scan.log
check "scan exit" 0 "$rc"
check "scan without -v prints no trace" "" "$(grep -E -- "$cdb_re" <<<"$err")"
scan_body=$(tr -d '\r' <scan.log | sed -E "s/^$stamp_re //")
has_line "scan log: INQUIRY" "sim:Drive0  12 00 00 00 80 00 00 00 00 00 00 00  in 128 residual [0-9]+  [0-9]+\.[0-9] ms  GOOD" "$scan_body"
has_line "scan log: drive" "found drive: 0-0-0  : ODSIM   CDRW 48X24      1\.00 \(sim:Drive0\).*" "$scan_body"

[ "$failures" = 0 ] && echo "trace_e2e: all checks passed"
exit $((failures > 0))
