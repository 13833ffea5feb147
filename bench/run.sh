#!/usr/bin/env bash
# Launch overhead, measured against the smallest programs there are: the cost
# of `launch /bin/true "" / TRUE` against the floor for any launcher (a static
# C program that does nothing but start /bin/true and wait for it,
# bench/floor.c) and against `/bin/true` run through `env`, in wall time, peak
# memory and the launcher's own instructions.
# Needs hyperfine, valgrind and GNU time (Debian: hyperfine valgrind time).
# Usage: bench/run.sh [runs]   A benchmark, not a test: it always exits 0.
# For scale, it also shows the floor against /bin/true run directly: the cost
# of one more process start.
set -uo pipefail
cd "$(dirname "$0")/.."
runs=${1:-1000}
for tool in hyperfine valgrind /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (Debian: hyperfine valgrind time)"; exit 0; }
done

cmake --preset linux >/dev/null && cmake --build --preset linux >/dev/null || exit 0
launch=build/linux/launch
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cc -O2 -static -s -o "$out/floor" bench/floor.c || exit 0

# Wall time: no shell in between, warm caches, medians.
hyperfine -N --style none --warmup 50 --runs "$runs" --export-csv "$out/wall.csv" \
  -n direct "/bin/true" -n env "env /bin/true" -n launch "$launch /bin/true '' / TRUE" \
  -n floor "$out/floor" \
  >/dev/null 2>&1
median() { awk -F, -v name="$1" '$1 == name { printf "%.0f", $4 * 1e6 }' "$out/wall.csv"; }
t_direct=$(median direct)
t_env=$(median env)
t_launch=$(median launch)
t_floor=$(median floor)

# Peak resident memory (KiB), the median of 21 runs.
peak() {
  for _ in $(seq 21); do /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; done |
    sort -n | sed -n 11p
}
rss_env=$(peak env /bin/true)
rss_launch=$(peak "$launch" /bin/true "" / TRUE)

# Instructions each program itself executes, start to exit; the launcher's
# child is not traced.
instructions() {
  valgrind --tool=callgrind --trace-children=no --callgrind-out-file=/dev/null "$@" 2>&1 |
    awk '/Collected :/ { print $NF }'
}
ir_true=$(instructions /bin/true)
ir_launch=$(instructions "$launch" /bin/true "" / TRUE)

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
printf '%-34s %12s %12s %8s %8s\n' "measure" "launch" "reference" "ratio" "target"
printf '%-34s %10s us %10s us %8s %8s\n' "median wall time vs floor" \
  "$t_launch" "$t_floor" "$(ratio "$t_launch" "$t_floor")" "<= 1.05"
printf '%-34s %10s us %10s us %8s %8s\n' "median wall time vs env /bin/true" \
  "$t_launch" "$t_env" "$(ratio "$t_launch" "$t_env")" "<= 1.10"
printf '%-34s %10s us %10s us %8s %8s\n' "floor (spawn + wait) vs /bin/true" \
  "$t_floor" "$t_direct" "$(ratio "$t_floor" "$t_direct")" ""
printf '%-34s %9s KiB %9s KiB %8s %8s\n' "peak RSS vs env" \
  "$rss_launch" "$rss_env" "$(ratio "$rss_launch" "$rss_env")" "< 1"
printf '%-34s %12s %12s %8s %8s\n' "instructions vs /bin/true" \
  "$ir_launch" "$ir_true" "$(ratio "$ir_launch" "$ir_true")" "< 1"
printf '\n%s, %s cores, %s runs; %s\n' "$(uname -srm)" "$(nproc)" "$runs" \
  "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
exit 0
