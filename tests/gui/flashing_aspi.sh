#!/usr/bin/env bash
# The flashing role on the ASPI path: Wine reports Windows 98 to the flasher, which loads the
# stand-in WNASPI32.DLL beside it; the DLL serves emulated drives. Confirm, the drive box lists
# the fitting drive, FLASH, Yes; the run completes and the restart question is answered No. The
# emulated drive's command log must show the whole sequence.
# Closing the window while the drive works is refused with a message.
# Usage: flashing_aspi.sh SOURCE_DIR ODFLASH_GUI_EXE ODFLASH_EXE WNASPI32_DLL
set -euo pipefail
source "$(dirname "$0")/lib.sh"
e2e_setup "$1"
gui=$2
cli=$3
aspi=$4

cp "$gui" "$WORK/odflash-gui.exe"
cp "$aspi" "$WORK/WNASPI32.DLL"
cp "$1/data/models.ini" "$WORK/models.ini"
# A 64 KiB plain image for the ODSIM CDRW 48X24 (MODEL00: revisions 1.00 to 1.99).
e2e_image "$WORK/1.50.BIN" 65536 1.50
(cd "$WORK" && "$WINE" "$cli" build --ini models.ini --model 0 --firmware 1.50.BIN --template odflash-gui.exe) \
  >/dev/null 2>&1 || e2e_fail "odflash build failed"

# Two drives: the first fits, the second (another product) does not. The first takes 0.6 s for
# each command, so that the window can be seen at work and asked to close mid-run.
cat >"$WORK/drives.ini" <<INI
[Drive0]
Vendor=ODSIM
Product=CDRW 48X24
Revision=1.00
BecomingReadyPolls=3
LatencyMicroseconds=600000
Log=$WORK/drive0.log
[Drive1]
Vendor=OTHERCO
Product=CD-ROM 52X
Revision=9.99
Log=$WORK/drive1.log
INI
export ODFLASH_SIM=$WORK/drives.ini
export WINEDLLOVERRIDES="wnaspi32=n;mscoree,mshtml="
"$WINE" reg add 'HKCU\Software\Wine\AppDefaults\1.50.EXE' /v Version /d win98 /f >/dev/null 2>&1 ||
  e2e_fail "cannot set the Windows version for 1.50.EXE"

e2e_start 1.50.EXE
box=$(e2e_window "Warning")
e2e_answer "$box" Return
window=$(e2e_window "ODSIM Flash Utility V1.0A for CDRW 48X24")
e2e_shot flashing-window
# Tab from the drive box to FLASH (the file list is hidden), press it, answer Yes.
e2e_keys "$window" Tab space
box=$(e2e_window "Confirm")
e2e_answer "$box" Return
# Mid-run, once the image upload has begun, the window paints its progress and refuses to close.
for _ in $(seq 200); do
  grep -q '^3B 05 01 00 00 00 00 40 00 00 00 00 out' "$WORK/drive0.log" 2>/dev/null && break
  sleep 0.1
done
e2e_shot flashing-progress
e2e_keys "$window" alt+F4
box=$(e2e_window "Warning")
e2e_shot close-refused
e2e_answer "$box" Return
box=$(e2e_window "Confirm")
e2e_shot flashing-completed
e2e_answer "$box" n
e2e_keys "$window" alt+F4
e2e_expect_exit 0
"$WINE" reg delete 'HKCU\Software\Wine\AppDefaults\1.50.EXE' /f >/dev/null 2>&1 || true
e2e_expect_box '\nUpdate Firmware 1.00 to 1.50 ?\n'
e2e_expect_box 'A firmware update is in progress.\nClosing the window now could leave the drive without working firmware.\nPlease wait until the update has finished.'
e2e_expect_box 'The system needs to be restarted for the changes to take effect ?'

# The whole sequence, one token per command: INQUIRY at start-up, the ready wait (load, polls
# of TEST UNIT READY and STOP PLAY/SCAN, stop), 4 chunks written and read back, the Flash
# command, the fresh INQUIRY.
log=$WORK/drive0.log
[ -s "$log" ] || e2e_fail "the emulated drive logged nothing"
tokens=$(awk '
                                           { sub(/\r$/, "") }
  /^12 /                                   { print "INQUIRY"; next }
  /^1B 00 00 00 03 /                       { print "LOAD"; next }
  /^1B 00 00 00 00 /                       { print "STOPUNIT"; next }
  /^00 00 00 00 00 00 /                    { print "TUR"; next }
  /^4E /                                   { print "STOP"; next }
  /^3B 05 01 00 00 00 00 00 00 80 00 00 in/ { print "FLASH"; next }
  /^3B 05 01 .. .. .. 00 40 00 00 00 00 out 16384$/ { print "WRITE"; next }
  /^3C 01 01 .. .. .. 00 40 00 00 00 00 in 16384$/  { print "READ"; next }
                                           { print "OTHER(" $0 ")" }
' "$log" | tr '\n' ' ')
expected='^(INQUIRY )+LOAD (TUR STOP )+STOP STOPUNIT (WRITE ){4}(READ ){4}FLASH INQUIRY $'
[[ "$tokens" =~ $expected ]] || e2e_fail "unexpected command sequence: $tokens"
if [ -s "$WORK/drive1.log" ] && tr -d '\r' <"$WORK/drive1.log" | grep -qv '^12 '; then
  e2e_fail "the second drive received more than INQUIRY"
fi
echo "flashing role, ASPI path: $tokens"

# A copy of the flasher with one byte of its image changed no longer matches its integrity
# record: it shows the damaged box before anything else, ends, and sends nothing to any drive.
marker=$(cd "$WORK" && "$WINE" "$cli" info --json 1.50.EXE 2>/dev/null | tr -d '\r' | sed -n 's/^  "markerOffset": \([0-9]*\),$/\1/p')
[ -n "$marker" ] || e2e_fail "no marker offset from odflash info"
cp "$WORK/1.50.EXE" "$WORK/DAMAGED.EXE"
printf '\377' | dd of="$WORK/DAMAGED.EXE" bs=1 seek=$((marker + 152 + 4096)) conv=notrunc 2>/dev/null
rm -f "$WORK/drive0.log" "$WORK/drive1.log"
"$WINE" reg add 'HKCU\Software\Wine\AppDefaults\DAMAGED.EXE' /v Version /d win98 /f >/dev/null 2>&1 ||
  e2e_fail "cannot set the Windows version for DAMAGED.EXE"
e2e_start DAMAGED.EXE
box=$(e2e_window "Error")
e2e_answer "$box" Return
e2e_expect_exit 0
"$WINE" reg delete 'HKCU\Software\Wine\AppDefaults\DAMAGED.EXE' /f >/dev/null 2>&1 || true
e2e_expect_box 'This flasher is damaged: the firmware, header or flash routines it carries do not match its integrity record. Download or build it again; nothing was sent to any drive.'
[ ! -s "$WORK/drive0.log" ] && [ ! -s "$WORK/drive1.log" ] || e2e_fail "a damaged flasher sent commands to a drive"
echo "flashing role, damaged flasher: refused before any drive was probed"
