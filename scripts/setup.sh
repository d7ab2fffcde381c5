#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test odflash on every preset.
# Idempotent: when every package is present it only checks and returns. Recommended packages
# come along (Wine relies on some of them), as on the machines the tests were made on.
#   scripts/setup.sh            everything: every preset and every test
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

case "${1:-}" in
  --linux) packages=("${linux_packages[@]}") ;;
  --package) packages=("${linux_packages[@]}" "${package_packages[@]}") ;;
  "") ;;
  *) echo "usage: scripts/setup.sh [--linux | --package]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#packages[@]} packages present"
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"
