#!/usr/bin/env bash
# The real odflash.exe on its ASPI path under wine64: Wine reports Windows 98 to this program
# (per-program version setting), and the stand-in WNASPI32.DLL beside it serves emulated drives.
# Usage: wine_aspi_scan.sh ODFLASH_EXE WNASPI32_DLL WORKDIR
set -euo pipefail

exe=$1
dll=$2
work=$3
wine=${ODFLASH_WINE:-/usr/lib/wine/wine64} # wine for the i686 build

rm -rf "$work"
mkdir -p "$work"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="wnaspi32=n;mscoree,mshtml="
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX=$work/prefix
  "$wine" wineboot -i >/dev/null 2>&1
fi
# A program name of its own, so that the Windows 98 setting touches nothing else in the prefix.
cp "$exe" "$work/odflash-aspi.exe"
cp "$dll" "$work/WNASPI32.DLL"
"$wine" reg add 'HKCU\Software\Wine\AppDefaults\odflash-aspi.exe' /v Version /d win98 /f >/dev/null 2>&1

cat > "$work/drives.ini" <<INI
[Drive0]
Vendor=ODSIM
Product=CDRW 48X24
Revision=1.00
Log=$work/drive0.log
[Drive1]
Vendor=ODSIM
Product=DVD-ROM 16X
Revision=2.10
[Drive2]
Vendor=OTHERCO
Product=CD-ROM 52X
Revision=9.99
INI

fail() { echo "wine_aspi_scan: $1" >&2; exit 1; }
output=$(cd "$work" && ODFLASH_SIM=$work/drives.ini "$wine" ./odflash-aspi.exe scan | tr -d '\r')
echo "$output"
expected="aspi:0-0     0-0-0  : ODSIM   CDRW 48X24      1.00
aspi:0-1     0-1-0  : ODSIM   DVD-ROM 16X     2.10
aspi:1-0     1-0-0  : OTHERCO CD-ROM 52X      9.99"
[ "$output" = "$expected" ] || fail "unexpected scan output"
json=$(cd "$work" && ODFLASH_SIM=$work/drives.ini "$wine" ./odflash-aspi.exe scan --json | tr -d '\r\n ')
grep -qF '"transport":"aspi"' <<<"$json" || fail "not on the ASPI path"
# The drive saw exactly the INQUIRY of each probe, through the real request block.
[ "$(tr -d '\r' < "$work/drive0.log")" = "12 00 00 00 80 00 00 00 00 00 00 00 in 128
12 00 00 00 80 00 00 00 00 00 00 00 in 128" ] || fail "unexpected command log: $(cat "$work/drive0.log")"
echo "wine_aspi_scan: ok"
