#!/usr/bin/env bash
# The long fuzz campaign: every target for at least RUNS executions (default 1,000,000), one after the
# other, printing the executions each made. Crashes are kept in build/fuzz/work/TARGET/artifacts.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-1000000}
"$top/tools/configure.sh" >/dev/null
status=0
while read -r target; do
  [ -n "$target" ] || continue
  "$top/tools/fuzz_run.sh" "$top/build" "$target" "-runs=$runs" || status=1
done < "$top/build/fuzz/fuzz_targets.txt"
exit $status
