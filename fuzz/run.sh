#!/usr/bin/env bash
# Builds the libFuzzer targets natively (clang, ASan, UBSan) and runs each on its seed corpus.
#   fuzz/run.sh [--seconds N | --runs N] [--build DIR] [--only manifest|package]
# --seconds bounds each target's time (make test uses a few seconds); --runs bounds its executions
# (the long run: fuzz/run.sh --runs 10000000). Inputs found along the way are kept in
# DIR/corpus/<target>, so a later run goes on from them; the committed seeds are never written.
# A crash or a sanitizer report stops the target, leaves the input in DIR/crashes and fails the run.
# One job per target, one target at a time; a long run (--runs) also takes the lowest priority so it
# does not starve other work on the machine.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build/fuzz
limit=(-max_total_time=5)
niceness=0
# Wall-clock seconds one input may take. A long run at the lowest priority on a busy machine can
# be stalled for many seconds without any fault of its own (an input that timed out so ran in
# 25 ms alone), so it gets more room.
timeout=20
targets=(manifest package)
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) limit=(-max_total_time="$2"); shift 2 ;;
    --runs) limit=(-runs="$2"); niceness=19; timeout=120; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --only) targets=("$2"); shift 2 ;;
    *) echo "usage: fuzz/run.sh [--seconds N | --runs N] [--build DIR] [--only manifest|package]" >&2; exit 2 ;;
  esac
done

if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$root/fuzz" -B "$build" >/dev/null
fi
cmake --build "$build" --parallel 2 >/dev/null

status=0
for target in "${targets[@]}"; do
  work=$build/corpus/$target
  mkdir -p "$work" "$build/crashes"
  # Manifests are small; packages get room for a few entries and a little data each.
  case $target in manifest) max_len=4096 ;; package) max_len=16384 ;; esac
  log=$build/fuzz_$target.log
  if nice -n "$niceness" "$build/fuzz_$target" "${limit[@]}" -max_len=$max_len -timeout=$timeout -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$build/crashes/$target-" "$work" "$root/fuzz/corpus/$target" \
       >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
    tail -n 40 "$log" >&2
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  echo "fuzz_$target: $result, ${runs:-?} executions, $(find "$work" -type f | wc -l) inputs in $work"
done
exit $status
