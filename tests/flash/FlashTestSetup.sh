# Sourced by the odflash flash end-to-end scripts, whose arguments are
#   ODFLASH TEMPLATE SAMPLES_DIR [SAMPLE_GENERATOR]
# ODFLASH_RUNNER runs the programs of a cross build (wine64); the generator then makes the
# sample images first. Sets odflash, template, samples, runner and run (besides the helpers of
# tests/lib/e2e.sh), a work folder removed at exit (killing the background program in $pid, if
# any), and builds the flasher $flasher from 1.10.BIN for model 0.
odflash=$1 template=$2 samples=$3 generator=${4:-}
runner=${ODFLASH_RUNNER:-}
e2e_runner=$runner
source "$(dirname "${BASH_SOURCE[0]}")/../lib/e2e.sh"
pid=
e2e_before_exit() { [ -z "$pid" ] || kill -KILL "$pid" 2>/dev/null || true; }
e2e_make_work

run() { run_through "$@"; }
if [ -n "$generator" ]; then
  run "$generator" "$samples" >/dev/null || { echo "FAIL: cannot make the sample images"; exit 1; }
fi
run "$odflash" build --ini "$samples/models.ini" --model 0 --firmware "$samples/1.10.BIN" \
  --template "$template" --output-dir "$work" >/dev/null || { echo "FAIL: cannot build the flasher"; exit 1; }
flasher=$work/1.10.EXE
# The Flash command in a drive's command log.
flash_command='^3B 05 01 00 00 00 00 00 00 (80|A0) 00 00 in 16$'
