#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test odflash on every preset.
# Idempotent: when every package is present it only checks and returns. Recommended packages
# come along (Wine relies on some of them), as on the machines the tests were made on, except for
# the packages of lean_packages.
#   scripts/setup.sh            everything: every preset and every test, and Wine's 32-bit half
#                               (wine32:i386) when the package registry can resolve it
#   scripts/setup.sh --linux    only what the linux preset's programs need (scripts/demo.sh)
#   scripts/setup.sh --package  what the packages need (scripts/package.sh, its check)
set -euo pipefail

linux_packages=(
  # Linux build and tests
  build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libcli11-dev nlohmann-json3-dev
  # the update guard's logind inhibitor lock (sd-bus)
  libsystemd-dev
  # Linux window
  qt6-base-dev fonts-dejavu-core
)
package_packages=(
  # man pages from --help, the .deb's check (lintian, completion); the zip's programs (MinGW-w64)
  help2man lintian g++-mingw-w64-i686 bash-completion
)
packages=(
  "${linux_packages[@]}"
  # peak memory figure of the build benchmark (/usr/bin/time)
  time
  # Windows builds (MinGW-w64) and their tests under Wine, driven under Xvfb
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 xvfb xdotool imagemagick x11-utils
  # the window's Big5 font under Wine needs a font that covers that character set
  fonts-arphic-uming
  # A real kernel for the SG_IO transport test
  qemu-system-x86 linux-image-amd64 busybox-static cpio
  # libFuzzer harnesses (scripts/fuzz.sh, fuzz preset)
  clang libclang-rt-14-dev
  "${package_packages[@]}"
)
# Installed without their recommended packages: the Ansible modules' test needs only
# ansible-playbook and ansible-doc, not the collections and tools ansible-core recommends.
lean_packages=(ansible-core)

case "${1:-}" in
  --linux) packages=("${linux_packages[@]}") lean_packages=() ;;
  --package) packages=("${linux_packages[@]}" "${package_packages[@]}") lean_packages=() ;;
  "") ;;
  *) echo "usage: scripts/setup.sh [--linux | --package]" >&2; exit 2 ;;
esac

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
missing=() missing_lean=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
for p in "${lean_packages[@]}"; do installed "$p" || missing_lean+=("$p"); done

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive

if [ ${#missing[@]} -eq 0 ] && [ ${#missing_lean[@]} -eq 0 ]; then
  echo "setup: all $((${#packages[@]} + ${#lean_packages[@]})) packages present"
else
  echo "setup: installing ${missing[*]} ${missing_lean[*]}"
  "${sudo_cmd[@]}" apt-get update -q
  [ ${#missing[@]} -eq 0 ] || "${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"
  [ ${#missing_lean[@]} -eq 0 ] || "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing_lean[@]}"
fi

# Wine's 32-bit half runs the i686 programs we ship. It comes from the i386 architecture, which
# apt can resolve only while the registry's i386 and amd64 indexes agree: try, never fail setup
# over it, and take the architecture away again when the package cannot be installed so that
# apt stays as it was. A failed try is remembered for a day, so that runs in between do not pay
# for two index updates.
wine32_installed() { installed wine32:i386; }
if [ -z "${1:-}" ] && ! wine32_installed; then
  stamp=${XDG_CACHE_HOME:-$HOME/.cache}/odflash/wine32-unavailable
  if [ -n "$(find "$stamp" -mmin -1440 2>/dev/null)" ]; then
    echo "setup: wine32:i386 could not be installed at $(date -r "$stamp" '+%F %R'); not tried again until a day later"
  else
    echo "setup: trying wine32:i386 (the i386 architecture)"
    added=
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      "${sudo_cmd[@]}" dpkg --add-architecture i386 && added=1 || true
    fi
    "${sudo_cmd[@]}" apt-get update -q >/dev/null 2>&1 || true
    if apt-get install -s -q wine32:i386 >/dev/null 2>&1 &&
      "${sudo_cmd[@]}" apt-get install -y -q wine32:i386 >/dev/null 2>&1 && wine32_installed; then
      echo "setup: wine32:i386 installed"
      rm -f "$stamp"
    else
      echo "setup: wine32:i386 cannot be installed now (the registry's i386 index does not resolve); the i686 programs will not be run"
      if [ -n "$added" ]; then
        "${sudo_cmd[@]}" dpkg --remove-architecture i386 || true
        "${sudo_cmd[@]}" apt-get update -q >/dev/null 2>&1 || true
      fi
      mkdir -p "$(dirname "$stamp")" && touch "$stamp" || true
    fi
  fi
fi
