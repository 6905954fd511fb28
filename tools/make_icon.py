#!/usr/bin/env python3
"""Draws the Glimmerwall icon and writes it as res/Glimmerwall.ico.

One icon group, three images: 32 x 32 and 16 x 16 in the 16 standard colours, 96 x 96 in
256 colours. The picture: a framed night landscape (sky, moon, two hills) with a sparkle at
its top right, the glimmer on the wall. Run it again after changing the drawing:
    python3 tools/make_icon.py [output.ico]
"""

import math
import struct
import sys
from pathlib import Path

# The 16 colours of the standard Windows palette, in index order.
VGA = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def palette_256():
    """The 16 standard colours, a 6 x 6 x 6 colour cube, then 24 greys."""
    colours = list(VGA)
    steps = [0, 51, 102, 153, 204, 255]
    colours += [(r, g, b) for r in steps for g in steps for b in steps]
    colours += [(8 + 10 * i,) * 3 for i in range(24)]
    return colours


def nearest(palette, colour):
    return min(range(len(palette)),
               key=lambda i: sum((a - b) ** 2 for a, b in zip(palette[i], colour)))


def mix(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def scene(u, v, rich):
    """Colour at (u, v), both 0..1 from the top left. `rich` allows gradients (256 colours)."""
    frame = 0.09
    if u < frame or v < frame or u > 1 - frame or v > 1 - frame:
        # A grey frame with a light inner edge.
        inner = min(u, v, 1 - u, 1 - v) > frame - 0.035
        return (192, 192, 192) if inner else (128, 128, 128)

    # The sparkle: a four-pointed star, thin arms along both axes.
    sx, sy = 0.70, 0.30
    dx, dy = abs(u - sx), abs(v - sy)
    arm = 0.22
    if (dx < arm and dy < 0.028 * (1 - dx / arm) + 0.012) or \
       (dy < arm and dx < 0.028 * (1 - dy / arm) + 0.012):
        return (255, 255, 255)
    if dx + dy < 0.10:
        return (0, 255, 255) if not rich else (150, 230, 255)

    # The moon, a full disc at the top left.
    if math.hypot(u - 0.30, v - 0.30) < 0.10:
        return (255, 255, 0) if not rich else (255, 240, 150)

    # Two hills, the near one lighter.
    near = 0.78 - 0.16 * math.exp(-((u - 0.68) / 0.22) ** 2)
    far = 0.70 - 0.14 * math.exp(-((u - 0.30) / 0.20) ** 2)
    if v > near:
        return (0, 255, 0) if not rich else mix((60, 200, 60), (0, 110, 20), (v - near) / 0.3)
    if v > far:
        return (0, 128, 0) if not rich else mix((20, 120, 40), (0, 70, 20), (v - far) / 0.3)

    # The sky: deep blue above, lighter towards the horizon.
    if not rich:
        return (0, 0, 128) if v < 0.5 else (0, 0, 255)
    return mix((10, 20, 90), (40, 90, 220), (v - frame) / 0.7)


def render(size, palette, rich):
    """Rows of palette indices, top row first; each pixel sampled at 4 x 4 points."""
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            samples = [scene((x + (i + 0.5) / 4) / size, (y + (j + 0.5) / 4) / size, rich)
                       for i in range(4) for j in range(4)]
            if rich:
                colour = tuple(round(sum(c[k] for c in samples) / 16) for k in range(3))
            else:
                # Flat colours: the most frequent sample, so that edges stay crisp.
                colour = max(set(samples), key=samples.count)
            row.append(nearest(palette, colour))
        rows.append(row)
    return rows


def pad4(data):
    return data + b"\0" * (-len(data) % 4)


def icon_image(size, bits, rows, palette):
    """One image of the group: BITMAPINFOHEADER (double height), palette, XOR and AND masks."""
    xor = b""
    for row in reversed(rows):
        if bits == 4:
            packed = bytes((row[i] << 4) | row[i + 1] for i in range(0, size, 2))
        else:
            packed = bytes(row)
        xor += pad4(packed)
    mask_row = pad4(bytes((size + 7) // 8))  # every pixel opaque
    mask = mask_row * size
    colours = 1 << bits
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, bits, 0, len(xor) + len(mask),
                         0, 0, 0, 0)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette[:colours])
    table += b"\0" * (4 * colours - len(table))
    return header + table + xor + mask


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else \
        Path(__file__).resolve().parent.parent / "res" / "Glimmerwall.ico"
    wide = palette_256()
    images = [
        (32, 4, icon_image(32, 4, render(32, VGA, False), VGA)),
        (16, 4, icon_image(16, 4, render(16, VGA, False), VGA)),
        (96, 8, icon_image(96, 8, render(96, wide, True), wide)),
    ]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bits, image in images:
        data += struct.pack("<BBBBHHII", size, size, 16 if bits == 4 else 0, 0, 1, bits,
                            len(image), offset)
        offset += len(image)
    data += b"".join(image for _, _, image in images)
    out.write_bytes(data)
    print(f"{out}: {len(data)} bytes")


if __name__ == "__main__":
    main()
