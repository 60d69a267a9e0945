#!/usr/bin/env bash
# Sets up, builds and runs every test of both tiers (x86_64 and i686) under Wine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/build.sh"
cd "$top/build"
ctest --output-on-failure -j2 "$@"
