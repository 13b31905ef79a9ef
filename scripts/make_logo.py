#!/usr/bin/env python3
"""Draws resources/Ko.bmp, the 48x48 branding bitmap: a white disc on the header blue
with a "V" of two light beams meeting at a receiver, and the transmitter LED in red.
The same picture is the desktop icon: resources/varno.png (48x48), resources/icons/
varno-N.png for the other sizes a desktop asks for, and resources/icons/varno.svg.

Usage: make_logo.py [BMP [PNG [ICON_FOLDER]]]  (plain Python 3, no other packages)"""
import math
import os
import struct
import sys
import zlib

N = 48
BLUE = (0x00, 0x80, 0xFF)
WHITE = (255, 255, 255)
DARK = (0x00, 0x3c, 0x78)
RED = (0xe0, 0x20, 0x20)
ICON_SIZES = (16, 32, 64, 128, 256)


def seg_dist(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def mix(a, b, t):
    return tuple(int(round(a[i] * (1 - t) + b[i] * t)) for i in range(3))


def edge(dist, radius, w):
    """0 inside, 1 outside, a ramp w wide (in 48-grid units) across the edge."""
    return max(0.0, min(1.0, (dist - radius) / w + 0.5))


def pixel(x, y, w=1.0):
    """Colour at (x, y) on the 48 grid (pixel centres at whole numbers); w is the width of
    the edge ramp, one pixel of the picture being drawn."""
    cx = cy = (N - 1) / 2
    r = math.hypot(x - cx, y - cy)
    c = BLUE
    if r < 22 + w / 2:
        c = mix(WHITE, BLUE, edge(r, 22, w))
        d = min(seg_dist(x, y, 12, 12, 23.5, 36), seg_dist(x, y, 35, 12, 23.5, 36))
        if d < 3.1 + w / 2:
            c = mix(DARK, c, edge(d, 3.1, w))
        led = math.hypot(x - 23.5, y - 11)
        if led < 3 + w / 2:
            c = mix(RED, c, edge(led, 3, w))
    return c


def scaled(size):
    """The picture at size x size: pixel centres mapped onto the 48 grid."""
    k = N / size
    return lambda x, y: pixel((x + 0.5) * k - 0.5, (y + 0.5) * k - 0.5, k)


def chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))


def png(size, pix):
    # Top-down rows, filter byte 0 per row.
    raw = b''.join(b'\x00' + b''.join(bytes(pix(x, y)) for x in range(size))
                   for y in range(size))
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 2, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def hexcolour(c):
    return '#%02x%02x%02x' % c


def svg():
    # The 48 grid's pixel centres sit half a unit in from the picture's corner.
    o = 0.5
    beam = 'M{:g} {:g} L{:g} {:g} L{:g} {:g}'.format(12 + o, 12 + o, 23.5 + o, 36 + o, 35 + o, 12 + o)
    return ('<svg xmlns="http://www.w3.org/2000/svg" width="48" height="48" viewBox="0 0 48 48">\n'
            f'  <rect width="48" height="48" fill="{hexcolour(BLUE)}"/>\n'
            f'  <circle cx="24" cy="24" r="22" fill="{hexcolour(WHITE)}"/>\n'
            f'  <path d="{beam}" fill="none" stroke="{hexcolour(DARK)}" stroke-width="6.2"'
            ' stroke-linecap="round" stroke-linejoin="round"/>\n'
            f'  <circle cx="{23.5 + o:g}" cy="{11 + o:g}" r="3" fill="{hexcolour(RED)}"/>\n'
            '</svg>\n')


rows = []
for y in range(N - 1, -1, -1):  # bottom-up
    row = b''.join(bytes((b, g, r)) for (r, g, b) in (pixel(x, y) for x in range(N)))
    rows.append(row)
data = b''.join(rows)
header = b'BM' + struct.pack('<IHHI', 54 + len(data), 0, 0, 54)
info = struct.pack('<IiiHHIIiiII', 40, N, N, 1, 24, 0, len(data), 2835, 2835, 0, 0)
path = sys.argv[1] if len(sys.argv) > 1 else 'resources/Ko.bmp'
open(path, 'wb').write(header + info + data)

icon = sys.argv[2] if len(sys.argv) > 2 else 'resources/varno.png'
open(icon, 'wb').write(png(N, pixel))

folder = sys.argv[3] if len(sys.argv) > 3 else 'resources/icons'
os.makedirs(folder, exist_ok=True)
for size in ICON_SIZES:
    open(os.path.join(folder, f'varno-{size}.png'), 'wb').write(png(size, scaled(size)))
open(os.path.join(folder, 'varno.svg'), 'w').write(svg())
