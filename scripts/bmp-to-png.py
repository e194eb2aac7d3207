#!/usr/bin/env python3
"""bmp-to-png.py IN.bmp OUT.png: an uncompressed 24- or 32-bit Windows
bitmap as an RGB PNG file. Standard library only."""
import struct
import sys
import zlib


def convert(src, dst):
    data = open(src, "rb").read()
    if data[:2] != b"BM":
        raise SystemExit("%s is no bitmap" % src)
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    bits, compression = struct.unpack_from("<HI", data, 28)
    if bits not in (24, 32) or compression != 0:
        raise SystemExit("%s: only uncompressed 24- and 32-bit bitmaps" % src)
    step = bits // 8
    stride = (width * step + 3) & ~3
    rows = []
    for y in range(abs(height)):
        source_row = abs(height) - 1 - y if height > 0 else y  # bottom-up unless the height is negative
        start = offset + source_row * stride
        line = data[start:start + width * step]
        out = bytearray(b"\x00")
        for x in range(width):
            b, g, r = line[x * step:x * step + 3]
            out += bytes((r, g, b))
        rows.append(bytes(out))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0))
           + chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))
    with open(dst, "wb") as f:
        f.write(png)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        raise SystemExit("usage: bmp-to-png.py IN.bmp OUT.png")
    convert(sys.argv[1], sys.argv[2])
