#!/usr/bin/env bash
# Builds the fuzz targets and runs each for a bounded time from its seed
# corpus. Fails on any crash or broken property. Usage: fuzz/run.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for target in split text compose; do
  work=$(mktemp -d)
  echo "== ${target}_fuzz for ${seconds}s"
  build/fuzz/fuzz/${target}_fuzz -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$work/" "$work" "fuzz/corpus/$target" 2>"$work/log" ||
    { tail -40 "$work/log"; echo "${target}_fuzz FAILED; artifacts in $work"; exit 1; }
  grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$work/log" | sed "s/^/  /"
  rm -rf "$work"
done
