#!/usr/bin/env bash
# Runs one Windows program of the given tier (i686 or x86_64) in the test run's Wine prefix.
# usage: wine_run.sh i686|x86_64 program.exe [args...]
set -euo pipefail
source "$(dirname "$0")/wine_env.sh"
tier=$1; shift
exe=$1; shift
[ -n "${TW_BIN_DIR:-}" ] && export TW_BIN_DIR=$(to_windows_path "$TW_BIN_DIR")
[ -n "${TW_PRODUCT_DIR:-}" ] && export TW_PRODUCT_DIR=$(to_windows_path "$TW_PRODUCT_DIR")
export TW_TIER=$tier
case "$tier" in
  i686) exec "$WINE32" "$exe" "$@";;
  x86_64) exec "$WINE64" "$exe" "$@";;
  *) echo "unknown tier $tier" >&2; exit 2;;
esac
