#!/usr/bin/env python3
"""Makes the archives the payload tests unpack, into OUT (a folder beside the test programs).

usage: make_payload_fixtures.py OUT PACK_PAYLOAD_SCRIPT 7ZZ

- payload.7z and its source tree files/plugin/: made by the packer's own archive step (7-Zip: solid,
  LZMA, BCJ2), so the tests unpack what the build ships.
- Hand-made archives (stored, no compression) for what 7-Zip will not write: a directory entry after
  its children, and names that leave the target folder.
- Damaged copies of payload.7z: truncated, one byte flipped, garbage, empty.
"""
import importlib.util
import os
import random
import shutil
import struct
import sys
import zlib


def number(value):
    """A 7z variable-length number."""
    for extra in range(9):
        if extra == 8 or value < (1 << (7 * (extra + 1))):
            break
    if extra == 0:
        return bytes([value])
    if extra == 8:
        return b"\xff" + value.to_bytes(8, "little")
    first = (0xFF << (8 - extra)) & 0xFF | (value >> (8 * extra))
    return bytes([first]) + (value & ((1 << (8 * extra)) - 1)).to_bytes(extra, "little")


def bit_vector(bits):
    out = bytearray((len(bits) + 7) // 8)
    for i, bit in enumerate(bits):
        if bit:
            out[i // 8] |= 0x80 >> (i % 8)
    return bytes(out)


def stored_archive(entries):
    """A 7z archive with the entries in the given order; entries: (name, bytes or None for a folder)."""
    streams = [data for _, data in entries if data]
    packed = b"".join(streams)
    header = bytearray(b"\x01")
    if streams:
        header += b"\x04"
        header += b"\x06" + number(0) + number(1) + b"\x09" + number(len(packed)) + b"\x00"
        header += b"\x07\x0b" + number(1) + b"\x00" + number(1) + b"\x01\x00"
        header += b"\x0c" + number(len(packed)) + b"\x00"
        header += b"\x08\x0d" + number(len(streams))
        if len(streams) > 1:
            header += b"\x09" + b"".join(number(len(s)) for s in streams[:-1])
        header += b"\x0a\x01" + b"".join(struct.pack("<I", zlib.crc32(s)) for s in streams)
        header += b"\x00\x00"
    header += b"\x05" + number(len(entries))
    empty = [not data for _, data in entries]
    if any(empty):
        vector = bit_vector(empty)
        header += b"\x0e" + number(len(vector)) + vector
        empty_files = bit_vector([data is not None for _, data in entries if not data])
        header += b"\x0f" + number(len(empty_files)) + empty_files
    names = b"\x00" + b"".join(name.encode("utf-16-le") + b"\x00\x00" for name, _ in entries)
    header += b"\x11" + number(len(names)) + names
    attributes = b"\x01\x00" + b"".join(struct.pack("<I", 0x10 if data is None else 0x20) for _, data in entries)
    header += b"\x15" + number(len(attributes)) + attributes
    header += b"\x00\x00"
    tail = struct.pack("<QQI", len(packed), len(header), zlib.crc32(header))
    return b"7z\xbc\xaf\x27\x1c\x00\x04" + struct.pack("<I", zlib.crc32(tail)) + tail + packed + bytes(header)


def flip(data, offset):
    return data[:offset] + bytes([data[offset] ^ 0xFF]) + data[offset + 1:]


def program_like(size, seed):
    """Bytes with the x86 call and jump opcodes that make 7-Zip use its branch filters."""
    rng = random.Random(seed)
    out = bytearray()
    while len(out) < size:
        out += bytes([0x55, 0x8B, 0xEC, 0xE8]) + rng.randrange(0, 1 << 20).to_bytes(4, "little")
        out += bytes([0x85, 0xC0, 0x0F, 0x84]) + rng.randrange(0, 4096).to_bytes(4, "little")
        out += rng.choice([b"GetProcAddress\0", b"LoadLibraryW\0", b"\0\0\0\0", bytes(rng.randrange(256) for _ in range(6))])
    return bytes(out[:size])


def main():
    out, pack_script, sevenzip = sys.argv[1:4]
    location = importlib.util.spec_from_file_location("pack_payload", pack_script)
    packer = importlib.util.module_from_spec(location)
    location.loader.exec_module(packer)

    shutil.rmtree(out, ignore_errors=True)
    sources = os.path.join(out, "files", "plugin")
    os.makedirs(sources)
    files = {
        "grimlet.dll": program_like(300000, 1),
        "RunMendrel.exe": program_like(120000, 2),
        "notes.txt": "清除 GRIMLET\r\n".encode("utf-8") * 500,
        "empty.bin": b"",
    }
    for name, data in files.items():
        with open(os.path.join(sources, name), "wb") as f:
            f.write(data)
    good = packer.make_archive(os.path.join(out, "work"), [os.path.join(sources, n) for n in sorted(files)], sevenzip)
    shutil.rmtree(os.path.join(out, "work"))

    archives = {
        "payload.7z": good,
        "truncated.7z": good[:len(good) // 2],
        "flipped.7z": flip(stored_archive([("plugin/a.txt", b"a" * 300), ("plugin/b.txt", b"b" * 300)]), 32 + 100),
        "flipped_lzma.7z": flip(good, len(good) // 3),
        "garbage.7z": bytes(random.Random(3).randrange(256) for _ in range(4096)),
        "empty.7z": b"",
        "children_first.7z": stored_archive([
            ("plugin/grimlet.dll", b"new plug-in"), ("plugin/sub/deep.txt", b"deep"), ("plugin", None)]),
        "backslashes.7z": stored_archive([("plugin\\sub\\win.txt", b"made on Windows")]),
        "escape_parent.7z": stored_archive([("plugin/ok.txt", b"ok"), ("../escape.txt", b"escaped")]),
        "escape_nested.7z": stored_archive([("plugin", None), ("plugin/../../escape.txt", b"escaped")]),
        "escape_backslash.7z": stored_archive([("plugin\\..\\..\\escape.txt", b"escaped")]),
        "escape_rooted.7z": stored_archive([("/escape.txt", b"escaped")]),
        "escape_drive.7z": stored_archive([("C:escape.txt", b"escaped")]),
        "escape_device.7z": stored_archive([("plugin/ok.txt", b"ok"), ("plugin/NUL.txt", b"device")]),
    }
    for name, data in archives.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
