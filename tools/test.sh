#!/usr/bin/env bash
# Sets up, builds everything it tests (the deliverables, both test tiers, the fuzz targets) and runs
# every test under Wine. Extra arguments go to ctest, which prints the tests' own time last.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
start=$(date +%s)
"$top/tools/configure.sh"
# A failure report then says which world it came from.
echo "test: 32-bit programs run $("$top/tools/i386_emulation.sh" status)"
echo "test: set-up and build took $(($(date +%s) - start)) s"
cd "$top/build"
exec ctest --output-on-failure -j2 "$@"
