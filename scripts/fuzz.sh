#!/usr/bin/env bash
# Builds every libFuzzer target with clang and runs each for a while on its
# committed seed corpus. Fails on the first target that reports a crash, a
# leak, a timeout or any sanitizer finding.
#
#   scripts/fuzz.sh [build-dir] [seconds-per-target] [jobs]
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/fuzz}
seconds=${2:-60}
jobs=${3:-$(nproc)}

if ! command -v clang++ >/dev/null 2>&1; then
  bash scripts/install-deps.sh clang libclang-rt-14-dev
fi

cmake --preset fuzz >/dev/null
targets=$(sed -n 's/^vdb_add_fuzz_target(\(fuzz_[a-z_]*\).*/\1/p' tests/fuzz/CMakeLists.txt)
# shellcheck disable=SC2086
cmake --build "$build" -j "$jobs" --target $targets

status=0
for t in $targets; do
  seeds=tests/fuzz/corpus/$t
  work=$build/corpus/$t
  artifacts=$build/artifacts/$t/
  mkdir -p "$work" "$artifacts"
  [ -d "$seeds" ] || seeds=
  echo "== fuzz: $t for ${seconds}s"
  # New inputs go to the work corpus; the committed seeds stay as they are.
  # shellcheck disable=SC2086
  if ! "$build/bin/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$artifacts" "$work" $seeds \
        > "$build/$t.log" 2>&1; then
    echo "fuzz: $t FAILED; log $build/$t.log, inputs in $artifacts" >&2
    tail -n 60 "$build/$t.log" >&2
    status=1
  else
    grep -E '^stat::number_of_executed_units|^Done' "$build/$t.log" | tr '\n' ' '; echo
  fi
done
exit $status
