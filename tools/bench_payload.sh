#!/usr/bin/env bash
# Payload benchmark on a payload of about 24 MiB of real executables (the x86_64 and i386 PE DLLs Wine
# ships), packed like the delivered program (solid LZMA, 1536 KiB dictionary, BCJ2) and appended to the
# tier's linked image, measured in one run:
#  - Extract7z (payload_bench under Wine) against `7zz x` of the same archive, run natively;
#  - the payload search and copy against CopyFileW of the same program file (both under Wine).
# The data stay in build/bench-data/payload for later runs.
# usage: tools/bench_payload.sh [x86_64|i686]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
tier=${1:-x86_64}
export WINEPREFIX="$top/build/wineprefix"
source "$top/tools/wine_env.sh"
tree="$top/build/$tier"
[ -x "$tree/bin/payload_bench.exe" ] && [ -f "$tree/obj/Tidewash.exe" ] || cmake --build "$top/build" --target "$tier" >/dev/null
data="$top/build/bench-data/payload"
archive="$data/payload.7z"
program="$data/Tidewash-$tier.exe"

if [ ! -f "$data/files.done" ]; then
  rm -rf "$data" && mkdir -p "$data/files"
  total=0
  for dll in /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/*.dll /usr/lib/i386-linux-gnu/wine/i386-windows/*.dll; do
    [ "$total" -ge $((24 * 1024 * 1024)) ] && break
    name="$(basename "$(dirname "$dll")")-$(basename "$dll")"
    cp "$dll" "$data/files/$name"
    total=$((total + $(stat -c %s "$dll")))
  done
  touch "$data/files.done"
fi
# The packer itself makes the archive and the program (image + marker + archive).
python3 "$top/tools/pack_payload.py" --image "$tree/obj/Tidewash.exe" --out "$program" --work "$data/work" \
  $(for f in "$data"/files/*; do printf -- '--plugin %s ' "$f"; done)

# The archive as shipped: the program's bytes after the marker.
python3 - "$program" "$archive" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
marker = b"quorvel" + b" tidewash clean tool"
open(sys.argv[2], "wb").write(data[data.index(marker) + len(marker):])
PY

"$top/tools/wine_prefix.sh" start >/dev/null
echo "== payload: $(du -sm "$data/files" | cut -f1) MiB of executables in a $(( $(stat -c %s "$archive") / 1048576 )) MiB archive ($tier)"
out=$("$top/tools/wine_run.sh" "$tier" "$tree/bin/payload_bench.exe" "$(to_windows_path "$archive")" "$(to_windows_path "$program")")
echo "$out" | grep -v '^RESULT'
ours=$(echo "$out" | sed -n 's/.*RESULT.*extract_seconds=\([0-9.]*\).*/\1/p')
peer_dir="$data/peer"
best() {
  python3 - "$@" <<'PY'
import shutil, subprocess, sys, time
out, args = sys.argv[1], sys.argv[2:]
best = None
for _ in range(3):
    shutil.rmtree(out, ignore_errors=True)
    start = time.perf_counter()
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    best = elapsed if best is None else min(best, elapsed)
print("%.4f" % best)
PY
}
peer=$(best "$peer_dir" 7zz x -y -bd "-o$peer_dir" "$archive")
peer1=$(best "$peer_dir" 7zz x -y -bd -mmt=1 "-o$peer_dir" "$archive")
diff -r "$peer_dir/plugin" "$data/files" >/dev/null && echo "7zz x unpacks the same files: yes" || echo "7zz x unpacks the same files: NO"
echo "7zz x (native, best of 3):         $peer s"
echo "7zz x -mmt=1 (native, best of 3):  $peer1 s"
echo "ratio Extract7z throughput / 7zz x:         $(python3 -c "print('%.2f' % ($peer / $ours))")"
echo "ratio Extract7z throughput / 7zz x -mmt=1:  $(python3 -c "print('%.2f' % ($peer1 / $ours))")"
rm -rf "$peer_dir"
