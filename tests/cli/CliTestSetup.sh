# Sourced by the command-line end-to-end scripts once they have set $emulator (empty, or what
# runs a cross build's programs): the work folder, made the current one and removed at exit,
# and the shared helpers of tests/lib/e2e.sh; run is run_captured there.
e2e_runner=$emulator
source "$(dirname "${BASH_SOURCE[0]}")/../lib/e2e.sh"
e2e_make_work
cd "$work" || exit 1

run() { run_captured "$@"; }
