#!/usr/bin/env bash
# Bounded fuzzing run: builds the libFuzzer targets (clang, with AddressSanitizer
# and UndefinedBehaviorSanitizer) and runs each for SECONDS seconds (default 60),
# starting from its corpus in tests/fuzz/corpus/<target>/. The corpus holds the
# seed inputs and every input that ever crashed a target, so each run replays
# them first. A crash stops the script with the failing input saved under
# build/fuzz/artifacts/; once fixed, that file goes into the target's corpus.
#
#   bash tests/fuzz/run.sh [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-60}
cd "$root"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The build's output only when it fails (ninja prints compile errors on
# standard output).
{ cmake --preset fuzz && cmake --build --preset fuzz; } >"$work/build.log" 2>&1 ||
  { tail -n 80 "$work/build.log"; echo "the fuzz targets did not build"; exit 1; }
mkdir -p build/fuzz/artifacts
export ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in kernels cli; do
  cp -r "tests/fuzz/corpus/$target" "$work/$target"
  echo "fuzzing $target for ${seconds}s"
  TMPDIR=$work build/fuzz/tests/fuzz/fuzz_$target -max_total_time="$seconds" -close_fd_mask=3 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="build/fuzz/artifacts/$target-" \
    "$work/$target" 2>"$work/$target.log" || { tail -n 60 "$work/$target.log"; exit 1; }
  grep -E "stat::number_of_executed_units|Done [0-9]+ runs" "$work/$target.log" | tail -n 2
done
echo "fuzzing found no crash"
