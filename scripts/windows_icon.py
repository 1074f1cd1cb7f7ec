#!/usr/bin/env python3
"""Builds src/app/win32/tidewell.ico from data/icons/tidewell-32.png and -16.png: one icon
with a 32 and a 16 pixel image, 16 colours each (the Windows standard palette), transparent
where the picture is. Run after the PNGs change; needs only Python's standard library."""
import struct
import sys
import zlib
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
           (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
           (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def read_png(path):
    """Rows of (r, g, b, a) from a non-interlaced 8-bit RGBA PNG."""
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", f"{path}: not a PNG"
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert (depth, colour, interlace) == (8, 6, 0), f"{path}: not 8-bit RGBA"
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw, stride, rows, prev = zlib.decompress(idat), width * 4, [], bytes(width * 4)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b, c = prev[i], prev[i - 4] if i >= 4 else 0
            if kind == 1: line[i] = (line[i] + a) & 255
            elif kind == 2: line[i] = (line[i] + b) & 255
            elif kind == 3: line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[x * 4:x * 4 + 4]) for x in range(width)])
        prev = bytes(line)
    return rows


def nearest(r, g, b):
    # Weighted as the eye weighs the channels.
    return min(range(16), key=lambda i: 3 * (PALETTE[i][0] - r) ** 2 + 4 * (PALETTE[i][1] - g) ** 2
               + 2 * (PALETTE[i][2] - b) ** 2)


def icon_image(rows):
    """The icon's DIB: header, palette, 4-bit colours and the 1-bit mask, both bottom-up."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    colours, mask = b"", b""
    for row in reversed(rows):
        indexes = [nearest(r, g, b) if a >= 128 else 0 for r, g, b, a in row]
        line = bytes((indexes[x] << 4) | indexes[x + 1] for x in range(0, size, 2))
        colours += line + bytes(-len(line) % 4)
        bits = int("".join("1" if a < 128 else "0" for *_, a in row), 2).to_bytes(size // 8, "big")
        mask += bits + bytes(-len(bits) % 4)
    return header + palette + colours + mask


def main():
    images = [icon_image(read_png(ROOT / f"data/icons/tidewell-{s}.png")) for s in (32, 16)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    target = ROOT / "src/app/win32/tidewell.ico"
    target.write_bytes(out + b"".join(images))
    print(f"wrote {target.relative_to(ROOT)} ({target.stat().st_size} bytes)", file=sys.stderr)


if __name__ == "__main__":
    main()
