#!/usr/bin/env bash
# Runs one fuzz target on a fresh copy of its seed corpus.
# usage: fuzz_run.sh BUILD_DIR TARGET replay|SECONDS|-runs=N
#  - replay: every seed and every kept regression input (tests/regressions/TARGET/) runs once, at its
#    full length, and nothing is mutated: the same inputs give the same verdict on every run. This is
#    what the test run does.
#  - SECONDS or -runs=N: after the replay, fuzz for that long (the campaigns of tools/fuzz.sh).
# Prints the executions done; fails when an input crashes, leaks or hits undefined behaviour.
set -euo pipefail
build=$1; target=$2; limit=$3
top=$(cd "$(dirname "$0")/.." && pwd)
exe="$build/fuzz/$target"
work="$build/fuzz/work/$target"
rm -rf "$work"; mkdir -p "$work/corpus" "$work/artifacts"
"$top/tools/make_fuzz_corpus.sh" "$build" "$target" "$work/seeds"
inputs=("$work/seeds"/*)
if [ -d "$top/tests/regressions/$target" ]; then
  inputs+=("$top/tests/regressions/$target"/*)
fi
# Every seed and regression input runs once at its full length first (the fuzzing below may be bounded
# to shorter inputs).
set +e
"$exe" -artifact_prefix="$work/artifacts/" -rss_limit_mb=4096 "${inputs[@]}" >"$work/seeds.log" 2>&1
rc=$?
set -e
if [ $rc -ne 0 ]; then
  echo "$target: an input fails, exit $rc"
  tail -40 "$work/seeds.log"
  exit $rc
fi
if [ "$limit" = replay ]; then
  echo "$target: ${#inputs[@]} inputs replayed"
  exit 0
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
