#!/usr/bin/env bash
# Runs the benchmark suite of a bench build and prints its table. A full-size
# run (VDB_BENCH_SCALE unset or 1) refreshes bench/RESULTS.md; a reduced one
# writes its results beside the build instead.
#   VDB_BENCH_SCALE=0.05 make bench     # quick run at 5 % of the sizes
set -euo pipefail
build=${1:-build/bench}
root=$(cd "$(dirname "$0")/.." && pwd)
scale=${VDB_BENCH_SCALE:-1}
if [ "$scale" = "1" ]; then
  results="$root/bench/RESULTS.md"
else
  results="$build/RESULTS.md"
fi
exec "$build/bin/vdb_bench" --scale "$scale" --results "$results" --notes "$root/bench/RESULTS.notes.md"
