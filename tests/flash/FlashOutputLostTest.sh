#!/usr/bin/env bash
# Output lost during an update: a closed pipe, a Ctrl+C that kills the pipe's reader, closed
# standard output, a reader that stops reading, a stop request and a timer signal, each arriving
# while the emulated drive holds Entry critical. In every case the update must finish (the Flash
# command after Entry critical, the fresh INQUIRY last), the drive file must stay as it was and
# the exit code must be the documented one. And --log may not name one of the run's inputs.
#   FlashOutputLostTest.sh ODFLASH TEMPLATE SAMPLES_DIR
set -u
source "$(dirname "$0")/FlashTestSetup.sh"
if [ -n "$runner" ]; then
  # Pipes, process groups and POSIX signals of a Linux shell do not reach a Windows program
  # under Wine in the same way; the Windows program has no output relay either.
  echo "skipped: the cases are POSIX pipes and signals"
  exit 0
fi

entry_critical='^3B 05 01 00 00 00 00 00 00 7F 00 00 in 0$'
# Entry critical is the WRITE BUFFER after the profile and every image chunk.
entry_nth=$(($(stat -c %s "$samples/1.10.BIN") / 16384 + 2))
lost_notice='^odflash: output to standard (output|error)( and standard error)? was lost \(.*\); the run went on without it$'

# Waits until FILE has a line matching the pattern, for at most 20 s.
wait_for() {
  local file=$1 pattern=$2
  for _ in $(seq 2000); do
    grep -qE -- "$pattern" "$file" 2>/dev/null && return 0
    sleep 0.01
  done
  return 1
}
# Waits for the program ($pid) to end or to stop, for at most 20 s; prints "ended" or "stopped".
wait_end_or_stop() {
  for _ in $(seq 2000); do
    if ! kill -0 "$pid" 2>/dev/null || [ "$(cut -d' ' -f3 "/proc/$pid/stat" 2>/dev/null)" = Z ]; then
      echo ended
      return
    fi
    [ "$(cut -d' ' -f3 "/proc/$pid/stat" 2>/dev/null)" = T ] && { echo stopped; return; }
    sleep 0.01
  done
  echo stalled
}

# A drive file; $1 the case name, $2 "log" for a command log.
drive_file() {
  local name=$1 log=$2
  {
    printf '%s\n' "[Drive0]" "Vendor=ODSIM" "Product=CDRW 48X24" "Revision=1.00" "FlashId=BFB60000" \
      "Medium=1" "HoldCommand=3B:$entry_nth:$work/$name.release"
    [ "$log" = log ] && echo "Log=$work/$name.log"
  } >"$work/$name.ini"
  cp "$work/$name.ini" "$work/$name.ini.before"
}

# The drive log's verdict: Entry critical, a Flash command after it, the fresh INQUIRY last.
check_drive() {
  local name=$1 commands=$2
  grep -qE "$entry_critical" "$commands" || { fail "$name: no Entry critical"; return; }
  sed -n "/${entry_critical#^}/,\$p" "$commands" | grep -qE "$flash_command" ||
    fail "$name: no Flash command after Entry critical"
  [ "$(tail -1 "$commands" | cut -c1-2)" = 12 ] || fail "$name: the last command is not the INQUIRY"
  cmp -s "$work/$name.ini" "$work/$name.ini.before" || fail "$name: the drive file changed"
}

# name | how the output is lost | expected exit code
cases=(
  "pipe-closed|close||0"
  "pipe-closed-json|close|--json|0"
  "interrupt-tee|tee||130"
  "stdout-closed|closed||0"
  "reader-stopped|full||0"
  "stop-continue|tstp||0"
  "alarm|alrm||142"
)
for entry in "${cases[@]}"; do
  IFS='|' read -r name how option code <<<"$entry"
  failures_before=$failures
  release=$work/$name.release out=$work/$name.out err=$work/$name.err commands=$work/$name.log
  : >"$out"
  if [ "$how" = closed ]; then drive_file "$name" nolog; else drive_file "$name" log; fi
  fifo=$work/$name.fifo
  case $how in
  close | full)
    mkfifo "$fifo"
    exec 3<>"$fifo" # the test holds the only reader
    # A reader that stopped reading: the pipe is full before the program writes a byte.
    [ "$how" = full ] && head -c 65536 /dev/zero >&3
    "$odflash" flash "$flasher" --sim "$work/$name.ini" --yes $option >"$fifo" 2>"$err" </dev/null 3<&- &
    pid=$!
    ;;
  tee)
    # A session and process group of its own, as a terminal's job; Ctrl+C goes to the group.
    # A background job starts with SIGINT ignored: tee must die of it as at a terminal.
    setsid env --default-signal=INT bash -c 'echo $$ >"$1.group"
      { "$2" flash "$3" --sim "$4" --yes </dev/null 2>"$5"; echo $? >"$1.code"; } | tee "$6" >/dev/null' \
      _ "$work/$name" "$odflash" "$flasher" "$work/$name.ini" "$err" "$out" &
    wait_for "$work/$name.group" . || fail "$name: no process group"
    group=$(cat "$work/$name.group")
    for _ in $(seq 2000); do
      pid=$(pgrep -g "$group" -x odflash | head -1)
      [ -n "$pid" ] && break
      sleep 0.01
    done
    ;;
  closed)
    # No pipe to close: the drive need not wait. -v puts the command trace on standard error,
    # the only account of the commands here.
    : >"$release"
    "$odflash" flash "$flasher" --sim "$work/$name.ini" --yes -v >&- 2>"$err" </dev/null &
    pid=$!
    commands=$work/$name.trace
    ;;
  *)
    "$odflash" flash "$flasher" --sim "$work/$name.ini" --yes >"$out" 2>"$err" </dev/null &
    pid=$!
    ;;
  esac
  if [ "$how" != closed ]; then
    wait_for "$commands" "$entry_critical" || fail "$name: Entry critical never reached the drive"
  fi
  case $how in
  close) exec 3<&- ;;
  tee) kill -INT -- "-$group" ;;
  tstp) kill -TSTP "$pid" ;;
  alrm) kill -ALRM "$pid" ;;
  esac
  : >"$release"
  state=$(wait_end_or_stop)
  if [ "$state" = stopped ]; then
    # Stopped only once the drive was safe: the INQUIRY after the Flash command came first.
    [ "$(tail -1 "$commands" | cut -c1-2)" = 12 ] || fail "$name: stopped before the drive was safe"
    kill -CONT "$pid"
  fi
  if [ "$state" = stalled ]; then
    fail "$name: the program neither ended nor stopped"
    kill -KILL "$pid"
  fi
  if [ "$how" = tee ]; then
    wait
    got=$(cat "$work/$name.code" 2>/dev/null)
  else
    wait "$pid"
    got=$?
  fi
  [ "$how" = full ] && exec 3<&-
  pid=
  if [ "$how" = closed ]; then
    sed -n 's/^sim:Drive0  \(.*\)  no data .*$/\1 in 0/p; s/^sim:Drive0  \(.*\)  \(in\|out\) \([0-9]*\) .*$/\1 \2 \3/p' "$err" >"$commands"
  fi
  check_drive "$name" "$commands"
  [ "$got" = "$code" ] || fail "$name: exit $got, expected $code"
  case $how in
  close | full | tee) grep -qE "$lost_notice" "$err" || fail "$name: the lost output is not reported" ;;
  *) grep -q 'was lost' "$err" && fail "$name: output reported lost" ;;
  esac
  if [ "$failures" != "$failures_before" ]; then
    tail -5 "$err" | sed 's/^/  err | /'
    tail -3 "$commands" | sed 's/^/  log | /'
  fi
done

# --log naming the flasher: refused before the drive is touched, the flasher unchanged.
cp "$flasher" "$work/flasher.before"
printf '%s\n' "[Drive0]" "Vendor=ODSIM" "Product=CDRW 48X24" "Revision=1.00" "FlashId=BFB60000" "Medium=1" \
  "Log=$work/refused.log" >"$work/refused.ini"
"$odflash" flash "$flasher" --sim "$work/refused.ini" --yes --log "$flasher" >/dev/null 2>"$work/refused.err" </dev/null
got=$?
[ "$got" = 1 ] || fail "log-over-flasher: exit $got, expected 1"
cmp -s "$flasher" "$work/flasher.before" || fail "log-over-flasher: the flasher changed"
[ -s "$work/refused.log" ] && fail "log-over-flasher: a command reached the drive"
[ "$(cat "$work/refused.err")" = "odflash: refusing to write the log over $flasher, one of this run's inputs; nothing was sent to a drive" ] ||
  fail "log-over-flasher: wrong message: $(cat "$work/refused.err")"

[ "$failures" = 0 ] && echo "all lost-output checks passed"
exit $((failures != 0))
