#!/usr/bin/env bash
# Runs each fuzz target for a bounded time from freshly generated seeds.
#   fuzz/run_fuzzers.sh [BUILD_DIR] [SECONDS_PER_TARGET]
# BUILD_DIR is a tree configured with the fuzz preset (default: build-fuzz).
# Any finding (crash, leak, timeout, sanitizer report) ends the script with a
# non-zero status; the reproducer is left in the scratch directory, whose
# name is printed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build-fuzz}" && pwd)
seconds=${2:-60}

work=$(mktemp -d "${TMPDIR:-/tmp}/o1fuzz.XXXXXX")
echo "fuzzing in $work"
mkdir -p "$work"/seeds/{disk,bitmap,run} "$work"/corpus/{disk,bitmap,run}
"$build/fuzz/make_fuzz_seeds" "$work/seeds/disk" "$work/seeds/bitmap" "$work/seeds/run"

# Big enough for any picture a 32-bit size allows, small enough to catch a
# runaway allocation.
limits=(-rss_limit_mb=4096 -malloc_limit_mb=4096 -timeout=30)

run() {
  local target=$1 corpus=$2 dict=$3 status=0
  echo "== $target: $seconds s"
  # Absolute paths: a target may change its working directory when it starts.
  (cd "$work" && "$build/fuzz/$target" "${limits[@]}" -max_total_time="$seconds" \
    -print_final_stats=1 ${dict:+-dict="$dict"} "$work/corpus/$corpus" "$work/seeds/$corpus" \
    >"$work/$target.log" 2>&1) || status=$?
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==|SUMMARY|Test unit written|Done)' \
    "$work/$target.log" || true
  # libFuzzer exits non-zero and writes crash-*, leak-*, timeout-* or oom-*
  # files on a finding.
  if [ "$status" -ne 0 ]; then
    tail -n 40 "$work/$target.log"
    echo "finding in $target (status $status); reproducer and log in $work"
    exit 1
  fi
}

run fuzz_disk_image disk "$here/dictionary_disk.txt"
run fuzz_bitmap bitmap "$here/dictionary_bitmap.txt"
# A whole run reads both formats: its dictionary holds both.
cat "$here/dictionary_disk.txt" "$here/dictionary_bitmap.txt" >"$work/dictionary_run.txt"
run fuzz_run run "$work/dictionary_run.txt"
rm -rf "$work"
