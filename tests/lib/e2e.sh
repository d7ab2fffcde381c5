# The helpers every end-to-end script shares; sourced by tests/cli/CliTestSetup.sh,
# tests/flash/FlashTestSetup.sh, tests/gui/lib.sh and scripts/check-packages.sh, which add
# what is their own.
#
# e2e_runner: empty, or what runs a cross build's programs (wine64); set it before run_through
# or run_captured is called.
e2e_runner=${e2e_runner:-}
failures=0

# e2e_make_work: a new folder in $work, removed when the script exits. A script that needs more
# at exit (stopping a program it started) defines e2e_before_exit, which runs first.
e2e_make_work() {
  work=$(mktemp -d)
  trap e2e_exit EXIT
}
e2e_exit() {
  if declare -F e2e_before_exit >/dev/null; then e2e_before_exit; fi
  rm -rf "$work"
}

# run_through PROGRAM ARGS...: runs a program, through the runner when there is one.
run_through() { $e2e_runner "$@"; }

# run_captured PROGRAM ARGS...: runs a program with no input; stdout, stderr and the exit code
# land in $out, $err and $rc, with Windows line ends and separators made Unix-like.
run_captured() {
  run_through "$@" >stdout.txt 2>stderr.txt </dev/null
  rc=$?
  out=$(tr -d '\r' <stdout.txt | tr '\\' '/')
  err=$(tr -d '\r' <stderr.txt | tr '\\' '/')
}

# fail TEXT: counts a failed check and says which.
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# check LABEL EXPECTED ACTUAL: fails with the difference when they are not equal.
check() {
  if [ "$2" != "$3" ]; then
    fail "$1"
    diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | sed 's/^/    /'
  fi
}

# has_line LABEL REGEX TEXT: fails unless a whole line of TEXT matches REGEX (extended).
has_line() { grep -qxE -- "$2" <<<"$3" || { fail "$1: no line matching $2"; sed 's/^/    | /' <<<"$3"; }; }

# wait_until SECONDS COMMAND...: runs COMMAND every 10 ms until it succeeds; false when SECONDS
# passed without that.
wait_until() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.01
  done
}
