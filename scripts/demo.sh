#!/usr/bin/env bash
# Runs the demo tour; until the interactive tool exists it only says so.
set -euo pipefail
build=${1:-build/release}
if [ -x "$build/bin/vdbsql" ] && [ -x scripts/demo-tour.sh ]; then
  exec bash scripts/demo-tour.sh "$build"
fi
echo "VantorDB for C++: the demo tour arrives with the interactive SQL tool (vdbsql)."
echo "Built so far: $(ls "$build/bin" 2>/dev/null | tr '\n' ' ')"
