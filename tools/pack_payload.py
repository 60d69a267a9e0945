#!/usr/bin/env python3
"""Builds the delivered self-extracting program: the linked image, the marker, then a 7z archive.

usage: pack_payload.py --image IMAGE --out PROGRAM --work FOLDER [--plugin FILE]...

The archive is solid, LZMA with a 1536 KiB dictionary, executables through BCJ2, "/" separators, one
"plugin" directory entry and the given files under it. 7-Zip on Linux stores POSIX modes in the upper
half of each entry's attributes; they are rewritten to plain Windows attributes (archive on files,
directory on the folder), as an archive made on Windows would carry them.

The archive's length and SHA-256 are written into the image, behind the tag STAMP_TAG, before anything
signs the program: the program unpacks only an archive with exactly these bytes, whatever lies at its
path by the time it reads its payload. Behind them goes the SHA-256 of the image itself, read with that
digest's own field, the checksum and the certificate table's directory entry as zeros (the two fields
that signing rewrites): before the program runs a copy of itself, it checks that the copy's image is
its own to the byte.
"""
import argparse
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import zlib

MARKER = b"quorvel" + b" tidewash clean tool"
SEARCH_LIMIT = 2 * 1024 * 1024
UNIX_EXTENSION = 0x8000
STAMP_TAG = b"TidewashPayload1"
STAMP_SIZE = 8 + 32 + 32
IMAGE_DIGEST_AT = 8 + 32  # within the stamp field

K_END, K_HEADER, K_ARCHIVE_PROPERTIES, K_ADDITIONAL_STREAMS, K_MAIN_STREAMS, K_FILES_INFO = 0, 1, 2, 3, 4, 5
K_PACK_INFO, K_UNPACK_INFO, K_SUBSTREAMS_INFO, K_SIZE, K_CRC, K_FOLDER = 6, 7, 8, 9, 10, 11
K_CODERS_UNPACK_SIZE, K_NUM_UNPACK_STREAM, K_ENCODED_HEADER, K_WIN_ATTRIBUTES = 12, 13, 0x17, 0x15


class Reader:
    def __init__(self, data, pos=0):
        self.data, self.pos = data, pos

    def byte(self):
        value = self.data[self.pos]
        self.pos += 1
        return value

    def number(self):
        first = self.byte()
        mask, value = 0x80, 0
        for i in range(8):
            if first & mask == 0:
                return value | ((first & (mask - 1)) << (8 * i))
            value |= self.byte() << (8 * i)
            mask >>= 1
        return value

    def skip(self, count):
        self.pos += count

    def bits(self, count):
        """A defined-vector with its all-defined byte: the number of set bits among `count`."""
        if self.byte():
            return count
        raw = self.data[self.pos:self.pos + (count + 7) // 8]
        self.pos += (count + 7) // 8
        return sum(1 for i in range(count) if raw[i // 8] & (0x80 >> (i % 8)))

    def digests(self, count):
        self.skip(4 * self.bits(count))


def read_folders(r):
    if r.number() != K_FOLDER:
        raise ValueError("folder list expected")
    count = r.number()
    if r.byte() != 0:
        raise ValueError("external folders")
    outputs = []
    for _ in range(count):
        total_in = total_out = 0
        for _ in range(r.number()):
            flags = r.byte()
            r.skip(flags & 0x0F)
            if flags & 0x10:
                total_in += r.number()
                total_out += r.number()
            else:
                total_in += 1
                total_out += 1
            if flags & 0x20:
                r.skip(r.number())
            if flags & 0x80:
                raise ValueError("alternative coder methods")
        for _ in range(total_out - 1):
            r.number()
            r.number()
        packed = total_in - (total_out - 1)
        if packed > 1:
            for _ in range(packed):
                r.number()
        outputs.append(total_out)
    if r.number() != K_CODERS_UNPACK_SIZE:
        raise ValueError("unpack sizes expected")
    for n in outputs:
        for _ in range(n):
            r.number()
    crc_defined = [False] * count
    while True:
        item = r.number()
        if item == K_END:
            return crc_defined
        if item != K_CRC:
            raise ValueError("unexpected unpack info item %d" % item)
        if r.byte():
            crc_defined = [True] * count
        else:
            raw = r.data[r.pos:r.pos + (count + 7) // 8]
            r.pos += (count + 7) // 8
            crc_defined = [bool(raw[i // 8] & (0x80 >> (i % 8))) for i in range(count)]
        r.skip(4 * sum(crc_defined))


def skip_substreams(r, crc_defined):
    per_folder = [1] * len(crc_defined)
    item = r.number()
    if item == K_NUM_UNPACK_STREAM:
        per_folder = [r.number() for _ in crc_defined]
        item = r.number()
    if item == K_SIZE:
        for n in per_folder:
            for _ in range(max(n - 1, 0)):
                r.number()
        item = r.number()
    while item != K_END:
        if item != K_CRC:
            raise ValueError("unexpected substreams item %d" % item)
        unknown = sum(n for n, known in zip(per_folder, crc_defined) if not (n == 1 and known))
        r.digests(unknown)
        item = r.number()


def skip_main_streams(r):
    crc_defined = []
    while True:
        section = r.number()
        if section == K_END:
            return
        if section == K_PACK_INFO:
            r.number()
            streams = r.number()
            item = r.number()
            while item != K_END:
                if item == K_SIZE:
                    for _ in range(streams):
                        r.number()
                elif item == K_CRC:
                    r.digests(streams)
                else:
                    raise ValueError("unexpected pack info item %d" % item)
                item = r.number()
        elif section == K_UNPACK_INFO:
            crc_defined = read_folders(r)
        elif section == K_SUBSTREAMS_INFO:
            skip_substreams(r, crc_defined)
        else:
            raise ValueError("unexpected streams section %d" % section)


def windows_attributes(archive):
    """Rewrites the entries' attributes in place and fixes the header checksums."""
    data = bytearray(archive)
    if data[:6] != b"7z\xbc\xaf\x27\x1c":
        raise ValueError("not a 7z archive")
    offset, size = struct.unpack_from("<QQ", data, 12)
    start = 32 + offset
    r = Reader(data, start)
    if r.byte() != K_HEADER:
        raise ValueError("plain header expected (make the archive with -mhc=off)")
    section = r.number()
    if section == K_ARCHIVE_PROPERTIES:
        while r.number() != K_END:
            r.skip(r.number())
        section = r.number()
    if section == K_ADDITIONAL_STREAMS:
        raise ValueError("additional streams are not expected")
    if section == K_MAIN_STREAMS:
        skip_main_streams(r)
        section = r.number()
    if section == K_FILES_INFO:
        files = r.number()
        while True:
            prop = r.number()
            if prop == K_END:
                break
            length = r.number()
            end = r.pos + length
            if prop == K_WIN_ATTRIBUTES:
                if r.byte():
                    defined = [True] * files
                else:
                    raw = data[r.pos:r.pos + (files + 7) // 8]
                    r.pos += (files + 7) // 8
                    defined = [bool(raw[i // 8] & (0x80 >> (i % 8))) for i in range(files)]
                if r.byte() != 0:
                    raise ValueError("external attributes")
                for is_defined in defined:
                    if is_defined:
                        (value,) = struct.unpack_from("<I", data, r.pos)
                        if value & UNIX_EXTENSION and value >> 16:
                            value &= 0x7FFF
                        struct.pack_into("<I", data, r.pos, value)
                        r.pos += 4
            r.pos = end
    struct.pack_into("<I", data, 28, zlib.crc32(bytes(data[start:start + size])) & 0xFFFFFFFF)
    struct.pack_into("<I", data, 8, zlib.crc32(bytes(data[12:32])) & 0xFFFFFFFF)
    return bytes(data)


def make_archive(work, plugins, sevenzip):
    stage = os.path.join(work, "stage")
    shutil.rmtree(stage, ignore_errors=True)
    os.makedirs(os.path.join(stage, "plugin"))
    for path in plugins:
        target = os.path.join(stage, "plugin", os.path.basename(path))
        shutil.copyfile(path, target)
        os.chmod(target, 0o644)
    archive = os.path.join(work, "payload.7z")
    if os.path.exists(archive):
        os.remove(archive)
    subprocess.run([sevenzip, "a", "-t7z", "-ms=on", "-m0=LZMA:d=1536k", "-mf=BCJ2", "-mhc=off",
                    "-bd", "-bso0", "-bsp0", archive, "plugin"], cwd=stage, check=True)
    with open(archive, "rb") as f:
        return windows_attributes(f.read())


def stamp_image(image, archive):
    """The image with the archive's length and SHA-256 behind its one stamp tag."""
    at = image.find(STAMP_TAG)
    if at < 0 or image.find(STAMP_TAG, at + 1) >= 0:
        raise ValueError("the image must hold the payload stamp tag exactly once")
    field = at + len(STAMP_TAG)
    if image[field:field + STAMP_SIZE] != bytes(STAMP_SIZE):
        raise ValueError("the image's payload stamp is not blank")
    stamp = struct.pack("<Q", len(archive)) + hashlib.sha256(archive).digest() + bytes(32)
    image = image[:field] + stamp + image[field + STAMP_SIZE:]
    digest_at = field + IMAGE_DIGEST_AT
    return image[:digest_at] + image_digest(image, digest_at) + image[digest_at + 32:]


def image_digest(image, digest_at):
    """SHA-256 of the image with the digest's own 32 bytes, the checksum and the certificate table's
    directory entry read as zeros."""
    masked = bytearray(image)
    for at, size in signature_fields(image) + [(digest_at, 32)]:
        masked[at:at + size] = bytes(size)
    return hashlib.sha256(bytes(masked)).digest()


def signature_fields(image):
    """Where signing writes in the PE headers: the checksum and the certificate table's entry."""
    if len(image) < 0x40 or image[:2] != b"MZ":
        raise ValueError("the image is not a PE file")
    optional = struct.unpack_from("<I", image, 0x3C)[0] + 24
    if optional + 2 > len(image) or image[optional - 24:optional - 20] != b"PE\0\0":
        raise ValueError("the image is not a PE file")
    pe32plus = struct.unpack_from("<H", image, optional)[0] == 0x20B
    security = optional + (112 if pe32plus else 96) + 4 * 8
    if security + 8 > len(image):
        raise ValueError("the image's headers are cut short")
    return [(optional + 64, 4), (security, 8)]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--image", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--plugin", action="append", default=[])
    parser.add_argument("--7zz", dest="sevenzip", default="7zz")
    args = parser.parse_args()

    with open(args.image, "rb") as f:
        image = f.read()
    # The program takes the first marker in its file as the payload's start, and looks only so far.
    if MARKER in image:
        sys.exit("pack_payload: %s holds the marker in one piece" % args.image)
    if len(image) >= SEARCH_LIMIT:
        sys.exit("pack_payload: %s is too large for the payload search (%d bytes)" % (args.image, len(image)))

    os.makedirs(args.work, exist_ok=True)
    archive = make_archive(args.work, args.plugin, args.sevenzip)
    try:
        image = stamp_image(image, archive)
    except ValueError as error:
        sys.exit("pack_payload: %s: %s" % (args.image, error))
    partial = args.out + ".part"
    with open(partial, "wb") as f:
        f.write(image)
        f.write(MARKER)
        f.write(archive)
    os.chmod(partial, 0o755)
    os.replace(partial, args.out)
    print("%s: %d bytes = image %d + marker %d + payload %d" % (
        os.path.basename(args.out), len(image) + len(MARKER) + len(archive), len(image), len(MARKER), len(archive)))


if __name__ == "__main__":
    main()
