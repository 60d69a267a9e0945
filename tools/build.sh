#!/usr/bin/env bash
# Builds the deliverables (set-up included): the shipped i686 binaries land in build/i686-deliver/bin/.
# Given TIDEWASH_SIGNING_PFX and TIDEWASH_SIGNING_PASSWORD_FILE (and optionally TIDEWASH_TIMESTAMP_URL),
# the build signs all three of them (README, "Signing a release"); without them it builds unsigned.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${TIDEWASH_SIGNING_PFX:-}${TIDEWASH_SIGNING_PASSWORD_FILE:-}${TIDEWASH_TIMESTAMP_URL:-}" ]; then
  echo "build: unsigned build (set TIDEWASH_SIGNING_PFX and TIDEWASH_SIGNING_PASSWORD_FILE to sign)"
  exec "$top/tools/configure.sh" i686-deliver
fi
echo "build: signing the deliverables with ${TIDEWASH_SIGNING_PFX:-(no key given)}"
if ! "$top/tools/configure.sh" i686-deliver; then
  # A release that failed leaves nothing behind that could be shipped by mistake: not an unsigned
  # program, nor one signed in an earlier run.
  rm -f "$top/build/i686-deliver/bin/"{Tidewash.exe,grimlet.dll,RunMendrel.exe}
  echo "build: the signed build failed; no deliverable is left in build/i686-deliver/bin/" >&2
  exit 1
fi
