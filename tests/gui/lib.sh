# Helpers for the window's end-to-end tests: odflash-gui.exe under wine64 on a private Xvfb
# display, driven with xdotool. Sourced by the test scripts; each calls e2e_setup first.
#
# Environment: ODFLASH_WINE (default: wine64), WINEPREFIX (default: build/wineprefix of the source tree), ODFLASH_ARTIFACTS
# (default: artifacts/ of the source tree) for the screenshots.

source "$(dirname "${BASH_SOURCE[0]}")/../lib/e2e.sh"

WINE=${ODFLASH_WINE:-/usr/lib/wine/wine64} # wine for the i686 build
WINESERVER=/usr/lib/wine/wineserver
export WINEDEBUG=${WINEDEBUG:--all}

# A Wine session keeps the display it started with: a program joining a session that a
# console test began without a display (or an earlier test on its own Xvfb) shows no window.
# Every test therefore starts and ends with no session running in the prefix.
e2e_end_wine_session() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
  "$WINESERVER" -w >/dev/null 2>&1 || true
}

e2e_fail() {
  echo "FAIL: $*" >&2
  # What the program under test said, and whether it is still running, for a failure that
  # does not happen again.
  if [ -n "${WORK:-}" ] && [ -s "$WORK/program.out" ]; then
    echo "program output (last lines):" >&2
    tail -n 20 "$WORK/program.out" >&2
  fi
  if [ -n "${APP_PID:-}" ]; then
    if kill -0 "$APP_PID" 2>/dev/null; then echo "the program is still running" >&2; else echo "the program has ended" >&2; fi
  fi
  e2e_shot "failure-$(basename "$0" .sh)" || true
  exit 1
}

# e2e_setup SOURCE_DIR: a work directory, a display and a Wine prefix; everything is cleaned up
# when the script ends.
e2e_setup() {
  local source=$1
  export WINEPREFIX=${WINEPREFIX:-$source/build/wineprefix}
  ARTIFACTS=${ODFLASH_ARTIFACTS:-$source/artifacts}
  mkdir -p "$ARTIFACTS"
  WORK=$(mktemp -d)
  APP_PID=
  XVFB_PID=
  trap e2e_cleanup EXIT
  e2e_end_wine_session
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$WINE" wineboot -i >/dev/null 2>&1 || true
  fi
  e2e_start_display
}

# e2e_start_display: a private Xvfb display (Xvfb picks a free number and writes it to a file
# of $WORK) in DISPLAY; its process in XVFB_PID.
e2e_start_display() {
  local displayFile=$WORK/display
  Xvfb -displayfd 9 -screen 0 800x600x24 -nolisten tcp 9>"$displayFile" >/dev/null 2>&1 &
  XVFB_PID=$!
  wait_until 10 test -s "$displayFile" || e2e_fail "Xvfb did not start"
  export DISPLAY=:$(head -n1 "$displayFile")
}

e2e_cleanup() {
  [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null
  e2e_end_wine_session
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
  rm -rf "$WORK"
}

# e2e_start PROGRAM: runs a Windows program of the work directory in the background. Wine
# traces the text of every message box it shows into program.out.
e2e_start() {
  (cd "$WORK" && WINEDEBUG=-all,+msgbox exec "$WINE" "$@") >"$WORK/program.out" 2>&1 &
  APP_PID=$!
}

# e2e_expect_box TEXT: a message box showed exactly TEXT (written as Wine traces it: a line
# feed as \n).
e2e_expect_box() {
  grep -qF "MSGBOX_OnInit L\"$1\"" "$WORK/program.out" ||
    e2e_fail "no box with the text '$1'; boxes: $(grep MSGBOX_OnInit "$WORK/program.out")"
}

# e2e_expect_exit CODE: waits (up to 30 s) for the program to end with exit code CODE.
e2e_expect_exit() {
  wait_until 30 e2e_ended "$APP_PID" || e2e_fail "the program did not end"
  local code=0
  wait "$APP_PID" || code=$?
  APP_PID=
  [ "$code" = "$1" ] || e2e_fail "exit code $code, expected $1: $(cat "$WORK/program.out")"
}

# e2e_window TITLE: waits (up to 60 s) for a visible window whose title is exactly TITLE and
# prints its id.
e2e_window() {
  local pattern
  pattern="^$(printf '%s' "$1" | sed 's/[][\.*^$()+?{}|]/\\&/g')\$"
  local id
  id=$(timeout 60 xdotool search --sync --onlyvisible --name "$pattern" 2>/dev/null | head -n1) ||
    e2e_fail "no window titled '$1'"
  [ -n "$id" ] || e2e_fail "no window titled '$1'"
  echo "$id"
}

# e2e_ended PID: the process has ended.
e2e_ended() { ! kill -0 "$1" 2>/dev/null; }

# e2e_gone ID: no visible window has the id.
e2e_gone() { ! xdotool search --onlyvisible --name '.' 2>/dev/null | grep -x "$1" >/dev/null; }

# e2e_answer ID KEY: answers a message box with KEY and waits until it has gone; a key lost
# while the box was still coming up is typed again.
e2e_answer() {
  for _ in 1 2 3 4 5; do
    e2e_keys "$1" "$2"
    wait_until 3 e2e_gone "$1" && return 0
  done
  e2e_fail "the box $1 did not take the key $2"
}

# e2e_title ID: the window's title.
e2e_title() {
  xdotool getwindowname "$1" 2>/dev/null || true
}

# e2e_focused ID: the window has the keyboard focus.
e2e_focused() { [ "$(xdotool getwindowfocus -f 2>/dev/null)" = "$1" ]; }

# e2e_keys ID KEY...: gives the window the keyboard focus, waits until it has it and types the
# keys, in order.
e2e_keys() {
  local id=$1
  shift
  xdotool windowfocus --sync "$id" 2>/dev/null || xdotool windowfocus "$id"
  wait_until 10 e2e_focused "$id" || e2e_fail "the window $id did not take the keyboard focus"
  for key in "$@"; do
    xdotool key "$key"
  done
}

# e2e_screen_still: the display shows what it showed at the previous call (pixels only).
e2e_screen_still() {
  local screen
  screen=$(import -window root rgb:- 2>/dev/null | md5sum)
  [ "$screen" = "${E2E_LAST_SCREEN:-}" ] && return 0
  E2E_LAST_SCREEN=$screen
  return 1
}

# e2e_shot NAME: a screenshot of the whole display as NAME.png among the artifacts, once the
# display has stopped changing (or after 5 s of changes).
e2e_shot() {
  E2E_LAST_SCREEN=
  wait_until 5 e2e_screen_still || true
  import -window root "$ARTIFACTS/$1.png"
}

# e2e_image PATH LENGTH REVISION: a plain firmware image (no new-format signature) that names
# its revision at offset 0x100, where the emulated drive reads it after the commit.
e2e_image() {
  perl -e 'my ($path, $length, $revision) = @ARGV;
    my $image = join "", map { chr(($_ * 7 + 3) & 0xFF) } 0 .. $length - 1;
    substr($image, 0, 1) = chr(2);
    substr($image, 0x100, 4) = substr($revision . "    ", 0, 4);
    open(my $file, ">:raw", $path) or die "$path: $!";
    print $file $image;
    close($file) or die "$path: $!";' "$1" "$2" "$3"
}
