#!/usr/bin/env bash
# Seed corpora of the fuzz targets that take real files, made from this build's own outputs and kept
# small. Called by tools/make_fuzz_corpus.sh.
# usage: seeds.sh BUILD_DIR TARGET OUT_DIR
set -euo pipefail
build=$1; target=$2; out=$3
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Our own modules, cut to their first 64 KiB: headers, section table and the start of the code.
pe_seeds() {
  local n=0 f
  for f in "$build"/i686-deliver/bin/*.dll "$build"/i686-deliver/bin/*.exe \
           "$build"/x86_64/bin/*.dll "$build"/x86_64/bin/Tidewash.exe; do
    [ -f "$f" ] || continue
    n=$((n + 1))
    head -c 65536 "$f" > "$out/pe$n-$(basename "$f")"
  done
  # A header-only cut too: every section lies past the end of the file.
  for f in "$build"/i686-deliver/bin/grimlet.dll; do
    [ -f "$f" ] && head -c 1024 "$f" > "$out/headers-only-grimlet.dll"
  done
  return 0
}

# The payload archive of the delivered program: the bytes after the marker.
payload_archive() {
  python3 "$here/seed_tool.py" payload "$build/i686-deliver/bin/Tidewash.exe" "$1"
}

# Small 7z archives of every kind the decoder meets, made with 7zz.
small_archives() {
  local src="$scratch/src"
  mkdir -p "$src/plugin/sub" "$src/zz"
  printf 'grimlet plug-in stand-in\n' > "$src/plugin/a.txt"
  head -c 3000 /dev/zero | tr '\0' 'x' > "$src/plugin/sub/run.txt"
  : > "$src/plugin/empty.ini"
  printf 'escape' > "$src/zz/zz"
  local exe
  for exe in "$build"/i686-deliver/bin/grimlet.dll "$build"/x86_64/bin/Tidewash.exe; do
    [ -f "$exe" ] && head -c 20000 "$exe" > "$src/plugin/$(basename "$exe")"
  done
  (cd "$src" &&
    7zz a -bd -y -mx=9 -md=1536k -mf=BCJ2 -ms=on "$out/payload-like.7z" plugin >/dev/null &&
    7zz a -bd -y -mhc=off -ms=off "$out/plain-header.7z" plugin >/dev/null &&
    7zz a -bd -y -mhc=off -m0=Copy "$out/copy.7z" plugin/a.txt plugin/empty.ini >/dev/null &&
    7zz a -bd -y -mhc=off -mf=BCJ "$out/bcj.7z" plugin >/dev/null &&
    7zz a -bd -y -mhc=off -mf=Delta:4 "$out/delta.7z" plugin/sub >/dev/null &&
    7zz a -bd -y -m0=LZMA2 "$out/lzma2-unsupported.7z" plugin/a.txt >/dev/null &&
    7zz a -bd -y -m0=PPMd "$out/ppmd-unsupported.7z" plugin/a.txt >/dev/null &&
    7zz a -bd -y -mhc=off -ms=on "$scratch/zz.7z" zz >/dev/null)
  # The same archive with its names turned into ".." steps: refused, nothing written.
  python3 "$here/seed_tool.py" rename "$scratch/zz.7z" "$out/parent-step.7z"
}

# Our busy animation and a few small GIFs of every block kind, made with ImageMagick.
gif_seeds() {
  local top res
  top=$(cd "$here/../.." && pwd)
  for res in "$top"/app/res/*.gif; do
    [ -f "$res" ] && cp "$res" "$out/resource-$(basename "$res")"
  done
  command -v convert >/dev/null || return 0
  convert -size 5x4 xc:red "$out/still.gif"
  convert -size 6x6 xc:blue +compress "$out/gif87a.gif" && printf 'GIF87a' | dd of="$out/gif87a.gif" bs=1 conv=notrunc status=none
  convert -delay 10 -dispose Background -size 8x8 xc:red xc:lime xc:blue -loop 0 "$out/three-frames.gif"
  convert -delay 3 -dispose Previous -size 7x5 xc:yellow \( -size 3x2 xc:black -repage +2+1 \) \
          +map -set comment "tidewash" "$out/offset-frame.gif"
  convert -size 9x9 gradient:white-black -interlace GIF -colors 16 "$out/interlaced.gif"
}

# Key files as RunMendrel saves them (UTF-16 with its mark): every value form, continued hex lines,
# a subkey, comments and regedit's own spacing.
reg_seeds() {
  python3 - "$out" <<'PY'
import sys
out = sys.argv[1]
service = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Worm"
wide = ",".join("%02x,00" % ord(c) for c in "%SystemRoot%\\System32\\svchost.exe -k netsvcs") + ",00,00"
blob = ",".join("%02x" % (i * 7 % 256) for i in range(90))
def wrap(prefix, hexes):
    line, lines = prefix, []
    for i, h in enumerate(hexes.split(",")):
        piece = h + ("," if i + 1 < len(hexes.split(",")) else "")
        if i and len(line) + len(piece) > 79:
            lines.append(line + "\\")
            line = "  "
        line += piece
    return "\r\n".join(lines + [line])
files = {
    "service.reg": ["[" + service + "]", wrap('"ImagePath"=hex(2):', wide), '"Start"=dword:00000002',
                    '@="default \\"quoted\\" \\\\ text"', '"DependOnService"=hex(7):52,00,00,00,00,00',
                    wrap('"FailureActions"=hex:', blob), '"Big"=hex(b):01,02,03,04,05,06,07,08', '"Odd"=hex(1):61,00,62',
                    '"None"=hex(0):', "", "[" + service + "\\Parameters]", '"ServiceDll"="C:\\\\w.dll"'],
    "comments.reg": ["; saved by RunMendrel", "[" + service + "]  ", '"Type"=dword:20', '"List"=hex(7):61,00,\\',
                     "    00,00,00,00", ""],
}
for name, lines in files.items():
    text = "Windows Registry Editor Version 5.00\r\n\r\n" + "\r\n".join(lines) + "\r\n"
    with open(out + "/" + name, "wb") as f:
        f.write(b"\xff\xfe" + text.encode("utf-16-le"))
PY
}

# autorun.inf files as a worm and as a software stick write them, in 8-bit text and in UTF-16.
autorun_seeds() {
  printf '[AutoRun]\r\nopen=rundll32.exe RECYCLER\\w.dll,Go\r\nshell\\open\\command=rundll32 w.dll,Go\r\n' > "$out/worm.inf"
  printf '[autorun]\nopen=setup.exe\nicon=setup.exe,0\nlabel=Disc\n[AutoRun.Amd64]\nshellexecute="x64\\setup.exe"\n' > "$out/setup.inf"
  python3 -c 'import sys; sys.stdout.buffer.write(b"\xff\xfe" + "[AutoRun]\r\nShellExecute=\"C:\\WINDOWS\\system32\\rundll32.exe\" e:\\w.dll,Go\r\n".encode("utf-16-le"))' > "$out/wide.inf"
}

# Task files as the Task Scheduler writes them: rundll32 on a DLL, a control-panel applet with user
# data, absent strings, no triggers, and a job signature after the triggers.
job_seeds() {
  python3 - "$out" <<'PY'
import struct, sys
out = sys.argv[1]
def counted(text):
    if text is None:
        return struct.pack("<H", 0)
    return struct.pack("<H", len(text) + 1) + (text + "\0").encode("utf-16-le")
def job(app, params, workdir, author, comment, user=b"", triggers=1, tail=b""):
    var = struct.pack("<H", 0) + counted(app) + counted(params) + counted(workdir) + counted(author) + counted(comment)
    var += struct.pack("<H", len(user)) + user + struct.pack("<H", 8) + bytes(8)
    trigger_offset = 68 + len(var)
    fixed = struct.pack("<HH16sHHHHHHIIIII", 0x0501, 1, bytes(range(16)), 70, trigger_offset, 0, 0, 10, 10,
                        0x20, 259200000, 0, 0x41301, 0) + bytes(16)
    trig = struct.pack("<HHHHHHHHIIIHHHHHH", 48, 0, 0, 2026, 12, 8, 0, 0, 4, 23, 0, 1, 1, 0, 0, 0, 0) + bytes(10)
    return fixed + var + struct.pack("<H", triggers) + trig[:48] * triggers + tail
seeds = {
    "at1.job": job("rundll32.exe", "\"C:\\WINDOWS\\system32\\wrmhlp.dll\",ServiceMain", "%SystemRoot%", "WORKGROUP\\Administrator", ""),
    "at2.job": job("rundll32.exe", "shell32.dll,Control_RunDLL desk.cpl", None, "Administrator", "applet", user=b"\x01\x02\x03"),
    "bare.job": job("%SystemRoot%\\system32\\notepad.exe", None, None, None, None, triggers=0),
    "signed.job": job("C:\\tools\\backup.exe", "/all", "C:\\tools", "SYSTEM", "nightly", triggers=2, tail=bytes(64)),
}
for name, data in seeds.items():
    with open(out + "/" + name, "wb") as f:
        f.write(data)
PY
}

case "$target" in
  fuzz_autorun_inf)
    autorun_seeds
    ;;
  fuzz_job_file)
    job_seeds
    ;;
  fuzz_reg_file)
    reg_seeds
    ;;
  fuzz_gif_splitter)
    gif_seeds
    ;;
  fuzz_pe_headers)
    pe_seeds
    ;;
  fuzz_payload_search)
    # Recipe (4 bytes: read sizes, read error, filler), then a stretch of the program around its marker.
    python3 "$here/seed_tool.py" search "$build/i686-deliver/bin/Tidewash.exe" "$out"
    ;;
  fuzz_7z_extract)
    payload_archive "$out/payload.7z" || true
    small_archives
    ;;
esac
