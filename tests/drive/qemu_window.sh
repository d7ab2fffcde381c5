#!/usr/bin/env bash
# The window flasher through Wine's pass-through to the kernel's drive: run by qemu_flash.sh
# inside the guest's chroot over the host root, with DISPLAY naming the guest's Xvfb and the Wine
# session of the other Windows cases (NT path, drive D: on /dev/sr0). One whole update as a user
# makes it: the warning box, FLASH, Yes, the drive's log shows the Flash command and the fresh
# INQUIRY, the restart question answered No, the window closed; the program must end with code 0.
# Usage: qemu_window.sh FLASHER DRIVE_LOG TITLE FROM TO
set -euo pipefail
source "$(dirname "$0")/../gui/lib.sh"
flasher=$1 log=$2 title=$3 from=$4 to=$5

WORK=/tmp/wwindow ARTIFACTS=/tmp/wwindow
mkdir -p "$WORK"
APP_PID=
trap '[ -z "$APP_PID" ] || kill "$APP_PID" 2>/dev/null || true' EXIT
# The flasher runs from a folder of its own that it may write to: the shared root is read-only.
cp "$flasher" "$WORK/"
e2e_start "$(basename "$flasher")"
box=$(e2e_window "Warning")
e2e_answer "$box" Return
window=$(e2e_window "$title")
# Tab from the drive box to FLASH (the file list is hidden), press it, answer Yes.
e2e_keys "$window" Tab space
box=$(e2e_window "Confirm")
e2e_answer "$box" Return
# The update has ended once the drive has answered the INQUIRY that follows the Flash command.
updated=
for _ in $(seq 1800); do
  if awk '{ sub(/\r$/, "") }
          /^3B 05 01 00 00 00 00 00 00 (80|A0) 00 00 in 16$/ { flashed = 1; next }
          flashed && /^12 / { found = 1 }
          END { exit !found }' "$log" 2>/dev/null; then
    updated=1
    break
  fi
  kill -0 "$APP_PID" 2>/dev/null || e2e_fail "the window flasher ended during the update: $(cat "$WORK/program.out")"
  sleep 0.1
done
[ -n "$updated" ] || e2e_fail "no Flash command and fresh INQUIRY in the drive's log within 180 s"
box=$(e2e_window "Confirm")
e2e_answer "$box" n
e2e_keys "$window" alt+F4
e2e_expect_exit 0
e2e_expect_box "\\nUpdate Firmware $from to $to ?\\n"
e2e_expect_box 'The system needs to be restarted for the changes to take effect ?'
echo "window flasher: updated $from to $to, restart declined, window closed"
