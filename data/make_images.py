#!/usr/bin/python3
"""Draws the images of Mereglass's resource archive and writes them as
24-bit run-length TGA files beside this script.

Only regenerating the images needs this script; the build uses the TGA files
that are checked in. Needs Python 3 with Pillow and the DejaVu fonts, on
Debian the packages python3-pil and fonts-dejavu-core.

    /usr/bin/python3 data/make_images.py

Every image is light on black. The archive gives most of them alpha mode 2
(alpha from brightness), so black becomes clear, light text and lines opaque
and their anti-aliased edges blend into the water beneath. The icon uses
alpha mode 1 (colour key from its first pixel, magenta).
"""

import math
import os
import struct

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
FONT_DIR = "/usr/share/fonts/truetype/dejavu"
SS = 4  # supersampling factor for shapes

FOAM = (236, 248, 255)     # text
SHALLOW = (150, 215, 240)  # light water
DEEP = (60, 140, 190)      # ripples further out
KEY = (255, 0, 255)        # the icon's colour key


def font(name, size):
    return ImageFont.truetype(os.path.join(FONT_DIR, name), size)


def tint(mask, colour):
    """An RGB image of colour scaled by a greyscale mask."""
    return Image.merge("RGB", [mask.point(lambda v, c=c: v * c // 255) for c in colour])


def lighten(base, layer):
    return ImageChops.lighter(base, layer)


def shapes(size, draw_fn):
    """A greyscale mask drawn at SS times the size and reduced by area
    averaging, so that lines and ellipses come out anti-aliased."""
    w, h = size
    big = Image.new("L", (w * SS, h * SS), 0)
    draw_fn(ImageDraw.Draw(big), SS)
    return big.resize(size, Image.Resampling.BOX)


def text_mask(size, text, fnt, centre, spacing=0):
    """Anti-aliased, hinted text centred on centre (x, y)."""
    mask = Image.new("L", size, 0)
    draw = ImageDraw.Draw(mask)
    if spacing == 0:
        draw.text(centre, text, font=fnt, fill=255, anchor="mm")
        return mask
    widths = [draw.textlength(ch, font=fnt) for ch in text]
    total = sum(widths) + spacing * (len(text) - 1)
    x = centre[0] - total / 2
    for ch, cw in zip(text, widths):
        draw.text((x, centre[1]), ch, font=fnt, fill=255, anchor="lm")
        x += cw + spacing
    return mask


def vertical_gradient(size, top, bottom):
    w, h = size
    img = Image.new("RGB", size)
    px = img.load()
    for y in range(h):
        t = y / max(1, h - 1)
        c = tuple(round(a + (b - a) * t) for a, b in zip(top, bottom))
        for x in range(w):
            px[x, y] = c
    return img


def drop(d, s, cx, cy, r):
    """A water drop: a circle of radius r with a point above it."""
    d.ellipse([(cx - r) * s, (cy - r) * s, (cx + r) * s, (cy + r) * s], fill=255)
    d.polygon([((cx - r * 0.93) * s, (cy - r * 0.37) * s), (cx * s, (cy - r * 2.3) * s),
               ((cx + r * 0.93) * s, (cy - r * 0.37) * s)], fill=255)


def ring(d, s, cx, cy, rx, ry, width, value):
    d.ellipse([(cx - rx) * s, (cy - ry) * s, (cx + rx) * s, (cy + ry) * s],
              outline=value, width=max(1, round(width * s)))


def icon():
    """64 × 64: a drop falling onto rings, on a rounded tile of deep water."""
    size = (64, 64)
    tile = shapes(size, lambda d, s: d.rounded_rectangle([2 * s, 2 * s, 62 * s - 1, 62 * s - 1],
                                                          radius=13 * s, fill=255))
    water = vertical_gradient(size, (28, 96, 150), (8, 34, 70))

    def art(d, s):
        for i, (rx, ry) in enumerate([(10, 3.2), (17, 5.5), (24, 7.8)]):
            ring(d, s, 32, 45, rx, ry, 1.6, 255 - 70 * i)
        drop(d, s, 32, 27, 7.5)

    light = tint(shapes(size, art), FOAM)
    img = lighten(water, light)
    # Hard edge at the colour key: covered pixels keep the tile's colour,
    # the rest are exactly the key, so no pink fringe can show.
    key = Image.new("RGB", size, KEY)
    return Image.composite(img, key, tile.point(lambda v: 255 if v >= 128 else 0))


def wave_line(d, s, x0, x1, y, amp, period, width, value):
    pts = []
    x = x0
    while x <= x1:
        pts.append((x * s, (y + amp * math.sin(2 * math.pi * x / period)) * s))
        x += 0.5
    d.line(pts, fill=value, width=max(1, round(width * s)), joint="curve")


def fade_sides(mask, inner, outer):
    """Fades a mask to black towards both side edges: full within inner
    pixels of the centre, zero beyond outer."""
    w, h = mask.size
    ramp = Image.new("L", (w, 1))
    for x in range(w):
        dist = abs(x + 0.5 - w / 2)
        t = 1.0 if dist <= inner else max(0.0, 1 - (dist - inner) / (outer - inner))
        ramp.putpixel((x, 0), round(255 * t * t))
    return ImageChops.multiply(mask, ramp.resize((w, h)))


def banner_edge():
    """256 × 32: a drop and the name, between two wave lines that fade out;
    symmetric, because it rests at either edge of the screen."""
    size = (256, 32)
    name = font("DejaVuSans.ttf", 15)
    text = text_mask(size, "mereglass", name, (137, 16), spacing=1)
    mark = shapes(size, lambda d, s: drop(d, s, 83, 19, 5.0))

    def waves(d, s):
        wave_line(d, s, 0, 70, 16, 2.2, 22, 1.3, 255)
        wave_line(d, s, 198, 256, 16, 2.2, 22, 1.3, 255)

    lines = fade_sides(shapes(size, waves), 60, 128)
    img = tint(text, FOAM)
    img = lighten(img, tint(mark, SHALLOW))
    return lighten(img, tint(lines, DEEP))


def title():
    """512 × 128: the name in large letters above its own rippled
    reflection."""
    size = (512, 128)
    w, h = size
    fnt = font("DejaVuSans.ttf", 64)
    word = text_mask(size, "Mereglass", fnt, (256, 46), spacing=4)
    letters = ImageChops.multiply(tint(word, (255, 255, 255)),
                                  vertical_gradient(size, FOAM, SHALLOW))
    # The reflection: the word mirrored about the bottom of its lowest
    # letter, each row shifted by a small wave and fading with depth.
    base = word.getbbox()[3] + 1
    refl = Image.new("L", size, 0)
    for y in range(base, h):
        src_y = 2 * base - y - 1
        if src_y < 0:
            break
        depth = (y - base) / (h - base)
        row = word.crop((0, src_y, w, src_y + 1))
        row = ImageChops.offset(row, round(1.5 * math.sin(y * 0.5)), 0)
        row = row.point(lambda v, k=0.38 * (1 - depth) ** 1.5: round(v * k))
        refl.paste(row, (0, y))
    refl = refl.filter(ImageFilter.GaussianBlur(0.7))
    return lighten(letters, tint(refl, SHALLOW))


def intro():
    """512 × 256: a drop above the rings it has just made, with a line of
    text beneath."""
    size = (512, 256)

    def rings(d, s):
        cx, cy = 256, 150
        for i in range(6):
            rx = 34 + i * 33
            ry = rx * 0.26
            ring(d, s, cx, cy, rx, ry, 1.8 - i * 0.15, round(255 * (1 - i / 6.5)))

    ripple = fade_sides(shapes(size, rings), 120, 250)
    splash = shapes(size, lambda d, s: drop(d, s, 256, 100, 12))
    img = tint(ripple, SHALLOW)
    img = lighten(img, tint(splash, FOAM))
    caption = text_mask(size, "Your desktop, beneath a quiet pool",
                        font("DejaVuSans.ttf", 20), (256, 222))
    return lighten(img, tint(caption, FOAM))


def message(text):
    """512 × 32: one line of text."""
    size = (512, 32)
    return tint(text_mask(size, text, font("DejaVuSans.ttf", 17), (256, 16)), FOAM)


def write_tga(img, path):
    """A true-colour TGA, type 10 (run-length), 24 bits, rows bottom up (so
    that the first row in the file is the bottom of the picture), no image
    ID, no colour map, origin 0. Packets never cross a row."""
    img = img.convert("RGB")
    w, h = img.size
    px = img.load()
    out = bytearray(struct.pack("<BBBHHBHHHHBB", 0, 0, 10, 0, 0, 0, 0, 0, w, h, 24, 0))
    for y in range(h - 1, -1, -1):
        row = [bytes((px[x, y][2], px[x, y][1], px[x, y][0])) for x in range(w)]
        x = 0
        while x < w:
            run = 1
            while x + run < w and run < 128 and row[x + run] == row[x]:
                run += 1
            if run > 1:
                out.append(0x80 | (run - 1))
                out += row[x]
                x += run
                continue
            start = x
            while x < w and x - start < 128 and (x + 1 >= w or row[x + 1] != row[x]):
                x += 1
            if x == start:  # a run starts here after all
                x += 1
            out.append(x - start - 1)
            for p in row[start:x]:
                out += p
    with open(path, "wb") as f:
        f.write(out)


# File, drawing; the archive's lump order and alpha modes are in
# CMakeLists.txt beside this script.
IMAGES = [
    ("icon.tga", icon),
    ("banner_edge.tga", banner_edge),
    ("title.tga", title),
    ("intro.tga", intro),
    ("message_mouse.tga", lambda: message("Move the mouse to return to your desktop")),
    ("message_key.tga", lambda: message("Press any key to wake the screen")),
]


def main():
    for name, draw in IMAGES:
        path = os.path.join(HERE, name)
        write_tga(draw(), path)
        print("wrote", path)


if __name__ == "__main__":
    main()
