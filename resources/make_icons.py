#!/usr/bin/env python3
"""Draws Salvora's icons and its hand cursor and writes them as .ico and .cur files.

Usage: make_icons.py OUTPUT_FOLDER

Every picture is a function of the point (x, y) in the unit square that returns a colour
with alpha; it is sampled 4x4 per pixel for smooth edges. Only the standard library is used.
"""

import math
import os
import struct
import sys

SUPERSAMPLE = 4


def rgba(r, g, b, a=255):
    return (r, g, b, a)


CLEAR = rgba(0, 0, 0, 0)


def over(top, bottom):
    """Paints `top` over `bottom` (straight alpha)."""
    ta = top[3] / 255.0
    ba = bottom[3] / 255.0
    a = ta + ba * (1 - ta)
    if a == 0:
        return CLEAR
    mix = [(top[i] * ta + bottom[i] * ba * (1 - ta)) / a for i in range(3)]
    return (round(mix[0]), round(mix[1]), round(mix[2]), round(a * 255))


def layered(*layers):
    """A picture made of (shape test, colour or shader) layers, later ones on top."""

    def draw(x, y):
        colour = CLEAR
        for inside, paint in layers:
            if inside(x, y):
                colour = over(paint(x, y) if callable(paint) else paint, colour)
        return colour

    return draw


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r_out, r_in):
    return lambda x, y: r_in * r_in <= (x - cx) ** 2 + (y - cy) ** 2 <= r_out * r_out


def box(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def polygon(points):
    def inside(x, y):
        result = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result

    return inside


def segment(x0, y0, x1, y1, width):
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
        px, py = x0 + t * dx, y0 + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= (width / 2) ** 2

    return inside


def shaded(light, dark):
    """A top-to-bottom gradient between two colours."""
    return lambda x, y: tuple(round(light[i] + (dark[i] - light[i]) * y) for i in range(3)) + (255,)


def ball(light, dark):
    return shaded(light, dark)


# The start button: a green ball with a white "play" triangle.
START = layered(
    (circle(0.5, 0.5, 0.46), rgba(20, 90, 30)),
    (circle(0.5, 0.5, 0.42), ball((120, 210, 110), (30, 130, 40))),
    (polygon([(0.38, 0.26), (0.38, 0.74), (0.76, 0.5)]), rgba(255, 255, 255)),
)

# Help: a blue ball with a white question mark.
HELP = layered(
    (circle(0.5, 0.5, 0.46), rgba(20, 50, 120)),
    (circle(0.5, 0.5, 0.42), ball((110, 160, 240), (30, 70, 170))),
    (lambda x, y: ring(0.5, 0.38, 0.17, 0.08)(x, y) and not (x < 0.5 and y > 0.38),
     rgba(255, 255, 255)),
    (box(0.455, 0.50, 0.545, 0.62), rgba(255, 255, 255)),
    (circle(0.5, 0.75, 0.055), rgba(255, 255, 255)),
)

# About: a teal ball with a white "i".
ABOUT = layered(
    (circle(0.5, 0.5, 0.46), rgba(10, 80, 90)),
    (circle(0.5, 0.5, 0.42), ball((100, 200, 210), (20, 120, 135))),
    (circle(0.5, 0.28, 0.065), rgba(255, 255, 255)),
    (box(0.44, 0.40, 0.56, 0.76), rgba(255, 255, 255)),
)

# Support: a letter.
SUPPORT = layered(
    (box(0.08, 0.22, 0.92, 0.80), rgba(120, 100, 60)),
    (box(0.11, 0.25, 0.89, 0.77), shaded((255, 250, 225), (230, 215, 170))),
    (segment(0.12, 0.27, 0.5, 0.56, 0.06), rgba(150, 120, 70)),
    (segment(0.88, 0.27, 0.5, 0.56, 0.06), rgba(150, 120, 70)),
)

# Quit: a red ball with a white cross.
QUIT = layered(
    (circle(0.5, 0.5, 0.46), rgba(110, 20, 20)),
    (circle(0.5, 0.5, 0.42), ball((240, 110, 100), (170, 30, 30))),
    (segment(0.33, 0.33, 0.67, 0.67, 0.12), rgba(255, 255, 255)),
    (segment(0.67, 0.33, 0.33, 0.67, 0.12), rgba(255, 255, 255)),
)


def table_cells(x, y):
    """The grid lines of the program icon's table."""
    inside = 0.10 <= x <= 0.78 and 0.14 <= y <= 0.80
    column = any(abs(x - c) < 0.018 for c in (0.33, 0.56))
    row = any(abs(y - r) < 0.018 for r in (0.36, 0.58))
    return inside and (column or row)


# The program: a table sheet with a header row, mended by a green plus badge.
PROGRAM = layered(
    (box(0.06, 0.10, 0.82, 0.84), rgba(60, 70, 90)),
    (box(0.09, 0.13, 0.79, 0.81), rgba(250, 250, 245)),
    (box(0.09, 0.13, 0.79, 0.25), shaded((90, 130, 200), (50, 90, 170))),
    (table_cells, rgba(150, 160, 180)),
    (polygon([(0.30, 0.58), (0.50, 0.44), (0.52, 0.47), (0.34, 0.62)]), rgba(200, 60, 50)),
    (circle(0.72, 0.72, 0.25), rgba(20, 90, 30)),
    (circle(0.72, 0.72, 0.22), ball((130, 215, 120), (30, 135, 45))),
    (box(0.62, 0.69, 0.82, 0.75), rgba(255, 255, 255)),
    (box(0.69, 0.62, 0.75, 0.82), rgba(255, 255, 255)),
)

# The hand cursor, row by row: '#' outline, '.' fill; the finger tip is the hot spot.
HAND_ROWS = """
.....##.........
....#..#........
....#..#........
....#..#........
....#..#........
....#..###......
....#..#..##....
....#..#..#.##..
.##.#..#..#.#.#.
#..##........#.#
#...#..........#
.#.............#
..#............#
..#...........#.
...#..........#.
....#........#..
....#........#..
.....########...
""".strip("\n").split("\n")
HAND_HOT_SPOT = (11, 1)


def sample(draw, size):
    """Pixels of `size` x `size`, top row first, as (r, g, b, a)."""
    pixels = []
    step = 1.0 / (size * SUPERSAMPLE)
    for py in range(size):
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SUPERSAMPLE):
                for sx in range(SUPERSAMPLE):
                    c = draw((px * SUPERSAMPLE + sx + 0.5) * step, (py * SUPERSAMPLE + sy + 0.5) * step)
                    a = c[3] / 255.0
                    acc[0] += c[0] * a
                    acc[1] += c[1] * a
                    acc[2] += c[2] * a
                    acc[3] += a
            n = SUPERSAMPLE * SUPERSAMPLE
            alpha = acc[3] / n
            if alpha == 0:
                pixels.append(CLEAR)
            else:
                pixels.append(tuple(round(acc[i] / acc[3]) for i in range(3)) + (round(alpha * 255),))
    return pixels


def hand_pixels(size):
    """The hand drawn from its rows at twice their scale."""
    pixels = [CLEAR] * (size * size)
    for row, line in enumerate(HAND_ROWS):
        for col, ch in enumerate(line):
            colour = {"#": rgba(0, 0, 0), ".": CLEAR}[ch]
            for dy in range(2):
                for dx in range(2):
                    x, y = col * 2 + dx, row * 2 + dy
                    if x < size and y < size:
                        pixels[y * size + x] = colour
    # Fill the inside white: everything enclosed by the outline, found by flooding the outside.
    outside = set()
    stack = [(0, size - 1)]
    while stack:
        x, y = stack.pop()
        if not (0 <= x < size and 0 <= y < size) or (x, y) in outside:
            continue
        if pixels[y * size + x][3] != 0:
            continue
        outside.add((x, y))
        stack += [(x + 1, y), (x - 1, y), (x, y + 1), (x, y - 1)]
    for y in range(size):
        for x in range(size):
            if pixels[y * size + x][3] == 0 and (x, y) not in outside:
                pixels[y * size + x] = rgba(255, 255, 255)
    return pixels


def dib(pixels, size):
    """The icon image: header with double height, BGRA rows bottom-up, then the AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    for y in range(size - 1, -1, -1):
        for x in range(size):
            r, g, b, a = pixels[y * size + x]
            colour += bytes((b, g, r, a))
    mask_row = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in range(size - 1, -1, -1):
        row = bytearray(mask_row)
        for x in range(size):
            if pixels[y * size + x][3] < 128:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    return header + bytes(colour) + bytes(mask)


def icon_file(images, kind=1, hot_spot=(0, 0)):
    """An .ico (kind 1) or .cur (kind 2) file from (size, pixels) pairs."""
    out = struct.pack("<HHH", 0, kind, len(images))
    offset = 6 + 16 * len(images)
    bodies = []
    for size, pixels in images:
        body = dib(pixels, size)
        planes, bits = (1, 32) if kind == 1 else hot_spot
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, planes, bits, len(body), offset)
        offset += len(body)
        bodies.append(body)
    return out + b"".join(bodies)


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    icons = {
        "start.ico": (START, (32, 16)),
        "help.ico": (HELP, (32, 16)),
        "about.ico": (ABOUT, (32, 16)),
        "support.ico": (SUPPORT, (32, 16)),
        "quit.ico": (QUIT, (32, 16)),
        "salvora.ico": (PROGRAM, (48, 32, 16)),
    }
    for name, (draw, sizes) in icons.items():
        data = icon_file([(s, sample(draw, s)) for s in sizes])
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    with open(os.path.join(folder, "hand.cur"), "wb") as f:
        f.write(icon_file([(32, hand_pixels(32))], kind=2, hot_spot=HAND_HOT_SPOT))


if __name__ == "__main__":
    main()
