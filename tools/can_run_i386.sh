#!/usr/bin/env bash
# Exits 0 when this machine can execute a 32-bit x86 ELF program (natively or through binfmt_misc).
set -u
probe=/usr/lib/i386-linux-gnu/wine/wine
[ -x "$probe" ] || probe=$(ls /usr/lib/wine/wine 2>/dev/null)
# A tiny static i386 ELF ("exit 0") would be ideal; Wine's own 32-bit loader answers --version without a prefix.
out=$("$probe" --version 2>&1) && exit 0
echo "$out" >&2
exit 1
