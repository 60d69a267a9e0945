#!/usr/bin/env bash
# Sets up, builds everything it tests (the deliverables, both test tiers, the fuzz targets) and runs
# every test under Wine. Extra arguments go to ctest.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/configure.sh"
cd "$top/build"
ctest --output-on-failure -j2 "$@"
