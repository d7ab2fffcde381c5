#!/usr/bin/env bash
# Size of a flasher, the file users pass around: one built from the i686 release template
# (build/win32, when that build exists; target: at most 1.25 MiB, the 0.5 MiB image region
# and at most 0.75 MiB of program) and one from the Linux template. Figures are printed,
# never asserted.
set -euo pipefail
build="${ODFLASH_BUILD:?ODFLASH_BUILD must name a linux build}"
win32="${ODFLASH_WIN32_BUILD:-$(dirname "$build")/win32}"
odflash="$build/src/cli/odflash"
samples="$build/samples"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
cp "$samples/models.ini" "$samples/1.10.BIN" .

report() { # label template target
  if [ ! -f "$2" ]; then
    echo "flasher from the $1 template: no template at $2"
    return
  fi
  rm -rf out && mkdir out
  "$odflash" build --ini models.ini --model 0 --firmware 1.10.BIN --template "$2" --output-dir out >/dev/null
  awk -v label="$1" -v size="$(wc -c <out/1.10.EXE)" -v target="$3" 'BEGIN {
    mib = 1024 * 1024
    printf "flasher from the %s template: %d bytes = %.2f MiB (program %.2f MiB beside the 0.5 MiB image region)%s\n",
      label, size, size / mib, (size - 524288) / mib, target == "" ? "" : " (target <= " target " MiB)"
  }'
}
report i686 "$win32/src/gui/win32/odflash-gui.exe" 1.25
report Linux "$build/src/gui/qt/odflash-gui" ""
