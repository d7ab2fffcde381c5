#!/usr/bin/env bash
# flash --all figures on emulated drives with a modelled ATAPI bus (16.6 MB/s, 0.2 ms a command)
# and a 2 s chip programming time: eight drives on eight adapters against one drive updated
# alone in the same run (target at most 1.2), and four drives as two pairs sharing a channel
# against the model's least time for that layout (target at most 1.2). Printed, never asserted.
set -euo pipefail
build=${ODFLASH_BUILD:?}
odflash=$build/src/cli/odflash
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$odflash" build --ini "$build/samples/models.ini" --model 0 --firmware "$build/samples/1.10.BIN" \
  --template "$build/src/payload/odflash-payload-probe" --output-dir "$work" >/dev/null

rate=16600000 latency=200 commit=2000
# drives NAME COUNT PLACEMENT: PLACEMENT "own" puts drive i alone on adapter i, "pairs" two a channel.
drives() {
  local name=$1 count=$2 placement=$3
  for ((i = 0; i < count; i++)); do
    printf '%s\n' "[Drive$i]" "Vendor=ODSIM" "Product=CDRW 48X24" "Revision=1.00" "FlashId=BFB60000" "Medium=1" \
      "LatencyMicroseconds=$latency" "BusBytesPerSecond=$rate" "CommitMilliseconds=$commit" "Log=$work/$name.$i.log"
    if [ "$placement" = own ]; then printf "%s\n" "Adapter=$i" "Target=0"; fi
  done >"$work/$name.ini"
}
# seconds COMMAND...: the wall time of a run that must succeed.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 </dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
# The bus time the model charges for a drive's own update (from its START STOP UNIT on), in s.
bus_seconds() {
  awk -v rate="$rate" -v latency="$latency" '/^1B / { on = 1 } on { us += latency + int($NF * 1000000 / rate) }
    END { printf "%.6f\n", us / 1e6 }' "$1"
}

drives one 1 own
drives eight 8 own
one=$(seconds "$odflash" flash "$work/1.10.EXE" --sim "$work/one.ini" --yes)
eight=$(seconds "$odflash" flash "$work/1.10.EXE" --all --sim "$work/eight.ini" --yes)
awk -v all="$eight" -v one="$one" 'BEGIN { printf "flash --all, 8 drives on 8 adapters: %.2f s, one drive alone %.2f s: ratio %.3f (target at most 1.2)\n", all, one, all / one }'

drives pairs 4 pairs
pairs=$(seconds "$odflash" flash "$work/1.10.EXE" --all --sim "$work/pairs.ini" --yes)
# A channel carries its drives' bus time one after another; the last drive's commit follows.
least=$(for adapter in 0 1; do
  echo "$(bus_seconds "$work/pairs.$((adapter * 2)).log") + $(bus_seconds "$work/pairs.$((adapter * 2 + 1)).log") + $commit / 1000" | bc -l
done | sort -g | tail -1)
awk -v all="$pairs" -v least="$least" 'BEGIN { printf "flash --all, 4 drives as 2 pairs sharing a channel: %.2f s, the model'"'"'s least time %.2f s: ratio %.3f (target at most 1.2)\n", all, least, all / least }'
