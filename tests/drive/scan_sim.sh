#!/usr/bin/env bash
# odflash scan over the sample emulated drives: the listing, the JSON form and a bad file.
# Usage: scan_sim.sh ODFLASH SOURCE_DIR
set -euo pipefail
odflash=$1
ini=$2/data/sim/drives.ini
fail() { echo "scan_sim: $1" >&2; exit 1; }

output=$("$odflash" scan --sim "$ini" | tr -d '\r')
[ "$output" = "sim:Drive0   0-0-0  : ODSIM   CDRW 48X24      1.00
sim:Drive1   0-1-0  : ODSIM   DVD-ROM 16X     2.10
sim:Drive2   1-0-0  : OTHERCO CD-ROM 52X      9.99" ] || fail "unexpected listing: $output"

json=$("$odflash" scan --sim "$ini" --json | tr -d '\r\n ')
grep -qF '{"busy":[],"drives":[' <<<"$json" && grep -qF '"schemaVersion":1,"transport":"emulated"' <<<"$json" ||
  fail "JSON lacks the schema version or the transport: $json"
grep -qF '{"adapter":0,"device":"sim:Drive1","identity":"0-1-0:ODSIMDVD-ROM16X2.10","letter":"","lun":0,"revision":"2.10","target":1,"vendorProduct":"ODSIMDVD-ROM16X"}' <<<"$json" ||
  fail "JSON lacks Drive1: $json"

set +e
error=$("$odflash" scan --sim "$ini.missing" 2>&1 >/dev/null | tr -d '\r')
code=$?
set -e
[ "$code" -eq 1 ] || fail "missing file gave exit code $code"
[ "$error" = "odflash: cannot open $ini.missing: No such file or directory" ] || fail "unexpected error: $error"
echo "scan_sim: ok"
