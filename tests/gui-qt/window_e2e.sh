#!/usr/bin/env bash
# The Linux window end to end under Xvfb: the builder role builds a flasher from the sample
# model file and firmware, byte for byte the flasher that "odflash build" writes from the same
# template; that flasher, started in the flashing role on the emulated drives, updates a drive
# through a whole run in its window, and "odflash flash" updates a drive with it as well.
# Screenshots of both windows go to $ODFLASH_ARTIFACTS (default artifacts/).
#
# usage: window_e2e.sh GUI ODFLASH SAMPLE_DIR DRIVE_INI
set -euo pipefail

if [ -z "${ODFLASH_UNDER_XVFB:-}" ]; then
  ODFLASH_UNDER_XVFB=1 exec xvfb-run -a -s "-screen 0 800x600x24 -nolisten tcp" bash "$0" "$@"
fi

gui=$1 odflash=$2 samples=$3 driveIni=$4
artifacts=${ODFLASH_ARTIFACTS:-artifacts}
mkdir -p "$artifacts"
artifacts=$(cd "$artifacts" && pwd)
export QT_QPA_PLATFORM=xcb
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
# Qt's own libraries keep some allocations until exit; they are not ours to report.
export ASAN_OPTIONS=${ASAN_OPTIONS:-}:detect_leaks=0

work=$(mktemp -d)
guiPid=
cleanup() {
  [ -n "$guiPid" ] && kill "$guiPid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  import -window root "$artifacts/qt-failure.png" 2>/dev/null || true
  [ -f "$work/gui.log" ] && sed 's/^/  gui: /' "$work/gui.log" >&2
  exit 1
}

# Waits for a visible window whose whole name matches the regular expression; prints its id.
wait_window() {
  local id
  id=$(timeout 20 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -1) || true
  [ -n "$id" ] || fail "no window named /$1/"
  echo "$id"
}

# Waits until the window is gone (answered boxes close asynchronously).
wait_gone() {
  for _ in $(seq 100); do
    xdotool getwindowname "$1" >/dev/null 2>&1 || return 0
    xdotool search --onlyvisible --name '.*' 2>/dev/null | grep -qx "$1" || return 0
    sleep 0.1
  done
  fail "window $1 stayed open"
}

# Answers a message box with a key (Return: the default button, Yes or OK; n: No).
answer() {
  xdotool windowfocus --sync "$1"
  xdotool key "$2"
  wait_gone "$1"
}

# Clicks at a point of the main window's client area.
click_at() {
  local x y
  eval "$(xdotool getwindowgeometry --shell "$1")"
  x=$((X + $2)) y=$((Y + $3))
  xdotool mousemove --sync "$x" "$y" click 1
}

shot() { import -window root "$artifacts/$1"; }

# Positions from the window's layout: FileListBox1 at 16,72 in Panel1; FlashButton at 320,16
# in GroupBox2, which is at 16,128.
firstFileX=40 firstFileY=80
buttonX=$((16 + 320 + 28)) buttonY=$((128 + 16 + 12))
escaped() { sed 's/[][\.*^$+?(){}|]/\\&/g' <<<"$1"; }

# --- builder role -------------------------------------------------------------------------
mkdir "$work/builder" "$work/cli"
cp "$gui" "$work/builder/odflash-gui"
cp "$samples/models.ini" "$work/builder/odflash-gui.INI"
cp "$samples/1.10.BIN" "$samples/2.20.BIN" "$work/builder/"
(cd "$work/builder" && exec ./odflash-gui >"$work/gui.log" 2>&1) &
guiPid=$!
window=$(wait_window "^$(escaped " Flash Utility V1.0A for 1.00-1.99 [Buiding]")\$")
sleep 0.3
shot qt-builder.png
click_at "$window" $firstFileX $firstFileY
sleep 0.3
click_at "$window" $buttonX $buttonY
for _ in $(seq 100); do
  [ -f "$work/builder/1.10.EXE" ] && kill -0 "$guiPid" 2>/dev/null && break
  sleep 0.1
done
[ -f "$work/builder/1.10.EXE" ] || fail "the window's Build wrote no 1.10.EXE"
sleep 0.3
shot qt-builder-built.png
kill "$guiPid" && wait "$guiPid" 2>/dev/null || true
guiPid=
[ -x "$work/builder/1.10.EXE" ] || fail "1.10.EXE is not executable"

"$odflash" build --template "$work/builder/odflash-gui" --ini "$work/builder/odflash-gui.INI" --model 0 \
  --firmware "$work/builder/1.10.BIN" --output-dir "$work/cli" >/dev/null
cmp "$work/builder/1.10.EXE" "$work/cli/1.10.EXE" || fail "the window's flasher differs from odflash build's"
echo "ok: the window's flasher equals odflash build's"

# --- flashing role ------------------------------------------------------------------------
log="$work/drive.log"
sed "s#^\[Drive0\]\$#[Drive0]\nLog=$log#" "$driveIni" >"$work/drives.ini"
(cd "$work/builder" && ODFLASH_SIM="$work/drives.ini" exec ./1.10.EXE >"$work/gui.log" 2>&1) &
guiPid=$!
box=$(wait_window '^Warning$')
shot qt-flasher-confirm.png
answer "$box" Return
window=$(wait_window "^$(escaped "ODSIM Flash Utility V1.0A for CDRW 48X24")\$")
sleep 0.3
shot qt-flasher.png
click_at "$window" $buttonX $buttonY
box=$(wait_window '^Confirm$')
answer "$box" Return
# After a whole run the restart is offered.
box=$(wait_window '^Confirm$')
shot qt-flasher-done.png
answer "$box" n
kill -0 "$guiPid" 2>/dev/null || fail "the flasher ended after the run"
kill "$guiPid" && wait "$guiPid" 2>/dev/null || true
guiPid=

writes=$(grep -c '^3B .* out 16384$' "$log" || true)
reads=$(grep -c '^3C .* in 16384$' "$log" || true)
[ "$writes" -eq 32 ] && [ "$reads" -eq 32 ] || fail "expected 32 chunks written and read back, log has $writes and $reads"
[ "$(tail -1 "$log" | cut -c1-2)" = 12 ] || fail "the run did not end with the fresh INQUIRY"
echo "ok: the window flashed the emulated drive"

if "$odflash" flash --help >/dev/null 2>&1; then
  "$odflash" flash --sim "$driveIni" --drive 0 --yes "$work/builder/1.10.EXE" >"$work/flash.out" 2>&1 ||
    { cat "$work/flash.out" >&2; fail "odflash flash refused the window's flasher"; }
  echo "ok: odflash flash updated the emulated drive with the window's flasher"
fi
echo "PASS"
