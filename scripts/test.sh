#!/usr/bin/env bash
# Builds every preset and runs every suite: Linux, sanitizers, Windows under wine64 (the i686
# release build is compiled and linked only), builds and checks the packages, then prints the
# benchmark figures.
# Fails on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/setup.sh

jobs=$(nproc)
for preset in linux linux-asan win64 win32; do
  echo "== configure and build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

# One Wine prefix for the whole run, made afresh so that no earlier state leaks in.
export WINEPREFIX="$root/build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "== preparing the Wine prefix"
  /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w || true
fi
export ODFLASH_ARTIFACTS="$root/artifacts"
mkdir -p "$ODFLASH_ARTIFACTS"

for preset in linux linux-asan win64; do
  echo "== tests: $preset"
  ctest --preset "$preset" -j "$jobs"
done

echo "== packages: build, check, install into a temporary root and flash from there"
scripts/package.sh
scripts/check-packages.sh

if [ -x scripts/bench.sh ]; then
  echo "== benchmarks"
  scripts/bench.sh
fi
echo "== all tests passed"
