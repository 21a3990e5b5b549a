#!/usr/bin/env bash
# make demo: builds build/demo/demo.db from examples/demo.sql and runs the
# scripted tour on it with vdbsql.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
if [ ! -x "$build/bin/vdbsql" ]; then
  echo "demo: $build/bin/vdbsql is not built (make demo builds it)" >&2
  exit 1
fi
exec bash scripts/demo-tour.sh "$build"
