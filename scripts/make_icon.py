"""Draws savelink's icon and writes it as a multi-size .ico.

The drawing is our own, from shapes: on a blue rounded square, two white
folders side by side, the left one joined to the right one by a yellow
arrow: one save folder reached from two names. Each size is drawn from the
same shapes with 4 x 4 samples a pixel, so the edges are smooth and the
bytes are the same on every run. Sizes 16, 24, 32 and 48 are stored as
32-bit bitmaps, 256 as PNG, as Windows expects.

Usage: make_icon.py OUTPUT.ico
       make_icon.py --check COMMITTED.ico   (fails when it is not what the script draws)
"""
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 256)
BLUE = (0x1F, 0x5F, 0xA8)
WHITE = (0xFF, 0xFF, 0xFF)
YELLOW = (0xF5, 0xC5, 0x18)
SAMPLES = 4


def inside_rounded(x, y, left, top, right, bottom, radius):
    if not (left <= x <= right and top <= y <= bottom):
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def folder(x, y, left, top):
    """A folder 0.30 wide and 0.26 high, with a tab on its upper left."""
    body = inside_rounded(x, y, left, top + 0.05, left + 0.30, top + 0.26, 0.025)
    tab = inside_rounded(x, y, left, top, left + 0.13, top + 0.08, 0.02)
    return body or tab


def arrow(x, y):
    """From the left folder to the right one, below both."""
    shaft = 0.24 <= x <= 0.66 and 0.69 <= y <= 0.75
    head = 0.64 <= x <= 0.78 and abs(y - 0.72) <= (0.78 - x) * 0.75
    return shaft or head


def colour_at(x, y):
    if not inside_rounded(x, y, 0.02, 0.02, 0.98, 0.98, 0.18):
        return None
    if arrow(x, y):
        return YELLOW
    if folder(x, y, 0.12, 0.28) or folder(x, y, 0.58, 0.28):
        return WHITE
    return BLUE


def draw(size):
    """Rows of (r, g, b, a), top row first."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    colour = colour_at((px + (sx + 0.5) / SAMPLES) / size, (py + (sy + 0.5) / SAMPLES) / size)
                    if colour is not None:
                        r, g, b, a = r + colour[0], g + colour[1], b + colour[2], a + 1
            if a == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((r // a, g // a, b // a, a * 255 // (SAMPLES * SAMPLES)))
        rows.append(row)
    return rows


def bitmap(size, rows):
    """BITMAPINFOHEADER, BGRA rows bottom first, then an all-clear AND mask."""
    mask_stride = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, size * size * 4 + mask_stride * size,
                         0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    return header + pixels + bytes(mask_stride * size)


def png(size, rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    raw = b"".join(b"\x00" + bytes(v for pixel in row for v in pixel) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    images = []
    for size in SIZES:
        rows = draw(size)
        images.append((size, png(size, rows) if size == 256 else bitmap(size, rows)))
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for size, data in images:
        # 0 stands for 256 in the one-byte width and height.
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    icon = directory + b"".join(data for _, data in images)
    if sys.argv[1] == "--check":
        with open(sys.argv[2], "rb") as f:
            if f.read() != icon:
                sys.exit("%s is not what make_icon.py draws; run it again and commit the result" % sys.argv[2])
        return
    with open(sys.argv[1], "wb") as f:
        f.write(icon)


if __name__ == "__main__":
    main()
