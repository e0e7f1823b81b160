#!/usr/bin/env python3
"""Writes pantoline.ico, the program's icon: a handheld GPS unit whose
screen shows a circular "reset" arrow, drawn in ui/icon_art.h. Two images,
32 x 32 and 16 x 16, each in the 16 standard colours with a transparency
mask.

Run it from any folder: python3 make_icon.py [OUTPUT]  (default: the
pantoline.ico beside this script). The .ico is kept in the repository, so
the build does not need Python; run this again only to change the art.
"""
import re
import struct
import sys
from pathlib import Path

# The 16 standard colours, in their usual order.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]

# The drawing is the one every platform shows, kept in ui/icon_art.h: one
# letter a pixel, "." transparent, each letter one of the 16 colours.
ART = Path(__file__).resolve().parents[1] / "icon_art.h"
COLOURS = {letter: index for index, letter in enumerate("kmGonptsgrlybfaw")}


def art(name):
    """The rows of the C++ array `name` in icon_art.h."""
    text = ART.read_text()
    body = re.search(name + r"\[\d+\] = \{(.*?)\};", text, re.S)
    if body is None:
        raise SystemExit(f"{ART}: no {name}")
    return "\n".join(re.findall(r'"([^"]*)"', body.group(1)))


def rows(art, size):
    lines = [line for line in art.strip("\n").split("\n")]
    if len(lines) != size or any(len(line) != size for line in lines):
        raise SystemExit(f"the {size} x {size} art is not {size} x {size}")
    return lines


def image(art, size):
    """One icon image: BITMAPINFOHEADER, palette, 4-bit colours, 1-bit mask."""
    lines = rows(art, size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    colour_stride = (size * 4 + 31) // 32 * 4
    mask_stride = (size + 31) // 32 * 4
    colours = bytearray()
    mask = bytearray()
    for line in reversed(lines):  # bitmaps are stored bottom row first
        row = bytearray(colour_stride)
        bits = bytearray(mask_stride)
        for x, char in enumerate(line):
            if char == ".":
                index = 0
                bits[x // 8] |= 0x80 >> (x % 8)
            else:
                index = COLOURS[char]
            row[x // 2] |= index << 4 if x % 2 == 0 else index
        colours += row
        mask += bits
    return header + palette + bytes(colours) + bytes(mask)


def icon_file(images):
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b""
    for size, data in images:
        entries += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return directory + entries + b"".join(data for _, data in images)


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name("pantoline.ico")
    out.write_bytes(icon_file([(32, image(art("kIconLarge"), 32)),
                                (16, image(art("kIconSmall"), 16))]))


if __name__ == "__main__":
    main()
