#!/usr/bin/env bash
# Drive layer figure: the CPU time of one emulated command round trip through CDDrive::Execute,
# 16 KiB per command, with no modelled bus time (target under 2 microseconds). Printed, never
# asserted.
set -euo pipefail
build=${ODFLASH_BUILD:?}
bench=$build/tests/drive/drive_benchmark
if [ ! -x "$bench" ]; then
  echo "drive_benchmark not built (Google Benchmark missing?)"
  exit 0
fi
"$bench" --benchmark_min_time=0.5 --benchmark_format=csv 2>/dev/null |
  awk -F, '/^"(Write|Read)Buffer16K"/ {
    gsub(/"/, "", $1)
    printf "%s: %.2f microseconds of CPU per 16 KiB emulated command through Execute (target under 2)\n", $1, $4 / 1000
  }'
