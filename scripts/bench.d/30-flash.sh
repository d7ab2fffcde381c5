#!/usr/bin/env bash
# Flash figures: the CPU time of a whole 524288-byte flash against the emulated drive (target
# under 5 ms), the wall time on a modelled ATAPI bus as a ratio to the model's least time
# (target at most 1.05), and the peak resident memory of a whole "odflash flash --sim" run
# (target under 12 MiB). Printed, never asserted.
set -euo pipefail
build=${ODFLASH_BUILD:?}
bench=$build/tests/flash/flash_benchmark
if [ -x "$bench" ]; then
  "$bench" --benchmark_min_time=0.5 2>/dev/null | grep -E '^(Benchmark|BM_|-)'
else
  echo "flash_benchmark not built (Google Benchmark missing?)"
fi

odflash=$build/src/cli/odflash
template=$build/src/payload/odflash-payload-probe
samples=$build/samples
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$odflash" build --ini "$samples/models.ini" --model 0 --firmware "$samples/1.10.BIN" \
  --template "$template" --output-dir "$work" >/dev/null
printf '[Drive0]\nVendor=ODSIM\nProduct=CDRW 48X24\nRevision=1.00\nFlashId=BFB60000\nMedium=1\n' >"$work/drives.ini"
peak_kib=$(/usr/bin/time -f '%M' "$odflash" flash "$work/1.10.EXE" --sim "$work/drives.ini" --yes 2>&1 >/dev/null | tail -1)
awk -v kib="$peak_kib" 'BEGIN { printf "odflash flash --sim, whole 524288-byte update: peak resident memory %.1f MiB (target under 12 MiB)\n", kib / 1024 }'
