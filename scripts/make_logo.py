#!/usr/bin/env python3
"""Draws resources/Ko.bmp, the 48x48 branding bitmap: a white disc on the header blue
with a "V" of two light beams meeting at a receiver, and the transmitter LED in red."""
import math
import struct
import sys

N = 48
BLUE = (0x00, 0x80, 0xFF)
WHITE = (255, 255, 255)
DARK = (0x00, 0x3c, 0x78)
RED = (0xe0, 0x20, 0x20)


def seg_dist(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def mix(a, b, t):
    return tuple(int(round(a[i] * (1 - t) + b[i] * t)) for i in range(3))


def pixel(x, y):
    cx = cy = (N - 1) / 2
    r = math.hypot(x - cx, y - cy)
    c = BLUE
    if r < 22.5:
        c = mix(WHITE, BLUE, max(0.0, min(1.0, r - 21.5)))
        d = min(seg_dist(x, y, 12, 12, 23.5, 36), seg_dist(x, y, 35, 12, 23.5, 36))
        if d < 3.6:
            c = mix(DARK, c, max(0.0, min(1.0, d - 2.6)))
        led = math.hypot(x - 23.5, y - 11)
        if led < 3.5:
            c = mix(RED, c, max(0.0, min(1.0, led - 2.5)))
    return c


rows = []
for y in range(N - 1, -1, -1):  # bottom-up
    row = b''.join(bytes((b, g, r)) for (r, g, b) in (pixel(x, y) for x in range(N)))
    rows.append(row)
data = b''.join(rows)
header = b'BM' + struct.pack('<IHHI', 54 + len(data), 0, 0, 54)
info = struct.pack('<IiiHHIIiiII', 40, N, N, 1, 24, 0, len(data), 2835, 2835, 0, 0)
path = sys.argv[1] if len(sys.argv) > 1 else 'resources/Ko.bmp'
open(path, 'wb').write(header + info + data)

# The same picture as the desktop icon (PNG, top-down rows, filter byte 0 per row).
import zlib
raw = b''.join(b'\x00' + b''.join(bytes(pixel(x, y)) for x in range(N)) for y in range(N))


def chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))


png = (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', N, N, 8, 2, 0, 0, 0))
       + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))
icon = sys.argv[2] if len(sys.argv) > 2 else 'resources/varno.png'
open(icon, 'wb').write(png)
