#!/usr/bin/env python3
"""Draws the launcher's logo, window icon and dialog picture and writes them as BMP and ICO.

The images are committed beside this script; run it again only to change them. Nothing in the
pictures is pure white, so a screenshot against a white desktop shows the windows' full extent.
"""
import math
import struct
from pathlib import Path

HERE = Path(__file__).resolve().parent


def bmp_header(width, height, bits, palette_entries, image_size, compression=0):
    offset = 14 + 40 + 4 * palette_entries
    file_header = struct.pack("<2sIHHI", b"BM", offset + image_size, 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression, image_size,
                       2835, 2835, palette_entries, 0)
    return file_header + info


def logo_index(x, y, w, h):
    """Palette index 0..255: a red ring with a "T" inside, on a dark radial background."""
    cx, cy = w / 2, h / 2 - 4
    r = math.hypot(x - cx, y - cy)
    if 50 <= r <= 58:
        return 200 + int(40 * (1 - abs(r - 54) / 4))  # the ring: bright reds
    stem = abs(x - cx) <= 6 and cy - 28 <= y <= cy + 34
    bar = abs(y - (cy - 28)) <= 6 and abs(x - cx) <= 30
    if stem or bar:
        return 160  # the letter: a mid red
    return max(0, 40 - int(r / 3))  # the background: near-black greys


def logo_palette():
    entries = []
    for i in range(256):
        if i < 128:  # greys, dark
            g = i
            entries.append((g, g, g))
        else:  # reds, never above 220
            entries.append((0, 0, min(220, (i - 128) * 2)))
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for (b, g, r) in entries)


def rle8_row(row):
    """One row in BI_RLE8: a repeated index as a (count, index) pair; a stretch of pixels each
    unlike the next in absolute mode (0, count, the indexes, padded to a word), which takes one
    byte a pixel where pairs would take two (the logo's ring is such stretches); then the end of
    the line. Absolute mode needs three pixels at least: 0 followed by 1 or 2 means something
    else."""
    out = bytearray()
    singles = bytearray()

    def flush_singles():
        for start in range(0, len(singles), 255):
            chunk = singles[start:start + 255]
            if len(chunk) >= 3:
                out.extend((0, len(chunk)))
                out.extend(chunk + b"\0" * (len(chunk) & 1))
            else:
                for index in chunk:
                    out.extend((1, index))
        singles.clear()

    x = 0
    while x < len(row):
        run = 1
        while x + run < len(row) and run < 255 and row[x + run] == row[x]:
            run += 1
        if run == 1:
            singles.append(row[x])
        else:
            flush_singles()
            out += bytes((run, row[x]))
        x += run
    flush_singles()
    return bytes(out) + b"\0\0"


def rle8_bitmap(name, w, h, index, palette):
    """A picture of palette indexes, run-length encoded: uncompressed, the logos and the dialog's
    picture would take a fifth of the launcher's size budget."""
    rows = [rle8_row(bytes(index(x, y) for x in range(w))) for y in reversed(range(h))]
    data = b"".join(rows) + b"\0\1"  # the end of the bitmap
    header = bmp_header(w, h, 8, len(palette) // 4, len(data), compression=1)
    (HERE / name).write_bytes(header + palette + data)


def write_logo():
    rle8_bitmap("logo.bmp", 134, 144, lambda x, y: logo_index(x, y, 134, 144), logo_palette())


def write_large_logo():
    """The same logo drawn at twice the size, for screens above 96 dpi."""
    scale = 2
    rle8_bitmap("logo-large.bmp", 134 * scale, 144 * scale,
                lambda x, y: logo_index((x + 0.5) / scale - 0.5, (y + 0.5) / scale - 0.5, 134, 144),
                logo_palette())


def image1_index(x, y):
    """A green arrow pointing down into the changes, on black: palette index 1 or 0."""
    size = 55
    cx = size / 2
    in_shaft = abs(x - cx) <= 6 and 6 <= y <= 30
    in_head = 30 <= y <= 48 and abs(x - cx) <= (48 - y)
    return 1 if in_shaft or in_head else 0


def write_image1():
    palette = struct.pack("<BBBBBBBB", 0, 0, 0, 0, 0, 192, 0, 0)  # black, then green (B, G, R, 0)
    rle8_bitmap("image1.bmp", 55, 55, image1_index, palette)


def icon_pixel(x, y):
    r = math.hypot(x - 15.5, y - 15.5)
    if r > 15.5:
        return None  # transparent
    if 11 <= r <= 14.5:
        return (200, 0, 0)
    if (abs(x - 15.5) <= 2 and 8 <= y <= 23) or (abs(y - 9) <= 1.5 and abs(x - 15.5) <= 7):
        return (160, 0, 0)
    return (20, 20, 20)


def write_icon():
    size = 32
    xor_rows = []
    and_rows = []
    for y in reversed(range(size)):
        xor = b""
        mask_bits = 0
        for x in range(size):
            p = icon_pixel(x, y)
            if p is None:
                xor += b"\0\0\0\0"
                mask_bits |= 1 << (31 - x)
            else:
                xor += struct.pack("<BBBB", p[2], p[1], p[0], 255)
        xor_rows.append(xor)
        and_rows.append(struct.pack(">I", mask_bits))
    info = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    image = info + b"".join(xor_rows) + b"".join(and_rows)
    header = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), 6 + 16)
    (HERE / "velmoor.ico").write_bytes(header + entry + image)


if __name__ == "__main__":
    write_logo()
    write_large_logo()
    write_image1()
    write_icon()
