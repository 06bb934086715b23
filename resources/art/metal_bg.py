#!/usr/bin/env python3
"""Generate the brushed-metal background tile (526x23).

The tile repeats seamlessly in both directions: every row is a smooth,
circularly wrapped noise line (period = tile width), and rows are
independent of their position, so the bottom row meets the top row
just as any two neighbouring rows do. Uses only the standard library.
"""
import random
import struct
import sys
import zlib

W, H = 526, 23
BASE = (230, 232, 236)   # light, slightly cool grey
SEED = 7302


def wrapped_smooth(rng, n, radius, amp):
    raw = [rng.uniform(-1.0, 1.0) for _ in range(n)]
    out = []
    span = 2 * radius + 1
    for i in range(n):
        s = 0.0
        for k in range(-radius, radius + 1):
            s += raw[(i + k) % n]
        out.append(s / span * amp)
    return out


def main(path):
    rng = random.Random(SEED)
    rows = []
    for y in range(H):
        row_offset = rng.uniform(-2.0, 2.0)
        coarse = wrapped_smooth(rng, W, 24, 14.0)
        fine = wrapped_smooth(rng, W, 3, 4.0)
        line = bytearray([0])  # filter type: none
        for x in range(W):
            v = 3.0 + row_offset + coarse[x] + fine[x] + rng.uniform(-0.6, 0.6)
            for c in BASE:
                line.append(max(0, min(255, int(round(c + v)))))
        rows.append(bytes(line))
    raw = b"".join(rows)

    def chunk(tag, data):
        c = struct.pack(">I", len(data)) + tag + data
        return c + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "metal_bg.png")
