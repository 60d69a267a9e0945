#!/usr/bin/env python3
"""Seed-making steps of tests/fuzz/seeds.sh that need more than a shell.

payload EXE OUT        the archive behind the marker of a delivered program
search EXE OUT_DIR     recipe-prefixed stretches of the program around its marker
rename IN.7z OUT.7z    an archive whose "zz" names become "..", with its header checksums fixed
"""
import struct
import sys
import zlib

MARKER = b"quorvel" + b" tidewash clean tool"


def find_marker(data):
    at = data.find(MARKER)
    if at < 0:
        raise SystemExit("no payload marker")
    return at


def payload(exe, out):
    data = open(exe, "rb").read()
    open(out, "wb").write(data[find_marker(data) + len(MARKER):])


def search(exe, out_dir):
    data = open(exe, "rb").read()
    at = find_marker(data)
    stretch = data[max(0, at - 6000):at + len(MARKER) + 2000]
    seeds = {
        "whole-reads": b"\x00\x00\x00\x00" + stretch,
        "short-reads": b"\x05\x00\x00\x00" + stretch,
        "read-error": b"\x00\xf3\x02\x00" + stretch,
        # The marker straddles the first two 4096-byte reads.
        "straddle": b"\x00\x00\x00\x00" + b"\x90" * (4096 - 13) + MARKER + b"7z\xbc\xaf\x27\x1c",
        "no-marker": b"\x00\x00\x00\x00" + data[:8000],
        "half-marker": b"\x00\x00\x00\x00" + data[:4000] + MARKER[:20] + b"\x00" + MARKER[:26],
        # 2 MiB of filler before the marker: past the search limit.
        "beyond-limit": b"\x00\x00\x05\xfd" + MARKER + b"tail",
    }
    for name, bytes_ in seeds.items():
        open(f"{out_dir}/{name}", "wb").write(bytes_)


def rename(source, out):
    data = bytearray(open(source, "rb").read())
    offset, size = struct.unpack_from("<QQ", data, 12)
    header = bytes(data[32 + offset:32 + offset + size])
    header = header.replace("zz".encode("utf-16-le"), "..".encode("utf-16-le"))
    data[32 + offset:32 + offset + size] = header
    struct.pack_into("<I", data, 28, zlib.crc32(header))
    struct.pack_into("<I", data, 8, zlib.crc32(bytes(data[12:32])))
    open(out, "wb").write(bytes(data))


if __name__ == "__main__":
    {"payload": payload, "search": search, "rename": rename}[sys.argv[1]](*sys.argv[2:])
