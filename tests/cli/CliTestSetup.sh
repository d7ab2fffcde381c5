# Sourced by the command-line end-to-end scripts once they have set $emulator (empty, or what
# runs a cross build's programs): the work folder, made the current one and removed at exit,
# and the helpers below.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0

# Runs a program (through the emulator when there is one); stdout, stderr and the exit code land
# in $out, $err and $rc, with Windows line ends and separators made Unix-like.
run() {
  local prog=$1
  shift
  $emulator "$prog" "$@" >stdout.txt 2>stderr.txt </dev/null
  rc=$?
  out=$(tr -d '\r' <stdout.txt | tr '\\' '/')
  err=$(tr -d '\r' <stderr.txt | tr '\\' '/')
}
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { # label expected actual
  if [ "$2" != "$3" ]; then
    fail "$1"
    diff <(printf '%s\n' "$2") <(printf '%s\n' "$3") | sed 's/^/    /'
  fi
}
has_line() { grep -qxE -- "$2" <<<"$3" || { fail "$1: no line matching $2"; sed 's/^/    | /' <<<"$3"; }; }
