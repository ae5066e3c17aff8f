#!/usr/bin/env python3
"""Writes kstins.ico: the program's 32x32, 16-colour icon.

The picture (a disk drive under a funnel-shaped filter) is drawn from the
character map below, one character per pixel; '.' is transparent. Run it
again after editing the map and commit the new kstins.ico:

    python3 resources/make_icon.py [OUTPUT]
"""
import struct
import sys
from pathlib import Path

# The standard 16-colour VGA palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

# Map characters to palette indexes.
INK = {'k': 0, 'n': 4, 'g': 8, 's': 7, 'w': 15, 'y': 11, 'o': 3, 'l': 10, 'b': 12}

PICTURE = [
    "................................",
    "..kkkkkkkkkkkkkkkkkkkkkkkkkkkk..",
    "..kyyyyyyyyyyyyyyyyyyyyyyyyyyk..",
    "...kyyyyyyyyyyyyyyyyyyyyyyyyk...",
    "....kyyyyyyyyyyyyyyyyyyyyyyk....",
    ".....kooooooooooooooooooook.....",
    "......kyyyyyyyyyyyyyyyyyyk......",
    ".......kyyyyyyyyyyyyyyyyk.......",
    "........koooooooooooooook.......",
    ".........kyyyyyyyyyyyyk.........",
    "..........kyyyyyyyyyyk..........",
    "...........kkkkyykkkk...........",
    "..............kyyk..............",
    "..............kyyk..............",
    "..............kbbk..............",
    "..............kbbk..............",
    "...kkkkkkkkkkkkkkkkkkkkkkkkkk...",
    "..kwwwwwwwwwwwwwwwwwwwwwwwwwwk..",
    "..kwsssssssssssssssssssssssssk..",
    "..kwsssssssssssssssssssssssgsk..",
    "..kwssnnnnnnnnnnnnnnnnnnnnsgsk..",
    "..kwssnbbbbbbbbbbbbbbbbbbnsgsk..",
    "..kwssnnnnnnnnnnnnnnnnnnnnsgsk..",
    "..kwsssssssssssssssssssssssgsk..",
    "..kwssssssssssssssssssssssssgk..",
    "..kwssggggggggggggggggggsslsgk..",
    "..kwsssssssssssssssssssssssssk..",
    "..kgggggggggggggggggggggggggggk.",
    "...kkkkkkkkkkkkkkkkkkkkkkkkkkkk.",
    "................................",
    "................................",
    "................................",
]

SIZE = 32


def icon_bytes(picture=PICTURE):
    """The .ico file for a 32x32 character map, as bytes."""
    if len(picture) != SIZE or any(len(row) != SIZE for row in picture):
        raise ValueError("the picture must be 32 rows of 32 characters")
    colour_rows, mask_rows = [], []
    for row in reversed(picture):  # bitmaps are stored bottom-up
        indexes = [0 if c == '.' else INK[c] for c in row]
        colour_rows.append(bytes((indexes[i] << 4) | indexes[i + 1] for i in range(0, SIZE, 2)))
        mask = 0
        for c in row:
            mask = (mask << 1) | (c == '.')
        mask_rows.append(mask.to_bytes(SIZE // 8, 'big'))
    colours = b''.join(colour_rows)
    masks = b''.join(mask_rows)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 4, 0,
                         len(colours) + len(masks), 0, 0, 16, 0)
    image = header + palette + colours + masks
    directory = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main(argv):
    target = Path(argv[1]) if len(argv) > 1 else Path(__file__).with_name('kstins.ico')
    target.write_bytes(icon_bytes())
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
