#!/usr/bin/env bash
# Builds and runs the benchmarks of one tier (default x86_64) in the test run's Wine prefix.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
tier=${1:-x86_64}
"$top/tools/configure.sh" i686-deliver "$tier" >/dev/null
export WINEPREFIX="$top/build/wineprefix"
"$top/tools/wine_prefix.sh" start
for exe in "$top/build/$tier/bin/"*_bench.exe; do
  echo "== $(basename "$exe")"
  "$top/tools/wine_run.sh" "$tier" "$exe"
done
# The payload benchmark needs its data and a native peer: it has its own script.
"$top/tools/bench_payload.sh" "$tier"
"$top/tools/wine_prefix.sh" stop
