#!/usr/bin/env python3
"""Writes the program icon of mrvdbconv.exe (16, 24, 32, 48 and 64 pixels, 32-bit colour with
alpha): a blue database drum, a green arrow and a teal database drum, the same picture the
wizard draws in its header. Drawn here from geometry; nothing is taken from elsewhere.

    mrvdbconv_icon.py OUTPUT.ico
"""
import struct
import sys

BLUE, BLUE_LIGHT, BLUE_DARK = (0x2B, 0x6C, 0xB0), (0x8F, 0xC1, 0xEE), (0x1A, 0x42, 0x6E)
TEAL, TEAL_LIGHT, TEAL_DARK = (0x2E, 0x9E, 0x8F), (0x9F, 0xDD, 0xD2), (0x1B, 0x5E, 0x55)
GREEN, GREEN_DARK = (0x3C, 0xA5, 0x3C), (0x22, 0x6B, 0x22)


def in_ellipse(x, y, l, t, r, b):
    cx, cy, rx, ry = (l + r) / 2, (t + b) / 2, (r - l) / 2, (b - t) / 2
    if rx <= 0 or ry <= 0:
        return False
    return ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0


def cylinder(l, t, r, b):
    rim = (r - l) * 0.32

    def body(x, y, d):
        return (in_ellipse(x, y, l + d, b - rim + d, r - d, b - d)
                or (l + d <= x <= r - d and t + rim / 2 <= y <= b - rim / 2))

    def top(x, y, d):
        return in_ellipse(x, y, l + d, t + d, r - d, t + rim - d)

    return body, top


def in_polygon(x, y, pts):
    inside = False
    j = len(pts) - 1
    for i in range(len(pts)):
        xi, yi = pts[i]
        xj, yj = pts[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


def arrow(l, t, r, b):
    m, h, head = (t + b) / 2, (b - t) / 2, l + (r - l) * 0.5
    pts = [(l, m - h * 0.45), (head, m - h * 0.45), (head, t), (r, m), (head, b),
           (head, m + h * 0.45), (l, m + h * 0.45)]

    def shape(x, y, d):
        if d == 0:
            return in_polygon(x, y, pts)
        # the inner fill: the same polygon tested at four points around (x, y)
        return all(in_polygon(x + dx, y + dy, pts) for dx, dy in ((d, 0), (-d, 0), (0, d), (0, -d)))

    return shape


def layers(size):
    px = 48.0 / size  # design units per pixel
    line = max(px, 0.9)
    out = []
    for (l, t, r, b), (body_c, top_c, edge_c) in (((2, 8, 19, 40), (BLUE, BLUE_LIGHT, BLUE_DARK)),
                                                   ((29, 8, 46, 40), (TEAL, TEAL_LIGHT, TEAL_DARK))):
        body, top = cylinder(l, t, r, b)
        out += [(edge_c, lambda x, y, f=body: f(x, y, 0)),
                (body_c, lambda x, y, f=body, d=line: f(x, y, d)),
                (edge_c, lambda x, y, f=top: f(x, y, 0)),
                (top_c, lambda x, y, f=top, d=line: f(x, y, d))]
    a = arrow(18, 16, 31, 32)
    out += [(GREEN_DARK, lambda x, y: a(x, y, 0)), (GREEN, lambda x, y, d=line: a(x, y, d))]
    return out


def render(size):
    ss = 4 if size <= 64 else 2
    scale = 48.0 / size
    lay = layers(size)
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(ss):
                for sx in range(ss):
                    x = (px + (sx + 0.5) / ss) * scale
                    y = (py + (sy + 0.5) / ss) * scale
                    colour = None
                    for c, shape in lay:
                        if shape(x, y):
                            colour = c
                    if colour:
                        acc[0] += colour[0]
                        acc[1] += colour[1]
                        acc[2] += colour[2]
                        acc[3] += 1
            n = ss * ss
            if acc[3]:
                row.append((int(acc[2] / acc[3]), int(acc[1] / acc[3]), int(acc[0] / acc[3]),
                            int(255 * acc[3] / n)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def bmp_entry(size):
    rows = render(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b''.join(bytes(p) for row in reversed(rows) for p in row)
    mask_row = ((size + 31) // 32) * 4
    mask = b'\x00' * (mask_row * size)
    return header + pixels + mask


def main():
    sizes = [16, 24, 32, 48, 64]
    images = [bmp_entry(s) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, img in zip(sizes, images):
        out += struct.pack('<BBBBHHII', s % 256, s % 256, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    out += b''.join(images)
    with open(sys.argv[1], 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
