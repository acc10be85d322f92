#!/usr/bin/env bash
# Times whole runs of o1pc98map against the floor of writing the same bytes:
# copying (cp) the very four files the run wrote. Tool and floor alternate
# within one loop, so both see the same machine; the ratio printed is the
# median of the per-round ratios.
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

now() { date +%s%N; }

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# bench NAME [TOOL ARGS...]: prints name, output size, median times and ratio.
bench() {
  local name=$1
  shift
  local run=$work/run-$name floor=$work/floor-$name
  mkdir -p "$run" "$floor"
  (cd "$run" && "$tool" -d "$work/O1_Orvane.fdi" --overwrite "$@" >/dev/null)
  mkdir -p "$run.ref" && cp "$run"/*.bmp "$run.ref/"
  local bytes
  bytes=$(cat "$run.ref"/*.bmp | wc -c)
  local ratios=() tools=() floors=()
  for _ in $(seq "$rounds"); do
    local t0 t1 t2
    t0=$(now)
    (cd "$run" && "$tool" -d "$work/O1_Orvane.fdi" --overwrite "$@" >/dev/null)
    t1=$(now)
    cp "$run.ref"/*.bmp "$floor/"
    t2=$(now)
    tools+=($(( (t1 - t0) / 1000 )))
    floors+=($(( (t2 - t1) / 1000 )))
    ratios+=("$(awk -v a=$((t1 - t0)) -v b=$((t2 - t1)) 'BEGIN { printf "%.3f", a / b }')")
  done
  printf '%-22s %10s bytes  tool %8s us  floor %8s us  ratio %s\n' "$name" "$bytes" \
    "$(printf '%s\n' "${tools[@]}" | median)" "$(printf '%s\n' "${floors[@]}" | median)" \
    "$(printf '%s\n' "${ratios[@]}" | median)"
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
