#!/usr/bin/env bash
# Prints the benchmark figures: runs every scripts/bench.d/*.sh in name order against the
# linux preset's build (which scripts/test.sh has made). Figures are printed, never asserted.
set -euo pipefail
cd "$(dirname "$0")/.."
export ODFLASH_BUILD="${ODFLASH_BUILD:-$PWD/build/linux}"
for bench in scripts/bench.d/*.sh; do
  [ -e "$bench" ] || continue
  echo "-- $(basename "$bench" .sh)"
  bash "$bench"
done
