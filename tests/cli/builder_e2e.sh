#!/usr/bin/env bash
# odflash models / info / extract / build end to end, and the flasher a build writes started
# as a program: it must come up in the flashing role with the patched fields.
# Arguments: ODFLASH PROBE SAMPLE_GENERATOR MODELS_INI [EMULATOR] [GUI]
set -uo pipefail
odflash=$1 probe=$2 generator=$3 models=$4 emulator=${5:-} gui=${6:-}

source "$(dirname "$0")/CliTestSetup.sh"

cp "$models" models.ini
cp "$probe" builder.exe
run "$generator" .
check "sample generator" "0" "$rc"
mkdir out

# --- models
run "$odflash" models models.ini
check "models exit" 0 "$rc"
check "models text" "MODEL00
  Model:    CDRW 48X24
  Inquiry:  ODSIM   CDRW 48X24      
  FW-Range: 1.00-1.99
  BINMask:  1.*.BIN
  Vendor:   ODSim
  Note:     CD-RW new-format image
  Item:     1.00-1.99 ODSIM   CDRW 48X24" "$(head -8 <<<"$out")"
check "models: any-firmware item" "  Item:     --------- HBQ     MX77004150Q|4" \
  "$(tail -1 <<<"$out")|$(grep -c '^MODEL' <<<"$out")"

# Every --json output: schemaVersion 1 and camelCase keys only.
json_shape() { # the JSON document in $out: "ok", or what is wrong with it
  python3 -c '
import json, re, sys
def keys(v):
    if isinstance(v, dict):
        for k, x in v.items(): yield k; yield from keys(x)
    elif isinstance(v, list):
        for x in v: yield from keys(x)
doc = json.loads(sys.argv[1])
bad = [k for k in keys(doc) if not re.fullmatch("[a-z][A-Za-z0-9]*", k)]
print("ok" if doc.get("schemaVersion") == 1 and not bad else "schemaVersion %s, keys %s" % (doc.get("schemaVersion"), bad))' "$out"
}
run "$odflash" models --json models.ini
check "models --json" '0|ok|MODEL00|1.00-1.99|1.*.BIN' \
  "$rc|$(json_shape)|$(python3 -c 'import json,sys; m=json.loads(sys.argv[1])["models"][0]; print(m["section"], m["firmwareRange"], m["binMask"], sep="|")' "$out")"

# The system's reason for a missing file, as each platform words it.
if [ -n "$emulator" ]; then no_file="File not found" no_path="Path not found" # Wine's wording
else no_file="No such file or directory" no_path="No such file or directory"; fi

run "$odflash" models missing.ini
check "models on a missing file" "1|odflash: Can't load missing.ini: cannot open missing.ini: $no_file" "$rc|$err"

printf '[MODEL00]\nModel=A\nInquiry=B\nFW-Range=C\nBINMask=D\nVendor=E\nNote=F\n[MODEL01]\nModel=A\n' >bad.ini
run "$odflash" models bad.ini
check "models on a section with a missing key" "1|odflash: bad.ini > Session MODEL01 error!" "$rc|$err"

# --- build, run the flasher, info, extract
run "$odflash" build --ini models.ini --model 0 --firmware 1.10.BIN --template builder.exe --output-dir out
# The image's SHA-256 is the firmware file's, as sha256sum names it.
image_hash=$(sha256sum 1.10.BIN | cut -d' ' -f1)
intact="intact (its integrity record matches the header, image and routines)"
check "build" "0|Build 1.10.EXE complete!
out/1.10.EXE
Image SHA-256: $image_hash
Integrity:     $intact|" "$rc|$out|$err"
check "flasher has the builder's length" "$(wc -c <builder.exe)" "$(wc -c <out/1.10.EXE)"

run out/1.10.EXE
check "flasher starts in the flashing role" "0|role: flasher
model: CDRW 48X24
inquiry: ODSIM   CDRW 48X24      
firmware range: 1.00-1.99
vendor: ODSIM
note: CD-RW new-format image
new revision: 1.10
image length: 524288
image kind: CD-RW new-format
routines: placeholder
integrity: intact" "$rc|$out"

run "$odflash" info out/1.10.EXE
offset=$(grep -m1 'Marker offset' <<<"$out" | awk '{print $3}')
placeholder_hash=$(sed -n 's/^Store SHA-256: //p' <<<"$out")
check "placeholder store hash" "1" "$(grep -cE '^[0-9a-f]{64}$' <<<"$placeholder_hash")"
check "info" "0|Role:          flasher
Marker offset: $offset
Routines:      placeholder
Store SHA-256: $placeholder_hash
Model:         CDRW 48X24
Inquiry:       ODSIM   CDRW 48X24      
FW-Range:      1.00-1.99
Vendor:        ODSim
Note:          CD-RW new-format image
New revision:  1.10
Image length:  524288
Image kind:    CD-RW new-format
Image SHA-256: $image_hash
Integrity:     $intact" "$rc|$out"

run "$odflash" info --json out/1.10.EXE
check "info --json" "0|ok|  \"imageKind\": \"CD-RW new-format\",|  \"role\": \"flasher\",|  \"imageSha256\": \"$image_hash\",|  \"integrity\": \"intact\"" \
  "$rc|$(json_shape)|$(grep imageKind <<<"$out")|$(grep '"role"' <<<"$out")|$(grep imageSha256 <<<"$out")|$(grep '"integrity"' <<<"$out")"
run "$odflash" build --json --ini models.ini --model 0 --firmware 1.10.BIN --template builder.exe --output-dir out
check "build --json" "0|ok|  \"imageSha256\": \"$image_hash\",|  \"integrity\": \"intact\"" \
  "$rc|$(json_shape)|$(grep imageSha256 <<<"$out")|$(grep '"integrity"' <<<"$out")"

# Control bytes of the files' texts (ESC, BEL, DEL) are shown as '?'; the JSON keeps them exact
# (run shows the backslash of its escapes as '/').
esc=$'\033' bel=$'\a' del=$'\177'
printf '%s\n' "[MODEL00]" "Model=CD${esc}[2JRW" "Inquiry=ODSIM   CDRW 48X24" "FW-Range=1.00-1.99" \
  "BINMask=1.*.BIN" "Vendor=OD${bel}Sim" "Note=N${del}ote" >controls.ini
mkdir controls
run "$odflash" build --ini controls.ini --model 0 --firmware 1.10.BIN --template builder.exe --output-dir controls
check "build with control bytes" 0 "$rc"
for entry in "models controls.ini|  Model:    CD?[2JRW" "models controls.ini|  Vendor:   OD?Sim" \
  "models controls.ini|  Note:     N?ote" "models --json controls.ini|      \"model\": \"CD/u001b[2JRW\"," \
  "info controls/1.10.EXE|Model:         CD?[2JRW" "info controls/1.10.EXE|Vendor:        OD?Sim" \
  "info controls/1.10.EXE|Note:          N?ote" "info --json controls/1.10.EXE|  \"vendor\": \"OD/u0007Sim\"," \
  "info --json controls/1.10.EXE|  \"note\": \"N${del}ote\","; do
  IFS='|' read -r command line <<<"$entry"
  # shellcheck disable=SC2086 # the arguments are meant to split
  run "$odflash" $command
  grep -qxF -- "$line" <<<"$out" || { fail "$command: no line $line"; sed 's/^/    | /' <<<"$out" | cat -v; }
done

# --- a routine store file: checked, carried by the flasher, named by info with its SHA-256
run "$odflash" build --ini models.ini --model 0 --firmware 1.10.BIN --template builder.exe --output-dir out \
  --routines filler.ROUTINES
check "build with --routines" "0" "$rc"
run out/1.10.EXE
check "the flasher reads its store and its record seals it" "routines: real|integrity: intact" "$(tail -2 <<<"$out" | paste -sd'|')"
run "$odflash" info --json out/1.10.EXE
check "info --json names the store" "  \"routines\": \"real\",|  \"routinesSha256\": \"$(sha256sum filler.ROUTINES | cut -d' ' -f1)\"," \
  "$(grep '"routines"' <<<"$out")|$(grep routinesSha256 <<<"$out")"
head -c 5605 filler.ROUTINES >short.ROUTINES
run "$odflash" build --ini models.ini --model 0 --firmware 1.10.BIN --template builder.exe --output-dir out \
  --routines short.ROUTINES
check "a short store file stops the build" "1|odflash: Building fail: the routine store short.ROUTINES cannot be used: it holds 5605 bytes; a routine store holds exactly 5606." "$rc|$err"
# The store file beside the template is taken without --routines, as the window takes its own.
cp filler.ROUTINES builder.ROUTINES
run "$odflash" build --ini models.ini --model 0 --firmware 1.10.BIN --template builder.exe --output-dir out
run "$odflash" info out/1.10.EXE
check "the store beside the template" "Routines:      real" "$(grep '^Routines' <<<"$out")"
rm builder.ROUTINES short.ROUTINES
run "$odflash" build --ini models.ini --model 0 --firmware 1.10.BIN --template builder.exe --output-dir out

run "$odflash" extract out/1.10.EXE -o image.bin
check "extract" "0|524288 bytes written to image.bin" "$rc|$out"
cmp -s image.bin 1.10.BIN || { echo "FAIL: extracted image differs from the firmware"; failures=$((failures + 1)); }

for kind in "2.20.BIN|1|DVD-ROM" "2.30.DVD|1|DVD-ROM" "K4P5.BIN|2|plain"; do
  IFS='|' read -r file model expected <<<"$kind"
  run "$odflash" build --ini models.ini --model "$model" --firmware "$file" --template builder.exe --output-dir out
  run "$odflash" info out/"${file:0:4}".EXE
  check "image kind of $file" "Image kind:    $expected" "$(grep 'Image kind' <<<"$out")"
done

run "$odflash" extract builder.exe -o image2.bin
check "extract from a builder" "1|odflash: builder.exe is a builder: it carries no firmware image" "$rc|$err"
# A firmware file is no flasher: every reader of flashers says so, and how to build one.
for command in "info 2.20.BIN" "extract 2.20.BIN -o image3.bin"; do
  # shellcheck disable=SC2086 # the arguments are meant to split
  run "$odflash" $command
  check "$command" "1|odflash: 2.20.BIN carries no payload block: it is not a flasher (a firmware file? build a flasher from it with odflash build)" "$rc|$err"
done

# --- the model's BINMask, as the window's file list applies it: a firmware of another model
# is refused unless --force; a name in other letter case fits where the window lists it.
cp 2.20.BIN 1.99.bin
mkdir masked
run "$odflash" build --ini models.ini --model 0 --firmware 2.20.BIN --template builder.exe --output-dir masked
check "firmware outside the BINMask" "1|odflash: 2.20.BIN does not fit model 0 (CDRW 48X24), whose firmware files are 1.*.BIN; --force builds it anyway|" \
  "$rc|$err|$(ls masked)"
run "$odflash" build --ini models.ini --model 0 --firmware 2.20.BIN --template builder.exe --output-dir masked --force
check "firmware outside the BINMask with --force" "0|masked/2.20.EXE" "$rc|$(sed -n 2p <<<"$out")"
run "$odflash" build --ini models.ini --model 0 --firmware 1.99.bin --template builder.exe --output-dir masked
check "lower-case name under the BINMask" "0|masked/1.99.EXE" "$rc|$(sed -n 2p <<<"$out")"
rm -rf masked 1.99.bin

# --- names: short and lower-case firmware names
cp K4P5.BIN AB.BIN
cp K4P5.BIN k4p5.bin
run "$odflash" build --ini models.ini --model 3 --firmware AB.BIN --template builder.exe --output-dir out
check "short name" "0|Build AB.B.EXE complete!" "$rc|$(head -1 <<<"$out")"
run "$odflash" info out/AB.B.EXE
check "short name revision" "New revision:  AB.B" "$(grep 'New revision' <<<"$out")"
run "$odflash" build --ini models.ini --model 2 --firmware k4p5.bin --template builder.exe --output-dir out
run "$odflash" info out/k4p5.EXE
check "lower-case name" "0|New revision:  K4P5" "$rc|$(grep 'New revision' <<<"$out")"

# --- refused builds: one line on stderr, exit 1, the earlier flasher untouched
cp out/1.10.EXE before.exe
head -c 524289 /dev/urandom >1.10.BIN.big && printf '\002' | dd of=1.10.BIN.big conv=notrunc 2>/dev/null
mv 1.10.BIN.big 1.10.BIN.tmp
refuse() { # label expected-stderr build-arguments...
  local label=$1 expected=$2
  shift 2
  run "$odflash" build --ini models.ini "$@"
  check "$label" "1|odflash: $expected" "$rc|$err"
  cmp -s before.exe out/1.10.EXE || { echo "FAIL: $label changed the earlier flasher"; failures=$((failures + 1)); }
}
mkdir big empty
cp 1.10.BIN.tmp big/1.10.BIN
: >empty/1.10.BIN
head -c 600000 /dev/zero >nomarker.exe
head -c "$((offset + 15 + 200))" builder.exe >short.exe
refuse "firmware of 524289 bytes" "Firmware 1.10.BIN is 524289 bytes; a flasher carries at most 524288 bytes." \
  --model 0 --firmware big/1.10.BIN --template builder.exe --output-dir out
refuse "empty firmware" "Firmware 1.10.BIN is empty (0 bytes): there is nothing to flash." \
  --model 0 --firmware empty/1.10.BIN --template builder.exe --output-dir out
refuse "template without the marker" "Building fail: not found key-word in nomarker.exe" \
  --model 0 --firmware 1.10.BIN --template nomarker.exe --output-dir out
refuse "template cut short" "Building fail: some problem in short.exe" \
  --model 0 --firmware 1.10.BIN --template short.exe --output-dir out
refuse "model number out of range" "no model 9 in models.ini (it lists 4, numbered from 0)" \
  --model 9 --firmware 1.10.BIN --template builder.exe --output-dir out
refuse "output folder missing" "Create 1.10.EXE Fail: $no_path" \
  --model 0 --firmware 1.10.BIN --template builder.exe --output-dir no/such/folder
mkdir huge && truncate -s $((4 * 1024 * 1024 * 1024 + 1000)) huge/1.10.BIN # sparse: no disk used
refuse "firmware of 4 GiB and 1000 bytes" "Firmware 1.10.BIN is 4294968296 bytes; a flasher carries at most 524288 bytes." \
  --model 0 --firmware huge/1.10.BIN --template builder.exe --output-dir out
refuse "a flasher as template" "Building fail: before.exe is a flasher, not a builder; build from a program that still carries the builder tag." \
  --model 0 --firmware 1.10.BIN --template before.exe --output-dir out
# A model file named as the flasher would be: it is an input, never the output.
cp models.ini 1.10.EXE
run "$odflash" build --ini 1.10.EXE --model 0 --firmware 1.10.BIN --template builder.exe --output-dir .
check "output onto the model file" "1|odflash: Create 1.10.EXE Fail: it is a file this build reads." "$rc|$err"
cmp -s models.ini 1.10.EXE || { echo "FAIL: the model file was overwritten"; failures=$((failures + 1)); }
rm -f 1.10.EXE
# A build killed while its output had a temporary name (FINAL.partial-PID-RANDOM: on Windows
# and on file systems without nameless files, or between naming and renaming it) leaves that
# file. A later build works beside such files and leaves them alone: one may belong to a build
# still running.
leftovers="1.10.EXE.partial-1-000000000000 1.10.EXE.partial-4242-0123abcd0001 1.10.EXE.partial-99999-ffffffffffff"
for leftover in $leftovers; do echo "$leftover" >"out/$leftover"; done
run "$odflash" build --ini models.ini --model 0 --firmware 1.10.BIN --template builder.exe --output-dir out
check "build beside leftovers" "0" "$rc"
for leftover in $leftovers; do
  check "leftover $leftover untouched" "$leftover" "$(cat "out/$leftover" 2>&1)"
  rm -f "out/$leftover"
done
# (Windows names ignore case: there k4p5.EXE replaced K4P5.EXE.)
check "no partial files" "1.10.EXE 2.20.EXE 2.30.EXE AB.B.EXE K4P5.EXE" "$(ls out | sort -f | uniq -i | tr '\n' ' ' | sed 's/ $//')"
cp builder.exe BUIL.EXE
cp 1.10.BIN BUIL.BIN
run "$odflash" build --ini models.ini --model 3 --firmware BUIL.BIN --template BUIL.EXE --output-dir .
check "output onto the template" "1|odflash: Create BUIL.EXE Fail: it is a file this build reads." "$rc|$err"
cmp -s builder.exe BUIL.EXE || { echo "FAIL: the template was changed"; failures=$((failures + 1)); }

run "$odflash" build --model 0 --firmware 1.10.BIN
check "missing --ini is a usage error" "2" "$rc"
for command in models info extract build; do
  run "$odflash" "$command" --help
  check "$command --help" "0" "$rc"
done

# --- a damaged flasher: image length beyond the region
cp out/1.10.EXE damaged.exe
printf '\001\000\010\000' | dd of=damaged.exe bs=1 seek=$((offset + 15 + 133)) conv=notrunc 2>/dev/null
run "$odflash" info damaged.exe
check "info on a damaged flasher" "1|odflash: damaged payload in damaged.exe: image length 524289 exceeds the image region of 524288 bytes" "$rc|$err"
run ./damaged.exe
check "damaged flasher refuses to start" "1|damaged payload: image length 524289 exceeds the image region of 524288 bytes" "$rc|$err"

# --- the integrity record: info and extract describe a flasher whose record does not match
# rather than refuse it; an empty record is no record.
cp out/1.10.EXE flipped.exe
python3 -c 'import sys; f = open(sys.argv[1], "r+b"); f.seek(int(sys.argv[2])); b = f.read(1); f.seek(-1, 1); f.write(bytes([b[0] ^ 1]))' \
  flipped.exe $((offset + 15 + 137 + 4096))
run "$odflash" info flipped.exe
check "info on a flipped image byte" "0|Integrity:     damaged (its integrity record does not match what it carries: download or build it again)" \
  "$rc|$(grep '^Integrity' <<<"$out")"
run "$odflash" extract flipped.exe -o flipped.bin
check "extract warns of the damage" "0|odflash: warning: flipped.exe is damaged: its integrity record does not match what it carries; the image written may not be the one it was built with" "$rc|$err"
cp out/1.10.EXE unsealed.exe
record_at=$(python3 -c 'import sys; print(open(sys.argv[1], "rb").read().index(b"{odflash:seal}\0") + 15)' unsealed.exe)
head -c 33 /dev/zero | dd of=unsealed.exe bs=1 seek="$record_at" conv=notrunc 2>/dev/null
run "$odflash" info --json unsealed.exe
check "info on an empty record" "0|  \"integrity\": \"none\"" "$rc|$(grep '"integrity"' <<<"$out")"
run ./unsealed.exe
check "a flasher with an empty record starts" "0|integrity: none" "$rc|$(tail -1 <<<"$out")"

# --- every program carrying the block: the first run of marker bytes is the block itself
# (Copied here: a Windows program would take an absolute Unix path for an option.)
for program in "$probe" "$odflash" $gui; do
  rm -f carrier.exe
  cp "$program" carrier.exe || { echo "FAIL: $program missing"; failures=$((failures + 1)); continue; }
  run "$odflash" info carrier.exe
  at=$(grep -m1 'Marker offset' <<<"$out" | awk '{print $3}')
  marker=$(dd if=carrier.exe bs=1 skip="$at" count=14 2>/dev/null)
  first=$(grep -boaF -m1 -- "$marker" carrier.exe | head -1 | cut -d: -f1)
  check "first marker is the block in $(basename "$program")" "Role:          builder|$at" "$(head -1 <<<"$out")|$first"
done

# --- what is not a regular file is never read, never replaced
mkdir folder.exe
run "$odflash" info folder.exe
check "info on a folder" "1|odflash: folder.exe is a folder, not a file" "$rc|$err"
run "$odflash" extract out/1.10.EXE -o folder.exe
check "extract onto a folder" "1|odflash: cannot write folder.exe: folder.exe is a folder, not a file" "$rc|$err"
$emulator "$odflash" extract out/1.10.EXE -o - >stdout.bin
check "extract to standard output" "0|524288" "$?|$(wc -c <stdout.bin | tr -d ' ')"
cmp -s stdout.bin 1.10.BIN || { echo "FAIL: the image on standard output differs"; failures=$((failures + 1)); }
if [ -z "$emulator" ]; then # Unix FIFOs and devices (Wine maps them to no Windows kind)
  mkfifo pipe.exe
  notregular="is not a regular file (a device, pipe or socket)"
  for reader in "info pipe.exe|pipe.exe" "extract pipe.exe -o x.bin|pipe.exe" "info /dev/zero|/dev/zero" \
                "models pipe.exe|Can't load pipe.exe: pipe.exe" "scan --sim pipe.exe|pipe.exe" "scan --sim /dev/zero|/dev/zero"; do
    IFS='|' read -r args name <<<"$reader"
    rc=0
    # shellcheck disable=SC2086 # the arguments are meant to split
    err=$(timeout 20 "$odflash" $args 2>&1 >/dev/null) || rc=$?
    check "$args returns at once" "1|odflash: $name $notregular" "$rc|$err"
  done
  run "$odflash" extract out/1.10.EXE -o pipe.exe
  check "extract onto a FIFO" "1|odflash: cannot write pipe.exe: pipe.exe $notregular" "$rc|$err"
  [ -p pipe.exe ] || { echo "FAIL: the FIFO was replaced"; failures=$((failures + 1)); }
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all builder end-to-end checks passed"
