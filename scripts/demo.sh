#!/usr/bin/env bash
# The main job on the embedded default: builds a flasher from the sample model file and a
# sample firmware image, shows its payload with "odflash info" and checks that the extracted
# image is the firmware file. Builds the linux preset's programs first when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${ODFLASH_BUILD:-$PWD/build/linux}"

if [ ! -x "$build/src/cli/odflash" ] || [ ! -f "$build/samples/1.10.BIN" ]; then
  cmake --preset linux -B "$build" >/dev/null
  cmake --build "$build" -j "$(nproc)" --target odflash odflash-payload-probe odflash_sample_files
fi
odflash="$build/src/cli/odflash"
# The window is the template a flasher is made from; the probe stands in while it is absent.
template="$build/src/gui/qt/odflash-gui"
[ -x "$template" ] || template="$build/src/builder/odflash-payload-probe"

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
