#!/usr/bin/env bash
# Times whole runs of o1pc98map against the floor of writing the same bytes:
# copying (cp) the very four files the run wrote. Tool and floor alternate
# within one loop, so both see the same machine; each is started the same way
# (a subshell that enters its output directory), which of the two goes first
# alternates from round to round, and the ratio printed is the median of the
# per-round ratios. The last column is the tool's median time per MB written,
# which stays flat when the cost grows linearly with the output, and the
# median ratio of processor time (user and system, in steps of 1 ms): the
# floor spends much of its time waiting for the disk, so on a machine whose
# processors are shared the elapsed ratio drifts towards the processor ratio.
# The last line gives the processor pressure during the benchmark, where the
# kernel reports it.
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

# Sets cpu_us to the user and system time of every child waited for so far,
# without starting a process (that would count as a child itself).
children_cpu() {
  local line
  times >"$work/times"
  { read -r line && read -r line; } <"$work/times"
  cpu_us=0
  if [[ $line =~ ^([0-9]+)m([0-9]+)[.,]([0-9]+)s\ ([0-9]+)m([0-9]+)[.,]([0-9]+)s$ ]]; then
    local r=("${BASH_REMATCH[@]}")
    cpu_us=$((((10#${r[1]} + 10#${r[4]}) * 60 + 10#${r[2]} + 10#${r[5]}) * 1000000 +
      (10#${r[3]} + 10#${r[6]}) * 1000))
  fi
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# time_tool DIR [TOOL ARGS...] and time_floor SOURCE_DIR TARGET_DIR set
# tool_us and floor_us to the elapsed time of one run of each, and
# tool_cpu_us and floor_cpu_us to its processor time (user and system).
time_tool() {
  local dir=$1 t0 c0
  shift
  children_cpu
  c0=$cpu_us
  now
  t0=$now_us
  (cd "$dir" && "$tool" -d "$work/O1_Orvane.fdi" --overwrite "$@" >/dev/null)
  now
  tool_us=$((now_us - t0))
  children_cpu
  tool_cpu_us=$((cpu_us - c0))
}

time_floor() {
  local t0 c0
  children_cpu
  c0=$cpu_us
  now
  t0=$now_us
  (cd "$2" && cp "$1"/*.bmp .)
  now
  floor_us=$((now_us - t0))
  children_cpu
  floor_cpu_us=$((cpu_us - c0))
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
  local ratios=() tools=() floors=() cpu_ratios=()
  local round tool_us floor_us tool_cpu_us floor_cpu_us
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
    cpu_ratios+=("$(awk -v a="$tool_cpu_us" -v b="$floor_cpu_us" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }')")
  done
  local tool_median
  tool_median=$(printf '%s\n' "${tools[@]}" | median)
  printf '%-20s %10s bytes  tool %8s us  floor %8s us  ratio %s  tool %6.1f us/MB  cpu ratio %s\n' \
    "$name" "$bytes" "$tool_median" "$(printf '%s\n' "${floors[@]}" | median)" \
    "$(printf '%s\n' "${ratios[@]}" | median)" \
    "$(awk -v t="$tool_median" -v b="$bytes" 'BEGIN { print t / (b / 1e6) }')" \
    "$(printf '%s\n' "${cpu_ratios[@]}" | median)"
  rm -rf "$run" "$run.ref" "$floor"
}

# Sets stall_us to the time some task has waited for a processor since boot
# (0 where the kernel does not report pressure).
cpu_stall() {
  local kind rest
  stall_us=0
  [ -r /proc/pressure/cpu ] || return 0
  while read -r kind rest; do
    if [ "$kind" = some ]; then stall_us=${rest##*total=}; fi
  done </proc/pressure/cpu
}

cpu_stall
stall_start=$stall_us
now
start_us=$now_us
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

cpu_stall
now
if [ "$stall_us" -gt 0 ]; then
  awk -v s=$((stall_us - stall_start)) -v t=$((now_us - start_us)) \
    'BEGIN { printf "processor pressure: some task waited for a processor %.0f%% of the time\n", 100 * s / t }'
fi
