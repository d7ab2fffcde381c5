#!/usr/bin/env bash
# Builds the packages into build/packages/: the Debian package from the linux preset and the
# Windows zip from the win32 preset (the i686 release build). Installs what the builds need
# on a fresh machine. scripts/check-packages.sh checks what it made.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out="$root/build/packages"

scripts/setup.sh --package
rm -rf "$out"
mkdir -p "$out"
jobs=$(nproc)
for preset in linux win32; do
  echo "== package: $preset"
  cmake --preset "$preset" >/dev/null
  # Only what the package holds (installing does not build everything first).
  cmake --build --preset "$preset" -j "$jobs" --target odflash odflash-gui odflash_package_files
  (cd "build/$preset" && cpack -B "$out" >/dev/null)
done
rm -rf "$out/_CPack_Packages"
ls -l "$out"
