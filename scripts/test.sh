#!/usr/bin/env bash
# Builds every preset and runs every suite: Linux, sanitizers, Windows under wine64, the i686
# build's tests under wine where Wine's 32-bit half (wine32:i386) is installed (otherwise that
# build is compiled and linked only), builds and checks the packages, then prints the benchmark
# figures.
# Fails on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/setup.sh

jobs=$(nproc)
# The i686 programs run only under Wine's 32-bit half; without it the win32 preset is built alone.
win32_runs=
if dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed' && [ -x /usr/lib/wine/wine ]; then
  win32_runs=1
else
  echo "== win32: the i686 programs will not be run: the package wine32:i386 is not installed"
fi
for preset in linux linux-asan win64 win32 ${win32_runs:+win32-tests}; do
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
if [ -n "$win32_runs" ]; then
  # A prefix of its own, made after wine32 was installed, so that it holds the 32-bit half.
  if [ ! -f "$root/build/wineprefix32/system.reg" ]; then
    echo "== preparing the Wine prefix for the i686 programs"
    WINEPREFIX="$root/build/wineprefix32" wine wineboot -i >/dev/null 2>&1 || true
    WINEPREFIX="$root/build/wineprefix32" /usr/lib/wine/wineserver -w || true
  fi
  echo "== tests: win32-tests (the i686 programs under wine)"
  ctest --preset win32-tests -j "$jobs"
fi

echo "== packages: build, check, install into a temporary root and flash from there"
scripts/package.sh
scripts/check-packages.sh

if [ -x scripts/bench.sh ]; then
  echo "== benchmarks"
  scripts/bench.sh
fi
if [ -n "$win32_runs" ]; then
  echo "== all tests passed, the i686 programs included"
else
  echo "== all tests passed; the i686 programs were NOT run (wine32:i386 is not installed)"
fi
