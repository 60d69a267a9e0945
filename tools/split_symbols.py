#!/usr/bin/env python3
"""Splits a linked binary into the shipped, stripped file and a symbol file kept beside the build.

usage: split_symbols.py OBJCOPY BINARY SYMBOL_FOLDER

SYMBOL_FOLDER/<name>.debug keeps the symbols and the debug information; the binary keeps only a link to
that file (name and checksum). A crash address is read against the binary's preferred image base:
    i686-w64-mingw32-addr2line -f -C -i -e SYMBOL_FOLDER/grimlet.dll.debug 0x<image base + offset>
Prints the binary's size as shipped.
"""
import os
import subprocess
import sys


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    objcopy, binary, folder = sys.argv[1:]
    name = os.path.basename(binary)
    symbols = os.path.join(folder, name + ".debug")
    os.makedirs(folder, exist_ok=True)
    linked = os.path.getsize(binary)
    subprocess.run([objcopy, "--only-keep-debug", binary, symbols], check=True)
    subprocess.run([objcopy, "--strip-all", "--add-gnu-debuglink=" + symbols, binary], check=True)
    print("%s: %d bytes shipped (%d as linked; symbols in %s)" % (name, os.path.getsize(binary), linked, symbols))


if __name__ == "__main__":
    main()
