#!/usr/bin/env bash
# The flashing role on the NT path: Wine has no optical drive, so after the confirmation the
# start-up ends with the error box that reports no drive, and the program exits with code 0.
# Usage: flashing_nt.sh SOURCE_DIR ODFLASH_GUI_EXE ODFLASH_EXE
set -euo pipefail
source "$(dirname "$0")/lib.sh"
e2e_setup "$1"
gui=$2
cli=$3

cp "$gui" "$WORK/odflash-gui.exe"
cp "$1/data/models.ini" "$WORK/models.ini"
e2e_image "$WORK/K4P8.BIN" 65536 K4P8
(cd "$WORK" && "$WINE" "$cli" build --ini models.ini --model 2 --firmware K4P8.BIN --template odflash-gui.exe) \
  >/dev/null 2>&1 || e2e_fail "odflash build failed"
# The NT path whatever the prefix's own setting.
"$WINE" reg add 'HKCU\Software\Wine\AppDefaults\K4P8.EXE' /v Version /d win7 /f >/dev/null 2>&1 ||
  e2e_fail "cannot set the Windows version for K4P8.EXE"

e2e_start K4P8.EXE
box=$(e2e_window "Warning")
e2e_shot message-box
e2e_answer "$box" Return
box=$(e2e_window "Error")
e2e_shot flashing-nt-error
e2e_answer "$box" Return
e2e_expect_exit 0
"$WINE" reg delete 'HKCU\Software\Wine\AppDefaults\K4P8.EXE' /f >/dev/null 2>&1 || true
e2e_expect_box '\nWARNING:\n\nThis flash utility only supports HBQ MX77004150Q drive with firmware:K4P1-K4PZ\nWe recommend you close all applications in order to run this update! \nDon'"'"'t turn off the system while the flash is in progress!\n\nDo you wish to continue?\n'
e2e_expect_box '\nERROR:\n\nCan'"'"'t found MX77004150Q firmware: K4P1-K4PZ drive !\n\nThis flash utility only supports MX77004150Q firmware: K4P1-K4PZ\n\nCan'"'"'t find ATAPI Drive !\n'
echo "flashing role, NT path: no drive reported, exit code 0"
