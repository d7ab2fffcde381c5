#!/usr/bin/env bash
# The main job on the embedded default: builds a flasher from the sample model file and a
# sample firmware image, shows its payload with "odflash info" and checks that the extracted
# image is the firmware file. Builds the linux preset's programs first when they are missing
# (installing what that build needs).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${ODFLASH_BUILD:-$PWD/build/linux}"

if [ ! -x "$build/src/cli/odflash" ] || [ ! -f "$build/samples/1.10.BIN" ]; then
  scripts/setup.sh --linux # what the linux preset needs, on a fresh machine
  cmake --preset linux -B "$build" >/dev/null
  cmake --build "$build" -j "$(nproc)" --target odflash odflash-payload-probe odflash_sample_files
fi
odflash="$build/src/cli/odflash"
# The window is the template a flasher is made from; the probe stands in while it is absent.
template="$build/src/gui/qt/odflash-gui"
[ -x "$template" ] || template="$build/src/payload/odflash-payload-probe"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$build/samples/models.ini" "$build/samples/1.10.BIN" "$work/"
cd "$work"

echo "== odflash models models.ini"
"$odflash" models models.ini
echo
echo "== odflash build --ini models.ini --model 0 --firmware 1.10.BIN --template $(basename "$template")"
"$odflash" build --ini models.ini --model 0 --firmware 1.10.BIN --template "$template"
echo
echo "== odflash info 1.10.EXE"
"$odflash" info 1.10.EXE
echo
echo "== odflash extract 1.10.EXE -o extracted.bin"
"$odflash" extract 1.10.EXE -o extracted.bin
cmp extracted.bin 1.10.BIN && echo "extracted image equals 1.10.BIN"

# Flashing: the flasher updates an emulated drive of the model it was built for, through the
# real drive layer. The drive's command log shows what was sent.
cat >drives.ini <<INI
[Drive0]
Vendor=ODSIM
Product=CDRW 48X24
Revision=1.00
FlashId=BFB60000
BecomingReadyPolls=3
Medium=1
Log=$work/drive0.log
INI
echo
echo "== odflash scan --sim drives.ini"
"$odflash" scan --sim drives.ini
echo
echo "== odflash flash 1.10.EXE --sim drives.ini --yes --dry-run"
"$odflash" flash 1.10.EXE --sim drives.ini --yes --dry-run
echo
: >drive0.log
echo "== odflash flash 1.10.EXE --sim drives.ini --yes"
"$odflash" flash 1.10.EXE --sim drives.ini --yes
echo
echo "== what the drive received during the update, from its command log"
awk '{
  if ($1 == "12") name = "INQUIRY"
  else if ($1 == "1B") name = ($5 == "03" ? "START STOP UNIT (load)" : "START STOP UNIT (stop)")
  else if ($1 == "00") name = "TEST UNIT READY"
  else if ($1 == "4E") name = "STOP PLAY/SCAN"
  else if ($1 == "DF" && $2 == "11") name = "Read Flash ID"
  else if ($1 == "3B" && $10 == "7F") name = ($NF == "0" ? "Entry critical" : "Write Profile")
  else if ($1 == "3B" && $10 == "00") name = "Write Buffer (16384-byte chunk)"
  else if ($1 == "3B") name = "Flash"
  else if ($1 == "3C" && $4 == "08") name = "Read Profile"
  else if ($1 == "3C") name = "Read Buffer (16384-byte chunk)"
  else name = $1
  if (name != last) { if (last != "") printf "  %-32s x%d\n", last, count; last = name; count = 0 }
  count++
} END { printf "  %-32s x%d\n", last, count }' drive0.log

# --- The window, only when asked: scripts/demo.sh --window ---------------------------------
# Opens the Linux window twice: as the builder over the sample model file and firmware (pick
# 1.10.BIN, press Build, close the window), then as the flasher it wrote, on an emulated drive
# (ODFLASH_SIM). Without the option nothing graphical opens.
if [ "${1:-}" = "--window" ]; then
  if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "demo: --window needs a display (DISPLAY or WAYLAND_DISPLAY)" >&2
    exit 1
  fi
  gui="$build/src/gui/qt/odflash-gui"
  [ -x "$gui" ] || cmake --build "$build" -j "$(nproc)" --target odflash-gui
  mkdir -p window
  cp "$gui" window/odflash-gui
  cp "$build/samples/models.ini" window/odflash-gui.INI
  cp "$build/samples/1.10.BIN" window/
  cat >window/drives.ini <<INI
[Drive0]
Vendor=ODSIM
Product=CDRW 48X24
Revision=1.00
FlashId=BFD60000
BecomingReadyPolls=3
INI
  echo
  echo "== the builder window (odflash-gui beside odflash-gui.INI): pick 1.10.BIN, Build, close"
  (cd window && ./odflash-gui) || true
  # A flasher from the command line when the window built none.
  [ -x window/1.10.EXE ] ||
    "$odflash" build --ini window/odflash-gui.INI --model 0 --firmware window/1.10.BIN \
      --template window/odflash-gui --output-dir window >/dev/null
  echo
  echo "== the flasher's window on the emulated drive: ODFLASH_SIM=drives.ini ./1.10.EXE"
  (cd window && ODFLASH_SIM=drives.ini ./1.10.EXE) || true
fi
