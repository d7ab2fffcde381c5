#!/usr/bin/env bash
# The builder role end to end: odflash-gui.exe with its model file and firmware files in its
# working directory; choose a model, click a file, Build. The flasher written must be
# byte-identical to what "odflash build" writes from the same template, and carry the routine
# store file beside the builder (odflash-gui.ROUTINES, generated filler bytes here). Without its
# model file the builder reports it and ends.
# Usage: builder_role.sh SOURCE_DIR ODFLASH_GUI_EXE ODFLASH_EXE SAMPLE_GENERATOR_EXE
set -euo pipefail
source "$(dirname "$0")/lib.sh"
e2e_setup "$1"
gui=$2
cli=$3
generator=$4

cp "$gui" "$WORK/odflash-gui.exe"
cp "$1/data/models.ini" "$WORK/odflash-gui.INI"
e2e_image "$WORK/K4P5.BIN" 524288 K4P5
e2e_image "$WORK/K4P6.BIN" 262144 K4P6
e2e_image "$WORK/1.10.BIN" 65536 1.10
mkdir "$WORK/samples"
(cd "$WORK/samples" && "$WINE" "$generator" .) >/dev/null 2>&1 || e2e_fail "the sample generator failed"
cp "$WORK/samples/filler.ROUTINES" "$WORK/odflash-gui.ROUTINES"
rm -r "$WORK/samples"

e2e_start odflash-gui.exe
window=$(e2e_window " Flash Utility V1.0A for 1.00-1.99 [Buiding]")
# The third model (MODEL02) lists K4*.BIN; the caption follows the model, one step at a time.
target=" Flash Utility V1.0A for K4P1-K4PZ [Buiding]"
for _ in $(seq 10); do
  case "$(e2e_title "$window")" in
    "$target") break ;;
    *"1.00-1.99"* | *"2.00-2.99"*) e2e_keys "$window" Down ;;
    *) e2e_keys "$window" Up ;;
  esac
  sleep 0.5
done
[ "$(e2e_title "$window")" = "$target" ] || e2e_fail "the third model could not be chosen"
# Into the file list, the first file, on to Build and press it.
e2e_keys "$window" Tab Down Tab space
for _ in $(seq 100); do
  [ -f "$WORK/K4P5.EXE" ] && break
  sleep 0.2
done
[ -f "$WORK/K4P5.EXE" ] || e2e_fail "K4P5.EXE was not written"
e2e_shot builder-window

mkdir "$WORK/cli"
(cd "$WORK" && "$WINE" "$cli" build --ini odflash-gui.INI --model 2 \
  --firmware K4P5.BIN --template odflash-gui.exe --output-dir cli) >/dev/null 2>&1 ||
  e2e_fail "odflash build failed"
cmp "$WORK/K4P5.EXE" "$WORK/cli/K4P5.EXE" || e2e_fail "the window's flasher differs from odflash build's"
[ "$(stat -c %s "$WORK/K4P5.EXE")" = "$(stat -c %s "$WORK/odflash-gui.exe")" ] ||
  e2e_fail "the flasher's length differs from the builder's"
info=$(cd "$WORK" && "$WINE" "$cli" info --json K4P5.EXE 2>/dev/null | tr -d '\r')
grep -qx '  "routines": "real",' <<<"$info" || e2e_fail "the flasher does not carry real routines: $info"
grep -qx "  \"routinesSha256\": \"$(sha256sum "$WORK/odflash-gui.ROUTINES" | cut -d' ' -f1)\"," <<<"$info" ||
  e2e_fail "the flasher's routine store is not odflash-gui.ROUTINES: $info"

e2e_keys "$window" alt+F4
e2e_expect_exit 0

# Without its model file the builder says so in a box titled with the application title, and
# ends with exit code 0 without showing its window.
rm "$WORK/odflash-gui.INI"
e2e_start odflash-gui.exe
box=$(e2e_window "VORMAL Windows Flash utility")
if xdotool search --onlyvisible --name 'Flash Utility V1.0A' >/dev/null 2>&1; then
  e2e_fail "the window showed although start-up had ended"
fi
e2e_answer "$box" Return
e2e_expect_exit 0
# Wine shows the program's folder at drive Z: and traces a backslash doubled.
e2e_expect_box "Can't load Z:$(printf '%s' "$WORK" | sed 's|/|\\\\|g')\\\\odflash-gui.INI"
echo "builder role: K4P5.EXE identical to odflash build's output and carrying odflash-gui.ROUTINES; a missing model file reported"
