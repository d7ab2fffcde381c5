#!/usr/bin/env bash
# Builds every preset and runs every suite through the workflow presets (configure, build,
# test): Linux, sanitizers, Windows under wine64, the i686 build's tests under wine where Wine's
# 32-bit half (wine32:i386) is installed (otherwise that build is compiled and linked only),
# builds and checks the packages, then prints the benchmark figures.
# Fails on the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/setup.sh

jobs=$(nproc)
# The workflows take their parallelism from here.
export CMAKE_BUILD_PARALLEL_LEVEL=$jobs CTEST_PARALLEL_LEVEL=$jobs
# The i686 programs run only under Wine's 32-bit half; without it the win32 preset is built alone.
win32_runs=
if dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed' && [ -x /usr/lib/wine/wine ]; then
  win32_runs=1
else
  echo "== win32: the i686 programs will not be run: the package wine32:i386 is not installed"
fi
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

# The linux preset's kernel test runs the win64 build's odflash.exe too: that build comes first.
echo "== configure and build: win64"
cmake --preset win64 >/dev/null
cmake --build --preset win64
for preset in linux linux-asan win64; do
  echo "== configure, build and tests: $preset"
  cmake --workflow --preset "$preset"
done
echo "== configure and build: win32"
cmake --workflow --preset win32
if [ -n "$win32_runs" ]; then
  # A prefix of its own, made after wine32 was installed, so that it holds the 32-bit half.
  if [ ! -f "$root/build/wineprefix32/system.reg" ]; then
    echo "== preparing the Wine prefix for the i686 programs"
    WINEPREFIX="$root/build/wineprefix32" wine wineboot -i >/dev/null 2>&1 || true
    WINEPREFIX="$root/build/wineprefix32" /usr/lib/wine/wineserver -w || true
  fi
  echo "== configure, build and tests: win32-tests (the i686 programs under wine)"
  cmake --workflow --preset win32-tests
fi

echo "== packages: build, check, install into a temporary root and flash from there"
scripts/package.sh
ctest --preset package

if [ -x scripts/bench.sh ]; then
  echo "== benchmarks"
  scripts/bench.sh
fi
if [ -n "$win32_runs" ]; then
  echo "== all tests passed, the i686 programs included"
else
  echo "== all tests passed; the i686 programs were NOT run (wine32:i386 is not installed)"
fi
