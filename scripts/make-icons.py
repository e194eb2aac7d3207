#!/usr/bin/env python3
"""Draws the application icon (an envelope going into a data file) and
writes resources/icons/tavrin-msg-to-pst-<size>.png and the Windows icon
resources/icons/tavrin-msg-to-pst.ico. Standard library only."""
import os
import struct
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources", "icons")


def inside_round_rect(x, y, x0, y0, x1, y1, r):
    if x < x0 or x > x1 or y < y0 or y > y1:
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def near_segment(x, y, ax, ay, bx, by, w):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
    px, py = ax + t * dx, ay + t * dy
    return (x - px) ** 2 + (y - py) ** 2 <= w * w


def colour_at(u, v):
    """The colour (r, g, b, a) at unit coordinates u, v in [0, 1]."""
    # The arrow and the data file's cylinder at the lower right, in front.
    if inside_round_rect(u, v, 0.56, 0.56, 0.96, 0.96, 0.08):
        if inside_round_rect(u, v, 0.60, 0.60, 0.92, 0.92, 0.06):
            if near_segment(u, v, 0.66, 0.76, 0.84, 0.76, 0.045) or near_segment(u, v, 0.76, 0.67, 0.85, 0.76, 0.045) \
                    or near_segment(u, v, 0.76, 0.85, 0.85, 0.76, 0.045):
                return (255, 255, 255, 255)
            return (0, 128, 0, 255)
        return (255, 255, 255, 255)
    # The envelope.
    if inside_round_rect(u, v, 0.06, 0.20, 0.86, 0.80, 0.05):
        if not inside_round_rect(u, v, 0.10, 0.24, 0.82, 0.76, 0.03):
            return (30, 80, 160, 255)
        if near_segment(u, v, 0.10, 0.25, 0.46, 0.55, 0.035) or near_segment(u, v, 0.82, 0.25, 0.46, 0.55, 0.035):
            return (30, 80, 160, 255)
        return (255, 250, 225, 255)
    return (0, 0, 0, 0)


def render(size):
    ss = 4
    rows = []
    for y in range(size):
        row = bytearray()
        for x in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(ss):
                for sx in range(ss):
                    r, g, b, a = colour_at((x + (sx + 0.5) / ss) / size, (y + (sy + 0.5) / ss) / size)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = ss * ss
            a = acc[3] / n
            if a > 0:
                row += bytes([round(acc[0] / acc[3]), round(acc[1] / acc[3]), round(acc[2] / acc[3]), round(a)])
            else:
                row += bytes([0, 0, 0, 0])
        rows.append(bytes(row))
    return rows


def png(size, rows):
    raw = b"".join(b"\x00" + r for r in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def bmp_entry(size, rows):
    """A 32-bit icon image (BITMAPINFOHEADER, bottom-up BGRA, AND mask)."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for r in reversed(rows):
        for x in range(size):
            red, green, blue, alpha = r[4 * x:4 * x + 4]
            pixels += bytes([blue, green, red, alpha])
    mask_stride = ((size + 31) // 32) * 4
    mask = bytes(mask_stride * size)
    return header + bytes(pixels) + mask


def main():
    os.makedirs(ROOT, exist_ok=True)
    images = {}
    for size in (16, 32, 48, 256):
        rows = render(size)
        data = png(size, rows)
        with open(os.path.join(ROOT, "tavrin-msg-to-pst-%d.png" % size), "wb") as f:
            f.write(data)
        # Small sizes as bitmaps (every Windows reads them), 256 as PNG.
        images[size] = data if size == 256 else bmp_entry(size, rows)
    sizes = sorted(images)
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    body = b""
    for s in sizes:
        d = images[s]
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(d), offset)
        offset += len(d)
        body += d
    with open(os.path.join(ROOT, "tavrin-msg-to-pst.ico"), "wb") as f:
        f.write(out + body)


if __name__ == "__main__":
    main()
