#!/usr/bin/env bash
# Platform benchmarks against the Linux tools, measured in the same run on the same data:
#  - one-pass SHA-1 + MD5 (file_hash_bench) on a 256 MiB file vs sha1sum and md5sum run natively;
#  - walking a tree of 100,000 files (dir_enum_bench) vs find run natively.
# The Windows programs run under Wine; the data stay in build/bench-data for later runs.
# usage: tools/bench_platform.sh [x86_64|i686] [hash|enum|all]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
tier=${1:-x86_64}
what=${2:-all}
export WINEPREFIX="$top/build/wineprefix"
source "$top/tools/wine_env.sh"
bin="$top/build/$tier/bin"
data="$top/build/bench-data"
mkdir -p "$data"
[ -x "$bin/file_hash_bench.exe" ] && [ -x "$bin/dir_enum_bench.exe" ] || cmake --build "$top/build" --target "$tier" >/dev/null

# Best wall time of three runs of a command, in seconds.
best_of_3() {
  python3 - "$@" <<'PY'
import subprocess, sys, time
best = None
for _ in range(3):
    start = time.perf_counter()
    subprocess.run(sys.argv[1:], check=True, stdout=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    best = elapsed if best is None else min(best, elapsed)
print("%.4f" % best)
PY
}
result() { sed -n "s/.*RESULT.*$1=\([0-9.]*\).*/\1/p"; }
ratio() { python3 -c "print('%.2f' % (($1) / ($2)))"; }

"$top/tools/wine_prefix.sh" start >/dev/null

if [ "$what" = all ] || [ "$what" = hash ]; then
  file="$data/hash-256MiB.bin"
  if [ ! -f "$file" ] || [ "$(stat -c %s "$file")" -ne 268435456 ]; then
    head -c 268435456 /dev/urandom > "$file"
  fi
  echo "== one-pass SHA-1 + MD5 of a 256 MiB file ($tier)"
  out=$("$top/tools/wine_run.sh" "$tier" "$bin/file_hash_bench.exe" "$(to_windows_path "$file")")
  echo "$out"
  ours=$(echo "$out" | result one_pass_seconds)
  sha1=$(best_of_3 sha1sum "$file")
  md5=$(best_of_3 md5sum "$file")
  want_sha1=$(sha1sum "$file" | cut -d' ' -f1)
  want_md5=$(md5sum "$file" | cut -d' ' -f1)
  echo "$out" | grep -q "sha1 $want_sha1 md5 $want_md5" && echo "digests equal sha1sum/md5sum: yes" \
    || echo "digests equal sha1sum/md5sum: NO"
  echo "sha1sum (native):            $sha1 s"
  echo "md5sum (native):             $md5 s"
  echo "ratio HashFile throughput / sha1sum:             $(ratio "$sha1" "$ours")"
  echo "ratio HashFile throughput / md5sum:              $(ratio "$md5" "$ours")"
  echo "ratio HashFile one pass / sha1sum + md5sum:      $(ratio "$sha1 + $md5" "$ours")"
fi

if [ "$what" = all ] || [ "$what" = enum ]; then
  tree="$data/tree-100k"
  if [ ! -f "$tree.done" ]; then
    rm -rf "$tree"
    python3 - "$tree" <<'PY'
import os, sys
root = sys.argv[1]
for a in range(10):
    for b in range(10):
        folder = os.path.join(root, "a%d" % a, "b%d" % b)
        os.makedirs(folder)
        for f in range(1000):
            open(os.path.join(folder, "file%04d.dat" % f), "wb").close()
PY
    touch "$tree.done"
  fi
  echo "== walking a tree of 100,000 files ($tier)"
  out=$("$top/tools/wine_run.sh" "$tier" "$bin/dir_enum_bench.exe" "$(to_windows_path "$tree")")
  echo "$out"
  ours=$(echo "$out" | result walk_seconds)
  files=$(find "$tree" -type f | wc -l)
  findtime=$(best_of_3 find "$tree")
  echo "find (native, $files files):  $findtime s"
  echo "ratio EnumFindImpl walk time / find:             $(ratio "$ours" "$findtime")"
fi
