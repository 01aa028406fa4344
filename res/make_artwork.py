#!/usr/bin/env python3
"""Draws the installer's artwork and writes it in the formats the resource script takes:
installer.ico (the class icon, 32x32 and 16x16 at 16 colours) and header.bmp (the product
picture of the window header, 180x136 at 256 colours, run-length encoded). Run it from anywhere;
it writes next to itself. The output is deterministic, so the committed files can be regenerated
and compared."""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# The 16 colours of the standard VGA palette, which every 16-colour icon uses.
VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


class Canvas:
    """An RGB drawing surface with a few filled shapes; None marks a transparent pixel."""

    def __init__(self, width, height, fill=None):
        self.width = width
        self.height = height
        self.pixels = [[fill] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def rect(self, x0, y0, x1, y1, colour):
        for y in range(y0, y1):
            for x in range(x0, x1):
                self.put(x, y, colour)

    def rounded_rect(self, x0, y0, x1, y1, radius, colour):
        for y in range(y0, y1):
            for x in range(x0, x1):
                dx = max(x0 + radius - x - 0.5, 0, x - (x1 - radius) + 0.5)
                dy = max(y0 + radius - y - 0.5, 0, y - (y1 - radius) + 0.5)
                if dx * dx + dy * dy <= radius * radius:
                    self.put(x, y, colour)

    def circle(self, cx, cy, radius, colour):
        for y in range(int(cy - radius) - 1, int(cy + radius) + 2):
            for x in range(int(cx - radius) - 1, int(cx + radius) + 2):
                if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= radius * radius:
                    self.put(x, y, colour)

    def thick_line(self, points, width, colour):
        for (ax, ay), (bx, by) in zip(points, points[1:]):
            steps = int(max(abs(bx - ax), abs(by - ay)) * 2) + 1
            for i in range(steps + 1):
                t = i / steps
                self.circle(ax + (bx - ax) * t, ay + (by - ay) * t, width / 2, colour)


def nearest(palette, colour):
    best, best_distance = 0, None
    for index, (r, g, b) in enumerate(palette):
        d = (r - colour[0]) ** 2 + (g - colour[1]) ** 2 + (b - colour[2]) ** 2
        if best_distance is None or d < best_distance:
            best, best_distance = index, d
    return best


def picture_palette(canvas):
    """256 entries: the VGA colours, then every colour the picture uses (in sorted order, so the
    output is stable), then black; the drawing uses far fewer than 240 colours."""
    used = sorted({p for row in canvas.pixels for p in row} - set(VGA))
    assert len(used) <= 240, "the picture uses more colours than a 256-colour bitmap holds"
    return (list(VGA) + used + [(0, 0, 0)] * 256)[:256]


def draw_picture():
    """The adapter seen from the front: a housing with four controller sockets, its USB cable
    and plug, and a game pad on a coiled lead plugged into the first socket."""
    c = Canvas(180, 136)
    for y in range(136):
        shade = 255 - y * 60 // 135
        c.rect(0, y, 180, y + 1, (shade - 40, shade - 20, shade))
    # Shadow, housing and its face.
    c.rounded_rect(22, 62, 164, 110, 10, (90, 90, 110))
    c.rounded_rect(16, 56, 158, 104, 10, (60, 60, 70))
    c.rounded_rect(20, 60, 154, 92, 8, (110, 110, 125))
    # Four sockets with their lamps.
    for n in range(4):
        x = 34 + n * 32
        c.rounded_rect(x - 10, 68, x + 10, 84, 4, (20, 20, 25))
        c.rect(x - 6, 73, x + 6, 79, (150, 150, 160))
        c.circle(x, 96, 2.5, (0, 220, 0) if n == 0 else (0, 90, 0))
    # USB cable and plug.
    c.thick_line([(158, 80), (170, 80), (170, 40), (150, 24)], 5, (30, 30, 30))
    c.rect(136, 14, 152, 30, (190, 190, 200))
    c.rect(128, 17, 138, 27, (220, 220, 230))
    c.rect(130, 19, 136, 21, (40, 40, 40))
    c.rect(130, 23, 136, 25, (40, 40, 40))
    # Game pad on its lead.
    c.thick_line([(34, 68), (34, 50), (50, 40), (60, 34)], 3, (30, 30, 30))
    c.rounded_rect(52, 14, 112, 42, 12, (70, 70, 160))
    c.circle(62, 38, 9, (70, 70, 160))
    c.circle(102, 38, 9, (70, 70, 160))
    c.rect(60, 25, 70, 29, (230, 230, 230))
    c.rect(63, 22, 67, 32, (230, 230, 230))
    c.circle(96, 24, 2.5, (220, 40, 40))
    c.circle(102, 29, 2.5, (240, 200, 0))
    c.circle(90, 29, 2.5, (40, 160, 40))
    c.circle(96, 34, 2.5, (40, 120, 220))
    return c


def draw_icon(size):
    """The adapter housing with its sockets and a USB plug, on a transparent ground."""
    c = Canvas(size, size)
    s = size / 32
    c.rounded_rect(int(2 * s), int(12 * s), int(30 * s), int(28 * s), max(1, int(3 * s)),
                   VGA[8])
    c.rect(int(4 * s), int(14 * s), int(28 * s), int(22 * s), VGA[7])
    for n in range(3):
        x = int((6 + n * 8) * s)
        c.rect(x, int(16 * s), x + max(2, int(4 * s)), int(20 * s), VGA[0])
    c.put(int(6 * s), int(25 * s), VGA[10])
    c.put(int(6 * s) + 1, int(25 * s), VGA[10])
    c.rect(int(14 * s), int(4 * s), int(18 * s), int(12 * s), VGA[0])
    c.rect(int(12 * s), int(1 * s), int(20 * s), int(5 * s), VGA[12])
    return c


def bmp_rows(width, bits, indexes):
    """Packs rows of palette indexes bottom-up at 4 or 1 bits, each row padded to 4 bytes (the
    icon's colours and mask)."""
    out = bytearray()
    for row in reversed(indexes):
        packed = bytearray()
        if bits == 4:
            for x in range(0, width, 2):
                packed.append((row[x] << 4) | (row[x + 1] if x + 1 < width else 0))
        else:
            for x in range(0, width, 8):
                byte = 0
                for bit in range(8):
                    if x + bit < width and row[x + bit]:
                        byte |= 0x80 >> bit
                packed.append(byte)
        while len(packed) % 4:
            packed.append(0)
        out += packed
    return bytes(out)


BI_RGB = 0
BI_RLE8 = 1


def info_header(width, height, bits, colours, image_size, compression=BI_RGB):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression, image_size, 0, 0,
                       colours, 0)


def palette_bytes(palette):
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)


def rle8_row(row):
    """One row in BI_RLE8: runs of one index as (count, index); stretches of differing indexes
    of three or more as absolute mode (0, count, the indexes, padded to an even length); the
    row ends with (0, 0)."""
    out = bytearray()
    x, width = 0, len(row)
    while x < width:
        run = 1
        while x + run < width and run < 255 and row[x + run] == row[x]:
            run += 1
        if run >= 2:
            out += bytes((run, row[x]))
            x += run
            continue
        # A stretch without repeats: it ends where two equal indexes begin.
        end = x + 1
        while end < width and end - x < 255 and not (end + 1 < width and row[end] == row[end + 1]):
            end += 1
        if end - x >= 3:
            out += bytes((0, end - x)) + bytes(row[x:end])
            if (end - x) % 2:
                out.append(0)
        else:
            for index in row[x:end]:
                out += bytes((1, index))
        x = end
    return out + bytes((0, 0))


def rle8_decode(data, width, height):
    """The rows (top-down) that a reader of BI_RLE8 gets from data, which ends with
    end-of-bitmap; checks the encoder."""
    rows, row, i = [], [], 0
    while True:
        count, value = data[i], data[i + 1]
        i += 2
        if count:
            row += [value] * count
        elif value == 0:
            rows.append(row)
            row = []
        elif value == 1:
            rows.append(row)
            break
        else:
            row += list(data[i:i + value])
            i += value + value % 2
    assert i == len(data), "data after end-of-bitmap"
    assert len(rows) == height and all(len(r) == width for r in rows)
    return list(reversed(rows))


def rle8_pixels(indexes):
    """The picture bottom-up in BI_RLE8, the last row's end-of-line replaced by end-of-bitmap."""
    data = b"".join(rle8_row(row) for row in reversed(indexes))
    return data[:-2] + bytes((0, 1))


def write_bmp(path, canvas, palette):
    """A 256-colour bitmap compressed with BI_RLE8; the script proves that it decodes to the
    same pixels before writing it."""
    indexes = [[nearest(palette, p) for p in row] for row in canvas.pixels]
    pixels = rle8_pixels(indexes)
    assert rle8_decode(pixels, canvas.width, canvas.height) == indexes
    header = info_header(canvas.width, canvas.height, 8, len(palette), len(pixels), BI_RLE8)
    offset = 14 + len(header) + 4 * len(palette)
    with open(path, "wb") as f:
        f.write(struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset))
        f.write(header + palette_bytes(palette) + pixels)


def icon_image(canvas):
    size = canvas.width
    colours = [[0 if p is None else nearest(VGA, p) for p in row] for row in canvas.pixels]
    mask = [[1 if p is None else 0 for p in row] for row in canvas.pixels]
    xor = bmp_rows(size, 4, colours)
    andmask = bmp_rows(size, 1, mask)
    return info_header(size, 2 * size, 4, 16, len(xor) + len(andmask)) + palette_bytes(VGA) + \
        xor + andmask


def write_ico(path, canvases):
    images = [icon_image(c) for c in canvases]
    offset = 6 + 16 * len(images)
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    for canvas, image in zip(canvases, images):
        out += struct.pack("<BBBBHHII", canvas.width, canvas.height, 16, 0, 1, 4, len(image),
                           offset)
        offset += len(image)
    for image in images:
        out += image
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    picture = draw_picture()
    write_bmp(os.path.join(HERE, "header.bmp"), picture, picture_palette(picture))
    write_ico(os.path.join(HERE, "installer.ico"), [draw_icon(32), draw_icon(16)])
