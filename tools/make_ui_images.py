#!/usr/bin/env python3
"""Draws the dialog's images into app/res/: the skin (bitmap 136), the close button (134, 135), the
program icon (128) and the busy animation (GIF 137).

The GIF is written byte by byte here (8 frames, 16 x 16, delay 10, disposal 1) so that its structure is
exactly what the picture control expects; the bitmaps and the icon are drawn with ImageMagick `convert`
and the WenQuanYi Zen Hei font. A bitmap of at most 16 colours is stored with a 4-bit palette, checked
pixel by pixel against the drawing (the skin has too many colours for that). The outputs are committed;
run this again only to change the look.

usage: make_ui_images.py              draw everything
       make_ui_images.py --index BMP  store one 24-bit bitmap with a palette when its colours allow
"""
import math
import os
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
RES = os.path.join(HERE, "..", "app", "res")
FONT = "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc"

# Skin size: the dialog's 376 x 231 dialog units at the base units of its 8-point font (6 x 13 pixels).
SKIN_W, SKIN_H = 564, 375
HEADER_H = 54
FOOTER_Y = 342
OUTSIDE = "#FFFF00"           # the transparent colour 0x00FFFF (COLORREF order) is yellow
BODY = "#F0F0F0"              # matches the busy animation's background
HEADER_TOP, HEADER_BOTTOM = "#2B6CB0", "#1D4E89"
BORDER = "#173F6E"
ACCENT = (0x2B, 0x6C, 0xB0)


def run(*args):
    subprocess.run(["convert", *args], check=True)


# --- busy animation -------------------------------------------------------------------------------

def lzw_encode(indices, min_code_size):
    clear = 1 << min_code_size
    end = clear + 1
    out_bits = []

    def emit(code, size):
        for i in range(size):
            out_bits.append((code >> i) & 1)

    def reset():
        return {bytes([i]): i for i in range(clear)}, end + 1, min_code_size + 1

    table, next_code, size = reset()
    emit(clear, size)
    current = b""
    for index in indices:
        candidate = current + bytes([index])
        if candidate in table:
            current = candidate
            continue
        emit(table[current], size)
        if next_code < 4096:
            table[candidate] = next_code
            if next_code == (1 << size) and size < 12:
                size += 1
            next_code += 1
        else:
            emit(clear, size)
            table, next_code, size = reset()
        current = bytes([index])
    if current:
        emit(table[current], size)
    emit(end, size)
    data = bytearray()
    for i in range(0, len(out_bits), 8):
        byte = 0
        for bit, value in enumerate(out_bits[i:i + 8]):
            byte |= value << bit
        data.append(byte)
    return bytes(data)


def sub_blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out.append(len(chunk))
        out += chunk
    out.append(0)
    return bytes(out)


def spinner_gif(path, size=16, frames=8, delay=10):
    background = (0xF0, 0xF0, 0xF0)
    levels = 16
    palette = []
    for i in range(levels):
        t = i / (levels - 1)
        palette.append(tuple(round(background[c] + (ACCENT[c] - background[c]) * t) for c in range(3)))
    dots = 8
    centre = (size - 1) / 2
    radius, dot_radius = 5.2, 1.75
    gif = bytearray(b"GIF89a")
    gif += struct.pack("<HHBBB", size, size, 0x80 | 0x70 | 3, 0, 0)  # global table of 16 colours
    for colour in palette:
        gif += bytes(colour)
    gif += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00"  # loop for ever
    for frame in range(frames):
        pixels = []
        for y in range(size):
            for x in range(size):
                level = 0.0
                for dot in range(dots):
                    angle = 2 * math.pi * dot / dots - math.pi / 2
                    cx = centre + radius * math.cos(angle)
                    cy = centre + radius * math.sin(angle)
                    # Lead dot full strength, the ones behind it fading out.
                    strength = 0.22 + 0.78 * (((dot - frame) % dots) / (dots - 1)) ** 1.6
                    coverage = 0.0
                    for sy in range(4):
                        for sx in range(4):
                            px, py = x + (sx + 0.5) / 4 - 0.5, y + (sy + 0.5) / 4 - 0.5
                            if (px - cx) ** 2 + (py - cy) ** 2 <= dot_radius ** 2:
                                coverage += 1 / 16
                    level = max(level, coverage * strength)
                pixels.append(round(level * (levels - 1)))
        gif += b"\x21\xF9\x04" + bytes([1 << 2]) + struct.pack("<H", delay) + b"\x00\x00"  # disposal 1
        gif += b"\x2C" + struct.pack("<HHHHB", 0, 0, size, size, 0)
        gif += bytes([4]) + sub_blocks(lzw_encode(pixels, 4))
    gif += b"\x3B"
    with open(path, "wb") as out:
        out.write(gif)


# --- bitmaps with few colours ---------------------------------------------------------------------

def bmp_pixels(data):
    """The pixels of an uncompressed BMP (24-bit, or 4/8-bit with a palette) as rows of (r, g, b), top
    row first."""
    offset = struct.unpack_from("<I", data, 10)[0]
    header, width, height, _, bits, compression, _, _, _, used = struct.unpack_from("<IiiHHIIiiI", data, 14)
    if compression != 0 or bits not in (4, 8, 24):
        raise ValueError("unsupported bitmap: %d bits, compression %d" % (bits, compression))
    palette = []
    if bits <= 8:
        for i in range(used or 1 << bits):
            b, g, r = data[14 + header + 4 * i:14 + header + 4 * i + 3]
            palette.append((r, g, b))
    stride = (width * bits + 31) // 32 * 4
    rows = []
    for y in range(abs(height)):
        stored = abs(height) - 1 - y if height > 0 else y
        row = data[offset + stored * stride:offset + (stored + 1) * stride]
        if bits == 24:
            rows.append([(row[3 * x + 2], row[3 * x + 1], row[3 * x]) for x in range(width)])
        elif bits == 8:
            rows.append([palette[row[x]] for x in range(width)])
        else:
            rows.append([palette[row[x // 2] >> 4 if x % 2 == 0 else row[x // 2] & 15] for x in range(width)])
    return rows


def indexed_bmp(rows):
    """A 4-bit BI_RGB bitmap of the same pixels, or None when they have more than 16 colours."""
    colours = sorted({pixel for row in rows for pixel in row})
    if len(colours) > 16:
        return None
    index = {colour: i for i, colour in enumerate(colours)}
    width, height = len(rows[0]), len(rows)
    stride = (width * 4 + 31) // 32 * 4
    pixels = bytearray()
    for row in reversed(rows):  # bottom row first
        packed = bytearray(stride)
        for x, pixel in enumerate(row):
            packed[x // 2] |= index[pixel] << (4 if x % 2 == 0 else 0)
        pixels += packed
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in colours)
    offset = 14 + 40 + len(palette)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, len(pixels), 2835, 2835, len(colours), 0)
    return struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset) + info + palette + bytes(pixels)


def store_indexed(path):
    """Rewrites a bitmap with a palette when its colours allow, after proving every pixel the same."""
    with open(path, "rb") as f:
        original = f.read()
    rows = bmp_pixels(original)
    smaller = indexed_bmp(rows)
    if smaller is None or len(smaller) >= len(original):
        return
    if bmp_pixels(smaller) != rows:
        raise AssertionError("%s: the indexed bitmap differs from the drawing" % path)
    with open(path, "wb") as f:
        f.write(smaller)


# --- skin, close button, icon ----------------------------------------------------------------------

def shield_points(x, y, w, h):
    """A shield outline as a polygon: flat top, straight sides, pointed bottom."""
    pts = [(x, y + h * 0.12), (x + w / 2, y), (x + w, y + h * 0.12), (x + w, y + h * 0.5)]
    for i in range(1, 8):
        t = i / 8
        pts.append((x + w - (w / 2) * t, y + h * 0.5 + (h * 0.5) * math.sin(t * math.pi / 2)))
    pts.append((x + w / 2, y + h))
    for i in range(7, 0, -1):
        t = i / 8
        pts.append((x + (w / 2) * t, y + h * 0.5 + (h * 0.5) * math.sin(t * math.pi / 2)))
    pts.append((x, y + h * 0.5))
    return " ".join(f"{px:.1f},{py:.1f}" for px, py in pts)


def check_mark(x, y, w, h):
    return f"polyline {x + w*0.28:.1f},{y + h*0.52:.1f} {x + w*0.45:.1f},{y + h*0.68:.1f} {x + w*0.74:.1f},{y + h*0.34:.1f}"


def skin(path, tmp):
    content = os.path.join(tmp, "content.png")
    mask = os.path.join(tmp, "mask.png")
    run("-size", f"{SKIN_W}x{SKIN_H}", f"xc:{BODY}",
        # header band with a soft vertical gradient
        "(", "-size", f"{SKIN_W}x{HEADER_H}", f"gradient:{HEADER_TOP}-{HEADER_BOTTOM}", ")",
        "-geometry", "+0+0", "-composite",
        # header emblem and title
        "-fill", "#FFFFFF", "-stroke", "none", "-draw", f"polygon {shield_points(16, 10, 28, 34)}",
        "-fill", "none", "-stroke", HEADER_BOTTOM, "-strokewidth", "3.2",
        "-draw", "stroke-linecap round stroke-linejoin round " + check_mark(16, 10, 28, 34),
        "-stroke", "none", "-fill", "#FFFFFF", "-font", FONT, "-pointsize", "19",
        "-annotate", "+54+31", "GRIMLET 蠕虫专杀工具",
        "-fill", "#CFE0F3", "-pointsize", "11", "-annotate", "+55+47", "Quorvel Tidewash · 网络蠕虫清除",
        # a calm card behind the cleaning choice, the scan button and the results
        "-fill", "#FFFFFF", "-stroke", "#D3DBE5", "-strokewidth", "1",
        "-draw", "roundrectangle 12,58 551,116 4,4",
        # a small shield mark at the card's left, beside the cleaning choice
        "-fill", "#E4EDF7", "-stroke", "#9DB7D5", "-strokewidth", "1",
        "-draw", f"polygon {shield_points(27, 68, 30, 38)}",
        "-fill", "none", "-stroke", HEADER_TOP, "-strokewidth", "2.6",
        "-draw", "stroke-linecap round stroke-linejoin round " + check_mark(27, 68, 30, 38),
        "-stroke", "none",
        # separator above the results
        "-stroke", "#D3DBE5", "-strokewidth", "1", "-draw", "line 12,123 551,123",
        # footer band
        "-stroke", "none", "-fill", "#E3E8EF", "-draw", f"rectangle 0,{FOOTER_Y} {SKIN_W},{SKIN_H}",
        "-stroke", "#D3DBE5", "-draw", f"line 0,{FOOTER_Y} {SKIN_W},{FOOTER_Y}",
        content)
    run("-size", f"{SKIN_W}x{SKIN_H}", "xc:black", "+antialias", "-fill", "white",
        "-draw", f"roundrectangle 0,0 {SKIN_W - 1},{SKIN_H - 1} 7,7", mask)
    run("-size", f"{SKIN_W}x{SKIN_H}", f"xc:{OUTSIDE}", content, mask, "-composite",
        "+antialias", "-fill", "none", "-stroke", BORDER, "-strokewidth", "1",
        "-draw", f"roundrectangle 0,0 {SKIN_W - 1},{SKIN_H - 1} 7,7",
        "-type", "TrueColor", f"BMP3:{path}")


def close_button(path, face, cross):
    # 28 x 16 with green (the image list's mask colour) outside a tab hanging from the top edge.
    run("-size", "28x16", "xc:#00FF00", "+antialias", "-fill", face, "-stroke", "none",
        "-draw", "roundrectangle 0,-6 27,15 5,5",
        "-antialias", "-stroke", cross, "-strokewidth", "1.8",
        "-draw", "line 10,4 17,11", "-draw", "line 17,4 10,11",
        "-type", "TrueColor", f"BMP3:{path}")
    store_indexed(path)


def icon(path, tmp):
    sizes = []
    for size in (16, 32, 48):
        png = os.path.join(tmp, f"icon{size}.png")
        pad = max(1, size // 16)
        w, h = size - 2 * pad - size * 0.12, size - 2 * pad
        x = (size - w) / 2
        run("-size", f"{size}x{size}", "xc:none",
            "-fill", "#2B6CB0", "-stroke", "#173F6E", "-strokewidth", str(max(1, size / 32)),
            "-draw", f"polygon {shield_points(x, pad, w, h)}",
            "-fill", "none", "-stroke", "#FFFFFF", "-strokewidth", str(max(1.5, size / 10)),
            "-draw", "stroke-linecap round stroke-linejoin round " + check_mark(x, pad, w, h), png)
        sizes.append(png)
    run(*sizes, path)


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--index":
        store_indexed(sys.argv[2])
        return 0
    os.makedirs(RES, exist_ok=True)
    spinner_gif(os.path.join(RES, "busy.gif"))
    with tempfile.TemporaryDirectory() as tmp:
        skin(os.path.join(RES, "skin.bmp"), tmp)
        close_button(os.path.join(RES, "close.bmp"), "#3A7AC2", "#FFFFFF")
        close_button(os.path.join(RES, "close_pushed.bmp"), "#D9534F", "#FFFFFF")
        icon(os.path.join(RES, "tidewash.ico"), tmp)
    return 0


if __name__ == "__main__":
    sys.exit(main())
