#!/usr/bin/env bash
# Runs every benchmark program of a build and collects one table in <build>/bench.txt.
set -euo pipefail
build=${1:-build}
cd "$(dirname "$0")/.."
out="$build/bench.txt"
: > "$out"
for bin in "$build"/bin/*_bench; do
    [ -x "$bin" ] || continue
    echo "== $(basename "$bin")" | tee -a "$out"
    "$bin" --benchmark_counters_tabular=true 2>&1 | tee -a "$out"
done
echo "written to $out"
