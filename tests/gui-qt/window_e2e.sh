#!/usr/bin/env bash
# The Linux window end to end under Xvfb: the builder role builds a flasher from the sample
# model file and firmware, byte for byte the flasher that "odflash build" writes from the same
# template; that flasher, started in the flashing role on the emulated drives, updates a drive
# through a whole run in its window, and "odflash flash" updates a drive with it as well.
# Screenshots of both windows go to $ODFLASH_ARTIFACTS (default artifacts/).
#
# usage: window_e2e.sh GUI ODFLASH SAMPLE_DIR DRIVE_INI
set -euo pipefail

gui=$1 odflash=$2 samples=$3 driveIni=$4
# The toolkit-neutral helpers of the Windows window's tests (e2e_start_display, e2e_window,
# e2e_keys, e2e_shot, e2e_expect_exit, e2e_fail, e2e_cleanup); nothing of Wine is started here.
source "$(dirname "$0")/../gui/lib.sh"
ARTIFACTS=${ODFLASH_ARTIFACTS:-artifacts}
mkdir -p "$ARTIFACTS"
ARTIFACTS=$(cd "$ARTIFACTS" && pwd)
WORK=$(mktemp -d)
APP_PID=
XVFB_PID=
trap e2e_cleanup EXIT
e2e_start_display
export QT_QPA_PLATFORM=xcb
export XDG_RUNTIME_DIR=$WORK
# Allocations that system libraries under Qt keep until exit are not ours to report.
export LSAN_OPTIONS=suppressions=$(cd "$(dirname "$0")" && pwd)/lsan.supp

# Answers a message box with a key (Return: the default button, Yes or OK; n: No) and waits
# until it has gone, so that the next search cannot find it again.
answer() {
  e2e_keys "$1" "$2"
  wait_until 10 e2e_gone "$1" || e2e_fail "the box $1 did not take the key $2"
}

# Clicks at a point of the main window's client area.
click_at() {
  local x y
  eval "$(xdotool getwindowgeometry --shell "$1")"
  x=$((X + $2)) y=$((Y + $3))
  xdotool mousemove --sync "$x" "$y" click 1
}

# Positions from the window's layout: FileListBox1 at 16,72 in Panel1; FlashButton at 320,16
# in GroupBox2, which is at 16,128.
firstFileX=40 firstFileY=80
buttonX=$((16 + 320 + 28)) buttonY=$((128 + 16 + 12))

"$gui" --help >"$WORK/help.out" && grep -q '^Usage: ' "$WORK/help.out" || e2e_fail "odflash-gui --help printed no usage"
"$gui" --version >"$WORK/version.out" && grep -qE '^odflash-gui [0-9]+\.[0-9]+\.[0-9]+( \(.+\))?$' "$WORK/version.out" \
  || e2e_fail "odflash-gui --version printed no version"

# --- builder role -------------------------------------------------------------------------
mkdir "$WORK/builder" "$WORK/cli"
cp "$gui" "$WORK/builder/odflash-gui"
cp "$samples/models.ini" "$WORK/builder/odflash-gui.INI"
cp "$samples/1.10.BIN" "$samples/2.20.BIN" "$WORK/builder/"
(cd "$WORK/builder" && exec ./odflash-gui) >"$WORK/program.out" 2>&1 &
APP_PID=$!
window=$(e2e_window " Flash Utility V1.0A for 1.00-1.99 [Buiding]")
e2e_shot qt-builder
click_at "$window" $firstFileX $firstFileY
sleep 0.3
click_at "$window" $buttonX $buttonY
wait_until 10 test -f "$WORK/builder/1.10.EXE" || e2e_fail "the window's Build wrote no 1.10.EXE"
e2e_shot qt-builder-built
kill -0 "$APP_PID" 2>/dev/null || e2e_fail "the builder ended after the build"
kill "$APP_PID"
wait "$APP_PID" 2>/dev/null || true
APP_PID=
[ -x "$WORK/builder/1.10.EXE" ] || e2e_fail "1.10.EXE is not executable"

"$odflash" build --template "$WORK/builder/odflash-gui" --ini "$WORK/builder/odflash-gui.INI" --model 0 \
  --firmware "$WORK/builder/1.10.BIN" --output-dir "$WORK/cli" >/dev/null
cmp "$WORK/builder/1.10.EXE" "$WORK/cli/1.10.EXE" || e2e_fail "the window's flasher differs from odflash build's"
echo "ok: the window's flasher equals odflash build's"

# --- flashing role ------------------------------------------------------------------------
log="$WORK/drive.log"
sed "s#^\[Drive0\]\$#[Drive0]\nLog=$log#" "$driveIni" >"$WORK/drives.ini"
(cd "$WORK/builder" && ODFLASH_SIM="$WORK/drives.ini" exec ./1.10.EXE) >"$WORK/program.out" 2>&1 &
APP_PID=$!
box=$(e2e_window Warning)
e2e_shot qt-flasher-confirm
answer "$box" Return
window=$(e2e_window "ODSIM Flash Utility V1.0A for CDRW 48X24")
e2e_shot qt-flasher
click_at "$window" $buttonX $buttonY
box=$(e2e_window Confirm)
answer "$box" Return
# After a whole run the restart is offered.
box=$(e2e_window Confirm)
e2e_shot qt-flasher-done
answer "$box" n
kill -0 "$APP_PID" 2>/dev/null || e2e_fail "the flasher ended after the run"
kill "$APP_PID"
wait "$APP_PID" 2>/dev/null || true
APP_PID=

writes=$(grep -c '^3B .* out 16384$' "$log" || true)
reads=$(grep -c '^3C .* in 16384$' "$log" || true)
[ "$writes" -eq 32 ] && [ "$reads" -eq 32 ] ||
  e2e_fail "expected 32 chunks written and read back, the log has $writes and $reads"
[ "$(tail -1 "$log" | cut -c1-2)" = 12 ] || e2e_fail "the run did not end with the fresh INQUIRY"
echo "ok: the window flashed the emulated drive"

# Ctrl+C during a slowed flash: the update goes through to the Flash command and the fresh
# INQUIRY, then the window ends with the shell's code for SIGINT.
slowLog="$WORK/slow.log"
sed "s#^\[Drive0\]\$#[Drive0]\nLog=$slowLog\nLatencyMicroseconds=20000#" "$driveIni" >"$WORK/slow.ini"
(cd "$WORK/builder" && ODFLASH_SIM="$WORK/slow.ini" exec ./1.10.EXE) >"$WORK/program.out" 2>&1 &
APP_PID=$!
answer "$(e2e_window Warning)" Return
window=$(e2e_window "ODSIM Flash Utility V1.0A for CDRW 48X24")
click_at "$window" $buttonX $buttonY
answer "$(e2e_window Confirm)" Return
wait_until 15 grep -q '^3B ' "$slowLog" 2>/dev/null || true
kill -INT "$APP_PID"
answer "$(e2e_window Confirm)" n # the restart question still ends the run
e2e_expect_exit 130
grep -qE '^3B 05 01 00 00 00 00 00 00 (80|A0) 00 00 in 16$' "$slowLog" || e2e_fail "SIGINT: no Flash command"
[ "$(tail -1 "$slowLog" | cut -c1-2)" = 12 ] || e2e_fail "SIGINT: the run did not end with the fresh INQUIRY"
grep -qF "odflash: interrupt received; the update is finishing safely" "$WORK/program.out" ||
  e2e_fail "SIGINT: the terminal was not told"
echo "ok: Ctrl+C during a flash waits for the drive and ends the window with 130"

# Start-up that ends: declining the update, or no drive that the firmware fits. The program
# shows no window and ends with exit code 0.
printf '[Drive0]\nVendor=OTHERCO\nProduct=CD-ROM 52X\nRevision=9.99\n' >"$WORK/unfit.ini"
start_flasher() {
  (cd "$WORK/builder" && ODFLASH_SIM="$1" exec ./1.10.EXE) >"$WORK/program.out" 2>&1 &
  APP_PID=$!
}
no_window_left() {
  ! xdotool search --onlyvisible --name 'Flash Utility' >/dev/null 2>&1 || e2e_fail "$1: a window stayed"
  echo "ok: $1 ends the flasher without a window"
}
start_flasher "$WORK/drives.ini"
answer "$(e2e_window Warning)" n
e2e_expect_exit 0
no_window_left "declining the update"
start_flasher "$WORK/unfit.ini"
answer "$(e2e_window Warning)" Return
box=$(e2e_window Error)
e2e_shot qt-flasher-no-drive
answer "$box" Return
e2e_expect_exit 0
no_window_left "no fitting drive"
# A drive file that cannot be used is reported, not taken for "no drive".
start_flasher "$WORK/missing.ini"
answer "$(e2e_window Error)" Return
e2e_expect_exit 2
echo "ok: an unusable ODFLASH_SIM file is reported"

"$odflash" flash --sim "$driveIni" --drive 0 --yes "$WORK/builder/1.10.EXE" >"$WORK/flash.out" 2>&1 ||
  e2e_fail "odflash flash refused the window's flasher: $(cat "$WORK/flash.out")"
echo "ok: odflash flash updated the emulated drive with the window's flasher"
echo "PASS"
