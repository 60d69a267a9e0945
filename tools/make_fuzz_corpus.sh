#!/usr/bin/env bash
# Makes the small seed corpus of one fuzz target from real inputs of this build.
# usage: make_fuzz_corpus.sh BUILD_DIR TARGET OUT_DIR
set -euo pipefail
build=$1; target=$2; out=$3
top=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$out"
case "$target" in
  fuzz_log_line)
    # Recipe bytes: number seed, source length, sequence, level, then text; 0x01 opens a %s argument.
    printf '\x07\x0ePackageManagerDrop payload archive' > "$out/plain"
    printf '\x01\x05SKApiopen \x01C:\\Windows\\system32\\kernel32.dll\x02 tail' > "$out/string-arg"
    printf '\x02\x00\x10\x02100%% done %%s %%n %%S' > "$out/percent"
    { printf '\x03\x03Big\x04\x01\xff'; head -c 5000 /dev/zero | tr '\0' 'q'; } > "$out/huge"
    ;;
  *)
    # Targets that take real files get them from their own seed step in tests/fuzz/seeds.sh.
    if [ -f "$top/tests/fuzz/seeds.sh" ]; then
      "$top/tests/fuzz/seeds.sh" "$build" "$target" "$out"
    fi
    ;;
esac
