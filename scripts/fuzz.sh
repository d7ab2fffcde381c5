#!/usr/bin/env bash
# Builds the libFuzzer harnesses (fuzz preset: clang, ASan, UBSan) and runs each in turn for
# SECONDS (default 60) on its committed corpus and regressions. New corpus entries go to
# build/fuzz/corpus/<harness>/, never into the tree; a crash, leak, time-out or broken invariant
# is kept as build/fuzz/findings/<harness>/<kind>-<hash>. Prints how many inputs each harness ran
# and fails when any harness found something.
#
#   scripts/fuzz.sh [SECONDS] [HARNESS...]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

seconds=${1:-60}
shift || true
if ! [[ $seconds =~ ^[0-9]+$ ]] || [ "$seconds" -eq 0 ]; then
  echo "usage: scripts/fuzz.sh [SECONDS] [HARNESS...]" >&2
  exit 2
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

build=$root/build/fuzz
harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
  for dir in tests/fuzz/corpus/*/; do harnesses+=("$(basename "$dir")"); done
fi

# Leaks count as findings; UBSan reports abort (the harnesses are built without recovery).
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

failed=()
summary=()
for harness in "${harnesses[@]}"; do
  fuzzer=$build/tests/fuzz/fuzz_$harness
  if [ ! -x "$fuzzer" ]; then
    echo "fuzz: no harness named $harness" >&2
    exit 2
  fi
  corpus=$build/corpus/$harness
  findings=$build/findings/$harness
  log=$build/logs/$harness.log
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  args=(-max_total_time="$seconds" -print_final_stats=1 -timeout=25 -rss_limit_mb=2048
        -artifact_prefix="$findings/")
  [ -f "tests/fuzz/dict/$harness.dict" ] && args+=(-dict="tests/fuzz/dict/$harness.dict")
  echo "== fuzz: $harness for ${seconds}s"
  status=0
  "$fuzzer" "${args[@]}" "$corpus" "tests/fuzz/corpus/$harness" "tests/fuzz/regressions/$harness" \
    >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  entries=$(find "$corpus" -type f | wc -l)
  if [ "$status" -ne 0 ]; then
    failed+=("$harness")
    summary+=("$(printf '%-16s %12s inputs run  FAILED (exit %d), log %s' "$harness" "${runs:-?}" "$status" "$log")")
    grep -E '^(==[0-9]+==ERROR|SUMMARY|.*invariant broken|.*runtime error)' "$log" | head -n 5 || true
    ls -1 "$findings" | sed "s|^|  finding: $findings/|"
  else
    summary+=("$(printf '%-16s %12s inputs run  ok, scratch corpus %d entries' "$harness" "${runs:-?}" "$entries")")
  fi
done

echo "== fuzz summary (${seconds}s each)"
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: findings in ${failed[*]}: move a crash file into tests/fuzz/regressions/<harness>/" \
       "once its fault is fixed" >&2
  exit 1
fi
