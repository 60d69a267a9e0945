#!/usr/bin/env bash
# Sets the machine up (first run only) and configures the super-build in build/; then builds the trees
# named as arguments (all of them when none is named). The other scripts build through it.
# usage: tools/configure.sh [TARGET ...]   targets: i686-deliver i686 x86_64 fuzz
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/setup.sh"
cmake -S "$top" -B "$top/build" -G Ninja >/dev/null
if [ $# -eq 0 ]; then
  cmake --build "$top/build"
else
  targets=()
  for t in "$@"; do targets+=(--target "$t"); done
  cmake --build "$top/build" "${targets[@]}"
fi
