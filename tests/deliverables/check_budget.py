#!/usr/bin/env python3
"""Checks that the shipped i686 binaries stay lean.

usage: check_budget.py BIN_FOLDER SYMBOL_FOLDER

- Tidewash.exe is at most 1.5 MiB in all, and its image (everything before the payload marker) at most
  1.25 MiB: the payload search reads only the first 2 MiB, and the program travels by mail and USB stick.
- Every shipped binary is stripped (no symbol table, no debug sections), and its symbol file
  SYMBOL_FOLDER/<name>.debug exists, so that a crash address can still be read.
"""
import os
import struct
import sys

TOTAL_LIMIT = 1536 * 1024
IMAGE_LIMIT = 1280 * 1024
MARKER = b"quorvel" + b" tidewash clean tool"


def symbol_count(data):
    nt = struct.unpack_from("<I", data, 0x3C)[0]
    return struct.unpack_from("<I", data, nt + 16)[0]


def section_names(data):
    """Names longer than 8 characters (".eh_frame", every debug section) stand as "/<offset>" into the
    string table behind the symbol table."""
    nt = struct.unpack_from("<I", data, 0x3C)[0]
    count, = struct.unpack_from("<H", data, nt + 6)
    table, symbols = struct.unpack_from("<II", data, nt + 12)
    optional, = struct.unpack_from("<H", data, nt + 20)
    strings = table + 18 * symbols
    first = nt + 24 + optional
    names = []
    for i in range(count):
        name = data[first + 40 * i:first + 40 * i + 8].rstrip(b"\0")
        if name.startswith(b"/") and name[1:].isdigit() and table:
            start = strings + int(name[1:])
            name = data[start:data.index(b"\0", start)]
        names.append(name.decode("ascii", "replace"))
    return names


def check(folder, symbols):
    problems = []
    program = os.path.join(folder, "Tidewash.exe")
    if not os.path.exists(program):
        return ["no Tidewash.exe in %s" % folder]
    with open(program, "rb") as f:
        data = f.read()
    image = data.find(MARKER)
    print("Tidewash.exe: %d bytes in all (limit %d), image %d bytes (limit %d)" % (len(data), TOTAL_LIMIT, image,
                                                                                  IMAGE_LIMIT))
    if image < 0:
        problems.append("Tidewash.exe carries no payload marker")
    elif image > IMAGE_LIMIT:
        problems.append("the image of Tidewash.exe is %d bytes, over %d" % (image, IMAGE_LIMIT))
    if len(data) > TOTAL_LIMIT:
        problems.append("Tidewash.exe is %d bytes, over %d" % (len(data), TOTAL_LIMIT))

    for name in sorted(os.listdir(folder)):
        if not name.lower().endswith((".exe", ".dll")):
            continue
        with open(os.path.join(folder, name), "rb") as f:
            binary = f.read()
        if symbol_count(binary):
            problems.append("%s: not stripped (%d symbols)" % (name, symbol_count(binary)))
        debug = [s for s in section_names(binary) if s.startswith((".debug", ".zdebug", "/"))]
        if debug:
            problems.append("%s: debug sections %s" % (name, ", ".join(debug)))
        symbol_file = os.path.join(symbols, name + ".debug")
        if not os.path.exists(symbol_file) or os.path.getsize(symbol_file) == 0:
            problems.append("%s: no symbol file %s" % (name, symbol_file))
        print("%s: %d bytes" % (name, len(binary)))
    return problems


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    found = check(sys.argv[1], sys.argv[2])
    for problem in found:
        print("FAIL " + problem)
    sys.exit(1 if found else 0)
