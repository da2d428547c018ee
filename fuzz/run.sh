#!/usr/bin/env bash
# Runs every fuzz target for SECONDS seconds on a scratch copy of its seed
# corpus (fuzz/corpus/<target>, which also holds the inputs of faults found
# before). Stops at the first target that finds a crash, a leak or a hang;
# the input is saved in BUILD/artifacts.
#   run.sh BUILD SECONDS
set -euo pipefail
build=$1
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$build/artifacts"
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=1:symbolize=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$here/../tests/sanitize/lsan.supp:print_suppressions=0
for target in fuzz_apps_text fuzz_capture_record fuzz_config_file fuzz_region_drag; do
  name=${target#fuzz_}
  scratch="$build/corpus/$name"
  mkdir -p "$scratch"
  echo "== $target: ${seconds}s"
  "$build/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-" \
    "$scratch" "$here/corpus/$name" 2>"$build/$name.log" || {
      tail -n 60 "$build/$name.log"
      echo "$target failed; the input is in $build/artifacts"
      exit 1
    }
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)' "$build/$name.log" | tr '\n' ' '
  echo
done
