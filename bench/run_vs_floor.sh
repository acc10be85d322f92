#!/usr/bin/env bash
# Times whole runs of o1pc98map against the floor of writing the same bytes:
# copying (cp) the very four files the run wrote. Tool and floor alternate
# within one loop, so both see the same machine; each is started the same way
# (a subshell that enters its output directory), which of the two goes first
# alternates from round to round, and the ratio printed is the median of the
# per-round ratios. The last column is the tool's median time per MB written,
# which stays flat when the cost grows linearly with the output.
#
#   bench/run_vs_floor.sh [BUILD_DIR] [ROUNDS]
#
# BUILD_DIR is a configured and built tree (default: build); ROUNDS defaults
# to 11. Needs only bash, coreutils and GNU time (/usr/bin/time) for the
# peak memory line.
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
rounds=${2:-11}
tool=$build/driver/o1pc98map
disk_maker=$build/tools/make_sample_disk
shape_maker=$build/bench/make_bench_shape
for program in "$tool" "$disk_maker" "$shape_maker"; do
  [ -x "$program" ] || { echo "missing $program: build the tree first"; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/o1bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$disk_maker" "$work/O1_Orvane.fdi" >/dev/null

# Microseconds; bash 5 reads the clock without starting a process.
if [ -n "${EPOCHREALTIME:-}" ]; then
  now() { now_us=${EPOCHREALTIME/[.,]/}; }
else
  now() { now_us=$(($(date +%s%N) / 1000)); }
fi

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# time_tool DIR [TOOL ARGS...] and time_floor SOURCE_DIR TARGET_DIR set
# tool_us and floor_us to the time of one run of each.
time_tool() {
  local dir=$1 t0
  shift
  now
  t0=$now_us
  (cd "$dir" && "$tool" -d "$work/O1_Orvane.fdi" --overwrite "$@" >/dev/null)
  now
  tool_us=$((now_us - t0))
}

time_floor() {
  local t0
  now
  t0=$now_us
  (cd "$2" && cp "$1"/*.bmp .)
  now
  floor_us=$((now_us - t0))
}

# bench NAME [TOOL ARGS...]: prints name, output size, median times and ratio.
bench() {
  local name=$1
  shift
  local run=$work/run-$name floor=$work/floor-$name
  mkdir -p "$run" "$floor"
  (cd "$run" && "$tool" -d "$work/O1_Orvane.fdi" --overwrite "$@" >/dev/null)
  mkdir -p "$run.ref" && cp "$run"/*.bmp "$run.ref/"
  # Both replace existing files from the first round on.
  cp "$run"/*.bmp "$floor/"
  local bytes
  bytes=$(cat "$run.ref"/*.bmp | wc -c)
  local ratios=() tools=() floors=()
  local round tool_us floor_us
  for round in $(seq "$rounds"); do
    if [ $((round % 2)) -eq 1 ]; then
      time_tool "$run" "$@"
      time_floor "$run.ref" "$floor"
    else
      time_floor "$run.ref" "$floor"
      time_tool "$run" "$@"
    fi
    tools+=("$tool_us")
    floors+=("$floor_us")
    ratios+=("$(awk -v a="$tool_us" -v b="$floor_us" 'BEGIN { printf "%.3f", a / b }')")
  done
  local tool_median
  tool_median=$(printf '%s\n' "${tools[@]}" | median)
  printf '%-20s %10s bytes  tool %8s us  floor %8s us  ratio %s  tool %6.1f us/MB\n' "$name" \
    "$bytes" "$tool_median" "$(printf '%s\n' "${floors[@]}" | median)" \
    "$(printf '%s\n' "${ratios[@]}" | median)" \
    "$(awk -v t="$tool_median" -v b="$bytes" 'BEGIN { print t / (b / 1e6) }')"
  rm -rf "$run" "$run.ref" "$floor"
}

echo "o1pc98map whole run against cp of its four output files; median of $rounds rounds"
bench default
for tile in 8 16 32 64; do
  "$shape_maker" "$work/shape$tile.bmp" "$tile" 32 >/dev/null
  bench "shape-32bit-tile$tile" -s "$work/shape$tile.bmp"
done

if [ -x /usr/bin/time ]; then
  mkdir -p "$work/memory"
  peak=$(cd "$work/memory" && /usr/bin/time -f '%M' "$tool" -d "$work/O1_Orvane.fdi" --overwrite 2>&1 >/dev/null | tail -n 1)
  echo "peak resident memory of the default run: $peak KiB"
fi
