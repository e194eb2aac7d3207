#!/usr/bin/env python3
"""Draws the small pictures of the native Windows wizard (the hint's
information badge, the yellow folder and the person of the folder list) as
the Qt windows draw them, and writes resources/windows/pictures/<name>.ico
with 16, 24 and 32 pixel images (96, 144 and 192 dots per inch). Standard
library only; the icon writer is the one of make-icons.py."""
import importlib.util
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "resources", "windows", "pictures")

_spec = importlib.util.spec_from_file_location("make_icons", os.path.join(HERE, "make-icons.py"))
icons = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(icons)


def in_ellipse(x, y, cx, cy, rx, ry):
    return ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0


def in_polygon(x, y, points):
    inside = False
    j = len(points) - 1
    for i, (xi, yi) in enumerate(points):
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


# Coordinates below are in the 16 x 16 design grid; u, v arrive in [0, 1].

def information(u, v):
    x, y = u * 16, v * 16
    if in_ellipse(x, y, 8, 8, 7.5, 7.5):
        if in_ellipse(x, y, 8.1, 4.1, 1.15, 1.15) or (7.0 <= x <= 9.2 and 6.5 <= y <= 13):
            return (255, 255, 255, 255)
        if not in_ellipse(x, y, 8, 8, 6.8, 6.8):
            return (0, 60, 160, 255)
        return (40, 110, 220, 255)
    return (0, 0, 0, 0)


FOLDER_BACK = [(1.5, 3.5), (6, 3.5), (7.5, 5), (14.5, 5), (14.5, 13.5), (1.5, 13.5)]


def folder(u, v):
    x, y = u * 16, v * 16
    edge = (170, 120, 0, 255)
    if 1.0 <= x <= 15.0 and 6.0 <= y <= 14.0:
        if 2.0 <= x <= 14.0 and 7.0 <= y <= 13.0:
            return (255, 222, 100, 255)
        return edge
    if in_polygon(x, y, FOLDER_BACK):
        inner = [(2.2, 4.2), (5.7, 4.2), (7.2, 5.7), (13.8, 5.7), (13.8, 13), (2.2, 13)]
        return (240, 200, 60, 255) if in_polygon(x, y, inner) else edge
    grown = [(1.0, 3.0), (6.2, 3.0), (7.7, 4.5), (15.0, 4.5), (15.0, 14.0), (1.0, 14.0)]
    return edge if in_polygon(x, y, grown) else (0, 0, 0, 0)


def person(u, v):
    x, y = u * 16, v * 16
    if in_ellipse(x, y, 8, 4.75, 3.5, 3.75):
        return (250, 210, 170, 255) if in_ellipse(x, y, 8, 4.75, 2.8, 3.05) else (150, 100, 60, 255)
    if y >= 9 and in_ellipse(x, y, 8, 15.5, 6.0, 6.5):
        return (90, 140, 210, 255) if in_ellipse(x, y, 8, 15.6, 5.3, 5.8) else (40, 70, 130, 255)
    return (0, 0, 0, 0)


def write(name, colour_at):
    icons.colour_at = colour_at
    entries = [(s, icons.bmp_entry(s, icons.render(s))) for s in (16, 24, 32)]
    out = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    body = b""
    for s, d in entries:
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(d), offset)
        offset += len(d)
        body += d
    with open(os.path.join(OUT, name + ".ico"), "wb") as f:
        f.write(out + body)


def main():
    os.makedirs(OUT, exist_ok=True)
    write("information", information)
    write("folder", folder)
    write("person", person)


if __name__ == "__main__":
    main()
