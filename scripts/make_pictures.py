#!/usr/bin/env python3
"""Draws the window's pictures and writes them under src/window/resources/.

orlin.gif     143 x 50  logo of the banner (GIF, 256-colour palette)
orlin.bmp     143 x 50  the same logo as a 24-bit bitmap, for the Win32
                        window (its static controls show no GIF)
select.bmp     19 x 19  picker buttons (24-bit bitmap): a yellow folder
user.bmp       19 x 19  login group icon (24-bit bitmap): a person
database.bmp   16 x 16  entries of the instance list (24-bit bitmap): a database

Each also at 150 % and 200 % of that size for screens of 144 and 192 dpi
(orlin_150.gif, select_200.bmp, ...): the same drawing on a finer grid, so
that the larger pictures are as sharp as the small ones.

Pure Python, no imaging library: the pictures are drawn pixel by pixel and
encoded by hand. Run it again after changing a drawing; the output is stable.
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "src", "window", "resources")


SCALES = (100, 150, 200)  # percent of the pictures' own size


class Canvas:
    """A picture of w x h logical pixels drawn at `scale` percent: every
    drawing call takes logical coordinates, each logical pixel covering
    scale / 100 device pixels."""

    def __init__(self, w, h, bg, scale=100):
        self.s = scale / 100.0
        self.w, self.h = self.dev(w), self.dev(h)
        self.px = [[bg] * self.w for _ in range(self.h)]

    def dev(self, v):
        """A logical coordinate on the device grid, halves rounded up."""
        return int(v * self.s + 0.5)

    def rect(self, x0, y0, x1, y1, c):
        """Fills the logical pixels x0..x1, y0..y1 (both ends included)."""
        for y in range(max(self.dev(y0), 0), min(self.dev(y1 + 1), self.h)):
            row = self.px[y]
            for x in range(max(self.dev(x0), 0), min(self.dev(x1 + 1), self.w)):
                row[x] = c

    def put(self, x, y, c):
        self.rect(x, y, x, y, c)

    def ellipse(self, cx, cy, rx, ry, c, ring=None):
        """Filled ellipse; with `ring`, only the band ring pixels wide."""
        for dy in range(self.h):
            y = (dy + 0.5) / self.s
            for dx in range(self.w):
                x = (dx + 0.5) / self.s
                d = ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2
                if ring is None:
                    if d <= 1.0:
                        self.px[dy][dx] = c
                else:
                    inner = ((x - cx) / (rx - ring)) ** 2 + ((y - cy) / (ry - ring)) ** 2
                    if d <= 1.0 and inner > 1.0:
                        self.px[dy][dx] = c


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


# 5 x 7 capitals for the logo's name.
FONT = {
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "I": ["11111", "00100", "00100", "00100", "00100", "00100", "11111"],
    "N": ["10001", "11001", "10101", "10101", "10011", "10001", "10001"],
}


def text(cv, s, x, y, scale, c, shadow=None):
    for ch in s:
        rows = FONT[ch]
        for ry, row in enumerate(rows):
            for rx, bit in enumerate(row):
                if bit == "1":
                    if shadow:
                        cv.rect(x + rx * scale + 1, y + ry * scale + 1,
                                x + rx * scale + scale, y + ry * scale + scale, shadow)
                    cv.rect(x + rx * scale, y + ry * scale,
                            x + rx * scale + scale - 1, y + ry * scale + scale - 1, c)
        x += 6 * scale


def draw_logo(scale):
    navy, white = (0, 0, 128), (255, 255, 255)
    cv = Canvas(143, 50, white, scale)
    # A soft vertical gradient from white to light blue.
    for y in range(50):
        cv.rect(0, y, 142, y, mix(white, (206, 222, 247), y / 49))
    # The orbit mark: a blue disc circled by an orange ring.
    cv.ellipse(24, 25, 16, 16, (30, 80, 190))
    cv.ellipse(24, 25, 10, 10, (120, 170, 240))
    cv.ellipse(24, 25, 22, 11, (240, 140, 20), ring=2)
    cv.ellipse(19, 20, 4, 3, white)
    text(cv, "ORLIN", 50, 11, 3, navy, shadow=(150, 170, 210))
    cv.rect(50, 37, 136, 38, (240, 140, 20))
    return cv


def draw_folder(scale):
    bg = (192, 192, 192)
    cv = Canvas(19, 19, bg, scale)
    dark, face, light = (128, 96, 0), (240, 200, 64), (255, 236, 150)
    cv.rect(2, 4, 8, 6, dark)            # tab
    cv.rect(3, 5, 7, 6, face)
    cv.rect(1, 6, 17, 16, dark)          # body outline
    cv.rect(2, 7, 16, 15, face)
    cv.rect(2, 7, 16, 7, light)
    for x in range(3, 16):                # a shadow line along the bottom
        cv.put(x, 15, (200, 160, 40))
    return cv


def draw_user(scale):
    bg = (192, 192, 192)
    cv = Canvas(19, 19, bg, scale)
    skin, hair, shirt = (250, 205, 160), (90, 60, 30), (30, 80, 190)
    cv.ellipse(9.5, 17.5, 8, 7, shirt)    # shoulders
    cv.rect(0, 18, 18, 18, shirt)
    cv.rect(8, 10, 10, 12, skin)         # neck
    cv.ellipse(9.5, 6.5, 4.5, 5, skin)   # head
    cv.ellipse(9.5, 3.5, 4.5, 2.6, hair)
    cv.put(8, 6, (40, 40, 40))
    cv.put(11, 6, (40, 40, 40))
    return cv


def draw_database(scale):
    bg = (255, 255, 255)
    cv = Canvas(16, 16, bg, scale)
    side, top, edge = (60, 120, 200), (150, 190, 240), (20, 50, 120)
    cv.rect(2, 3, 13, 13, side)
    cv.ellipse(8, 13, 6, 2.5, side)
    for y in (6, 9):                      # the bands of a stacked disk
        for x in range(2, 14):
            cv.put(x, y, edge)
    cv.ellipse(8, 3, 6, 2.5, top)
    for y in range(3, 14):
        cv.put(2, y, edge)
        cv.put(13, y, edge)
    return cv


def write_bmp(path, cv):
    row = (cv.w * 3 + 3) & ~3
    size = 54 + row * cv.h
    data = bytearray()
    data += struct.pack("<2sIHHI", b"BM", size, 0, 0, 54)
    data += struct.pack("<IiiHHIIiiII", 40, cv.w, cv.h, 1, 24, 0, row * cv.h, 2835, 2835, 0, 0)
    for y in range(cv.h - 1, -1, -1):    # bottom-up rows, BGR
        line = bytearray()
        for x in range(cv.w):
            r, g, b = cv.px[y][x]
            line += bytes((b, g, r))
        line += b"\0" * (row - len(line))
        data += line
    with open(path, "wb") as f:
        f.write(data)


def lzw(indices, min_size):
    clear, end = 1 << min_size, (1 << min_size) + 1
    out, acc, nbits = bytearray(), 0, 0
    size = min_size + 1

    def emit(code):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += size
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    table = {(i,): i for i in range(clear)}
    nxt = end + 1
    emit(clear)
    cur = ()
    for p in indices:
        key = cur + (p,)
        if key in table:
            cur = key
            continue
        emit(table[cur])
        if nxt < 4096:
            table[key] = nxt
            nxt += 1
            if nxt > (1 << size) and size < 12:
                size += 1
        else:
            emit(clear)
            table = {(i,): i for i in range(clear)}
            nxt = end + 1
            size = min_size + 1
        cur = (p,)
    if cur:
        emit(table[cur])
    emit(end)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def write_gif(path, cv):
    colours = sorted({c for row in cv.px for c in row})
    if len(colours) > 256:
        sys.exit("logo uses more than 256 colours")
    index = {c: i for i, c in enumerate(colours)}
    palette = colours + [(0, 0, 0)] * (256 - len(colours))
    data = bytearray(b"GIF89a")
    data += struct.pack("<HHBBB", cv.w, cv.h, 0xF7, 0, 0)   # global table of 256
    for c in palette:
        data += bytes(c)
    data += struct.pack("<BHHHHB", 0x2C, 0, 0, cv.w, cv.h, 0)
    data.append(8)
    body = lzw([index[c] for row in cv.px for c in row], 8)
    for i in range(0, len(body), 255):
        chunk = body[i:i + 255]
        data.append(len(chunk))
        data += chunk
    data += b"\x00\x3B"
    with open(path, "wb") as f:
        f.write(data)


def named(stem, ext, scale):
    return os.path.join(OUT, stem + ("" if scale == 100 else "_%d" % scale) + ext)


def main():
    os.makedirs(OUT, exist_ok=True)
    for scale in SCALES:
        logo = draw_logo(scale)
        write_gif(named("orlin", ".gif", scale), logo)
        write_bmp(named("orlin", ".bmp", scale), logo)
        write_bmp(named("select", ".bmp", scale), draw_folder(scale))
        write_bmp(named("user", ".bmp", scale), draw_user(scale))
        write_bmp(named("database", ".bmp", scale), draw_database(scale))


if __name__ == "__main__":
    main()
