#!/usr/bin/env bash
# Checks the packages scripts/package.sh made in build/packages/: the files each holds, lintian
# on the .deb, the zip's texts and programs; then unpacks the .deb into a temporary root and
# runs what it installed: odflash --version, a flasher built with the installed template and
# model file, and a whole update of an emulated drive with it.
# ODFLASH_BUILD names the linux build that made the sample firmware (default build/linux).
set -uo pipefail
cd "$(dirname "$0")/.."
src=$PWD
packages="$src/build/packages"
build="${ODFLASH_BUILD:-$src/build/linux}"
version=$(sed -n 's/^project(odflash VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

source tests/lib/e2e.sh
e2e_make_work

deb="$packages/odflash_${version}_amd64.deb"
zip="$packages/odflash-${version}-win32.zip"
for f in "$deb" "$zip"; do
  [ -f "$f" ] || { echo "FAIL: $f is missing (run scripts/package.sh)"; exit 1; }
done

# --- the Debian package
check ".deb files" "./usr/bin/odflash
./usr/bin/odflash-gui
./usr/bin/odflash-gui.INI -> ../share/odflash/models.ini
./usr/share/applications/odflash-gui.desktop
./usr/share/bash-completion/completions/odflash
./usr/share/bash-completion/completions/odflash-gui -> odflash
./usr/share/doc/odflash/README.md.gz
./usr/share/doc/odflash/changelog.gz
./usr/share/doc/odflash/copyright
./usr/share/lintian/overrides/odflash
./usr/share/man/man1/odflash-gui.1.gz
./usr/share/man/man1/odflash.1.gz
./usr/share/odflash/ansible/inventory.ini
./usr/share/odflash/ansible/library/odflash.py
./usr/share/odflash/ansible/library/odflash_facts.py
./usr/share/odflash/ansible/site.yml
./usr/share/odflash/drives.ini
./usr/share/odflash/models.ini" \
  "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }' | sort)"
check ".deb name, version, dependencies" "odflash|$version|Qt widgets|systemd" \
  "$(dpkg-deb -f "$deb" Package)|$(dpkg-deb -f "$deb" Version)|$(dpkg-deb -f "$deb" Depends |
     grep -q libqt6widgets6 && echo Qt widgets)|$(dpkg-deb -f "$deb" Depends | grep -q libsystemd0 && echo systemd)"

# lintian: errors fail, warnings are printed.
lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian.txt" 2>&1
rc=$?
sed 's/^/    lintian: /' "$work/lintian.txt"
check "lintian finds no error" "0" "$rc"

root="$work/root"
dpkg-deb -x "$deb" "$root"
odflash="$root/usr/bin/odflash"

# The man pages carry every command's options, not only the command list.
man_page=$(zcat "$root/usr/share/man/man1/odflash.1.gz")
check "odflash.1" "yes|yes|yes" "$(grep -q '^\.TH ODFLASH "1"' <<<"$man_page" && echo yes)|$(
  grep -q 'allow\\-older' <<<"$man_page" && echo yes)|$(grep -q 'output\\-dir' <<<"$man_page" && echo yes)"
check "odflash-gui.1" "yes" "$(zcat "$root/usr/share/man/man1/odflash-gui.1.gz" | grep -q 'ODFLASH_SIM' && echo yes)"

# The completion offers every option each command's help lists.
completion="$root/usr/share/bash-completion/completions/odflash"
for command in scan models info extract build flash; do
  offered=$(sed -n "s/^ *$command) options=\"\(.*\)\" ;;/\1/p" "$completion")
  listed=$("$odflash" help "$command" | grep -E '^  -' | grep -o -- '--[a-z][a-z-]*' | grep -vx -- '--help' | sort -u)
  missing=$(for option in $listed; do [[ " $offered " == *" $option "* ]] || echo "$option"; done)
  check "completion of $command offers its options" "" "$missing"
done

completes() { # words of a command line: what the installed completion offers for the last one
  bash -c 'source /usr/share/bash-completion/bash_completion; source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    _odflash; echo "${COMPREPLY[*]}"' _ "$completion" "$@"
}
check "completion of commands and options" "flash|--allow-older" \
  "$(completes odflash fl)|$(completes odflash flash --allow-o)"

# --- what the .deb installed, run from the temporary root
cd "$work" || exit 1
check "odflash --version" "yes" "$("$odflash" --version | grep -qE "^odflash $version( \(.+\))?$" && echo yes)"
check "odflash-gui --version" "yes" \
  "$("$root/usr/bin/odflash-gui" --version | grep -qE "^odflash-gui $version( \(.+\))?$" && echo yes)"
check "the window's model file link" "$root/usr/share/odflash/models.ini" "$(readlink -f "$root/usr/bin/odflash-gui.INI")"

# The packaged Ansible modules load and document themselves where they are installed.
if command -v ansible-doc >/dev/null; then
  check "the packaged Ansible modules render" "0" \
    "$(ansible-doc -M "$root/usr/share/odflash/ansible/library" odflash odflash_facts >/dev/null 2>&1; echo $?)"
else
  echo "check-packages: ansible-doc is missing; the packaged Ansible modules were not rendered"
fi

# The programs we ship carry the placeholder routine store: the drives' real routines are not ours
# to ship (a user adds them with a store file when building a flasher).
check "the installed odflash-gui carries the placeholder routines" "Routines:      placeholder" \
  "$("$odflash" info "$root/usr/bin/odflash-gui" | grep '^Routines')"

cp "$build/samples/1.10.BIN" .
# No --template: build takes odflash-gui beside odflash, the installed one.
"$odflash" build --ini "$root/usr/share/odflash/models.ini" --model 0 --firmware 1.10.BIN >build.txt 2>&1
check "build with the installed template" "0" "$?"
cat >drives.ini <<INI
[Drive0]
Vendor=ODSIM
Product=CDRW 48X24
Revision=1.00
FlashId=BFB60000
Medium=1
INI
"$odflash" flash 1.10.EXE --sim drives.ini --yes --json >flash.txt 2>&1
rc=$?
check "flash from the installed programs" "0|flashed|1.00|1.10" "$rc|$(tail -n 1 flash.txt | python3 -c '
import json, sys
r = json.load(sys.stdin)
print(r["outcome"], r["revisionBefore"], r["revisionAfter"], sep="|")')"
[ "$rc" -eq 0 ] || sed 's/^/    /' flash.txt

# --- the Windows zip
top="odflash-${version}-win32"
check "zip files" "$top/LICENSE.txt
$top/README.txt
$top/THIRD-PARTY.txt
$top/odflash-gui.INI
$top/odflash-gui.exe
$top/odflash.exe" "$(python3 -c 'import sys, zipfile; print("\n".join(sorted(n for n in zipfile.ZipFile(sys.argv[1]).namelist() if not n.endswith("/"))))' "$zip")"
mkdir zip && (cd zip && cmake -E tar xf "$zip")
crlf_only() { python3 -c 'import sys; d = open(sys.argv[1], "rb").read(); print(d.count(b"\n") == d.count(b"\r\n") > 0)' "$1"; }
for text in LICENSE.txt README.txt THIRD-PARTY.txt odflash-gui.INI; do
  check "$text has CRLF line ends only" "True" "$(crlf_only "zip/$top/$text")"
done
check "odflash-gui.INI is the sample model file" "" "$(tr -d '\r' <"zip/$top/odflash-gui.INI" | cmp - "$src/data/models.ini")"
for exe in odflash-gui.exe odflash.exe; do
  check "$exe: i686, no debug sections" "pei-i386|0" "$(i686-w64-mingw32-objdump -f "zip/$top/$exe" |
    sed -n 's/.*file format //p')|$(i686-w64-mingw32-objdump -h "zip/$top/$exe" | grep -c '\.debug')"
done
check "manifests" "requireAdministrator|asInvoker" \
  "$(grep -ao 'level="[A-Za-z]*"' "zip/$top/odflash-gui.exe" | cut -d'"' -f2)|$(
    grep -ao 'level="[A-Za-z]*"' "zip/$top/odflash.exe" | cut -d'"' -f2)"
cmake -DPROGRAM="zip/$top/odflash-gui.exe" -P "$src/cmake/CheckPayloadBlock.cmake" >/dev/null
check "the zip's odflash-gui.exe carries one payload block" "0" "$?"
check "the zip's odflash-gui.exe carries the placeholder routines" "Routines:      placeholder" \
  "$("$odflash" info "zip/$top/odflash-gui.exe" | grep '^Routines')"

if [ "$failures" -ne 0 ]; then
  echo "check-packages: $failures check(s) failed"
  exit 1
fi
echo "check-packages: $(basename "$deb") and $(basename "$zip") are complete"
