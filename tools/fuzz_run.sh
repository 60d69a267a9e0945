#!/usr/bin/env bash
# Runs one fuzz target on a fresh copy of its seed corpus.
# usage: fuzz_run.sh BUILD_DIR TARGET SECONDS|-runs=N
# Prints the executions done; fails when the fuzzer finds a crash, leak or undefined behaviour.
set -euo pipefail
build=$1; target=$2; limit=$3
top=$(cd "$(dirname "$0")/.." && pwd)
exe="$build/fuzz/$target"
work="$build/fuzz/work/$target"
rm -rf "$work"; mkdir -p "$work/corpus" "$work/artifacts"
"$top/tools/make_fuzz_corpus.sh" "$build" "$target" "$work/seeds"
# Every seed runs once at its full length first (the fuzzing below may be bounded to shorter inputs).
set +e
"$exe" -artifact_prefix="$work/artifacts/" -rss_limit_mb=4096 "$work/seeds"/* >"$work/seeds.log" 2>&1
rc=$?
set -e
if [ $rc -ne 0 ]; then
  echo "$target: a seed fails, exit $rc"
  tail -40 "$work/seeds.log"
  exit $rc
fi
# Per-target libFuzzer flags ("#" starts a comment line), after (and so overriding) the common ones.
extra=()
if [ -f "$top/tests/fuzz/$target.options" ]; then
  read -r -a extra < <(grep -v '^#' "$top/tests/fuzz/$target.options" | tr '\n' ' ') || true
fi
case "$limit" in
  -runs=*) budget=("$limit");;
  *) budget=("-max_total_time=$limit");;
esac
set +e
"$exe" "${budget[@]}" -print_final_stats=1 -artifact_prefix="$work/artifacts/" -max_len=262144 \
  -rss_limit_mb=4096 "${extra[@]}" "$work/corpus" "$work/seeds" >"$work/log" 2>&1
rc=$?
set -e
runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/log" | grep -o '[0-9]*$' || echo 0)
echo "$target: $runs executions, exit $rc"
if [ $rc -ne 0 ]; then
  tail -40 "$work/log"
  ls "$work/artifacts"
fi
exit $rc
