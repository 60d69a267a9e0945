#!/usr/bin/env bash
# Builds the deliverables (set-up included): the shipped i686 binaries land in build/i686-deliver/bin/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/configure.sh" i686-deliver
