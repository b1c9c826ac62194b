#!/usr/bin/env bash
# Runs every fuzz target of a PELLOW_FUZZ build for a bounded time each, one after the other.
#
#   fuzz/run.sh BUILD_DIR [SECONDS] [TARGET...]
#
# Each target starts from its committed seeds (fuzz/corpus/<target>/) plus what earlier runs in
# the same build folder found (BUILD_DIR/fuzz-corpus/<target>/, where new inputs are written;
# the committed seeds are never modified). A crash, leak, sanitizer report or time-out stops
# the run with the target's status; the reproducer is left in BUILD_DIR/fuzz-artifacts/.
# The last "cov:" and "exec/s" figures of each target are printed at the end.
set -euo pipefail

build=${1:?usage: fuzz/run.sh BUILD_DIR [SECONDS] [TARGET...]}
seconds=${2:-60}
shift $(( $# < 2 ? $# : 2 ))
here=$(cd "$(dirname "$0")" && pwd)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for seeds in "$here"/corpus/*/; do targets+=("$(basename "$seeds")"); done
fi

mkdir -p "$build/fuzz-artifacts" "$build/fuzz-logs"
summary=()
for target in "${targets[@]}"; do
  binary="$build/bin/${target}_fuzzer"
  [ -x "$binary" ] || { echo "missing $binary (build the fuzz-targets target)" >&2; exit 2; }
  corpus="$build/fuzz-corpus/$target"
  log="$build/fuzz-logs/$target.log"
  mkdir -p "$corpus"
  echo "== $target: ${seconds} s"
  status=0
  ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1} \
  UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
    "$binary" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -max_len=65600 \
      -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$target-" \
      "$corpus" "$here/corpus/$target" >"$log" 2>&1 || status=$?
  if [ $status -ne 0 ]; then
    tail -n 60 "$log" >&2
    echo "$target failed (status $status); reproducer in $build/fuzz-artifacts/" >&2
    exit $status
  fi
  last=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
  runs=$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}')
  summary+=("$(printf '%-16s runs %-10s %s' "$target" "$runs" "$(grep -oE 'cov: [0-9]+ ft: [0-9]+' <<<"$last")")")
done
printf '%s\n' "${summary[@]}"
